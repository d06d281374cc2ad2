// Folder tree model: expansion by the user, ExpndALL, and the refresh tick
// that keeps loaded nodes in step with the disk.
#include "env/Usr.h"
#include "tree/DirList.h"
#include "tree/FolderTreeImpl.h"

#include <algorithm>

namespace velmor {

void FolderTree::expandNode(TreeNode* node)
{
    if (!node || !node->alive || node->isPlaceholder())
        return;
    // The view shows the node open whatever bBusy says; only the handler is quiet.
    node->expanded = true;
    if (Usr::bBusy) {
        d->changed(node);
        return;
    }
    emit eChkExp();
    node->image = QStringLiteral("icOpen");
    d->changed(node);
    Usr::ChkFso();
    d->loadIfUnloaded(node);
    d->compact();
}

void FolderTree::collapseNode(TreeNode* node)
{
    if (!node || !node->alive || node->isPlaceholder())
        return;
    node->expanded = false;
    if (Usr::bBusy) {
        d->changed(node);
        return;
    }
    node->image = QStringLiteral("icClose");
    d->changed(node);
    emit eChkExp();
}

void FolderTree::ExpndALL(int iExp, bool bRoot)
{
    TreeNode* start = bRoot ? rootNode() : selected();
    if (!start)
        return;
    {
        BusyGuard busy;
        Usr::ChkFso();
        d->ExpNode(start, iExp);
    }
    d->compact();
    emit eChkExp();
}

void FolderTree::Impl::ExpNode(TreeNode* start, int iExp)
{
    // Depth-first, first child first, without recursion so that no folder
    // depth can exhaust the stack.
    std::vector<TreeNode*> stack{start};
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        if (node->children.empty())
            continue;
        if (iExp == 0 || iExp == 2) {
            loadIfUnloaded(node);
            if (node->children.empty())
                continue;
            if (iExp == 0 && (!node->expanded || node->image != QLatin1String("icOpen"))) {
                node->image = QStringLiteral("icOpen");
                node->expanded = true;
                changed(node);
            }
        } else if (iExp == 1) {
            if (node->parent && (node->expanded || node->image != QLatin1String("icClose"))) {
                node->image = QStringLiteral("icClose");
                node->expanded = false;
                changed(node);
            }
        }
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
            if (!(*it)->isPlaceholder())
                stack.push_back(*it);
    }
}

void FolderTree::ChkUpd()
{
    if (d->pauses > 0 || d->nodes.empty())
        return;
    d->compact();
    // Node numbers grow with creation, so the live folder nodes in creation
    // order are the numbers 0 .. nNdCnt in ascending order.
    std::vector<int> numbers;
    numbers.reserve(d->nodes.size());
    for (const auto& n : d->nodes)
        if (n->alive && n->number >= 0)
            numbers.push_back(n->number);
    for (int num : numbers) {
        TreeNode* node = d->byNum.value(num, nullptr);
        if (!node)
            continue;  // removed earlier in this tick
        const QString path = fullPath(node);
        qint64 now = 0;
        // The root may be a link the user named; below it links never count.
        if (!dirlist::folderTime(path, node->parent == nullptr, &now)) {
            d->removeSubtree(node);
            if (d->nodes.empty())
                break;  // the root folder is gone: the tree is empty
            continue;
        }
        if (Impl::isDriveRoot(path))
            now = Impl::driveRootTime();
        // Remembering the time reconciled spares an unchanged folder a new
        // listing at every tick; a later change shows a newer time.
        if (now > d->times[size_t(num)] && d->UpdSub(node, path))
            d->times[size_t(num)] = now;
    }
    d->compact();
}

bool FolderTree::Impl::UpdSub(TreeNode* node, const QString& path)
{
    if (node->isUnloaded())
        return true;  // not loaded: nothing to reconcile
    std::vector<dirlist::SubFolder> subs;
    if (!dirlist::listSubfolders(path, subs))
        return false;  // unreadable now: leave the children as they are

    // Children whose folder is gone (removed or renamed) leave with their subtree.
    std::vector<TreeNode*> gone;
    for (TreeNode* c : node->children)
        if (!dirlist::isFolder(q->fullPath(c), false))
            gone.push_back(c);
    for (TreeNode* c : gone)
        removeSubtree(c);

    // New folders go to their sorted place among the kept children.
    const bool driveRoot = isDriveRoot(path);
    const bool mark = chkSync && node->checked;
    for (const auto& s : subs) {
        auto& kids = node->children;
        const auto pos = std::lower_bound(kids.begin(), kids.end(), s.name, [](TreeNode* c, const QString& name) {
            return dirlist::nameLess(c->text, name);
        });
        if (pos != kids.end() && (*pos)->text == s.name)
            continue;  // kept
        const int row = int(pos - kids.begin());
        TreeNode* n = makeFolderNode(node, s.name, s.mtimeNs, driveRoot, path);
        n->checked = mark;
        emit q->rowsAboutToInsert(node, row, row);
        kids.insert(kids.begin() + row, n);
        emit q->rowsInserted();
    }
    return true;
}

} // namespace velmor
