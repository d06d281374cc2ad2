#pragma once
// A task's folder lists (tbTask.mChk and mExp): the ticked or the expanded
// folders of the folder-1 tree, each as its full path without the root path's
// characters ("" for the root itself, "/a/b" below it, "home/x" below the
// file-system root).
//
// The stored text is every path followed by ",". A path holding "," would
// read as two entries there, so a list that holds one is written in the
// escaped form instead: its first entry is "//" (no folder's path has an
// empty component, so no plain list starts with it), and inside every path
// "%" is written "%25" and "," "%2C". A list without such a path is written
// plain, exactly as it always was, and plain lists (every task saved before
// the escaped form existed, too) are read as they always were (InList).
// A plain list is also read as holding a folder whose path is two or more
// of its entries joined by "," ("/x,/y" in "/x,/y,": the folder "y" in the
// folder "x,"), so a list is written escaped as well when the folder tree
// holds any name with a "," in it.
// Readers of the plain form see an escaped list's ordinary paths unchanged;
// only paths holding "," or "%" are unknown to them.
#include "tasks/Options.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace velmor {

// The stored text of the paths, in the order given; escaped when a path
// holds "," or commaNames is true (the tree holds a name with a ",").
QString FolderListText(const QStringList& paths, bool commaNames);

// The paths of a stored list, for many look-ups.
class FolderListSet {
public:
    explicit FolderListSet(const QString& text);
    // True when path is in the list. A plain list answers as InList does (so
    // the root's "" is in every plain list); an escaped list holds its paths
    // and, like every plain list, the root's "".
    bool contains(const QString& path) const;

private:
    std::optional<InListSet> m_plain;
    QSet<QString> m_escaped;
};

} // namespace velmor
