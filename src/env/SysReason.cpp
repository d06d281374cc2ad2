#include "env/SysReason.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

namespace velmor {

bool IsNoSpace(int err) { return err == ENOSPC || err == EDQUOT; }

QString VolumeOf(const QString& path)
{
    QString at = QFileInfo(path).absoluteFilePath();
    while (!at.isEmpty() && !QFileInfo::exists(at)) {
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    const QStorageInfo volume(at);
    return volume.isValid() ? volume.rootPath() : QString();
}

namespace {
const QLatin1String kNoSpace("no space left on the volume ");
}

bool SaysNoSpace(const QString& reason) { return reason.contains(kNoSpace); }

QString SysReason(int err, const QString& path)
{
    if (err == 0)
        err = ENOSPC;
    const QString text = QString::fromLocal8Bit(std::strerror(err));
    if (!IsNoSpace(err))
        return text;
    const QString volume = VolumeOf(path);
    if (volume.isEmpty())
        return kNoSpace + QStringLiteral("of %1 (%2)").arg(path, text);
    return kNoSpace + QStringLiteral("mounted at %1 (%2)").arg(volume, text);
}

} // namespace velmor
