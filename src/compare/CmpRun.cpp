// The comparison run: checks, snapshot, the phases in order with their stop
// points, and what a failure of each phase means.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "compare/Moves.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "tree/FolderTree.h"

#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace velmor {

namespace {

const QChar CR = QLatin1Char('\r');

// Why the run must not start, or an empty text. Nothing is changed here;
// id1/id2 receive which folders the roots are now.
QString refusal(const Session& s, FolderLock& lock, QString& r1, QString& r2, FsId& id1, FsId& id2)
{
    if (s.bRunning || !TakeRunLock(lock))
        return CmpMsg::Busy;
    r1 = Usr::CutTail(s.tree1->Root());
    r2 = Usr::CutTail(s.tree2->Root());
    // A tree that fell back to the user data folder shows a folder the user
    // never chose: comparing (and later synchronising) against it is wrong.
    const UniqueFd f1 = s.tree1->rootFellBack() ? UniqueFd() : openDirPath(nameBytes(r1), true);
    if (!f1.valid())
        return CmpMsg::Root1Missing;
    const UniqueFd f2 = s.tree2->rootFellBack() ? UniqueFd() : openDirPath(nameBytes(r2), true);
    if (!f2.valid())
        return CmpMsg::Root2Missing;
    // By identity: a bind mount or a link of one root inside the other counts.
    if (FsOverlapAt(f1.get(), f2.get()))
        return CmpMsg::Nested;
    id1 = FsIdOf(f1.get());
    id2 = FsIdOf(f2.get());
    return QString();
}

// The filter of the file filter box, as the run will use it.
struct FilterSnapshot {
    int mode = 0;
    QStringList list;  // split at ","
};

FilterSnapshot filterOf(const TaskPanel& p)
{
    QString text = p.txFlt.toLower();
    text.remove(QStringLiteral("\r\n"));
    FilterSnapshot f;
    if (p.cbFlt == 1 || p.cbFlt == 2) {
        f.list = text.split(QLatin1Char(','));
        if (!text.isEmpty())
            f.mode = p.cbFlt;
    }
    return f;
}

} // namespace

