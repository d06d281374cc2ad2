#pragma once
// What every velmor-cli command shares: option parsing, the set-up that the
// desktop program's main window would do (user data folder, trees, ticks,
// session), the stderr prompt and the result table printer.
#include "app/MainState.h"
#include "compare/Session.h"
#include "env/Progress.h"
#include "env/Prompt.h"
#include "tree/FolderTree.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <utility>
#include <vector>

namespace velmor::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // the run ended with an error (message on stderr)
inline constexpr int kExitUsage = 2;    // bad arguments, or a run the engine refused

// One command of the tool: `velmor-cli <name> ...`.
struct Command {
    const char* name;
    const char* summary;                 // one line for the usage text
    int (*run)(const QStringList& args); // arguments after the command name
    // Its forms after the command name, one a line ("\n"-separated);
    // null: "SRC DST [options]".
    const char* synopsis = nullptr;
};

// What a command takes besides --data and --help.
struct Syntax {
    int names = 0;          // leading arguments (task names) before SRC and DST
    bool folders = true;    // SRC and DST, --check/--uncheck, switches, patterns
    bool display = true;    // --mode
    bool taskSave = false;  // --expand, --select1, --select2, --yes
    int maxNames = -1;      // more leading arguments allowed, up to this many (-1: exactly names)
    QStringList valued{};   // options of the command's own that take a value (into Options::own)
    QStringList flags{};    // options of the command's own without a value (into Options::own, "")
};

struct Options {
    QString src, dst;
    // --check / --uncheck in command-line order: (tick?, folder relative to SRC).
    std::vector<std::pair<bool, QString>> ticks;
    bool anyCheck = false;
    TaskPanel panel;
    int mode = 0;        // display mode
    QString dataDir;     // --data, "" for the program's own choice
    bool help = false;
    QStringList names;   // the leading arguments (Syntax::names of them)
    // task save: folders of SRC to expand, the folders to select in both
    // trees ("" for the root), and the answer to the backup-and-trash question.
    QStringList expand;
    QString select1, select2;
    bool yes = false;
    // The command's own options given (Syntax::valued and flags): name -> value.
    QHash<QString, QString> own;
};

// Parses the arguments that follow the command name. Returns false and an
// explanation in err for bad arguments.
bool parseOptions(const QStringList& args, Options& o, QString& err, const Syntax& syntax = {});

// The usage text for the given commands (options included).
QString usage(const std::vector<Command>& commands);

// Messages on stderr, one line each (a CR inside a message becomes a blank);
// questions and pickers answer "cancel", text input the default text.
class StderrPrompt : public Prompt {
public:
    void message(const QString& text) override;
    bool question(const QString& text) override;
    QString input(const QString& prompt, const QString& defaultText) override;
    QString pickFolder(const QString& title, const QString& start) override;
    QString pickFile(const QString& title, const QString& filter, const QString& start) override;
};

// Prints a line of the program's own on stderr.
void printError(const QString& text);

// Says on stderr how many files lie right in the roots the comparison of s
// saw (they take no part), when there are any.
void printRootFiles(const Session& s);

// Ends compare and sync with the window's count text on stderr, one line:
// the comparison's counts of s's grid, or with rep the synchronisation's.
void printSummary(const Session& s, const SyncReport* rep = nullptr);

// A value for a TAB-separated line: TAB, LF and CR written as \t, \n, \r,
// a backslash as \\, so every value reads back.
QString cell(const QString& text);

// Selects folder rel of the tree ("/"-separated below the root, "" or "."
// for the root). False, with an explanation in err, when it does not exist.
bool selectRel(FolderTree& tree, const QString& rel, QString& err);

// One run of a command: the state of a main window without a window.
class CliRun {
public:
    CliRun();
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    // Parses args, resolves the user data folder and, for a command with
    // folders, loads SRC into the folder 1 tree (every level, ticks applied)
    // and DST into the folder 2 tree, and fills the session. Returns -1 when
    // the command may go on, otherwise the exit status (usage printed for
    // --help, a message on stderr for bad arguments).
    int setUp(const QStringList& args, const std::vector<Command>& commands, const Syntax& syntax = {});

    Options opt;
    MainState win;  // the main window's state: trees, session, task list
    FolderTree& tree1 = win.tree1;
    FolderTree& tree2 = win.tree2;
    Session& session = win.s;
    HeadlessProgress progress;
    StderrPrompt prompt;

private:
    bool applyTicks(QString& err);
};

// Prints the grid on out: one line per row, the 12 columns separated by TAB,
// UTF-8, LF. TAB, LF and CR inside a cell are written as \t, \n and \r.
// With a task (not null), its name comes first, as a 13th column.
void printTable(const ResultTable& table, std::FILE* out, const QString& task = QString());

// A task that runs by itself is started as `velmor-cli run NAME`, whose
// task text splits at "," and takes "/F" as the upload switch: a name
// holding either cannot be run alone. False with the reason in err.
bool runnableName(const QString& name, QString& err);
// A command line of this program: its path, args, and "--data" dataDir
// (absolute) when given.
QStringList selfCommand(const QStringList& args, const QString& dataDir);
// A number of seconds from min up to a day, as milliseconds; -1 when text
// is none.
qint64 parseSeconds(const QString& text, double min);
// Loads the saved task name into run.win (trees, panel) after run.setUp.
// False when it is not defined or cannot be read (the reason is on stderr).
bool loadTask(CliRun& run, const QString& name);

// Names on stderr what a synchronisation removed as old history, one line
// each ("removed old history: PATH", after "TASK: " when task is given).
void printPruned(const QStringList& pruned, const QString& task = QString());

// The commands (CliCompare.cpp, CliSync.cpp, CliTask.cpp, CliRunTasks.cpp,
// CliWatch.cpp, CliSchedule.cpp).
int cliCompare(const QStringList& args);
int cliSync(const QStringList& args);
int cliTask(const QStringList& args);
int cliRunTasks(const QStringList& args);
int cliWatch(const QStringList& args);
int cliSchedule(const QStringList& args);
int cliLog(const QStringList& args);

// All commands of the tool, in usage order (main.cpp).
const std::vector<Command>& commands();

} // namespace velmor::cli
