#pragma once
// The main window's logic without widgets: its engine session and both
// folder trees, the current task and the task list, the enabled state of the
// task commands and of the panel's controls, the task procedures and the
// automatic run. The desktop window shows this state and forwards its
// events here; velmor-cli and the tests drive it directly.
#include "compare/Compare.h"
#include "compare/Session.h"
#include "env/Progress.h"
#include "sync/SyncRun.h"
#include "tree/FolderTree.h"

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

namespace velmor {

// The task commands' own texts.
namespace TskMsg {
inline const QString SaveAs = QStringLiteral("名前をつけて保存");       // no current task
inline const QString SaveRenamed = QStringLiteral("名前を変えて保存");  // a task is current
inline const QString AskName = QStringLiteral("ﾀｽｸの名称を指定して下さい");
inline const QString AskTitle = QStringLiteral("ﾀｽｸの登録");
inline const QString BackupAndTrash =
    QStringLiteral("上書･削除時の元ﾌｧｲﾙを別削除し､更にごみ箱を使用して削除する指定で良いですね");
// name + NotDefined
inline const QString NotDefined = QStringLiteral(" が定義されていません");
inline const QString Loading = QStringLiteral("設定中･･･");
// A tree that shows the user data folder in place of a missing root: saving
// would replace the task's root by that folder.
inline const QString Root1Missing = QStringLiteral("ﾌｫﾙﾀﾞ1が見つかりません\rﾀｽｸは保存しません");
inline const QString Root2Missing = QStringLiteral("ﾌｫﾙﾀﾞ2が見つかりません\rﾀｽｸは保存しません");
// + the error text
inline const QString DbFailed = QStringLiteral("ﾀｽｸの読み書き中にｴﾗｰが発生しました\r");
} // namespace TskMsg

// The window commands' own texts.
namespace WinMsg {
// root of folder 1 + RootArrow + root of folder 2 (the root label lbRoot)
inline const QString RootArrow = QStringLiteral(" ⇒ ");
// + the reason: the optimisation of the work database did not happen
inline const QString CompactFailed = QStringLiteral("ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを最適化できませんでした\r");
// + the reason: the work database could not be opened again afterwards
inline const QString DbOpenFailed = QStringLiteral("ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを開けません\r");
} // namespace WinMsg

struct WinStateData;

// What the last Load, TskSave or TskDel did with the task store.
enum class TskResult {
    Done,       // written (saved or deleted)
    Cancelled,  // the user cancelled the name or the question; nothing written
    Refused,    // nothing to do (no current task) or a root is missing; nothing written
    Failed,     // the work database failed (message shown); nothing written
};

class MainState {
public:
    MainState();
    ~MainState();
    MainState(const MainState&) = delete;
    MainState& operator=(const MainState&) = delete;

    // --- state -----------------------------------------------------------------
    Session s;                 // panel, grid, roots, switches, work database
    FolderTree tree1, tree2;   // uTrD1 (with check boxes) and uTrD2
    QString sCurTsk;           // the current task, "" when none (set by SetCurTsk only)

    // The task list cbTsk: its entries, the selected index (-1: none) and
    // the text of its edit field.
    QStringList cbTsk;
    int cbTskIndex = -1;
    QString cbTskText;

    // Enabled states and captions the window shows.
    bool mnSaveEnabled = false;     // "上書き保存"
    QString mnSaveAsCaption;        // "名前をつけて保存" / "名前を変えて保存"
    bool mnDeleteEnabled = false;   // "現在のﾀｽｸを削除"
    bool txFoldEnabled = false;     // txFold and cmFold (white when enabled, E0E0E0 when not)
    bool txFltEnabled = false;      // txFlt (the same colours)

    QString sFtpAp;                 // the FTP companion program's path (window state)

    // Called after the state above changed, so the window can refresh.
    std::function<void()> changed;
    // Restores the window state from the settings file (after a task is
    // deleted); empty: nothing to restore.
    std::function<void()> restoreWindowState;

