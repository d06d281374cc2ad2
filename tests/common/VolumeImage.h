#pragma once
// A small file system made in an image file and mounted through its FUSE
// driver for the lifetime of the object: the volumes users synchronise to
// (a FAT or exFAT stick, an NTFS drive as Windows uses it), or a temporary
// folder mirrored through bindfs without extended attributes; or an ext4
// volume the kernel mounts from the image on a loop device, whose blocks a
// test can reach in the image file below the file system's cache. Needs root and
// the drivers from scripts/install-deps.sh; where either is missing, or
// mounting fails, ok() is false and reason() says why, for GTEST_SKIP.
#include <QString>
#include <QTemporaryDir>

namespace velmor::test {

class VolumeImage {
public:
    enum class Type {
        Fat,    // FAT32 through fusefat: no modes, no links, two-second local times
        Exfat,  // exFAT through exfat-fuse (on a loop device)
        Ntfs,   // NTFS through lowntfs-3g with Windows' rules: case-insensitive names
        // A folder through bindfs --xattr-none: Linux names, modes and links,
        // but no extended attributes and so no ACLs (megabytes is not used)
        NoXattrs,
        // ext4 through the kernel, on a loop device reading the image
        // through its page cache: bytes written into the image file are what
        // the volume reads next where it holds nothing cached
        Ext4,
        // btrfs through the kernel, on a loop device: a copy can share its
        // source's blocks (at least 128 megabytes)
        Btrfs,
    };
    explicit VolumeImage(Type type, int megabytes = 64);
    ~VolumeImage();
    VolumeImage(const VolumeImage&) = delete;
    VolumeImage& operator=(const VolumeImage&) = delete;

    bool ok() const { return m_mounted; }
    QString reason() const { return m_reason; }
    // The mount point ("" unless ok()).
    QString path() const { return m_mounted ? m_mnt : QString(); }
    // The image file, or for NoXattrs the folder the mount shows.
    QString backing() const { return m_img; }
    static const char* name(Type type);
    // Unmounts and mounts the volume again: what is read next comes from
    // the volume, not from what the kernel kept of it. False when it failed.
    bool remount();

private:
    QString mountNow();
    void unmount();
    Type m_type = Type::Fat;
    QString m_img;
    QTemporaryDir m_dir;
    QString m_mnt;
    QString m_loop;  // the loop device holding the image, when one was set up
    bool m_mounted = false;
    QString m_reason;
};

} // namespace velmor::test
