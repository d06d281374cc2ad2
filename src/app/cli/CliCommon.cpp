#include "app/cli/CliCommon.h"

#include "app/AutoRunStatus.h"
#include "compare/ResultCounts.h"
#include "env/FsDir.h"
#include "env/Usr.h"
#include "env/yIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <charconv>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

namespace velmor::cli {

namespace {

// Switch options in the order of the switches 0 to 7.
const char* const kSwitches[8] = {"--keep-newer",       "--delete",          "--log",
                                  "--backup",           "--trash",           "--protect-readonly",
                                  "--protect-hidden",   "--protect-system"};

// The panel's other on/off options, each set by its option.
const struct {
    const char* option;
    bool TaskPanel::*field;
} kPanelFlags[] = {{"--copy-link-targets", &TaskPanel::chLinkTgt},
                   {"--acls", &TaskPanel::chAcls},
                   {"--xattrs", &TaskPanel::chXattrs},
                   {"--verify", &TaskPanel::chVerify},
                   {"--content", &TaskPanel::chContent},
                   {"--content-times", &TaskPanel::chContentTimes}};

const char* const kOptionHelp =
    "Options:\n"
    "  --check REL            tick folder REL of SRC (\"/\"-separated, \".\" for SRC) and every\n"
    "                         folder below it; without any --check every folder is ticked\n"
    "  --uncheck REL          untick folder REL and every folder below it\n"
    "                         (--check and --uncheck apply in command-line order)\n"
    "  --keep-newer           do not overwrite destination files that are newer\n"
    "  --delete               delete what exists only in the destination\n"
    "  --log                  write the history log below the history folder\n"
    "  --backup               keep old copies below the history folder\n"
    "  --trash                delete into the trash\n"
    "  --protect-readonly     leave read-only destination items alone\n"
    "  --protect-hidden       leave hidden destination items alone\n"
    "  --protect-system       leave system destination items alone\n"
    "  --history DIR          the history/backup folder\n"
    "  --filter-exclude TEXT  leave out files matching TEXT (comma-separated patterns)\n"
    "  --filter-only TEXT     take only files matching TEXT\n"
    "  --exclude TEXT         source files matching TEXT are not copied\n"
    "  --protect TEXT         destination files matching TEXT are not overwritten or deleted\n"
    "  --ignore-shift MINUTES modification times exactly MINUTES apart (either way) are the\n"
    "                         same (0 to 1440, 0 none; 60 for FAT across a summer-time change)\n"
    "  --copy-link-targets    a source link to a file is compared and copied as that file\n"
    "  --acls                 POSIX ACLs (access and default) are compared and carried\n"
    "  --xattrs               extended attributes (all but system.*) are compared and carried\n"
    "                         (each costs one listing of attributes per file; a destination\n"
    "                         that cannot hold them is named once per run)\n"
    "  --verify               every copy is read back from the destination (not from the\n"
    "                         cache) and compared with the source before it is put in place\n"
    "  --content              files of equal size are compared by their bytes, not their times\n"
    "  --content-times        with --content: a file of equal content but another time gets\n"
    "                         the source's time, without a copy\n"
    "  --moves off|quick|full a file or folder that only moved or was renamed in SRC is moved\n"
    "                         in DST, not copied again (needs --delete); a pair of equal size\n"
    "                         and time is confirmed by sampled blocks (quick) or every byte\n"
    "  --keep-days N          after a run, dated backup folders and logs older than N days\n"
    "                         are removed (0: none by age; the newest is always kept)\n"
    "  --keep-count N         after a run, at most N dated backup folders and N logs are\n"
    "                         kept (0: any number)\n"
    "  --jobs N|auto          operations in flight at once on DST (1 to 64; auto, the\n"
    "                         default: one on a local disk, more where DST answers slowly,\n"
    "                         as a network share does)\n"
    "  --mode 0|1|2           rows listed: 0 all, 1 overwrite/add/delete, 2 all but identical\n"
    "  --data DIR             the user data folder (default: as the desktop program)\n"
    "  --help                 this text\n"
    "  --version              the program's version (alone: velmor-cli --version)\n"
    "\n"
    "Options of task save (besides the options above but --mode):\n"
    "  --expand REL           the saved task shows folder REL of SRC expanded (and the\n"
    "                         folders above it, as selecting it in the window does)\n"
    "  --select1 REL          the folder of SRC selected in the saved task (default SRC)\n"
    "  --select2 REL          the folder of DST selected in the saved task (default DST)\n"
    "  --yes                  answer OK when --backup and --trash are both given; without\n"
    "                         it that question is cancelled and nothing is saved\n"
    "\n"
    "Output: compare and sync print one line per result row, 12 TAB-separated columns\n"
    "(number, folder, name, extension, size 1, date 1, action flag, status, size 2,\n"
    "date 2, attributes, result). run prints the rows of every task it synchronised,\n"
    "the task's name added as the first of 13 columns. task list prints the task names\n"
    "one a line, task show every column of the task as column<TAB>value lines.\n"
    "Exit status: 0 done, 1 the run ended with an error, 2 bad arguments, a refused or\n"
    "cancelled run, or a task that is not defined.\n";

QString absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString cell(const QString& t)
{
    if (!t.contains(QLatin1Char('\t')) && !t.contains(QLatin1Char('\n')) && !t.contains(QLatin1Char('\r'))
        && !t.contains(QLatin1Char('\\')))
        return t;
    QString o = t;
    // The backslash first, so the escapes below stay single.
    o.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    o.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    o.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    o.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return o;
}

bool parseOptions(const QStringList& args, Options& o, QString& err, const Syntax& syntax)
{
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        QString a = args[i];
        QString inlineValue;
        bool hasInline = false;
        if (a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))) {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            inlineValue = a.mid(eq + 1);
            a = a.left(eq);
            hasInline = true;
        }
        const auto value = [&](QString& out) {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                err = a + QStringLiteral(" needs a value");
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (a == QLatin1String("--data")) {
            if (!value(o.dataDir))
                return false;
            if (o.dataDir.isEmpty()) {
                err = QStringLiteral("--data needs a folder");
                return false;
            }
            continue;
        }
        if (syntax.valued.contains(a) || syntax.flags.contains(a)) {
            QString v;
            if (syntax.flags.contains(a) && hasInline) {
                err = a + QStringLiteral(" takes no value");
                return false;
            }
            if (syntax.valued.contains(a) && !value(v))
                return false;
            o.own.insert(a, v);
            continue;
        }
        if (a.startsWith(QLatin1Char('-')) && a.size() > 1 && !syntax.folders) {
            err = QStringLiteral("unknown option ") + a;
            return false;
        }
        if (syntax.taskSave) {
            QString v;
            if (a == QLatin1String("--yes")) {
                if (hasInline) {
                    err = a + QStringLiteral(" takes no value");
                    return false;
                }
                o.yes = true;
                continue;
            }
            if (a == QLatin1String("--expand") || a == QLatin1String("--select1")
                || a == QLatin1String("--select2")) {
                if (!value(v))
                    return false;
                if (a == QLatin1String("--expand"))
                    o.expand.append(v);
                else
                    (a == QLatin1String("--select1") ? o.select1 : o.select2) = v;
                continue;
            }
        }
        int sw = -1;
        for (int k = 0; k < 8; ++k)
            if (a == QLatin1String(kSwitches[k]))
                sw = k;
        if (sw >= 0) {
            if (hasInline) {
                err = a + QStringLiteral(" takes no value");
                return false;
            }
            o.panel.chRet[size_t(sw)] = true;
            continue;
        }
        const auto flag = std::find_if(std::begin(kPanelFlags), std::end(kPanelFlags),
                                       [&](const auto& f) { return a == QLatin1String(f.option); });
        if (flag != std::end(kPanelFlags)) {
            if (hasInline) {
                err = a + QStringLiteral(" takes no value");
                return false;
            }
            o.panel.*flag->field = true;
            continue;
        }
        QString v;
        if (a == QLatin1String("--check") || a == QLatin1String("--uncheck")) {
            if (!value(v))
                return false;
            const bool on = a == QLatin1String("--check");
            o.ticks.emplace_back(on, v);
            o.anyCheck = o.anyCheck || on;
        } else if (a == QLatin1String("--history")) {
            if (!value(o.panel.txFold))
                return false;
        } else if (a == QLatin1String("--filter-exclude") || a == QLatin1String("--filter-only")) {
            if (!value(o.panel.txFlt))
                return false;
            o.panel.cbFlt = a == QLatin1String("--filter-exclude") ? 1 : 2;
        } else if (a == QLatin1String("--exclude")) {
            if (!value(o.panel.txJogai))
                return false;
        } else if (a == QLatin1String("--protect")) {
            if (!value(o.panel.txHogo))
                return false;
        } else if (a == QLatin1String("--ignore-shift")) {
            if (!value(v))
                return false;
            bool ok = false;
            const int minutes = v.toInt(&ok);
            if (!ok || minutes < 0 || minutes > kMaxShift) {
                err = QStringLiteral("--ignore-shift takes minutes from 0 to %1, not ").arg(kMaxShift) + v;
                return false;
            }
            o.panel.nShift = minutes;
        } else if (a == QLatin1String("--moves")) {
            if (!value(v))
                return false;
            static const QStringList kinds{QStringLiteral("off"), QStringLiteral("quick"), QStringLiteral("full")};
            if (!kinds.contains(v)) {
                err = QStringLiteral("--moves takes off, quick or full, not ") + v;
                return false;
            }
            o.panel.nMoves = int(kinds.indexOf(v));
        } else if (a == QLatin1String("--keep-days") || a == QLatin1String("--keep-count")) {
            if (!value(v))
                return false;
            bool ok = false;
            const int n = v.toInt(&ok);
            if (!ok || n < 0 || n > kMaxKeep) {
                err = a + QStringLiteral(" takes a number from 0 to %1, not ").arg(kMaxKeep) + v;
                return false;
            }
            (a == QLatin1String("--keep-days") ? o.panel.nKeepDays : o.panel.nKeepCount) = n;
        } else if (a == QLatin1String("--jobs")) {
            if (!value(v))
                return false;
            bool ok = false;
            const int n = v == QLatin1String("auto") ? 0 : v.toInt(&ok);
            if (v != QLatin1String("auto") && (!ok || n < 1 || n > kMaxJobs)) {
                err = QStringLiteral("--jobs takes auto or a number from 1 to %1, not ").arg(kMaxJobs) + v;
                return false;
            }
            o.panel.nJobs = n;
        } else if (a == QLatin1String("--mode") && syntax.display) {
            if (!value(v))
                return false;
            if (v != QLatin1String("0") && v != QLatin1String("1") && v != QLatin1String("2")) {
                err = QStringLiteral("--mode takes 0, 1 or 2, not ") + v;
                return false;
            }
            o.mode = v.toInt();
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            err = QStringLiteral("unknown option ") + a;
            return false;
        } else {
            positional.append(args[i]);
        }
    }
    if (o.help)
        return true;
    const qsizetype want = syntax.names + (syntax.folders ? 2 : 0);
    if (!syntax.folders && positional.size() >= syntax.names && positional.size() <= syntax.maxNames) {
        o.names = positional;
        return true;
    }
    if (positional.size() != want) {
        if (syntax.names == 0)
            err = QStringLiteral("expected SRC and DST, got %1 folder argument(s)").arg(positional.size());
        else
            err = QStringLiteral("expected %1 argument(s)%2, got %3")
                      .arg(want)
                      .arg(syntax.folders ? QStringLiteral(" (then SRC and DST)") : QString())
                      .arg(positional.size());
        return false;
    }
    o.names = positional.mid(0, syntax.names);
    for (const QString& n : std::as_const(o.names))
        if (n.isEmpty()) {
            err = QStringLiteral("a task name must not be empty");
            return false;
        }
    if (!syntax.folders)
        return true;
    o.src = positional[syntax.names];
    o.dst = positional[syntax.names + 1];
    if (o.src.isEmpty() || o.dst.isEmpty()) {
        err = QStringLiteral("SRC and DST must not be empty");
        return false;
    }
    return true;
}

