#include "tree/view/TreeItemModel.h"

namespace velmor {

TreeItemModel::TreeItemModel(FolderTree* tree, QObject* parent) : QAbstractItemModel(parent), m_tree(tree)
{
    connect(tree, &FolderTree::aboutToReset, this, [this] { beginResetModel(); });
    connect(tree, &FolderTree::resetDone, this, [this] { endResetModel(); });
    connect(tree, &FolderTree::rowsAboutToInsert, this,
            [this](TreeNode* p, int first, int last) { beginInsertRows(indexOf(p), first, last); });
    connect(tree, &FolderTree::rowsInserted, this, [this] { endInsertRows(); });
    connect(tree, &FolderTree::rowsAboutToRemove, this,
            [this](TreeNode* p, int first, int last) { beginRemoveRows(indexOf(p), first, last); });
    connect(tree, &FolderTree::rowsRemoved, this, [this] { endRemoveRows(); });
    connect(tree, &FolderTree::nodeChanged, this, [this](TreeNode* n) {
        const QModelIndex i = indexOf(n);
        if (i.isValid())
            emit dataChanged(i, i);
    });
    connect(tree, &FolderTree::nodesChanged, this, [this] { dataChangedBelow(nullptr); });
    connect(tree, &FolderTree::checkBoxesChanged, this, [this] { dataChangedBelow(nullptr); });
}

void TreeItemModel::setImages(const QIcon& closed, const QIcon& open)
{
    m_closed = closed;
    m_open = open;
}

TreeNode* TreeItemModel::nodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<TreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TreeItemModel::indexOf(const TreeNode* node) const
{
    if (!node || !node->alive)
        return {};
    const int row = node->row();
    if (row < 0)
        return {};
    return createIndex(row, 0, const_cast<TreeNode*>(node));
}

QModelIndex TreeItemModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid()) {
        TreeNode* root = m_tree->rootNode();
        return (root && row == 0) ? createIndex(0, 0, root) : QModelIndex();
    }
    const TreeNode* p = nodeOf(parent);
    if (size_t(row) >= p->children.size())
        return {};
    return createIndex(row, 0, p->children[size_t(row)]);
}

QModelIndex TreeItemModel::parent(const QModelIndex& child) const
{
    const TreeNode* n = nodeOf(child);
    if (!n || !n->parent)
        return {};
    return indexOf(n->parent);
}

int TreeItemModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    if (!parent.isValid())
        return m_tree->rootNode() ? 1 : 0;
    return int(nodeOf(parent)->children.size());
}

int TreeItemModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TreeItemModel::data(const QModelIndex& index, int role) const
{
    const TreeNode* n = nodeOf(index);
    if (!n)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return n->text;
    case Qt::DecorationRole:
        if (n->image == QLatin1String("icOpen"))
            return m_open;
        if (n->image == QLatin1String("icClose"))
            return m_closed;
        return {};
    case Qt::CheckStateRole:
        if (!m_tree->chkBx() || n->isPlaceholder())
            return {};
        return n->checked ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        return m_tree->fullPath(n);
    default:
        return {};
    }
}

bool TreeItemModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TreeNode* n = nodeOf(index);
    if (!n || role != Qt::CheckStateRole || !m_tree->chkBx() || n->isPlaceholder())
        return false;
    // A click on a box: the tree decides what follows (linked mode).
    m_tree->checkClicked(n, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags TreeItemModel::flags(const QModelIndex& index) const
{
    const TreeNode* n = nodeOf(index);
    if (!n)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_tree->chkBx() && !n->isPlaceholder())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void TreeItemModel::dataChangedBelow(const TreeNode* node)
{
    // One notification per loaded level: every child range of every parent.
    if (!node) {
        TreeNode* root = m_tree->rootNode();
        if (!root)
            return;
        const QModelIndex r = indexOf(root);
        emit dataChanged(r, r);
        node = root;
    }
    std::vector<const TreeNode*> stack{node};
    while (!stack.empty()) {
        const TreeNode* p = stack.back();
        stack.pop_back();
        if (p->children.empty())
            continue;
        emit dataChanged(createIndex(0, 0, p->children.front()),
                         createIndex(int(p->children.size()) - 1, 0, p->children.back()));
        for (const TreeNode* c : p->children)
            if (!c->children.empty())
                stack.push_back(c);
    }
}

} // namespace velmor
