// Folder tree model: node collection, keys, root loading, one-level loading,
// selection by path, drive list and node access.
#include "tree/FolderTree.h"

#include "env/Prompt.h"
#include "env/Usr.h"
#include "tree/DirList.h"
#include "tree/FolderTreeImpl.h"

#include <QStorageInfo>
#include <algorithm>

namespace velmor {

int TreeNode::row() const
{
    if (!parent)
        return 0;
    const auto& sib = parent->children;
    const auto it = std::find(sib.begin(), sib.end(), this);
    return it == sib.end() ? -1 : int(it - sib.begin());
}

// ---------------------------------------------------------------------------
// Impl: structure

QString FolderTree::Impl::keyOf(int number)
{
    return QStringLiteral("Nd") + QString::number(number).rightJustified(3, QLatin1Char('0'));
}

qint64 FolderTree::Impl::driveRootTime()
{
    const QDateTime t(QDate(1999, 1, 1), QTime(0, 0));
    return t.toMSecsSinceEpoch() * 1000000LL;
}

void FolderTree::Impl::compact() const
{
    if (!dirty)
        return;
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](const std::unique_ptr<TreeNode>& n) { return !n->alive; }),
                nodes.end());
    dirty = false;
}

void FolderTree::Impl::clear()
{
    nodes.clear();
    dirty = false;
    byNum.clear();
    times.assign(1, kZeroTime);
    nNdCnt = 0;
    sel = nullptr;
}

TreeNode* FolderTree::Impl::newNode(TreeNode* parent, int number, const QString& text, const QString& image)
{
    auto n = std::make_unique<TreeNode>();
    n->number = number;
    n->key = keyOf(number);
    n->text = text;
    n->image = image;
    n->parent = parent;
    TreeNode* raw = n.get();
    nodes.push_back(std::move(n));
    byNum.insert(number, raw);
    return raw;
}

void FolderTree::Impl::addPlaceholder(TreeNode* node)
{
    auto p = std::make_unique<TreeNode>();
    p->key = node->key + QLatin1Char('X');
    p->text = QStringLiteral("?");
    p->placeholder = true;
    p->parent = node;
    node->children.insert(node->children.begin(), p.get());
    nodes.push_back(std::move(p));
}

// Creates the node of one subfolder (not yet linked into parent->children):
// next node number, recorded time, image "icClose", collapsed, a placeholder
// when the parent is the file-system root or the subfolder has subfolders of
// its own (also when they cannot be counted). A subfolder known from its
// listing to hold no folders is not looked into. During a walk that loads
// every node, each other new node gets one: the walk's load settles it.
TreeNode* FolderTree::Impl::makeFolderNode(TreeNode* parent, const dirlist::SubFolder& sub, bool driveRootParent,
                                           const QString& parentPath)
{
    ++nNdCnt;
    times.push_back(sub.mtimeNs);
    TreeNode* n = newNode(parent, nNdCnt, sub.name, QStringLiteral("icClose"));
    bool placeholder = driveRootParent;
    if (!placeholder && !sub.noSubfolders) {
        if (walkLoadsAll) {
            placeholder = true;
        } else {
            const QString childPath = parentPath.endsWith(QLatin1Char('/'))
                                          ? parentPath + sub.name
                                          : parentPath + QLatin1Char('/') + sub.name;
            placeholder = dirlist::hasSubfolder(childPath) != 0;
        }
    }
    if (placeholder)
        addPlaceholder(n);
    return n;
}

void FolderTree::Impl::removeSubtree(TreeNode* node)
{
    if (!node || !node->alive)
        return;
    if (!node->parent) {  // the root: the tree empties
        emit q->aboutToReset();
        clear();
        emit q->resetDone();
        emit q->selectionChanged(nullptr);
        return;
    }
    TreeNode* parent = node->parent;
    const int row = node->row();
    emit q->rowsAboutToRemove(parent, row, row);
    bool selGone = false;
    std::vector<TreeNode*> stack{node};
    while (!stack.empty()) {
        TreeNode* n = stack.back();
        stack.pop_back();
        n->alive = false;
        if (n == sel)
            selGone = true;
        if (n->number >= 0)
            byNum.remove(n->number);
        stack.insert(stack.end(), n->children.begin(), n->children.end());
    }
    parent->children.erase(parent->children.begin() + row);
    dirty = true;
    emit q->rowsRemoved();
    if (selGone) {
        sel = parent;
        emit q->selectionChanged(sel);
    }
}

