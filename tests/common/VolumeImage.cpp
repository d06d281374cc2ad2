#include "common/VolumeImage.h"

#include <QProcess>
#include <QThread>

#include <unistd.h>

namespace velmor::test {

namespace {

// Runs a tool; "" when it ended with status 0, else what it said.
QString run(const QString& program, const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted())
        return program + QStringLiteral(" cannot be run: ") + p.errorString();
    if (!p.waitForFinished(60'000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished();
        return program + QStringLiteral(" did not finish");
    }
    const QString said = QString::fromLocal8Bit(p.readAll()).trimmed();
    if (out)
        *out = said;
    return p.exitCode() == 0 ? QString() : program + QStringLiteral(": ") + (said.isEmpty() ? QStringLiteral("failed") : said);
}

} // namespace

const char* VolumeImage::name(Type type)
{
    switch (type) {
    case Type::Fat: return "FAT";
    case Type::Exfat: return "exFAT";
    case Type::Ntfs: return "NTFS";
    case Type::NoXattrs: return "bindfs --xattr-none";
    case Type::Ext4: return "ext4";
    case Type::Btrfs: return "btrfs";
    }
    return "?";
}

VolumeImage::VolumeImage(Type type, int megabytes)
{
    if (::geteuid() != 0) {
        m_reason = QStringLiteral("mounting a file system image needs root");
        return;
    }
    if (!m_dir.isValid()) {
        m_reason = QStringLiteral("no temporary folder");
        return;
    }
    const QString img = m_dir.filePath(type == Type::NoXattrs ? QStringLiteral("volume") : QStringLiteral("volume.img"));
    m_mnt = m_dir.filePath(QStringLiteral("mnt"));
    QString why = run(QStringLiteral("mkdir"), {m_mnt});
    if (why.isEmpty())
        why = type == Type::NoXattrs
                  ? run(QStringLiteral("mkdir"), {img})
                  : run(QStringLiteral("truncate"), {QStringLiteral("-s"), QString::number(megabytes) + QLatin1Char('M'), img});
    if (why.isEmpty()) {
        switch (type) {
        case Type::Fat: why = run(QStringLiteral("mkfs.vfat"), {QStringLiteral("-F"), QStringLiteral("32"), img}); break;
        case Type::Exfat:
            why = run(QStringLiteral("mkfs.exfat"), {img});
            if (why.isEmpty())
                why = run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), img}, &m_loop);
            break;
        case Type::Ntfs: why = run(QStringLiteral("mkfs.ntfs"), {QStringLiteral("-F"), QStringLiteral("-Q"), img}); break;
        case Type::NoXattrs: break;
        case Type::Ext4:
        case Type::Btrfs:
            why = type == Type::Ext4 ? run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), img})
                                     : run(QStringLiteral("mkfs.btrfs"), {QStringLiteral("-q"), QStringLiteral("-f"), img});
            if (why.isEmpty())
                why = run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), img}, &m_loop);
            break;
        }
    }
    m_type = type;
    m_img = img;
    if (why.isEmpty())
        why = mountNow();
    m_mounted = why.isEmpty();
    if (!m_mounted)
        m_reason = QStringLiteral("cannot mount a %1 volume here (%2)").arg(QLatin1String(name(type)), why);
}

QString VolumeImage::mountNow()
{
    switch (m_type) {
    case Type::Fat: return run(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), m_img, m_mnt});
    case Type::Exfat: return run(QStringLiteral("mount.exfat-fuse"), {m_loop, m_mnt});
    case Type::Ntfs:
        return run(QStringLiteral("lowntfs-3g"), {QStringLiteral("-o"), QStringLiteral("ignore_case,windows_names"), m_img, m_mnt});
    case Type::NoXattrs: return run(QStringLiteral("bindfs"), {QStringLiteral("--xattr-none"), m_img, m_mnt});
    case Type::Ext4: return run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("ext4"), m_loop, m_mnt});
    case Type::Btrfs: return run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("btrfs"), m_loop, m_mnt});
    }
    return QStringLiteral("unknown volume type");
}

bool VolumeImage::remount()
{
    unmount();
    m_mounted = mountNow().isEmpty();
    return m_mounted;
}

VolumeImage::~VolumeImage()
{
    unmount();
    if (!m_loop.isEmpty())
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
}

void VolumeImage::unmount()
{
    if (m_mounted) {
        // A FUSE driver may still be busy for a moment after the last file closed.
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            gone = run(QStringLiteral("umount"), {m_mnt}).isEmpty();
            if (!gone)
                QThread::msleep(100);
        }
        if (!gone)
            run(QStringLiteral("umount"), {QStringLiteral("-l"), m_mnt});
        m_mounted = false;
    }
}

} // namespace velmor::test