QString usage(const std::vector<Command>& commands)
{
    QString u = QStringLiteral("Usage:\n");
    for (const Command& c : commands) {
        const QString name = QLatin1String(c.name), summary = QString::fromUtf8(c.summary);
        if (!c.synopsis) {
            u += QStringLiteral("  velmor-cli %1 SRC DST [options]   %2\n").arg(name, summary);
            continue;
        }
        for (const QString& form : QString::fromUtf8(c.synopsis).split(QLatin1Char('\n')))
            u += QStringLiteral("  velmor-cli %1 %2\n").arg(name, form);
        u += QStringLiteral("      %1\n").arg(summary);
    }
    return u + QStringLiteral("\n") + QLatin1String(kOptionHelp);
}

void printRootFiles(const Session& s)
{
    if (const QString text = RootFilesText(s.nRootFiles1, s.nRootFiles2); !text.isEmpty())
        printError(text);
}

void printSummary(const Session& s, const SyncReport* rep)
{
    const ResultCounts c = CountResults(s.vSpr);
    printError(rep ? SyncStatusText(c, rep->elapsedMs, rep->stoppedAfter()) : CompareStatusText(c));
}

void printError(const QString& text) { PrintErrorLine(text); }

void StderrPrompt::message(const QString& text) { printError(text); }

