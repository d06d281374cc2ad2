#pragma once
// What an automatic run of a command-line task text comes to, as an exit
// status: velmor "TASKTEXT" and velmor-cli run report the same one, so a
// scheduler can tell a failed night from a clean one.
#include "app/AutoRun.h"

namespace velmor {

class AutoRunStatus {
public:
    static constexpr int kOk = 0;       // every task loaded, compared and synchronised cleanly
    static constexpr int kFailed = 1;   // a row failed, something was left out, a run was stopped, no hand-off
    static constexpr int kRefused = 2;  // a named task is not defined, or a run was refused

    // Takes the outcome of one item of the run. An empty item names no task
    // and counts for nothing.
    void add(const MainState::AutoRunTask& t);
    int exitCode() const;

    bool missing = false;  // a named task is not defined (or could not be read)
    bool refused = false;  // a comparison or synchronisation was refused
    bool failed = false;   // see kFailed
};

// Writes text as one line on stderr, names as their bytes on disk (a CR in
// it, the message boxes' line break, becomes a blank).
void PrintErrorLine(const QString& text);

// Names the failed row r of task's run on stderr, as every unattended run
// does: "TASK: row N (STATUS): why".
void PrintFailedRow(const QString& task, const ResultRow& row, const QString& why);

} // namespace velmor
