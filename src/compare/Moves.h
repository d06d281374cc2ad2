#pragma once
// Moved and renamed items. A file or folder that the user renamed or moved
// in folder 1 is "追加" at its new place and "削除" at its old one; folder 2
// already holds its content, so the synchronisation renames it there instead
// of copying it again and deleting the old copy. FindMoves pairs the rows
// after the classification and confirms every pair by content; the grid
// shows each pair (kMoved) and the synchronisation carries it out
// (SyncMove).
#include "compare/Compare.h"

#include <QByteArray>
#include <vector>

namespace velmor {
struct Session;

// One entry of a folder tree, as far as telling two trees apart needs it.
struct TreeItem {
    QByteArray rel;  // path below the tree's top folder
    bool folder = false;
    long long size = 0;  // files
    FileTime time;       // files
};

// Lists the folder rel below the open root (its path rootPath names it in
// messages) with everything below it, parents before their content, names
// in byte order. False when the tree holds anything but folders and regular
// files (a link, a special file, a mount of another volume), when part of
// it cannot be read, or when it holds no file with data: such a tree is
// never taken for a moved one.
bool ListTree(int root, const QString& rel, std::vector<TreeItem>& out);

// The two listings hold the same names, kinds and sizes, and each file's
// time is the same to the comparison (match).
bool SameTrees(const std::vector<TreeItem>& a, const std::vector<TreeItem>& b, const TimeMatch& match);

// Pairs the rows of the last classification (panel.nMoves: 1 confirms by
// sampled blocks, 2 by every byte; 0, or the delete switch off: nothing is
// paired). A "追加" file pairs with a "削除" file of the same size and the
// same time (TimeMatch of the comparison) on the same volume of folder 2,
// after the protection and exclusion patterns, whose content is confirmed;
// where several files of one size and time could pair, each candidate is
// compared by every byte and only a confirmed one is taken, else none. A
// "追加" folder pairs with a "削除" folder whose tree is the same
// (SameTrees) and whose every file is confirmed. A "上書" file whose name
// differs only in letter case on a volume that ignores case, and whose
// size and time are the same, is paired with itself (a rename in place).
// Writes sMv of tbFile and tbFold. Returns false when the user pressed stop
// (the pairs found so far stay). Throws on database errors.
bool FindMoves(Session& s);

} // namespace velmor
