#pragma once
// Item-model adapter that shows a FolderTree in a QTreeView. It owns no
// nodes: each index points at a TreeNode of the FolderTree, and the check
// state lives in the node. Structure changes arrive through the FolderTree's
// notifications, so a view never sees a removed node.
#include "tree/FolderTree.h"

#include <QAbstractItemModel>
#include <QIcon>

namespace velmor {

class TreeItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // `tree` must outlive the adapter.
    explicit TreeItemModel(FolderTree* tree, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QModelIndex indexOf(const TreeNode* node) const;
    static TreeNode* nodeOf(const QModelIndex& index);

    // The two folder images, keyed "icClose" and "icOpen".
    void setImages(const QIcon& closed, const QIcon& open);

private:
    void dataChangedBelow(const TreeNode* node);

    FolderTree* m_tree;
    QIcon m_closed;
    QIcon m_open;
};

} // namespace velmor
