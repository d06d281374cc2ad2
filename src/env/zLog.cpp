#include "env/zLog.h"

#include "env/FsDir.h"
#include "env/Reasons.h"
#include "env/yIni.h"

#include <QDate>
#include <QDateTime>
#include <QStringEncoder>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace velmor {

namespace {

// Writes all of bytes at offset, retrying short writes. Returns 0, or the
// errno of the failure (0 becomes ENOSPC: nothing written and no reason).
int writeWhole(int fd, const char* bytes, qsizetype size, off_t offset)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, size_t(size - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += n;
    }
    return 0;
}

} // namespace

struct zLog::Impl {
    int fd = -1;
    off_t end = 0;  // length of the file: the whole lines written so far
    QString lastName;
};


zLog::zLog() : d(std::make_unique<Impl>()) {}

zLog::~zLog() { lgOff(); }

void zLog::lgOn(const QString& sRt)
{
    yIni::F_CreateFld(sRt);  // missing levels are made; failures show at the open below
    const UniqueFd root = openDirPath(nameBytes(sRt), true);
    if (!root.valid()) {
        const int err = errno;
        throw LogError(WhyText(Why::Open, sRt, err).toStdString());
    }
    lgOn(root.get(), sRt);
}

void zLog::lgOn(int rootFd, const QString& sRt)
{
    lgOff();
    const QString folder = sRt + QStringLiteral("/Log/");
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const UniqueFd dir = makeBeneath(rootFd, "Log");
    if (!dir.valid()) {
        const int err = errno;
        throw LogError(WhyText(Why::Create, folder, err).toStdString());
    }

    // The counter is 16-bit signed; past its range there is no name left.
    for (int n = 0; n <= std::numeric_limits<int16_t>::max(); ++n) {
        QString leaf = day;
        if (n > 0)
            leaf += QLatin1Char('~') + QString::number(n);
        leaf += QStringLiteral(".log");
        const QString name = folder + leaf;
        const QByteArray leafBytes = nameBytes(leaf);
        // O_EXCL: an item of any kind (a link too) takes the name, and a file
        // that appeared meanwhile is never overwritten; the next counter is tried.
        const int fd = ::openat(dir.get(), leafBytes.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            const int err = errno;
            throw LogError(WhyText(Why::LogCreate, name, err).toStdString());
        }
        d->lastName = name;
        static const char bom[2] = {char(0xFF), char(0xFE)};
        if (const int err = writeWhole(fd, bom, 2, 0); err != 0) {
            // The file is ours (O_EXCL) and holds no line: it goes again, so
            // that no log without its byte-order mark stays behind.
            QString reason = WhyText(Why::LogWrite, name, err);
            if (::unlinkat(dir.get(), leafBytes.constData(), 0) != 0)
                reason += QStringLiteral("; ") + WhyText(Why::LogEmptyLeft, QString(), errno);
            ::close(fd);
            throw LogError(reason.toStdString());
        }
        d->fd = fd;
        d->end = 2;
        return;
    }
    throw LogError(WhyText(Why::LogNoName, folder + day).toStdString());
}

void zLog::lgWrite(const QString& sTx)
{
    if (d->fd < 0)
        throw LogError(WhyText(Why::LogNotOpen, QString()).toStdString());
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yy/MM/dd hh:mm:ss"))
                         + QStringLiteral(" : ") + sTx + QStringLiteral("\r\n");
    QStringEncoder enc(QStringConverter::Utf16LE);
    const QByteArray bytes = enc.encode(line);
    // Handed to the kernel per line, so that a crash keeps what was already
    // done in the log. A line is there whole or not at all: what part of it
    // reached the file is cut off again.
    const int err = writeWhole(d->fd, bytes.constData(), bytes.size(), d->end);
    if (err == 0) {
        d->end += off_t(bytes.size());
        return;
    }
    QString reason = WhyText(Why::LogWrite, d->lastName, err);
    if (::ftruncate(d->fd, d->end) != 0)
        reason += QStringLiteral("; ") + WhyText(Why::LogPartLine, QString(), errno);
    throw LogError(reason.toStdString());
}

void zLog::lgOff()
{
    // Closing never fails towards the caller: every line was handed to the
    // kernel already.
    if (d->fd >= 0)
        ::close(d->fd);
    d->fd = -1;
}

bool zLog::isOpen() const { return d->fd >= 0; }

QString zLog::fileName() const { return d->lastName; }

} // namespace velmor
