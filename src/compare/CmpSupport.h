#pragma once
// Small helpers shared by the comparison phases (not part of the engine's
// public interface).
#include "compare/Compare.h"
#include "compare/Session.h"
#include "env/Progress.h"

#include <QString>
#include <QStringView>

namespace velmor::cmp {

// The Session's wait dialog; a silent one when none is set.
inline Progress& progressOf(Session& s)
{
    static thread_local HeadlessProgress silent;
    return s.progress ? *s.progress : silent;
}

// Path of full below root, without the separator that follows the root;
// empty for the root itself. The file-system root "/" is followed by no
// extra separator ("/home" below "/" is "home").
inline QString relPath(const QString& root, const QString& full)
{
    if (full.size() <= root.size())
        return QString();
    return full.mid(root.endsWith(QLatin1Char('/')) ? root.size() : root.size() + 1);
}

// root joined with a relative path (rel empty: the root).
inline QString joinPath(const QString& root, const QString& rel)
{
    if (rel.isEmpty())
        return root;
    return root.endsWith(QLatin1Char('/')) ? root + rel : root + QLatin1Char('/') + rel;
}

// Marks a tbFold row and every row below it "除外" (a folder the scan could
// not read: nothing in it is compared, nothing in it is deleted).
void excludeSubtree(SqlConn& db, const QString& rel);

// Text of a failure for vUnread and messages.
inline QString errorText(const std::exception& e) { return QString::fromUtf8(e.what()); }

// Text of a failed system call on path (errno value err) for vUnread and
// messages. A lookup that met a link or a file where a folder should be
// (ELOOP, ENOTDIR) says so, since the system's own text does not.
QString sysErrorText(const QString& path, int err);

// Opens root 1 or 2 of the comparison (side 1 or 2). Once the comparison
// has recorded which folder a root is, only that folder is opened: a root
// swapped or unmounted meanwhile throws FsError, as does one that cannot
// be opened.
UniqueFd openRoot(const Session& s, int side);

// The volume trash folders ".Trash" and ".Trash-<digits>" (per user) that a
// desktop keeps at the top of a volume; they take no part at a root.
bool isVolumeTrash(QStringView name);

// The kinds of attributes (env/FileMeta.h) read on both sides: those the
// options ask for that folder 2's volume holds (the others are named once
// as lost, not read).
unsigned xattrKinds(const Session& s);

// Notes once per comparison that folder 2's volume cannot hold what, which
// some folder-1 item has (an item of the kind is lost there otherwise
// silently).
void noteLost(Session& s, const QString& what);

// Notes (noteLost) that folder 2's volume cannot hold the owner and group of
// a folder-1 item: only where root runs and they are not its own.
void noteLostOwner(Session& s, unsigned uid, unsigned gid);

} // namespace velmor::cmp