bool FolderTree::Impl::LoadSub(TreeNode* node)
{
    const QString path = q->fullPath(node);
    if (path.isEmpty())
        return true;
    std::vector<dirlist::SubFolder> subs;
    if (!dirlist::listSubfolders(path, subs))
        return false;
    if (subs.empty())
        return true;
    const bool driveRoot = isDriveRoot(path);
    const bool mark = chkSync && node->checked;
    std::vector<TreeNode*> made;
    made.reserve(subs.size());
    for (const auto& s : subs) {
        TreeNode* n = makeFolderNode(node, s, driveRoot, path);
        n->checked = mark;
        made.push_back(n);
    }
    const int first = int(node->children.size());
    emit q->rowsAboutToInsert(node, first, first + int(made.size()) - 1);
    node->children.insert(node->children.end(), made.begin(), made.end());
    emit q->rowsInserted();
    return true;
}

bool FolderTree::Impl::loadIfUnloaded(TreeNode* node)
{
    if (!node->isUnloaded())
        return false;
    TreeNode* ph = node->children.front();
    emit q->rowsAboutToRemove(node, 0, 0);
    ph->alive = false;
    node->children.erase(node->children.begin());
    dirty = true;
    emit q->rowsRemoved();
    // A folder that cannot be listed (access denied, removed meanwhile) simply
    // stays without children; the refresh tick reconciles it later.
    LoadSub(node);
    return true;
}

void FolderTree::Impl::setDrive(const QString& mountPoint)
{
    if (drive == mountPoint)
        return;
    drive = mountPoint;
    emit q->driveChanged(drive);
}

bool FolderTree::Impl::SetDrv(const QString& path)
{
    const QString vol = driveOf(path);
    if (vol.isEmpty()) {
        Usr::prompt().message(path + QStringLiteral(" Not Found !!"));
        emit q->aboutToReset();
        clear();
        emit q->resetDone();
        emit q->selectionChanged(nullptr);
        return false;
    }
    setDrive(vol);
    return true;
}

void FolderTree::Impl::LoadRoot(const QString& pathIn)
{
    if (pathIn.isEmpty())
        return;
    fellBack = false;
    const QString path = Usr::CutTail(pathIn);
    // Pointing the drive list at the drive never starts a second load.
    const QString vol = driveOf(path);
    if (!vol.isEmpty())
        setDrive(vol);

    emit q->aboutToReset();
    clear();
    qint64 t = kZeroTime;
    const bool exists = dirlist::folderTime(path, true, &t);
    if (!exists) {
        emit q->resetDone();
        emit q->selectionChanged(nullptr);
        Usr::prompt().message(path + QStringLiteral(" Not Found"));
        return;
    }
    times[0] = isDriveRoot(path) ? driveRootTime() : t;
    TreeNode* root = newNode(nullptr, 0, path, QStringLiteral("icOpen"));
    emit q->resetDone();

    emit q->eCngRt(path);
    LoadSub(root);
    if (nNdCnt == 0) {
        root->image = QStringLiteral("icClose");
        root->expanded = false;
    } else {
        root->image = QStringLiteral("icOpen");
        root->expanded = true;
    }
    changed(root);
    sel = root;
    emit q->selectionChanged(root);
}

// ---------------------------------------------------------------------------
// FolderTree

FolderTree::FolderTree(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this))
{
    d->clear();
}

FolderTree::~FolderTree() = default;

QString FolderTree::Root() const
{
    return fullPath(rootNode());
}

void FolderTree::setRoot(const QString& sPhIn)
{
    Usr::ChkFso();
    QString sPh = sPhIn;
    bool fallback = false;
    if (sPh.isEmpty() || !FsIsDir(sPh, true)) {
        sPh = Usr::sUsrDt;
        fallback = true;
    }
    {
        BusyGuard busy;
        if (d->SetDrv(sPh))
            d->LoadRoot(sPh);
    }
    d->fellBack = fallback;
    d->compact();
}

bool FolderTree::rootFellBack() const
{
    return d->fellBack;
}

QString FolderTree::Path() const
{
    if (!d->sel || !d->sel->alive)
        return {};
    return fullPath(d->sel);
}

void FolderTree::setPath(const QString& sPhIn)
{
    TreeNode* root = rootNode();
    if (!root)
        return;
    const QString rootPath = fullPath(root);
    const QString sPh = Usr::CutTail(sPhIn);
    TreeNode* cur = root;
    QString rest;
    if (sPh == rootPath) {
        rest.clear();
    } else if (rootPath.endsWith(QLatin1Char('/')) ? sPh.startsWith(rootPath)
                                                     : sPh.startsWith(rootPath + QLatin1Char('/'))) {
        rest = sPh.mid(rootPath.size() + (rootPath.endsWith(QLatin1Char('/')) ? 0 : 1));
    } else {
        rest.clear();  // outside the root: the root stays the current node
    }
    if (!rest.isEmpty()) {
        const QStringList parts = rest.split(QLatin1Char('/'));
        for (const QString& part : parts) {
            d->loadIfUnloaded(cur);
            if (cur->children.empty())
                break;  // the deepest existing node is selected
            if (!cur->expanded || cur->image != QLatin1String("icOpen")) {
                cur->expanded = true;
                cur->image = QStringLiteral("icOpen");
                d->changed(cur);
            }
            TreeNode* next = nullptr;
            for (TreeNode* c : cur->children)
                if (!c->isPlaceholder() && c->text == part) {
                    next = c;
                    break;
                }
            cur = next;
            if (!cur)
                break;
        }
    }
    if (cur)
        select(cur);
    d->compact();
}

