#pragma once
// Folder reading for the folder tree, on top of the program's one listing
// (env/FsList.h): subfolders with nanosecond times, a cheap "has a subfolder"
// probe, and folder times. Links are never followed below the folder listed.
#include "env/FsList.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace velmor::dirlist {

struct SubFolder {
    QString name;
    qint64 mtimeNs = 0;  // last-modified time, ns since the epoch
    bool noSubfolders = false;  // known to hold no folders (see FsEntry)
};

// The subfolders of path (links excluded) in name order. Returns false when
// the folder cannot be listed; out is then empty.
bool listSubfolders(const QString& path, std::vector<SubFolder>& out);

// 1 when path has at least one subfolder (links excluded), 0 when it has
// none, -1 when it cannot be listed.
int hasSubfolder(const QString& path);

// True when path is a folder (followLink as FsIsDir); its last-modified time
// in ns since the epoch goes to *ns when ns is not null.
bool folderTime(const QString& path, bool followLink, qint64* ns);
// The same for a path already in the platform's file-name encoding.
bool folderTime(const QByteArray& encodedPath, bool followLink, qint64* ns);

} // namespace velmor::dirlist
