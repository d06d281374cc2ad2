// Folder tree model: expansion by the user, ExpndALL, and the refresh tick
// that keeps loaded nodes in step with the disk.
#include "env/Usr.h"
#include "tree/DirList.h"
#include "tree/FolderTreeImpl.h"

#include "env/FsDir.h"
#include <algorithm>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::optional<WalkLoadsAll> everyNode;
    if (iExp == 0 || iExp == 2)
        everyNode.emplace(this);
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

namespace {

// What one tick saw of a folder node: present as a folder (a link never
// counts below the root) and its last-modified time.
struct Seen {
    bool looked = false;
    bool present = false;
    qint64 ns = 0;
};

qint64 nsOf(const struct stat& st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// Looks at every loaded child of `node` relative to the folder `fd` (one
// single-component lookup each) and descends into children that have loaded
// children of their own. Only the ancestors' descriptors are open at a time.
void survey(const TreeNode* node, int fd, std::vector<Seen>& seen)
{
    for (const TreeNode* c : node->children) {
        if (c->isPlaceholder())
            continue;
        const QByteArray name = nameBytes(c->text);
        struct stat st;
        Seen s;
        s.looked = true;
        if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            s.present = true;
            s.ns = nsOf(st);
        }
        seen[size_t(c->number)] = s;
        if (!s.present || c->children.empty() || c->isUnloaded())
            continue;
        const int cfd = ::openat(fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (cfd < 0)
            continue;  // vanished meanwhile: its children are seen as unknown and left alone
        survey(c, cfd, seen);
        ::close(cfd);
    }
}

} // namespace

void FolderTree::ChkUpd()
{
    if (d->pauses > 0 || d->nodes.empty())
        return;
    d->compact();
    TreeNode* root = rootNode();
    if (!root)
        return;

    // First look at the disk for every loaded node, then act on the nodes in
    // number order (ascending; numbers grow with creation), so new nodes are
    // numbered as if each node had been checked in turn.
    std::vector<Seen> seen(size_t(d->nNdCnt) + 1);
    {
        // The root may be a link the user named; below it links never count.
        const int fd = openDirPath(nameBytes(root->text), true).release();
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            d->removeSubtree(root);  // the root folder is gone: the tree empties
            return;
        }
        seen[0] = Seen{true, true, Impl::isDriveRoot(root->text) ? Impl::driveRootTime() : nsOf(st)};
        survey(root, fd, seen);
        ::close(fd);
    }

    for (size_t num = 0; num < seen.size(); ++num) {
        const Seen& s = seen[num];
        if (!s.looked)
            continue;  // no such node, a placeholder's parent, or not reached
        TreeNode* node = d->byNum.value(int(num), nullptr);
        if (!node)
            continue;  // removed earlier in this tick
        if (!s.present) {
            d->removeSubtree(node);
            continue;
        }
        // Remembering the time reconciled spares an unchanged folder a new
        // listing at every tick; a later change shows a newer time.
        if (s.ns > d->times[num] && d->UpdSub(node, fullPath(node)))
            d->times[num] = s.ns;
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
        if (!FsIsDir(q->fullPath(c), false))
            gone.push_back(c);
    for (TreeNode* c : gone)
        removeSubtree(c);

    // New folders go to their sorted place among the kept children.
    const bool driveRoot = isDriveRoot(path);
    const bool mark = chkSync && node->checked;
    for (const auto& s : subs) {
        auto& kids = node->children;
        const auto pos = std::lower_bound(kids.begin(), kids.end(), s.name, [](TreeNode* c, const QString& name) {
            return nameLess(c->text, name);
        });
        if (pos != kids.end() && (*pos)->text == s.name)
            continue;  // kept
        const int row = int(pos - kids.begin());
        TreeNode* n = makeFolderNode(node, s, driveRoot, path);
        n->checked = mark;
        emit q->rowsAboutToInsert(node, row, row);
        kids.insert(kids.begin() + row, n);
        emit q->rowsInserted();
    }
    return true;
}

} // namespace velmor
