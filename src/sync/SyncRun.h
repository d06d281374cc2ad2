#pragma once
// The synchronisation run: checks the history/backup folder, picks the run's
// dated backup folder, opens the log, walks the result grid in fill order and
// carries out every row whose action flag is "1" (folder rows before file
// rows), writing each row's result into the grid. A folder row that copies
// a folder whole or empties a container keeps the files it did that to
// (ResultRow::setContent), for the counts of the status bar. Messages go through
// Usr::prompt(), progress and the stop button through Session::progress.
#include <QString>
#include <QStringList>
#include <functional>

namespace velmor {
struct Session;

// The run's own texts (CR = line break).
namespace SyncMsg {
inline const QString Running = QStringLiteral("同期を実行しています");
inline const QString NoHistory = QStringLiteral("更新履歴とﾊﾞｯｸｱｯﾌﾟの保存先を指定して下さい");
// + the path + HistoryMissingTail
inline const QString HistoryMissing = QStringLiteral("更新履歴･ﾊﾞｯｸｱｯﾌﾟの保存先で指定されている\r");
inline const QString HistoryMissingTail = QStringLiteral("が存在しません");
inline const QString Root1Missing = QStringLiteral("ﾌｫﾙﾀﾞ1が見つかりません\r同期は実行しません");
inline const QString Root2Missing = QStringLiteral("ﾌｫﾙﾀﾞ2が見つかりません\r同期は実行しません");
inline const QString Nested = QStringLiteral("ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2が同じか､一方が他方の中にあります\r同期は実行しません");
// A root is no longer the folder the comparison saw (swapped, unmounted).
inline const QString Root1Changed =
    QStringLiteral("ﾌｫﾙﾀﾞ1が比較した時のﾌｫﾙﾀﾞではありません\r比較し直して下さい\r同期は実行しません");
inline const QString Root2Changed =
    QStringLiteral("ﾌｫﾙﾀﾞ2が比較した時のﾌｫﾙﾀﾞではありません\r比較し直して下さい\r同期は実行しません");
// + the reason: a log line could not be written, the run stopped there
inline const QString LogWriteFailed = QStringLiteral("更新履歴のﾛｸﾞﾌｧｲﾙに書き込めないため同期を中止しました\r");
// + the reason: a backup found no room on the history folder's volume, the
// run stopped there
inline const QString HistoryFull =
    QStringLiteral("更新履歴･ﾊﾞｯｸｱｯﾌﾟの保存先の空き容量が不足しているため同期を中止しました\r");
// + the reason
inline const QString LogFailed = QStringLiteral("更新履歴のﾛｸﾞﾌｧｲﾙを作成できないため同期は実行しません\r");
inline const QString HistoryInRoot =
    QStringLiteral("更新履歴･ﾊﾞｯｸｱｯﾌﾟの保存先はﾌｫﾙﾀﾞ1の中とﾌｫﾙﾀﾞ2には指定できません\r同期は実行しません");
// + one line per item
inline const QString LeftOut = QStringLiteral("同期されなかったﾌｫﾙﾀﾞ･ﾌｧｲﾙがあります");
// + one line per entry: old history that the task's limits send away
// could not be removed
inline const QString PruneFailed = QStringLiteral("保存期間を過ぎた履歴を削除できませんでした");
// + the history folder
inline const QString NoBackupName = QStringLiteral("本日のﾊﾞｯｸｱｯﾌﾟ用ﾌｫﾙﾀﾞ名が上限に達しました\r");
} // namespace SyncMsg

// Optional front-end hooks of a run (the GUI scrolls and repaints; the
// command-line tool prints reasons). Every member may be empty.
struct SyncHooks {
    // The history/backup folder was refused: put the focus on its field.
    std::function<void()> focusFold;
    // The grid was put back into fill order (rows moved).
    std::function<void()> gridReordered;
    // Row (0-based) was handled; show it as the top row. Called with 0 after the walk.
    std::function<void(int row)> showRow;
    // Row (0-based) failed; why is a diagnostic reason (English), also kept
    // in the row (ResultRow::why).
    std::function<void(int row, const QString& why)> rowFailed;
    // How far the walk is: rows with flag "1" carried out of those there were
    // when it began, and the folder-1 bytes of the copying file rows among
    // them (CopyBytes). Called at most a few times a second, and once after
    // the walk with the final counts (done == total unless stopped).
    std::function<void(int done, int total, long long bytesDone, long long bytesTotal)> progress;
};

struct SyncReport {
    enum class Outcome {
        Completed,  // every row was visited
        Stopped,    // the stop button ended the walk early
        Refused,    // a check failed before anything changed (a message was shown)
        Busy,       // another comparison or synchronisation is running; nothing done
    };
    Outcome outcome = Outcome::Refused;
    int processed = 0;  // rows with flag "1" that were carried out
    int failed = 0;     // of these, rows that ended in " Err"
    qint64 elapsedMs = 0;  // from the run's start to its end, before its closing messages
    QString sBkFld;     // the run's backup folder ("" without backup)
    QString logFile;    // the run's log file ("" without log)
    // What the destination still lacks although no row failed: what the
    // comparison could not read and what the run skipped, one line each.
    // Shown at the end of the run; a run that left something out is not clean.
    QStringList leftOut;
    // Why a log line could not be written ("" when every line was); the
    // walk stopped after the row whose line it was (outcome Stopped).
    QString logError;
    // Why a backup found no room on the history folder's volume ("" when
    // none did); the walk stopped after that row (outcome Stopped).
    QString historyFull;
    // What reading the copies back did, one line ("" when copies were not
    // read back); it also ends the log.
    QString verified;
    // The dated backup folders and logs that the task's limits sent away
    // after the walk (paths, oldest first), and those that could not go
    // (path and reason, one line each).
    QStringList pruned;
    QStringList pruneFailed;

    // Something is not as the run should have left it: a row failed, the
    // destination lacks what was left out, or old history stayed that should
    // have gone.
    bool partial() const { return failed > 0 || !leftOut.isEmpty() || !pruneFailed.isEmpty(); }
    // The rows after which the stop button ended the walk; -1 when it did
    // not (as SyncStatusText takes it).
    int stoppedAfter() const { return outcome == Outcome::Stopped ? processed : -1; }
};

// Runs the synchronisation on s.vSpr with the switches of s.panel (copied to
// s.yRt) and the roots s.sFld1, s.sFld2, which must still be the folders
// s.id1, s.id2 that the comparison saw (else it is refused, nothing done). Not re-entrant: while s.bRunning is
// set it returns Busy at once. On every other path it ends with EnSync(true),
// the "FTP" button enabled, the log closed and the wait dialog closed.
SyncReport SyncRun(Session& s, const SyncHooks& hooks = {});

// The first free backup folder name for today below sBkRt (no trailing "/"):
// sBkRt + "/BackUp/yyyy-MM-dd" + ("~" + n for n > 0) + "/". An existing item
// of any kind takes a name. Empty when the counter passes 32767 (or sBkRt
// cannot be opened). histFd: sBkRt already open (names are then looked up
// below it, never through a link); -1 opens sBkRt by path.
QString PickBackupFolder(const QString& sBkRt, int histFd = -1);

} // namespace velmor
