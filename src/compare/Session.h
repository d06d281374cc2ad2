#pragma once
// The engine state that one main window owns: roots, switches, filter, the
// result grid and the enabled state of the result commands. The GUI and the
// command-line tool each hold one and hand it to the comparison and the
// synchronisation.
#include "compare/ResultTable.h"
#include "compare/WorkDb.h"
#include "env/FolderLock.h"
#include "env/FsDir.h"
#include "env/FsList.h"
#include "env/StopSignal.h"
#include "env/VolumeCaps.h"
#include "tasks/Options.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>

namespace velmor {
class FolderTree;
class Progress;

// A folder's metadata as a scan saw it (what the comparison of folders on
// both sides needs).
struct FolderStat {
    unsigned mode = 0, uid = 0, gid = 0;
    long long sec = 0, nsec = 0;
};

struct Session {
    Progress* progress = nullptr;   // the wait dialog (required for runs)
    FolderTree* tree1 = nullptr;    // folder 1 tree (uTrD1)
    FolderTree* tree2 = nullptr;    // folder 2 tree (uTrD2)

    TaskPanel panel;                // the options panel's controls
    ResultTable vSpr;               // the result grid
    int nDispMd = 0;                // display mode 0, 1, 2
    bool bCmpd = false;             // a comparison has filled the grid

    QString sFld1, sFld2;           // roots of the last comparison, no trailing "/"
    // Which folders sFld1 and sFld2 were when the last comparison opened
    // them (invalid before one): the comparison's later phases and the
    // synchronisation act only on these same folders, never on whatever
    // the paths name by then (a swapped link, an unmounted volume).
    FsId id1, id2;
    YRt yRt{};                      // switches of the current run
    int nFltMd = 0;                 // 0 none, 1 exclude, 2 only
    QStringList vFltEx, vFltIn;     // filter patterns
    bool bRunning = false;          // a comparison or synchronisation is under way
    // An automatic run is under way: nobody is there to click a message of
    // the program's own (see Notice).
    bool bUnattended = false;

    WorkDb oDb;                     // the work database, open from first use
    long long nCnt = 0;             // running ordering number of the scans
    // Folders left out ("除外") of the last comparison because they could not
    // be read, each with the system's reason; shown once at its end.
    QStringList vUnread;
    // Folder-1 items that folder 2's volume cannot take, each with its
    // reason ("除外" rows with a reason of their own); shown once at the end.
    QStringList vNg;
    // What folder-1 items have that folder 2's volume cannot hold (owners,
    // ACLs, extended attributes), each kind named once with the volume;
    // shown at the end of the comparison and of the run.
    QStringList vLost;
    // Files and links lying right in folder 1's and folder 2's roots, which
    // take no part in a comparison, as the last one counted them.
    long long nRootFiles1 = 0, nRootFiles2 = 0;
    // The folders of the last folder scans, by relative path, side 1 and 2.
    QHash<QString, FolderStat> vFld1Stat, vFld2Stat;
    // Folder-2 folders (relative paths) in which the file scan saw temporary
    // files left by an earlier run that ended early; the synchronisation
    // removes them before it first writes into such a folder.
    QSet<QString> vTmpLeft;
    // The history/backup folder's path below folder 2 when it lies there
    // ("" otherwise), as the last comparison found it: it takes no part.
    QString sHistRel;
    // What folder 2's volume can hold, as the last comparison found it: the
    // comparison names what it cannot take, and matches names as it does.
    VolumeCaps caps2;

    // Enabled state of the result commands (synchronise, copy list) and of
    // the "FTP" button; the window refreshes its controls on commandsChanged.
    bool syncEnabled = false;
    bool ftpEnabled = false;
    std::function<void()> commandsChanged;
};

// Marks the session's run as under way for the guard's lifetime, so that no
// second comparison or synchronisation starts inside it, and so that a stop
// signal stops the run instead of ending the process at once.
class RunGuard {
public:
    explicit RunGuard(Session& s) : m_flag(s.bRunning) { m_flag = true; }
    ~RunGuard() { m_flag = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    bool& m_flag;
    StopSignal::RunScope m_signals;
};

// Takes the run lock of the user data folder (the work database's folder),
// so that one comparison or synchronisation at a time works on it, also
// across processes. False when another run holds it.
bool TakeRunLock(FolderLock& lock);

// Sets the roots of a comparison and records which folders they are now.
// False when either cannot be opened as a folder (errno tells why); the
// identities are then left invalid.
bool SetRoots(Session& s, const QString& r1, const QString& r2);

// Opens a root as the user named it (a link to it followed) and makes sure
// it is still the folder expected, on the same file system. Returns an
// invalid descriptor when it cannot be opened (errno tells why), or when
// expected is invalid or another folder now stands there (errno ESTALE).
UniqueFd OpenRoot(const QString& path, const FsId& expected);

// Enables the result commands; always disables "FTP".
void EnSync(Session& s, bool flag);

} // namespace velmor