TreeNode* FolderTree::selected() const
{
    return d->sel && d->sel->alive ? d->sel : nullptr;
}

void FolderTree::select(TreeNode* node)
{
    if (node && !node->alive)
        return;
    if (d->sel == node)
        return;
    d->sel = node;
    emit selectionChanged(node);
}

void FolderTree::F_GtFld(int /*nFlg*/, bool bDrct)
{
    const QString cur = Root();
    QString sPh;
    if (bDrct)
        sPh = Usr::prompt().input(QStringLiteral("ﾙｰﾄﾊﾟｽを指定して下さい"), cur);
    else
        sPh = Usr::GtFldDlg(cur);
    // A cancelled dialog keeps the current tree rather than emptying it.
    if (sPh.isEmpty())
        return;
    {
        BusyGuard busy;
        if (d->SetDrv(sPh))
            d->LoadRoot(sPh);
    }
    d->compact();
}

void FolderTree::browseRoot()
{
    const QString sPh = Usr::GtFldDlg(QString());
    d->LoadRoot(sPh);  // an empty answer does nothing
    d->compact();
}

void FolderTree::OpnFld()
{
    const QString p = Path();
    if (!p.isEmpty())
        Usr::OpnExp(p);
}

QStringList FolderTree::driveList()
{
    QStringList out;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady() && !out.contains(v.rootPath()))
            out.append(v.rootPath());
    std::sort(out.begin(), out.end(), nameLess);
    return out;
}

QString FolderTree::driveOf(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    QString best;
    for (const QString& m : driveList()) {
        const bool holds = m == QLatin1String("/") || path == m || path.startsWith(m + QLatin1Char('/'));
        if (holds && m.size() > best.size())
            best = m;
    }
    return best;
}

QString FolderTree::drive() const
{
    return d->drive;
}

void FolderTree::changeDrive(const QString& mountPoint)
{
    if (Usr::bBusy)
        return;
    d->LoadRoot(mountPoint);
    d->compact();
}

int FolderTree::nodeCount() const
{
    d->compact();
    return int(d->nodes.size());
}

TreeNode* FolderTree::nodeAt(int index) const
{
    d->compact();
    if (index < 0 || index >= int(d->nodes.size()))
        return nullptr;
    return d->nodes[size_t(index)].get();
}

QString FolderTree::fullPath(const TreeNode* node) const
{
    if (!node)
        return {};
    if (!node->parent)
        return node->text;
    std::vector<const TreeNode*> chain;
    for (const TreeNode* n = node; n; n = n->parent)
        chain.push_back(n);
    QString p = chain.back()->text;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        if (!p.endsWith(QLatin1Char('/')))
            p += QLatin1Char('/');
        p += (*it)->text;
    }
    return p;
}

TreeNode* FolderTree::rootNode() const
{
    for (const auto& n : d->nodes)
        if (n->alive)
            return n->parent ? nullptr : n.get();
    return nullptr;
}

TreeNode* FolderTree::nodeByKey(const QString& key) const
{
    if (!key.startsWith(QLatin1String("Nd")))
        return nullptr;
    bool ok = false;
    const int n = key.mid(2).toInt(&ok);
    if (!ok)
        return nullptr;
    TreeNode* node = d->byNum.value(n, nullptr);
    return node && node->key == key ? node : nullptr;
}

void FolderTree::setChecked(TreeNode* node, bool on)
{
    if (!node || node->isPlaceholder() || node->checked == on)
        return;
    node->checked = on;
    d->changed(node);
}

void FolderTree::setExpanded(TreeNode* node, bool on)
{
    if (!node || node->isPlaceholder() || node->expanded == on)
        return;
    node->expanded = on;
    d->changed(node);
}

void FolderTree::notifyChanged()
{
    emit nodesChanged();
}

int FolderTree::nNdCnt() const
{
    return d->nNdCnt;
}

QDateTime FolderTree::dNdTm(int number) const
{
    if (number < 0 || size_t(number) >= d->times.size() || d->times[size_t(number)] == Impl::kZeroTime)
        return {};
    return QDateTime::fromMSecsSinceEpoch(d->times[size_t(number)] / 1000000LL);
}

FolderTree::RefreshPause::RefreshPause(FolderTree& t) : m_t(t)
{
    ++m_t.d->pauses;
}

FolderTree::RefreshPause::~RefreshPause()
{
    --m_t.d->pauses;
}

void FolderTree::clickedByUser()
{
    if (Usr::bBusy)
        return;
    emit eCngDr(Path());
}

void FolderTree::rightReleased()
{
    emit eRClick();
}

} // namespace velmor