    // --- load ---------------------------------------------------------------------
    // The load steps that concern this state: the task list filled from
    // tbTask (no entry selected), the first filter item, no current task.
    // A database failure is shown and leaves the list empty (tskResult Failed).
    void Load();

    // --- options panel ------------------------------------------------------------
    void GetOpt();                 // s.yRt from the check boxes
    void PutOpt();                 // check boxes from s.yRt, then EnBkFld
    void EnBkFld(bool on);
    void SetCurTsk(const QString& name);
    void TskChg(bool flag);
    void setFilterIndex(int index);  // cbFlt; txFlt enabled when > 0

    // --- tasks --------------------------------------------------------------------
    // Saves the panel and both trees as a task: under sCurTsk (overwrite; does
    // nothing without a current task) or under a name asked for. A new task
    // is appended to the task list and selected, which loads it (bBusy is
    // clear then). Refused while a tree shows the user data folder in place
    // of a missing root. Save, load and delete are refused (message) while
    // a comparison or synchronisation runs. The outcome is left in tskResult.
    void TskSave(bool overwrite);
    // Loads the named task (empty: the selected entry of the task list) into
    // the panel and both trees and makes it current; empties the grid. ok is
    // false when the name is not in tbTask (message shown) or the database
    // fails (message shown). A task whose folder-1 root is missing loads with
    // the tree's fallback and no ticks; comparing it stays refused.
    void TskLoad(bool& ok, const QString& name);
    // Deletes the current task from tbTask and the task list, leaves no task
    // current and calls restoreWindowState. The outcome is left in tskResult.
    void TskDel();
    // The user picked entry index of the task list (-1: none): loads it
    // unless bBusy.
    void selectTask(int index);
    TskResult tskResult = TskResult::Done;

    // --- automatic run and hand-off to the FTP companion ----------------------------
    // (see AutoRun.cpp and UpHand.cpp; both types are completed in AutoRun.h
    // and UpHand.h)
    struct AutoRunTask;     // what the automatic run did with one item
    enum class UpResult;    // how a hand-off to the companion ended

    bool bActDone = false;  // the first activation has happened
    // The last synchronisation of the grid's current fill: its time and,
    // when the stop button ended it, the rows it had done (else -1).
    struct SyncSummary {
        qint64 ms = 0;
        int stoppedAfter = -1;
        QString verified;  // what reading the copies back did ("": not asked)
        int pruned = 0;  // dated backup folders and logs removed by the task's limits
    };
    std::optional<SyncSummary> lastSync;
    // The window is closing: an automatic run does no further step and no
    // further task, and a wait for the companion ends (the companion runs on).
    bool bClosing = false;

    // The first activation: when the command line named tasks (Usr::sCmdTsk),
    // runs AutoRun on that text, once per window. True when it ran; the
    // window then closes.
    bool Activate();
    // Runs the tasks of a command-line task text one after the other without
    // any question: load, compare, synchronise, and for "/F" the batch
    // hand-off. A task that cannot be loaded is skipped. s.progress is the
    // wait dialog.
    void AutoRun(const QString& text);
    // Called after each item of AutoRun, while s.vSpr still holds its grid.
    std::function<void(const AutoRunTask&)> autoRunTaskDone;
    // A row of an automatic run's synchronisation failed (0-based row, reason).
    std::function<void(int row, const QString& why)> autoRunRowFailed;

    // Hands the task of the task list's text to the FTP companion: batch
    // (wait: returns when the companion has ended, events keep running) or
    // interactive (returns once it started). Messages through Usr::prompt().
    UpResult UpHand(bool wait);
    // sFtpAp := the companion's path from the per-user store; asks for it
    // when the store names no existing file.
    void FindUp();

    // --- the window's commands and display --------------------------------------------
    // Each command is dropped while Usr::bBusy is set (programmatic changes of
    // the controls never start one). Runs need s.progress.

