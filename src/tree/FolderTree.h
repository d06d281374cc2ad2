#pragma once
// Widget-free model of one folder tree control: nodes, lazy loading, refresh,
// check marks. The tree control's view shows it; the comparison and the task
// store walk its nodes directly.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

namespace velmor {

struct TreeNode {
    QString key;    // "Nd000", "Nd012", "Nd1000"; placeholders: parent key + "X"
    QString text;   // folder name; the root's text is the root path; "?" for a placeholder
    QString image;  // "icClose" / "icOpen"; empty for a placeholder
    bool checked = false;
    bool expanded = false;
    TreeNode* parent = nullptr;
    std::vector<TreeNode*> children;  // in display order (sorted by name once loaded)

    bool isPlaceholder() const { return text == QLatin1String("?"); }
    // True when the node's first child is the placeholder (level not loaded).
    bool isUnloaded() const { return !children.empty() && children.front()->isPlaceholder(); }
};

class FolderTree : public QObject {
    Q_OBJECT
public:
    explicit FolderTree(QObject* parent = nullptr);
    ~FolderTree() override;

    // --- root and selection -------------------------------------------
    QString Root() const;               // full path of the root node, "" when empty
    void setRoot(const QString& sPh);   // falls back to the user data folder
    // True when the last setRoot replaced a missing or empty root by the user
    // data folder; a comparison must refuse such a tree.
    bool rootFellBack() const;
    QString Path() const;               // full path of the selected node, "" when none
    void setPath(const QString& sPh);
    TreeNode* selected() const;
    void select(TreeNode* node);

    // --- node access in index (creation) order --------------------------
    int nodeCount() const;                    // placeholders included
    TreeNode* nodeAt(int index) const;        // 0-based; index 0 is the root
    QString fullPath(const TreeNode* node) const;
    TreeNode* rootNode() const;

    // --- loading and refresh --------------------------------------------
    void ExpndALL(int iExp, bool bRoot = false);
    void expandNode(TreeNode* node);    // the user opened a node
    void collapseNode(TreeNode* node);  // the user closed a node
    void ChkUpd();                      // one refresh tick

    // --- check marks -------------------------------------------------------
    void setChkBx(bool bShw);
    bool chkBx() const;
    void setPrChSync(bool bSync);
    bool chkSync() const;
    void ChkOnOff();
    void SetChkBx(bool bChk);
    void SetChkFlt(QString& sOffs, QString& sOns);
    void checkClicked(TreeNode* node, bool checked);  // a user click on a box

signals:
    void eCngRt(const QString& sRt);
    void eCngDr(const QString& sDr);
    void eChkExp();
    void eRClick();
    // Structure notifications for a view (not events of the control itself).
    void aboutToReset();
    void resetDone();
    void nodesChanged();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace velmor
