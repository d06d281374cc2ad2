#pragma once
// The main window fmSync: the splitter with its seven panes (task frame,
// the two folder trees with their captions, the options frame, the result
// grid), the menu bar and the trees' context menus. The window's logic lives
// in MainState; the window shows that state and forwards its events there.
#include "app/MainState.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <climits>
#include <functional>

class QAction;
class QCheckBox;
class QSpinBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;

namespace velmor {

class ResultGrid;
class uTrD;

class fmSync : public QMainWindow {
    Q_OBJECT
public:
    // Builds the controls and runs the window's load: bAppRun and bBusy set,
    // the folder 1 tree's check boxes on, the window state restored from
    // "User.xml", the grid emptied, the task list filled, no current task.
    explicit fmSync(QWidget* parent = nullptr);
    ~fmSync() override;

    MainState& state() { return m_st; }

    // The close request's last step; AppEnd unless replaced (tests keep the
    // process running).
    std::function<void()> appEnd;

    // Shows the state: captions, check marks, enabled states, panel values,
    // the task list and the grid's rows.
    void showState();

    // --- controls, by their names ---------------------------------------------------
    QSplitter* Splitter = nullptr;
    QWidget* pTsk = nullptr;  // panes, in splitter order
    QWidget* pLb1 = nullptr;
    QWidget* pTr1 = nullptr;
    QWidget* pLb2 = nullptr;
    QWidget* pTr2 = nullptr;
    QWidget* pUsr = nullptr;
    QWidget* pSpr = nullptr;

    QComboBox* cbTsk = nullptr;
    QLabel* lbRoot = nullptr;
    QLabel* lbCount = nullptr;  // the status bar under the grid: counts, or what a run did
    uTrD* uTrD1 = nullptr;
    uTrD* uTrD2 = nullptr;
    std::array<QCheckBox*, 8> chRet{};
    QGroupBox* frAttr = nullptr;
    QLineEdit* txFold = nullptr;
    QPushButton* cmFold = nullptr;
    QComboBox* cbFlt = nullptr;
    QLineEdit* txFlt = nullptr;
    QGroupBox* frReigai = nullptr;
    QLineEdit* txJogai = nullptr;
    QLineEdit* txHogo = nullptr;
    QCheckBox* chLinkTgt = nullptr;  // copy what a file link points to
    QCheckBox* chAcls = nullptr;     // compare and carry POSIX ACLs
    QCheckBox* chVerify = nullptr;  // read every copy back before it is put in place
    QComboBox* cbCmp = nullptr;     // files of equal size: by date, by content, by content setting times
    QCheckBox* chXattrs = nullptr;   // compare and carry extended attributes
    QComboBox* cbMove = nullptr;     // moved files: not looked for, confirmed by sampled blocks, by every byte
    QSpinBox* spKeepD = nullptr;     // days of dated history kept (0: no limit)
    QSpinBox* spJobs = nullptr;      // operations in flight on folder 2 (0: chosen by its volume)
    QSpinBox* spKeepN = nullptr;     // number of dated history folders and logs kept (0: no limit)
    QSpinBox* spShift = nullptr;     // minutes of time shift to ignore (0: none)
    std::array<QPushButton*, 5> cmRet{};
    ResultGrid* vSpr = nullptr;

    // Menus; each item sits at its index among the menu's actions
    // (separators included).
    QMenu* mnFold = nullptr;  // "ﾌｫﾙﾀﾞ(&F)"
    QMenu* mnSync = nullptr;  // "同期(&S)"
    QMenu* mnDisp = nullptr;  // "表示設定(&D)"
    QMenu* mnTask = nullptr;  // "ﾀｽｸ(&T)"
    QMenu* mnFld1 = nullptr;  // "ﾌｫﾙﾀﾞ1", also the folder 1 tree's context menu
    QMenu* mnFld2 = nullptr;  // "ﾌｫﾙﾀﾞ2", also the folder 2 tree's context menu
    QAction* item(QMenu* menu, int index) const;

    // True while a comparison, synchronisation or task load started here
    // runs (the controls that could change what it works on are disabled).
    bool running() const { return m_runDepth > 0; }

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    class RunBlock;

    void buildControls();
    QWidget* buildTaskFrame();
    QWidget* buildOptionsFrame();
    void buildMenus();
    void connectControls();
    void Load();
    void Activate();
    void firstActivation();
    void WinStateLoad();
    void WinStateSave();
    // The title bar and borders that the desktop draws around the window
    // (none before it is shown).
    QMargins frameMargins() const;
    // Moves and sizes the window onto a screen that exists: `stored` is the
    // frame's position and the inner size (pixels), held at least at the
    // window's minimum; an invalid `stored` gives the current size centred
    // on the primary screen. Either is shrunk to the screen's free area.
    void placeWindow(const QRect& stored);
    void fixPanes(int width1, int width2, int height);
    void splitFirstStart();
    void releasePanes();
    void setRunning(bool on);
    void copyList();
    void filterChecks();
    // "自動実行の設定...": shows and changes how the current task runs by
    // itself (velmor-cli schedule).
    void scheduleTask();
    void resetGrid();
    void showRowSoon(int row);

    MainState m_st;
    int m_runDepth = 0;
    bool m_closePending = false;  // a close request waits for the run to end
    bool m_closed = false;
    bool m_panesFixed = false;
    bool m_activated = false;  // the window has been activated once
    bool m_splitPending = false;  // no stored pane sizes: the first show splits the grid's height
    bool m_waitCursor = false;
    bool m_firstQueued = false;
    // The grid's rows changed by a synchronisation and the row to show,
    // applied together once the event loop runs.
    bool m_gridPending = false;
    int m_scrollTo = 0;
    int m_changedFirst = INT_MAX;
    int m_changedLast = -1;
};

} // namespace velmor
