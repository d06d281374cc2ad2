#pragma once
// Low-level folder listing for the folder tree: one readdir pass, lstat-level
// metadata, no QFileInfo objects. Symbolic links are never followed below
// the folder listed; names that do not survive the round trip through the
// platform's file-name encoding are left out (they could not be named again).
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace velmor::dirlist {

// Name order of listings: letter case ignored first, then by code unit.
bool nameLess(const QString& a, const QString& b);

struct SubFolder {
    QString name;
    qint64 mtimeNs = 0;  // last-modified time, ns since the epoch; 0 when unreadable
};

// The subfolders of path (links excluded) in name order. Returns false when
// the folder cannot be listed; out is then empty.
bool listSubfolders(const QString& path, std::vector<SubFolder>& out);

// 1 when path has at least one subfolder (links excluded), 0 when it has
// none, -1 when it cannot be listed.
int hasSubfolder(const QString& path);

// True when path is a folder. followLink: a link to a folder counts (used
// for a root the user named); otherwise a link is never a folder.
bool isFolder(const QString& path, bool followLink);

// True when path is a folder (same link rule as isFolder); its last-modified
// time in ns since the epoch goes to *ns when ns is not null.
bool folderTime(const QString& path, bool followLink, qint64* ns);
// The same for a path already in the platform's file-name encoding.
bool folderTime(const QByteArray& encodedPath, bool followLink, qint64* ns);

} // namespace velmor::dirlist
