#include "env/Trash.h"

#include "env/FsList.h"

#include "env/FsDir.h"
#include "env/Reasons.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

// Opens (creating when missing, mode 0700) the folder name below dir; a link
// or anything but a folder there is refused.
UniqueFd subfolder(int dir, const char* name)
{
    if (::mkdirat(dir, name, 0700) != 0 && errno != EEXIST)
        return UniqueFd();
    return UniqueFd(::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The top folder of the volume that holds the open folder dir: walks up
// through ".." while the device stays the same.
UniqueFd volumeTop(int dir, dev_t dev)
{
    UniqueFd cur(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat cs {};
    if (!cur.valid() || ::fstat(cur.get(), &cs) != 0)
        return UniqueFd();
    for (;;) {
        UniqueFd up(::openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat us {};
        if (!up.valid() || ::fstat(up.get(), &us) != 0)
            return UniqueFd();
        if (us.st_dev != dev || (us.st_ino == cs.st_ino && us.st_dev == cs.st_dev))
            return cur;
        cur = std::move(up);
        cs = us;
    }
}

// The volume's trash for this user below its top folder.
UniqueFd volumeTrash(int top)
{
    const QByteArray uid = QByteArray::number(uint(::getuid()));
    struct stat ts {};
    if (::fstatat(top, ".Trash", &ts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(ts.st_mode) && (ts.st_mode & S_ISVTX)) {
        UniqueFd shared(::openat(top, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (shared.valid()) {
            UniqueFd mine = subfolder(shared.get(), uid.constData());
            if (mine.valid())
                return mine;
        }
    }
    return subfolder(top, (".Trash-" + uid).constData());
}

// The device of the home trash, or of its nearest existing ancestor while it
// does not exist yet.
dev_t homeDevice(const QString& home)
{
    QByteArray p = nameBytes(home);
    struct stat st {};
    while (::stat(p.constData(), &st) != 0) {
        const qsizetype slash = p.lastIndexOf('/');
        if (slash <= 0 || p == "/")
            return ::stat("/", &st) == 0 ? st.st_dev : dev_t(-1);
        p.truncate(slash);
    }
    return st.st_dev;
}

} // namespace

QString TrashAt(int dirFd, const QByteArray& name, const QString& absPath)
{
    struct stat st {};
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return WhyText(Why::PathError, absPath, errno);
    // A folder moved into the trash there would arrive empty: it stays.
    if (S_ISDIR(st.st_mode) && FsLosesRenamedFolders(dirFd))
        return WhyText(Why::TrashLosesFolders, absPath);

    // Items on the home trash's file system go there and nowhere else;
    // items on other volumes go to their volume's trash.
    UniqueFd trash;
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/Trash");
    if (homeDevice(home) == st.st_dev) {
        if (QDir().mkpath(home))
            trash = openDirPath(nameBytes(home), true);
    } else {
        const UniqueFd top = volumeTop(dirFd, st.st_dev);
        if (top.valid())
            trash = volumeTrash(top.get());
    }
    if (!trash.valid())
        return WhyText(Why::NoTrash, absPath, errno);
    const UniqueFd files = subfolder(trash.get(), "files");
    const UniqueFd info = subfolder(trash.get(), "info");
    if (!files.valid() || !info.valid())
        return WhyText(Why::TrashOpen, absPath, errno);

    const QByteArray text = "[Trash Info]\nPath=" + nameBytes(absPath).toPercentEncoding("/")
                            + "\nDeletionDate="
                            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1()
                            + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray entry = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray infoName = entry + ".trashinfo";
        // The information file reserves the name; the entry follows it.
        const int fd = ::openat(info.get(), infoName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return WhyText(Why::TrashInfo, absPath, errno);
        }
        UniqueFd out(fd);
        // An entry of that name without an information file (left by another
        // program) is never replaced: the item takes the next name.
        bool taken = false;
        if (::write(out.get(), text.constData(), size_t(text.size())) == text.size() && out.close() == 0) {
            if (::renameat2(dirFd, name.constData(), files.get(), entry.constData(), RENAME_NOREPLACE) == 0)
                return QString();
            taken = errno == EEXIST;
            if (errno == EINVAL) {  // a file system without RENAME_NOREPLACE: look, then rename
                struct stat es {};
                taken = ::fstatat(files.get(), entry.constData(), &es, AT_SYMLINK_NOFOLLOW) == 0;
                if (!taken && ::renameat(dirFd, name.constData(), files.get(), entry.constData()) == 0)
                    return QString();
            }
        }
        const int err = errno;
        ::unlinkat(info.get(), infoName.constData(), 0);
        if (!taken)
            return WhyText(Why::TrashMove, absPath, err);
    }
    return WhyText(Why::TrashNoName, absPath);
}

} // namespace velmor