bool StderrPrompt::question(const QString& text)
{
    printError(text);
    return false;
}

QString StderrPrompt::input(const QString&, const QString& defaultText) { return defaultText; }
QString StderrPrompt::pickFolder(const QString&, const QString&) { return {}; }
QString StderrPrompt::pickFile(const QString&, const QString&, const QString&) { return {}; }

CliRun::CliRun() { Usr::setPrompt(&prompt); }

CliRun::~CliRun() { Usr::setPrompt(nullptr); }

int CliRun::setUp(const QStringList& args, const std::vector<Command>& cmds, const Syntax& syntax)
{
    QString err;
    if (!parseOptions(args, opt, err, syntax)) {
        printError(err);
        printError(QStringLiteral("velmor-cli --help shows the usage"));
        return kExitUsage;
    }
    if (opt.help) {
        const QByteArray u = usage(cmds).toUtf8();
        std::fwrite(u.constData(), 1, size_t(u.size()), stdout);
        return kExitOk;
    }

    Usr::sExeNm = QStringLiteral("velmor");
    if (!opt.dataDir.isEmpty()) {
        const QString dir = absolute(opt.dataDir);
        yIni::F_CreateFld(dir);
        if (!QFileInfo(dir).isDir()) {
            printError(dir + QStringLiteral(": the user data folder cannot be created"));
            return kExitUsage;
        }
        Usr::sUsrDt = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    } else {
        yIni().W_UserData();
    }
    session.progress = &progress;
    if (!syntax.folders)
        return -1;

    tree1.setRoot(absolute(opt.src));
    tree1.ExpndALL(2, true);
    tree2.setRoot(absolute(opt.dst));
    if (!tree1.rootFellBack() && !applyTicks(err)) {
        printError(err);
        return kExitUsage;
    }

    session.panel = opt.panel;
    session.nDispMd = opt.mode;
    return -1;
}

