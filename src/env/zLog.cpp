#include "env/zLog.h"

#include "env/yIni.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <limits>

namespace velmor {

struct zLog::Impl {
    QFile file;
    QString lastName;
};


zLog::zLog() : d(std::make_unique<Impl>()) {}

zLog::~zLog() { lgOff(); }

void zLog::lgOn(const QString& sRt)
{
    lgOff();
    const QString folder = sRt + QStringLiteral("/Log/");
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    yIni::F_CreateFld(folder);

    // The counter is 16-bit signed; past its range there is no name left.
    for (int n = 0; n <= std::numeric_limits<int16_t>::max(); ++n) {
        QString name = folder + day;
        if (n > 0)
            name += QLatin1Char('~') + QString::number(n);
        name += QStringLiteral(".log");
        if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
            continue;
        d->file.setFileName(name);
        // NewOnly: a file that appeared since the test is never overwritten;
        // the next counter is tried instead.
        if (!d->file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(name))
                continue;
            throw LogError("cannot create log file " + name.toStdString() + ": "
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
