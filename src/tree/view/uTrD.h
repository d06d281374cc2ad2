#pragma once
// The folder tree control: a drive list (mounted volumes), a browse button
// and a tree view over a FolderTree, with the one-second refresh timer.
// Everything the control does lives in the FolderTree (GtObjct()); this
// widget only shows it and turns user input into its calls.
#include "tree/FolderTree.h"

#include <QWidget>

class QComboBox;
class QSplitter;
class QTimer;
class QToolButton;
class QTreeView;

namespace velmor {

class TreeItemModel;

class uTrD : public QWidget {
    Q_OBJECT
public:
    // Makes the control's named splitter panes ("pDrive", "pFld", "pDir"),
    // each holding one of its parts: the window that hosts the control hands
    // in its own, so the control's panes are made as the window's are.
    using PaneMaker = QWidget* (*)(const QString& key, QWidget* control);

    // A control that shows tree, a model owned elsewhere (the main window's
    // state) that must outlive the control; nullptr: a tree of its own.
    uTrD(FolderTree* tree, PaneMaker pane, QWidget* parent = nullptr);
    ~uTrD() override;

    // --- public members of the control --------------------------------
    QString Root() const { return m_tree->Root(); }
    void setRoot(const QString& sPh) { m_tree->setRoot(sPh); }
    QString Path() const { return m_tree->Path(); }
    void setPath(const QString& sPh) { m_tree->setPath(sPh); }
    // Hides the selection highlight while the tree does not have the focus.
    void setBHdSlct(bool bHide);
    void F_GtFld(int nFlg, bool bDrct) { m_tree->F_GtFld(nFlg, bDrct); }
    void OpnFld() { m_tree->OpnFld(); }
    FolderTree* GtObjct() const { return m_tree; }
    void ExpndALL(int iExp, bool bRoot = false) { m_tree->ExpndALL(iExp, bRoot); }
    void setChkBx(bool bShw) { m_tree->setChkBx(bShw); }
    void setPrChSync(bool bSync) { m_tree->setPrChSync(bSync); }
    void ChkOnOff() { m_tree->ChkOnOff(); }
    void SetChkBx(bool bChk) { m_tree->SetChkBx(bChk); }
    void SetChkFlt(QString& sOffs, QString& sOns) { m_tree->SetChkFlt(sOffs, sOns); }

    // Parts, for the host window and tests.
    QTreeView* trView() const { return m_view; }
    QComboBox* drive1() const { return m_drive; }
    QToolButton* cmFld() const { return m_browse; }
    QTimer* timer1() const { return m_timer; }
    TreeItemModel* itemModel() const { return m_model; }

signals:
    void eCngRt(const QString& sRt);
    void eCngDr(const QString& sDr);
    void eChkExp();
    void eRClick();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void fillDrives();
    void startTimerIfLoaded();
    void syncExpansion(TreeNode* node);
    void syncAllExpansion();
    void syncSelection(TreeNode* node);

    FolderTree* m_tree;
    TreeItemModel* m_model;
    QSplitter* m_split;
    QComboBox* m_drive;
    QToolButton* m_browse;
    QTreeView* m_view;
    QTimer* m_timer;
    bool m_syncing = false;  // the widget follows the model: no user handlers
};

} // namespace velmor