void Notice(const Session& s, const QString& text)
{
    if (!s.bUnattended) {
        Usr::prompt().message(text);
        return;
    }
    QString line = text;
    line.replace(CR, QLatin1Char('\n'));
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

void ShowListMessage(const Session& s, const QString& head, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    // One item a line, also where a message's own breaks are written as
    // blanks (standard error of velmor-cli): a path may hold a blank.
    constexpr int kShown = 20;
    const QChar nl = QLatin1Char('\n');
    QString msg = head;
    for (int i = 0; i < lines.size() && i < kShown; ++i)
        msg += nl + lines[i];
    if (lines.size() > kShown)
        msg += nl + QStringLiteral("… (%1)").arg(lines.size() - kShown);
    if (s.bUnattended || lines.size() <= kShown)
        Notice(s, s.bUnattended ? head + nl + lines.join(nl) : msg);
    else  // every item can still be read, in the box's scrollable details
        Usr::prompt().messageWithDetails(msg, lines.join(QLatin1Char('\n')));
}

CmpOutcome CmpRun(Session& s)
{
    if (!s.tree1 || !s.tree2)
        throw std::logic_error("CmpRun needs both folder trees");
    QString r1, r2;
    FsId id1, id2;
    FolderLock lock;
    QString why = refusal(s, lock, r1, r2, id1, id2);
    const FilterSnapshot flt = filterOf(s.panel);
    if (why.isEmpty()) {
        const QString bad = InvalidEntry(s.panel, flt.mode != 0);
        if (!bad.isEmpty())
            why = CmpMsg::BadPattern + bad;
    }
    if (!why.isEmpty()) {
        Usr::prompt().message(why);
        return CmpOutcome::Refused;
    }

    RunGuard running(s);
    Progress& pg = cmp::progressOf(s);
    s.yRt = GetOpt(s.panel);
    s.nFltMd = flt.mode;
    if (s.panel.cbFlt == 1)
        s.vFltEx = flt.list;
    else if (s.panel.cbFlt == 2)
        s.vFltIn = flt.list;
    s.vUnread.clear();
    s.vNg.clear();
    s.vLost.clear();
    s.nRootFiles1 = s.nRootFiles2 = 0;

    pg.cMsg(CmpMsg::FolderPhase, true);
    s.vSpr.clear();
    s.sFld1 = r1;
    s.sFld2 = r2;
    s.id1 = id1;
    s.id2 = id2;
    Usr::ChkFso();

    // A failing scan or folder classification ends the run: what it left
    // unrecorded would look absent on one side, and absent means "copy over"
    // or "delete" to the synchronisation.
    const auto fail = [&](const std::exception& e) {
        pg.cEnd();
        s.vSpr.clear();
        Usr::prompt().message(CmpMsg::Failed + cmp::errorText(e));
        return CmpOutcome::Failed;
    };
    const auto stopped = [&]() {
        pg.cEnd();
        ShowListMessage(s, CmpMsg::Unread, s.vUnread);
        ShowListMessage(s, CmpMsg::Unholdable, s.vNg);
        ShowListMessage(s, CmpMsg::Lost, s.vLost);
        return CmpOutcome::Stopped;
    };

    // One phase: an error ends the run, and so does a stop seen at the yield
    // that follows it.
    const auto phase = [&](const auto& body) -> std::optional<CmpOutcome> {
        try {
            body();
        } catch (const std::exception& e) {
            return fail(e);
        }
        if (!pg.yield())
            return stopped();
        return std::nullopt;
    };

    if (auto end = phase([&] {
            s.oDb.DbOpen();
            s.oDb.exec(QStringLiteral("Delete From tbFold"));
            s.nCnt = 1000;
            const UniqueFd root2 = cmp::openRoot(s, 2);
            s.caps2 = ProbeVolume(root2.get());
            // Files right in a root take no part; how many there are is said.
            s.nRootFiles1 = static_cast<long long>(FsListAt(cmp::openRoot(s, 1).get(), s.sFld1, FsKind::Files).size());
            s.nRootFiles2 = static_cast<long long>(FsListAt(root2.get(), s.sFld2, FsKind::Files).size());
            ScnFld1(s);
        }))
        return *end;
    if (auto end = phase([&] { ScnFld2(s, s.sFld2); }))
        return *end;
    if (auto end = phase([&] {
            ClsFld(s);
            ClsFldMeta(s);
        }))
        return *end;

    pg.cMsg(CmpMsg::FilePhase, true);
    if (auto end = phase([&] {
            s.oDb.exec(QStringLiteral("Delete From tbFile"));
            s.nCnt = 1000;
            ScnFile(s);
        }))
        return *end;
    try {
        ClsFile(s);
    } catch (const std::exception& e) {
        // Rows the pass did not reach keep an empty status, which lists with
        // the action flag "0": the run goes on to the list.
        Usr::prompt().message(CmpMsg::Error + cmp::errorText(e));
    }
    if (!pg.yield())
        return stopped();
    bool paired = true;
    try {
        paired = FindMoves(s);
    } catch (const std::exception& e) {
        // Without its pairs every row is an ordinary copy or deletion.
        Usr::prompt().message(CmpMsg::Error + cmp::errorText(e));
    }
    if (!paired || !pg.yield())
        return stopped();

    pg.cEnd();
    s.bCmpd = true;
    bool complete = false;
    try {
        complete = LstFill(s);
    } catch (const std::exception& e) {
        return fail(e);
    }
    pg.cEnd();
    ShowListMessage(s, CmpMsg::Unread, s.vUnread);
    ShowListMessage(s, CmpMsg::Unholdable, s.vNg);
    ShowListMessage(s, CmpMsg::Lost, s.vLost);
    return complete ? CmpOutcome::Done : CmpOutcome::Stopped;
}

} // namespace velmor
