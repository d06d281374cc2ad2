#pragma once
// Private state of FolderTree, shared by its source files (loading, refresh,
// check marks). Not for use outside src/tree.
#include "tree/FolderTree.h"

#include "env/Usr.h"
#include "tree/DirList.h"

#include <QHash>
#include <limits>

namespace velmor {

struct FolderTree::Impl {
    static constexpr qint64 kZeroTime = std::numeric_limits<qint64>::min();

    explicit Impl(FolderTree* owner) : q(owner) {}

    FolderTree* q;
    // Every node in creation order, placeholders included. Removed nodes stay
    // (alive == false) until compact() frees them.
    mutable std::vector<std::unique_ptr<TreeNode>> nodes;
    mutable bool dirty = false;
    QHash<int, TreeNode*> byNum;   // live folder nodes by node number
    std::vector<qint64> times;     // dNdTm: ns since the epoch per node number
    int nNdCnt = 0;
    TreeNode* sel = nullptr;
    bool chkBx = false;
    bool chkSync = false;
    bool fellBack = false;
    int pauses = 0;
    QString drive;
    // While a walk that loads every node it creates is under way (expand
    // all, tick a subtree), new nodes get their placeholder unprobed: the
    // walk lists each of them next anyway, and the probe would list every
    // folder twice.
    bool walkLoadsAll = false;
    struct WalkLoadsAll {
        explicit WalkLoadsAll(Impl* d) : d(d), was(d->walkLoadsAll) { d->walkLoadsAll = true; }
        ~WalkLoadsAll() { d->walkLoadsAll = was; }
        Impl* d;
        bool was;
    };

    // --- structure (FolderTree.cpp) ---
    static QString keyOf(int number);
    static qint64 driveRootTime();           // 1999-01-01 00:00 local time
    static bool isDriveRoot(const QString& fullPath) { return fullPath == QLatin1String("/"); }
    void compact() const;
    void clear();                            // no signals
    TreeNode* newNode(TreeNode* parent, int number, const QString& text, const QString& image);
    TreeNode* makeFolderNode(TreeNode* parent, const dirlist::SubFolder& sub, bool driveRootParent,
                             const QString& parentPath);
    void addPlaceholder(TreeNode* node);
    void removeSubtree(TreeNode* node);      // with signals; the root empties the tree
    bool LoadSub(TreeNode* node);            // false when the folder could not be listed
    bool loadIfUnloaded(TreeNode* node);     // removes the placeholder and loads; true when it did
    void LoadRoot(const QString& path);
    bool SetDrv(const QString& path);
    void setDrive(const QString& mountPoint);
    void changed(TreeNode* node) { emit q->nodeChanged(node); }

    // --- refresh (TreeRefresh.cpp) ---
    void ExpNode(TreeNode* node, int iExp);
    bool UpdSub(TreeNode* node, const QString& path);  // false when the folder cannot be listed

    // --- check marks (TreeChecks.cpp) ---
    void SetChkTree(TreeNode* node, bool value);
    void FltChk(TreeNode* node, const QStringList& ons, const QStringList& offs);
};

} // namespace velmor
