#pragma once
// Widget-free model of one folder tree control: nodes, lazy loading, refresh,
// check marks. The tree control's view shows it; the comparison and the task
// store walk its nodes directly.
//
// Paths use "/" between components. The root node's text is the root path
// without its trailing "/" (the file-system root keeps its text "/"); a
// node's full path is the texts from the root down joined with "/". Symbolic
// links are never followed below the root: a link to a folder never becomes
// a node. Children are in name order (letter case ignored, then by code
// unit).
//
// Node pointers stay valid until the node is removed (by a refresh tick, a
// root load or a reconciliation) and the model next compacts its collection
// (nodeCount(), nodeAt() or the end of a public operation). A caller that
// walks the nodes while yielding to the event loop holds a RefreshPause so
// that no tick removes nodes under it.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace velmor {

struct TreeNode {
    QString key;    // "Nd000", "Nd012", "Nd1000"; placeholders: parent key + "X"
    QString text;   // folder name; the root's text is the root path; "?" for a placeholder
    QString image;  // "icClose" / "icOpen"; empty for a placeholder
    // Set where the placeholder of a level not yet loaded is made, and only
    // there: a folder may be called "?" like the placeholder's text.
    bool placeholder = false;
    bool checked = false;
    bool expanded = false;
    TreeNode* parent = nullptr;
    std::vector<TreeNode*> children;  // in display order (sorted by name once loaded)
    int number = -1;     // node number of the key; -1 for a placeholder
    bool alive = true;   // false once removed (until the model compacts)

    bool isPlaceholder() const { return placeholder; }
    // True when the node's first child is the placeholder (level not loaded).
    bool isUnloaded() const { return !children.empty() && children.front()->isPlaceholder(); }
    // Position among the parent's children (0 for the root).
    int row() const;
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
    // data folder; a comparison must refuse such a tree. Any other root load
    // clears it.
    bool rootFellBack() const;
    QString Path() const;               // full path of the selected node, "" when none
    void setPath(const QString& sPh);
    TreeNode* selected() const;
    void select(TreeNode* node);

    // Lets the user choose a new root: typed into an input box (bDrct) or
    // picked with the folder picker. nFlg is accepted and has no effect. A
    // cancelled or empty answer leaves the tree as it is.
    void F_GtFld(int nFlg, bool bDrct);
    // Browse button: folder picker without preselection, then a root load.
    void browseRoot();
    // Opens the selected folder in the desktop's file manager.
    void OpnFld();

    // --- drive list (mounted volumes) --------------------------------------
    // Mount points of the mounted, ready volumes, in name order.
    static QStringList driveList();
    // Mount point of the volume holding path (longest mount-point prefix,
    // whole components only); "" when no volume holds it (e.g. a relative path).
    static QString driveOf(const QString& path);
    QString drive() const;              // the drive list's current entry
    // The user picked another drive: loads its mount point as the root.
    // Ignored while Usr::bBusy is set.
    void changeDrive(const QString& mountPoint);

    // --- node access in index (creation) order --------------------------
    int nodeCount() const;                    // placeholders included
    TreeNode* nodeAt(int index) const;        // 0-based; index 0 is the root
    QString fullPath(const TreeNode* node) const;
    TreeNode* rootNode() const;
    TreeNode* nodeByKey(const QString& key) const;  // folder nodes only; null when absent
    // Setting marks and expansion through these keeps a view in step; code
    // that writes the fields directly calls notifyChanged() afterwards.
    void setChecked(TreeNode* node, bool on);
    void setExpanded(TreeNode* node, bool on);
    void notifyChanged();

    // Control state: the last node number issued, and the last-modified time
    // recorded for a node number (invalid for the zero time).
    int nNdCnt() const;
    QDateTime dNdTm(int number) const;

    // --- loading and refresh --------------------------------------------
    void ExpndALL(int iExp, bool bRoot = false);
    void expandNode(TreeNode* node);    // the user opened a node
    void collapseNode(TreeNode* node);  // the user closed a node
    void ChkUpd();                      // one refresh tick

    // Suspends refresh ticks while alive (nests).
    class RefreshPause {
    public:
        explicit RefreshPause(FolderTree& t);
        ~RefreshPause();
        RefreshPause(const RefreshPause&) = delete;
        RefreshPause& operator=(const RefreshPause&) = delete;
    private:
        FolderTree& m_t;
    };

    // --- check marks -------------------------------------------------------
    void setChkBx(bool bShw);
    bool chkBx() const;
    void setPrChSync(bool bSync);
    bool chkSync() const;
    void ChkOnOff();
    void SetChkBx(bool bChk);
    // Normalises both texts (runs of blanks to one, blanks to ","), writes
    // them back, and ticks/unticks the folders below the selected node by
    // name. A pattern that cannot be matched (an unclosed "[") is reported
    // through Usr::prompt() and nothing is changed.
    void SetChkFlt(QString& sOffs, QString& sOns);
    void checkClicked(TreeNode* node, bool checked);  // a user click on a box

    // --- user actions on the tree view ------------------------------------
    void clickedByUser();    // a click in the tree: eCngDr unless busy
    void rightReleased();    // right button released: eRClick, always

signals:
    void eCngRt(const QString& sRt);
    void eCngDr(const QString& sDr);
    void eChkExp();
    void eRClick();
    // Structure notifications for a view (not events of the control itself).
    void aboutToReset();
    void resetDone();
    void nodesChanged();                      // marks/images/expansion of many nodes
    void nodeChanged(velmor::TreeNode* node); // mark/image/expansion of one node
    void rowsAboutToInsert(velmor::TreeNode* parent, int first, int last);
    void rowsInserted();
    void rowsAboutToRemove(velmor::TreeNode* parent, int first, int last);
    void rowsRemoved();
    void selectionChanged(velmor::TreeNode* node);
    void driveChanged(const QString& mountPoint);
    void checkBoxesChanged(bool shown);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    friend struct Impl;
};

} // namespace velmor
