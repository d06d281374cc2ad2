#pragma once
// The automatic run of a command-line task text: "T1 /F, T2" loads,
// compares and synchronises T1, hands it to the FTP companion and waits for
// it, then does the same for T2 without the hand-off.
#include "app/MainState.h"
#include "app/UpHand.h"
#include "compare/Compare.h"
#include "sync/SyncRun.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace velmor {

struct MainState::AutoRunTask {
    QString name;                   // the task name looked up ("" for an empty item)
    bool upload = false;            // the item carried "/F"
    bool loaded = false;            // the task existed and was loaded
    std::optional<CmpOutcome> cmp;  // the comparison, when the task loaded
    std::optional<SyncReport> sync; // the synchronisation, when the task loaded
    std::optional<UpResult> up;     // the hand-off, when the task loaded with "/F"
    bool cut = false;               // the window closed while the task was under way
};

// One item of a task text.
struct AutoRunItem {
    QString name;         // "/F" removed, blanks trimmed
    bool upload = false;  // the item carried "/F" (upper-case F only)
};

// Splits the text at every "," (an empty piece is an item too), removes
// every "/F" of an item and marks it for upload, trims leading and trailing
// blanks.
std::vector<AutoRunItem> AutoRunItems(const QString& text);

// The steps of an automatic run as the window carries them out.
struct AutoRunSteps {
    std::function<void(const QString& msg)> showWait;      // wait dialog, no stop button
    std::function<void(const QString& item)> setTaskText;  // the task list's text field
    std::function<bool(const QString& name)> load;         // TskLoad: true when loaded
    std::function<CmpOutcome()> compare;
    std::function<SyncReport()> sync;
    std::function<MainState::UpResult()> upload;           // batch hand-off, waiting
    std::function<void()> closeWait;
    std::function<void(const MainState::AutoRunTask&)> taskDone;  // may be empty
    std::function<bool()> closing;  // true once the window closes; may be empty
};

// The automatic run over steps, item by item in order: the wait message
// item + " 設定中･･･", the item into the task list, the load; only for a
// loaded task the comparison, then the synchronisation whatever the
// comparison's outcome, then the hand-off for "/F"; the wait dialog closed.
// A task that does not load is skipped and the run goes on. Once closing()
// answers true, the step under way was the last: the task is reported cut
// short and no further step or task runs.
void AutoRunOver(const QString& text, const AutoRunSteps& steps);

// The wait dialog's text while an item is set up.
QString AutoRunWaitText(const QString& item);

} // namespace velmor