bool selectRel(FolderTree& tree, const QString& rel, QString& err)
{
    const QString root = tree.Root();
    QString r = rel;
    while (r.startsWith(QLatin1Char('/')))
        r.remove(0, 1);
    while (r.endsWith(QLatin1Char('/')))
        r.chop(1);
    if (r == QLatin1String("."))
        r.clear();
    const QString full = r.isEmpty() ? root
                         : root.endsWith(QLatin1Char('/')) ? root + r
                                                            : root + QLatin1Char('/') + r;
    tree.setPath(full);
    if (tree.Path() != full) {
        err = QStringLiteral("no folder %1 in %2").arg(rel, root);
        return false;
    }
    return true;
}

bool CliRun::applyTicks(QString& err)
{
    const auto tick = [&](const QString& rel, bool on) {
        if (!selectRel(tree1, rel, err))
            return false;
        tree1.SetChkBx(on);
        return true;
    };
    if (!opt.anyCheck && !tick(QStringLiteral("."), true))
        return false;
    for (const auto& [on, rel] : opt.ticks)
        if (!tick(rel, on))
            return false;
    tree1.setPath(tree1.Root());
    return true;
}

namespace {

// Appends cells as the bytes cell() gives them (names as their bytes on
// disk). Plain ASCII, by far the usual text, is copied as it is; the bytes
// of the few other texts that recur on every row (statuses) are kept.
class CellWriter {
public:
    explicit CellWriter(QByteArray& buf) : m_buf(buf) {}

    void text(const QString& t)
    {
        const char16_t* u = reinterpret_cast<const char16_t*>(t.constData());
        const qsizetype n = t.size();
        for (qsizetype i = 0; i < n; ++i) {
            if (u[i] >= 0x80 || u[i] == u'\t' || u[i] == u'\n' || u[i] == u'\r' || u[i] == u'\\') {
                m_buf += converted(t);
                return;
            }
        }
        const qsizetype at = m_buf.size();
        m_buf.resize(at + n);
        char* p = m_buf.data() + at;
        for (qsizetype i = 0; i < n; ++i)
            p[i] = char(u[i]);
    }

    void text(CellText t)
    {
        char date[14];
        if (t.dateText(date))
            m_buf.append(date, sizeof date);
        else
            text(t.toString());
    }

