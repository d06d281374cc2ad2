// velmor-cli task save|list|show|delete: the task store of the desktop
// program's main window, without a window.
//
//   task save NAME SRC DST [options]   the window's "名前をつけて保存" with NAME typed
//   task list                          the task names in the task list's order
//   task show NAME                     every column of the task: column<TAB>value
//   task delete NAME                   the window's "現在のﾀｽｸを削除" with NAME current
#include "app/cli/CliCommon.h"
#include "env/FsDir.h"
#include "env/Usr.h"

#include <cstdio>

namespace velmor::cli {

namespace {

// The save's prompt: the name box answers NAME, the backup-and-trash
// question answers as --yes says; every text shown goes to stderr.
class SavePrompt : public StderrPrompt {
public:
    SavePrompt(QString name, bool yes) : m_name(std::move(name)), m_yes(yes) {}
    QString input(const QString&, const QString&) override { return m_name; }
    bool question(const QString& text) override
    {
        printError(text);
        return m_yes;
    }

private:
    QString m_name;
    bool m_yes;
};

int exitOf(TskResult r)
{
    switch (r) {
    case TskResult::Done:
        return kExitOk;
    case TskResult::Cancelled:
    case TskResult::Refused:
        return kExitUsage;
    case TskResult::Failed:
        break;
    }
    return kExitFailed;
}

void writeOut(const QString& text)
{
    const QByteArray b = nameBytes(text);  // paths as their bytes on disk
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fflush(stdout);
}

// The state the options give the trees besides the ticks: only the --expand
// folders (with the folders above them) and the root expanded, the
// --select1/--select2 folders selected.
bool applyTreeOptions(CliRun& run, QString& err)
{
    FolderTree& t1 = run.tree1;
    // Ticking went through the folders' paths, which opened them.
    for (int i = 1; i < t1.nodeCount(); ++i) {
        TreeNode* n = t1.nodeAt(i);
        if (!n->isPlaceholder() && n->expanded) {
            n->expanded = false;
            n->image = QStringLiteral("icClose");
        }
    }
    t1.notifyChanged();
    for (const QString& rel : std::as_const(run.opt.expand)) {
        if (!selectRel(t1, rel, err))
            return false;
        t1.setExpanded(t1.selected(), true);
    }
    return selectRel(t1, run.opt.select1, err) && selectRel(run.tree2, run.opt.select2, err);
}

int save(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands(), Syntax{.names = 1, .display = false, .taskSave = true}); rc >= 0)
        return rc;
    QString err;
    if (!run.tree1.rootFellBack() && !applyTreeOptions(run, err)) {
        printError(err);
        return kExitUsage;
    }
    run.win.Load();
    if (run.win.tskResult != TskResult::Done)
        return kExitFailed;
    // Load chose the first filter entry, as the window does at start.
    run.session.panel = run.opt.panel;
    run.win.setFilterIndex(run.opt.panel.cbFlt);
    run.win.EnBkFld(run.opt.panel.chRet[2] || run.opt.panel.chRet[3]);

    SavePrompt answers(run.opt.names[0], run.opt.yes);
    Usr::setPrompt(&answers);
    run.win.TskSave(false);
    Usr::setPrompt(&run.prompt);
    return exitOf(run.win.tskResult);
}

int list(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands(), Syntax{.folders = false}); rc >= 0)
        return rc;
    run.win.Load();
    if (run.win.tskResult != TskResult::Done)
        return kExitFailed;
    QString out;
    for (const QString& name : std::as_const(run.win.cbTsk))
        out += cell(name) + QLatin1Char('\n');
    writeOut(out);
    return kExitOk;
}

int show(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands(), Syntax{.names = 1, .folders = false}); rc >= 0)
        return rc;
    const QString name = run.opt.names[0];
    QString out;
    try {
        const long long rows = run.session.oDb.forEachRow(
            QStringLiteral("Select * From tbTask Where sTask = ?"), {name}, [&out](const SqlStmt& row) {
                for (int c = 0; c < row.columnCount(); ++c)
                    out += row.columnName(c) + QLatin1Char('\t') + cell(row.text(c)) + QLatin1Char('\n');
                return false;
            });
        if (rows == 0) {
            printError(name + TskMsg::NotDefined);
            return kExitUsage;
        }
    } catch (const std::exception& e) {
        printError(TskMsg::DbFailed + QString::fromUtf8(e.what()));
        return kExitFailed;
    }
    writeOut(out);
    return kExitOk;
}

int remove(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands(), Syntax{.names = 1, .folders = false}); rc >= 0)
        return rc;
    const QString name = run.opt.names[0];
    run.win.Load();
    if (run.win.tskResult != TskResult::Done)
        return kExitFailed;
    const qsizetype at = run.win.cbTsk.indexOf(name);
    if (at < 0) {
        printError(name + TskMsg::NotDefined);
        return kExitUsage;
    }
    {
        // The task becomes current without being loaded: its folders play
        // no part in deleting it.
        BusyGuard busy;
        run.win.selectTask(int(at));
        run.win.SetCurTsk(name);
    }
    run.win.TskDel();
    return exitOf(run.win.tskResult);
}

} // namespace

int cliTask(const QStringList& args)
{
    const QString sub = args.value(0);
    const QStringList rest = args.mid(1);
    if (sub == QLatin1String("save"))
        return save(rest);
    if (sub == QLatin1String("list"))
        return list(rest);
    if (sub == QLatin1String("show"))
        return show(rest);
    if (sub == QLatin1String("delete"))
        return remove(rest);
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        const QByteArray u = usage(commands()).toUtf8();
        std::fwrite(u.constData(), 1, size_t(u.size()), stdout);
        return kExitOk;
    }
    printError(sub.isEmpty() ? QStringLiteral("task needs save, list, show or delete")
                             : QStringLiteral("unknown task command ") + sub);
    printError(QStringLiteral("velmor-cli --help shows the usage"));
    return kExitUsage;
}

} // namespace velmor::cli
