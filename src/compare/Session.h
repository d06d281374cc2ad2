#pragma once
// The engine state that one main window owns: roots, switches, filter, the
// result grid and the enabled state of the result commands. The GUI and the
// command-line tool each hold one and hand it to the comparison and the
// synchronisation.
#include "compare/ResultTable.h"
#include "compare/WorkDb.h"
#include "env/FolderLock.h"
#include "tasks/Options.h"

#include <QSet>
#include <QStringList>
#include <functional>

namespace velmor {
class FolderTree;
class Progress;

struct Session {
    Progress* progress = nullptr;   // the wait dialog (required for runs)
    FolderTree* tree1 = nullptr;    // folder 1 tree (uTrD1)
    FolderTree* tree2 = nullptr;    // folder 2 tree (uTrD2)

    TaskPanel panel;                // the options panel's controls
    ResultTable vSpr;               // the result grid
    int nDispMd = 0;                // display mode 0, 1, 2
    bool bCmpd = false;             // a comparison has filled the grid

    QString sFld1, sFld2;           // roots of the last comparison, no trailing "/"
    YRt yRt{};                      // switches of the current run
    int nFltMd = 0;                 // 0 none, 1 exclude, 2 only
    QStringList vFltEx, vFltIn;     // filter patterns

    bool bRunning = false;          // a comparison or synchronisation is under way

    WorkDb oDb;                     // the work database, open from first use
    long long nCnt = 0;             // running ordering number of the scans
    // Folders left out ("除外") of the last comparison because they could not
    // be read, each with the system's reason; shown once at its end.
    QStringList vUnread;
    // Folder-2 folders (relative paths) in which the file scan saw temporary
    // files left by an earlier run that ended early; the synchronisation
    // removes them before it first writes into such a folder.
    QSet<QString> vTmpLeft;
    // The history/backup folder's path below folder 2 when it lies there
    // ("" otherwise), as the last comparison found it: it takes no part.
    QString sHistRel;

    // Enabled state of the result commands (synchronise, copy list) and of
    // the "FTP" button; the window refreshes its controls on commandsChanged.
    bool syncEnabled = false;
    bool ftpEnabled = false;
    std::function<void()> commandsChanged;
};

// Marks the session's run as under way for the guard's lifetime, so that no
// second comparison or synchronisation starts inside it.
class RunGuard {
public:
    explicit RunGuard(Session& s) : m_flag(s.bRunning) { m_flag = true; }
    ~RunGuard() { m_flag = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    bool& m_flag;
};

// Takes the run lock of the user data folder (the work database's folder),
// so that one comparison or synchronisation at a time works on it, also
// across processes. False when another run holds it.
bool TakeRunLock(FolderLock& lock);

// Enables the result commands; always disables "FTP".
void EnSync(Session& s, bool flag);

} // namespace velmor