    // A size or a row number; a negative size is an empty cell.
    void number(long long v)
    {
        if (v < 0)
            return;
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        m_buf.append(digits, r.ptr - digits);
    }

private:
    const QByteArray& converted(const QString& t)
    {
        // The same shared text (one status for many rows) has the same bytes;
        // the kept copy holds the text alive, so its address cannot be reused.
        for (const Kept& k : m_kept)
            if (k.text.constData() == t.constData() && k.text.size() == t.size())
                return k.bytes;
        Kept& k = m_kept[m_next];
        m_next = (m_next + 1) % std::size(m_kept);
        k.text = t;
        k.bytes = nameBytes(cell(t));
        return k.bytes;
    }

    struct Kept {
        QString text;
        QByteArray bytes;
    };
    QByteArray& m_buf;
    Kept m_kept[4];
    size_t m_next = 0;
};

} // namespace

namespace {

// One line per row, into buf.
void formatRows(const std::vector<ResultRow>& rows, size_t from, size_t to, const QByteArray& lead, QByteArray& buf)
{
    CellWriter w(buf);
    for (size_t i = from; i < to; ++i) {
        const ResultRow& row = rows[i];
        buf += lead;
        w.number(row.no);
        buf += '\t';
        w.text(row.path);
        buf += '\t';
        w.text(row.name);
        buf += '\t';
        w.text(row.ext);
        buf += '\t';
        w.number(row.s1);
        buf += '\t';
        w.text(row.u1);
        buf += '\t';
        w.text(row.flag);
        buf += '\t';
        w.text(row.status);
        buf += '\t';
        w.number(row.s2);
        buf += '\t';
        w.text(row.u2);
        buf += '\t';
        w.text(row.at);
        buf += '\t';
        w.text(row.result);
        buf += '\n';
    }
}

} // namespace

void printTable(const ResultTable& table, std::FILE* out, const QString& task)
{
    QByteArray lead;
    if (!task.isNull())
        lead = nameBytes(cell(task)) + '\t';
    // Rows are formatted in pieces of kPiece, two at a time: the second on a
    // helper thread (the rows are only read), then both written in order.
    constexpr size_t kPiece = 8192;
    const std::vector<ResultRow>& rows = table.rows();
    QByteArray first, second;
    for (size_t at = 0; at < rows.size(); at += 2 * kPiece) {
        const size_t mid = std::min(rows.size(), at + kPiece);
        const size_t end = std::min(rows.size(), mid + kPiece);
        first.resize(0);  // keeps the capacity (clear() would free it)
        second.resize(0);
        std::thread helper;
        try {
            if (mid < end)
                helper = std::thread([&] { formatRows(rows, mid, end, lead, second); });
        } catch (const std::system_error&) {
            // No thread to be had: this thread formats both pieces.
        }
        formatRows(rows, at, mid, lead, first);
        std::fwrite(first.constData(), 1, size_t(first.size()), out);
        if (helper.joinable())
            helper.join();
        else
            formatRows(rows, mid, end, lead, second);
        std::fwrite(second.constData(), 1, size_t(second.size()), out);
    }
    std::fflush(out);
}

void printPruned(const QStringList& pruned, const QString& task)
{
    for (const QString& path : pruned)
        printError((task.isEmpty() ? QString() : task + QStringLiteral(": ")) + QStringLiteral("removed old history: ")
                   + path);
}

bool runnableName(const QString& name, QString& err)
{
    if (name.contains(QLatin1Char(',')) || name.contains(QLatin1String("/F")) || name.trimmed() != name) {
        err = QStringLiteral("the task name \"%1\" holds \",\", \"/F\" or blanks at an end; "
                             "velmor-cli run cannot run it alone")
                  .arg(name);
        return false;
    }
    return true;
}

QStringList selfCommand(const QStringList& args, const QString& dataDir)
{
    QStringList cmd = QStringList{QCoreApplication::applicationFilePath()} + args;
    if (!dataDir.isEmpty())
        cmd << QStringLiteral("--data") << absolute(dataDir);
    return cmd;
}

qint64 parseSeconds(const QString& text, double min)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < min || v > 86400)
        return -1;
    return qint64(std::llround(v * 1000));
}

bool loadTask(CliRun& run, const QString& name)
{
    run.win.Load();
    bool ok = false;
    run.win.TskLoad(ok, name);
    return ok;
}

} // namespace velmor::cli
