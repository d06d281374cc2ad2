#include "env/zLog.h"

#include "env/FsDir.h"
#include "env/yIni.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace velmor {

struct zLog::Impl {
    QFile file;
    QString lastName;
};


zLog::zLog() : d(std::make_unique<Impl>()) {}

zLog::~zLog() { lgOff(); }

void zLog::lgOn(const QString& sRt)
{
    yIni::F_CreateFld(sRt);  // missing levels are made; failures show at the open below
    const UniqueFd root = openDirPath(nameBytes(sRt), true);
    if (!root.valid())
        throw LogError("cannot open " + sRt.toStdString() + ": " + std::strerror(errno));
    lgOn(root.get(), sRt);
}

void zLog::lgOn(int rootFd, const QString& sRt)
{
    lgOff();
    const QString folder = sRt + QStringLiteral("/Log/");
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const UniqueFd dir = makeBeneath(rootFd, "Log");
    if (!dir.valid())
        throw LogError("cannot create " + folder.toStdString() + ": " + std::strerror(errno));

    // The counter is 16-bit signed; past its range there is no name left.
    for (int n = 0; n <= std::numeric_limits<int16_t>::max(); ++n) {
        QString leaf = day;
        if (n > 0)
            leaf += QLatin1Char('~') + QString::number(n);
        leaf += QStringLiteral(".log");
        const QString name = folder + leaf;
        // O_EXCL: an item of any kind (a link too) takes the name, and a file
        // that appeared meanwhile is never overwritten; the next counter is tried.
        const int fd = ::openat(dir.get(), nameBytes(leaf).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throw LogError("cannot create log file " + name.toStdString() + ": " + std::strerror(errno));
        }
        if (!d->file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            throw LogError("cannot open log file " + name.toStdString() + ": "
                           + d->file.errorString().toStdString());
        }
        d->lastName = name;
        static const char bom[2] = {char(0xFF), char(0xFE)};
        if (d->file.write(bom, 2) != 2 || !d->file.flush()) {
            const std::string err = d->file.errorString().toStdString();
            d->file.close();
            throw LogError("cannot write log file " + name.toStdString() + ": " + err);
        }
        return;
    }
    throw LogError("no free log file name left for " + (folder + day).toStdString());
}

void zLog::lgWrite(const QString& sTx)
{
    if (!d->file.isOpen())
        throw LogError("log is not open");
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yy/MM/dd hh:mm:ss"))
                         + QStringLiteral(" : ") + sTx + QStringLiteral("\r\n");
    QStringEncoder enc(QStringConverter::Utf16LE);
    const QByteArray bytes = enc.encode(line);
    // Flushed per line so that a crash keeps what was already done in the log.
    if (d->file.write(bytes) != bytes.size() || !d->file.flush())
        throw LogError("cannot write log file " + d->lastName.toStdString() + ": "
                       + d->file.errorString().toStdString());
}

void zLog::lgOff()
{
    // Closing never fails towards the caller: every line was flushed already.
    if (d->file.isOpen())
        d->file.close();
}

bool zLog::isOpen() const { return d->file.isOpen(); }

QString zLog::fileName() const { return d->lastName; }

} // namespace velmor
