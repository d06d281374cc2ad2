#include "env/UserStore.h"

#include <QSettings>
#include <QStandardPaths>

namespace velmor::UserStore {
namespace {
// Same file as QSettings("QuarnellTools") on this platform, but resolved on
// every use so that a redirected configuration folder is always honoured.
QString storeFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/QuarnellTools.conf");
}
const QString kGroup = QStringLiteral("Path");
} // namespace

QString readPath(const QString& key)
{
    QSettings s(storeFile(), QSettings::IniFormat);
    s.beginGroup(kGroup);
    return s.value(key, QString()).toString();
}

bool writePath(const QString& key, const QString& value)
{
    QSettings s(storeFile(), QSettings::IniFormat);
    s.beginGroup(kGroup);
    s.setValue(key, value);
    s.endGroup();
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace velmor::UserStore