    // Display menu: which of its three items carries the check mark (none
    // when s.nDispMd lies outside 0-2, as a stored DISP may).
    std::array<bool, 3> mnDispChecked{true, false, false};
    // "ﾁｪｯｸの変更に下位のﾌｫﾙﾀﾞも連動する" (checked: linked mode) and the
    // enabled state of "選択したﾌｫﾙﾀﾞだけをﾁｪｯｸ切替", which follows it.
    bool mnLinkChecked = true;
    bool mnChkOnOffEnabled = true;
    // The root label lbRoot: root of folder 1 + " ⇒ " + root of folder 2.
    QString lbRoot;
    // The front end's hooks for the synchronisation commands (scrolling the
    // grid, the focus on txFold).
    SyncHooks syncHooks;

    // Display mode i (menu "表示設定(&D)"): the check mark moves to item i,
    // s.nDispMd := i, and after a comparison (s.bCmpd) the grid is filled
    // again in that mode. While a run is under way the grid it works on is
    // left alone: a message says so and nothing changes.
    void SetDispMd(int i);
    // Linked mode on or off: the check mark, the enabled state of
    // "選択したﾌｫﾙﾀﾞだけをﾁｪｯｸ切替" and the folder 1 tree's prChSync.
    void SetLinked(bool on);
    void ToggleLinked() { SetLinked(!mnLinkChecked); }

    // Tree events. eCngRt of the folder 1 tree (folder1) or the folder 2
    // tree: lbRoot with sRt for that tree and the other tree's root, then
    // TskChg(true). eChkExp of the folder 1 tree: TskChg(true).
    void RootChanged(bool folder1, const QString& sRt);
    void ChkExpChanged();
    // "ﾙｰﾄﾊﾟｽを参照して開く" (typed false) and "直接ﾙｰﾄﾊﾟｽを指定" (typed
    // true) of either tree. The tree loads its new root quietly (bBusy); a
    // root that did load is then shown in lbRoot and is a change of the task,
    // as a root chosen in the tree control itself is.
    void PickRoot(bool folder1, bool typed);
    // The user clicked option box k (its new value already in
    // s.panel.chRet[k]): boxes 2 and 3 enable the history/backup folder
    // while either is ticked, boxes 0 and 1 are a change of the task.
    void ChkRetClicked(int k);
    // The user chose entry index of the file-filter list: txFlt enabled for
    // index > 0, a change of the task.
    void FilterChosen(int index);
    // The user edited txFlt (its text already in s.panel.txFlt).
    void FilterTextChanged();
    // The history/backup folder picker ("..." or a right click in txFold),
    // started at the documents folder. A cancelled picker leaves the field
    // as it was.
    void PickHist();

    // "比較" and "ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2のﾌｧｲﾙを比較する". Empty while bBusy.
    std::optional<CmpOutcome> CompareCmd();
    // "同期" and "ﾌｫﾙﾀﾞ1からﾌｫﾙﾀﾞ2への同期を実行", with syncHooks. Empty while bBusy.
    std::optional<SyncReport> SyncCmd();
    // The status bar's text under the grid: what the grid's rows will do
    // (after a comparison, following every flag the user changes), or what
    // the last synchronisation did and how long it took, once one ran on
    // this fill; "" for an empty grid.
    QString CountText() const;
    // "比較・同期" and "ﾌｫﾙﾀﾞの比較+同期の実行(確認無し)": the synchronisation
    // follows only a comparison that filled the grid, so a refused, stopped
    // or failed comparison never lets an earlier list be carried out.
    void CompareSyncCmd();
    // "FTP", "同期先とFTPの照合" (wait false) and "比較・同期・FTP(確認無)"
    // (wait true): the hand-off. Empty while bBusy.
    std::optional<UpResult> UpCmd(bool wait);
    // "ﾃﾞｰﾀｰﾍﾞｰｽの最適化": compacts the work database; refused while a run
    // is under way; a failure is shown.
    void DbCompact();

    // The window state: the part this state holds (roots into both trees,
    // display mode, linked mode, lbRoot as stored, sFtpAp), and back.
    void ApplyWinState(const WinStateData& d);
    void FillWinState(WinStateData& d) const;
};

} // namespace velmor
