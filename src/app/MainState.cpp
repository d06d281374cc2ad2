// The main window's task logic: the task list, the panel's enabled states,
// and saving, loading and deleting tasks in tbTask.
#include "app/MainState.h"

#include "compare/ResultCounts.h"


#include "app/UpHand.h"
#include "app/WinState.h"
#include "compare/Compare.h"
#include "env/Prompt.h"
#include "env/StopSignal.h"
#include "env/Usr.h"
#include "env/yIni.h"
#include "tasks/FolderList.h"

#include <QDateTime>
#include <algorithm>

namespace velmor {

namespace {

// The columns of a task row besides its name and dUdt, in the order a load
// takes them and a save gives them: the first layout's, then the added ones.
const QStringList& taskColumns()
{
    static const QStringList all = [] {
        QStringList c = QStringLiteral("sRt1 sRt2 sPh1 sPh2 iFlt sFlt yRt0 yRt1 yRt2 yRt3 yRt4 yRt5 yRt6 yRt7"
                                       " mChk mExp sPhB sHogo sJogai")
                            .split(QLatin1Char(' '));
        for (const AddedTaskColumn& a : kAddedTaskColumns)
            c.append(QLatin1String(a.column));
        return c;
    }();
    return all;
}

// What a task row holds besides its name.
struct TaskRow {
    QString sRt1, sRt2, sPh1, sPh2;
    int iFlt = 0;
    QString sFlt;
    YRt yRt{};
    QString mChk, mExp, sPhB, sHogo, sJogai;
    TaskPanel added;  // the options of kAddedTaskColumns
};

// The folder lists of the folder-1 tree: every node (index order) that is
// ticked or expanded, as its full path without the first n characters
// (n = length of the root path), in the stored form of FolderListText.
// A folder whose name joins listed paths (such as "x," beside a listed "x")
// lies in a level that is loaded: it is a sibling of a listed folder, or a
// child of the root.
void FolderLists(const FolderTree& tree, qsizetype n, QString& mChk, QString& mExp)
{
    QStringList chk, exp;
    bool commaNames = false;
    const int count = tree.nodeCount();
    for (int i = 0; i < count; ++i) {
        const TreeNode* node = tree.nodeAt(i);
        if (node->isPlaceholder())
            continue;
        if (node->parent && node->text.contains(QLatin1Char(',')))
            commaNames = true;
        if (!(node->checked || node->expanded))
            continue;
        const QString rel = tree.fullPath(node).mid(n);
        if (node->checked)
            chk.append(rel);
        if (node->expanded)
            exp.append(rel);
    }
    mChk = FolderListText(chk, commaNames);
    mExp = FolderListText(exp, commaNames);
}

// Writes the row of task name: updates it when it exists, else adds it.
// True when the row was added. Throws SqlError.
bool WriteTask(WorkDb& db, const QString& name, const TaskRow& t)
{
    QVariantList v = {t.sRt1, t.sRt2, t.sPh1, t.sPh2, t.iFlt, t.sFlt};
    for (uint8_t y : t.yRt)
        v.append(int(y));
    v << t.mChk << t.mExp << t.sPhB << t.sHogo << t.sJogai;
    for (const AddedTaskColumn& a : kAddedTaskColumns)
        v << a.get(t.added);
    v << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << name;
    const QStringList columns = taskColumns() + QStringList{QStringLiteral("dUdt"), QStringLiteral("sTask")};
    const long long updated = db.exec(QStringLiteral("Update tbTask Set ") + columns.mid(0, columns.size() - 1).join(QStringLiteral(" = ?, "))
                                          + QStringLiteral(" = ? Where sTask = ?"),
                                      v);
    if (updated > 0)
        return false;
    db.exec(QStringLiteral("Insert Into tbTask (") + columns.join(QStringLiteral(", ")) + QStringLiteral(") Values (?")
                + QStringLiteral(", ?").repeated(columns.size() - 1) + QLatin1Char(')'),
            v);
    return true;
}

void ShowDbError(const std::exception& e)
{
    Usr::prompt().message(TskMsg::DbFailed + QString::fromUtf8(e.what()));
}

// True (message shown) while a comparison or synchronisation runs: it walks
// the trees' nodes and writes the work database between its yields.
bool RunUnderWay(const Session& s)
{
    if (!s.bRunning)
        return false;
    Usr::prompt().message(CmpMsg::Busy);
    return true;
}

} // namespace

MainState::MainState()
{
    tree1.setChkBx(true);
    s.tree1 = &tree1;
    s.tree2 = &tree2;
    SetCurTsk(QString());
}

MainState::~MainState() = default;

// --- load ------------------------------------------------------------------------

void MainState::Load()
{
    {
        BusyGuard busy;
        cbTsk.clear();
        tskResult = TskResult::Done;
        try {
            RAry rows;
            s.oDb.R_Ary(QStringLiteral("Select sTask From tbTask Order By sTask"), rows);
            for (long long r = 0; r < rows.rowCount(); ++r)
                cbTsk.append(rows.text(0, r));
        } catch (const std::exception& e) {
            tskResult = TskResult::Failed;
            ShowDbError(e);
        }
        cbTskIndex = -1;
        cbTskText.clear();
        setFilterIndex(0);
        SetCurTsk(QString());
    }
    if (changed)
        changed();
}

// --- options panel -----------------------------------------------------------------

void MainState::GetOpt()
{
    s.yRt = velmor::GetOpt(s.panel);
}

void MainState::PutOpt()
{
    for (size_t i = 0; i < s.yRt.size(); ++i)
        s.panel.chRet[i] = s.yRt[i] != 0;
    EnBkFld(s.yRt[2] + s.yRt[3] > 0);
}

void MainState::EnBkFld(bool on)
{
    txFoldEnabled = on;
    if (changed)
        changed();
}

void MainState::SetCurTsk(const QString& name)
{
    sCurTsk = name;
    const bool current = !name.isEmpty();
    mnSaveEnabled = current;
    mnSaveAsCaption = current ? TskMsg::SaveRenamed : TskMsg::SaveAs;
    mnDeleteEnabled = current;
    if (changed)
        changed();
}

void MainState::TskChg(bool flag)
{
    if (Usr::bBusy)
        return;
    mnSaveEnabled = !sCurTsk.isEmpty() && flag;
    if (changed)
        changed();
}

void MainState::setFilterIndex(int index)
{
    s.panel.cbFlt = index;
    txFltEnabled = index > 0;
    TskChg(true);
    if (changed)
        changed();
}

// --- tasks -------------------------------------------------------------------------

void MainState::selectTask(int index)
{
    if (index < 0 || index >= cbTsk.size())
        index = -1;
    cbTskIndex = index;
    cbTskText = index >= 0 ? cbTsk[index] : QString();
    if (changed)
        changed();
    if (Usr::bBusy)
        return;
    if (s.progress)
        s.progress->cMsg(TskMsg::Loading, false);
    bool ok = false;
    TskLoad(ok, QString());
    if (s.progress)
        s.progress->cEnd();
}

void MainState::TskSave(bool overwrite)
{
    tskResult = TskResult::Refused;
    if (overwrite && sCurTsk.isEmpty())
        return;  // "上書き保存" is disabled without a current task
    if (RunUnderWay(s))
        return;
    // A tree showing the user data folder in place of a missing root (or no
    // tree at all) would replace the task's root by a folder nobody chose.
    if (tree1.rootFellBack() || tree1.Root().isEmpty()) {
        Usr::prompt().message(TskMsg::Root1Missing);
        return;
    }
    if (tree2.rootFellBack() || tree2.Root().isEmpty()) {
        Usr::prompt().message(TskMsg::Root2Missing);
        return;
    }
    try {
        s.oDb.DbOpen();
    } catch (const std::exception& e) {
        tskResult = TskResult::Failed;
        ShowDbError(e);
        return;
    }

    if (!overwrite) {
        const QString name = Usr::prompt().inputTitled(TskMsg::AskTitle, TskMsg::AskName, tree1.Root());
        if (name.isEmpty()) {
            tskResult = TskResult::Cancelled;
            return;
        }
        BusyGuard busy;
        const qsizetype at = cbTsk.indexOf(name);
        if (at >= 0)
            selectTask(int(at));  // no load: bBusy is set
        SetCurTsk(name);
    }

    // The roots go into the row only: sFld1/sFld2 stay the roots of the
    // comparison that filled the grid, which a synchronisation acts on.
    TaskRow t;
    t.sRt1 = Usr::CutTail(tree1.Root());
    t.sRt2 = Usr::CutTail(tree2.Root());
    t.sPh1 = tree1.Path();
    t.sPh2 = tree2.Path();
    t.iFlt = s.panel.cbFlt;
    t.sFlt = s.panel.txFlt;
    t.sHogo = s.panel.txHogo;
    t.sJogai = s.panel.txJogai;
    t.added = s.panel;
    GetOpt();
    t.yRt = s.yRt;

    if (s.yRt[3] + s.yRt[4] == 2 && !Usr::prompt().question(TskMsg::BackupAndTrash)) {
        tskResult = TskResult::Cancelled;
        return;
    }
    if (!s.panel.txFold.isEmpty() && s.yRt[2] + s.yRt[3] == 0) {
        s.panel.txFold.clear();
        if (changed)
            changed();
    }
    t.sPhB = s.panel.txFold;
    FolderLists(tree1, t.sRt1.size(), t.mChk, t.mExp);

    bool added = false;
    try {
        added = WriteTask(s.oDb, sCurTsk, t);
    } catch (const std::exception& e) {
        tskResult = TskResult::Failed;
        ShowDbError(e);
        return;
    }
    tskResult = TskResult::Done;
    if (!added)
        return;
    // A task that was in the list but not in the table (deleted meanwhile
    // by another instance) keeps its one entry.
    qsizetype at = cbTsk.indexOf(sCurTsk);
    if (at < 0) {
        cbTsk.append(sCurTsk);
        at = cbTsk.size() - 1;
    }
    selectTask(int(at));
}

void MainState::TskLoad(bool& ok, const QString& nameIn)
{
    ok = false;
    QString name = nameIn;
    if (name.isEmpty()) {
        if (cbTskIndex < 0)
            return;
        name = cbTskText;
    }
    if (name.isEmpty() || RunUnderWay(s))
        return;

    {
        BusyGuard busy;
        s.vSpr.clear();

        TaskRow t;
        try {
            s.oDb.DbOpen();
            QVariantList v;
            const QVariantList key = {name};
            if (!s.oDb.R_PAry(QStringLiteral("Select Count(*) From tbTask Where sTask = ?"), v, key))
                throw SqlError("cannot read tbTask");
            if (v.value(0).toLongLong() == 0) {
                Usr::prompt().message(name + TskMsg::NotDefined);
                return;
            }
            v.clear();
            if (!s.oDb.R_PAry(QStringLiteral("Select ") + taskColumns().join(QStringLiteral(", ")) + QStringLiteral(" From tbTask Where sTask = ?"),
                              v, key))
                throw SqlError("cannot read the task " + name.toStdString());
            int c = 0;
            const auto next = [&]() { return v.value(c++); };
            t.sRt1 = next().toString();
            t.sRt2 = next().toString();
            t.sPh1 = next().toString();
            t.sPh2 = next().toString();
            t.iFlt = next().toInt();
            t.sFlt = next().toString();
            for (uint8_t& y : t.yRt)
                y = next().toInt() != 0 ? 1 : 0;
            t.mChk = next().toString();
            t.mExp = next().toString();
            t.sPhB = Usr::CutTail(next().toString());
            t.sHogo = next().toString();
            t.sJogai = next().toString();
            // NULL in a row saved before these options: the defaults.
            for (const AddedTaskColumn& a : kAddedTaskColumns)
                a.set(t.added, next().toInt());
        } catch (const std::exception& e) {
            ShowDbError(e);
            return;
        }

        // The roots go to the trees only: sFld1/sFld2 stay the roots of the
        // last comparison, whose rows a refill of the grid brings back.
        tree1.setRoot(t.sRt1);
        tree1.setPath(t.sPh1);
        tree2.setRoot(t.sRt2);
        tree2.setPath(t.sPh2);
        s.panel.txFold = t.sPhB;
        s.panel.txHogo = t.sHogo;
        s.panel.txJogai = t.sJogai;
        for (const AddedTaskColumn& a : kAddedTaskColumns)
            a.set(s.panel, a.get(t.added));
        // An index the list does not have leaves the list and txFlt as they are.
        if (t.iFlt >= -1 && t.iFlt <= 2)
            setFilterIndex(t.iFlt);
        s.panel.txFlt = t.sFlt;
        s.yRt = t.yRt;
        PutOpt();

        // A tree that fell back shows the user data folder: the task's
        // folders are not there, and their relative paths would tick others.
        if (!tree1.rootFellBack()) {
            tree1.ExpndALL(2, true);
            const FolderListSet chk(t.mChk), exp(t.mExp);
            const qsizetype n = t.sRt1.size();
            const int count = tree1.nodeCount();
            for (int i = 0; i < count; ++i) {
                TreeNode* node = tree1.nodeAt(i);
                if (node->isPlaceholder())
                    continue;
                const QString rel = tree1.fullPath(node).mid(n);
                node->checked = chk.contains(rel);
                node->expanded = exp.contains(rel);
            }
            tree1.notifyChanged();
        }
    }
    // The root label shows the roots the task brought (the trees' root
    // events were quiet while the task loaded).
    lbRoot = tree1.Root() + WinMsg::RootArrow + tree2.Root();
    SetCurTsk(name);
    ok = true;
}

void MainState::TskDel()
{
    tskResult = TskResult::Refused;
    if (sCurTsk.isEmpty() || RunUnderWay(s))
        return;
    try {
        s.oDb.exec(QStringLiteral("Delete From tbTask Where sTask = ?"), {sCurTsk});
    } catch (const std::exception& e) {
        tskResult = TskResult::Failed;
        ShowDbError(e);
        return;
    }
    if (cbTskText == sCurTsk && cbTskIndex >= 0)
        cbTsk.removeAt(cbTskIndex);
    else
        cbTsk.removeOne(sCurTsk);
    cbTskIndex = -1;
    cbTskText.clear();
    SetCurTsk(QString());
    tskResult = TskResult::Done;
    if (restoreWindowState)
        restoreWindowState();
}

// --- the window's commands and display ----------------------------------------------

void MainState::SetDispMd(int i)
{
    if (Usr::bBusy || i < 0 || i > 2)
        return;
    // A refill would empty the grid that the run in progress fills or walks.
    if (RunUnderWay(s))
        return;
    for (int k = 0; k < 3; ++k)
        mnDispChecked[size_t(k)] = k == i;
    s.nDispMd = i;
    lastSync.reset();  // the refill's rows are as the comparison left them
    if (changed)
        changed();
    if (!s.bCmpd)
        return;
    try {
        LstFill(s);
    } catch (const std::exception& e) {
        // What LstFill could not read stays out of the grid; the user is told.
        if (s.progress)
            s.progress->cEnd();
        s.vSpr.clear();
        Usr::prompt().message(CmpMsg::Error + QString::fromUtf8(e.what()));
    }
    if (changed)
        changed();
}

void MainState::SetLinked(bool on)
{
    mnLinkChecked = on;
    mnChkOnOffEnabled = on;
    tree1.setPrChSync(on);
    if (changed)
        changed();
}

void MainState::RootChanged(bool folder1, const QString& sRt)
{
    if (Usr::bBusy)
        return;
    lbRoot = (folder1 ? sRt : tree1.Root()) + WinMsg::RootArrow + (folder1 ? tree2.Root() : sRt);
    TskChg(true);
}

void MainState::PickRoot(bool folder1, bool typed)
{
    if (Usr::bBusy)
        return;
    FolderTree& tree = folder1 ? tree1 : tree2;
    bool loaded = false;
    QString root;
    const QMetaObject::Connection seen = QObject::connect(&tree, &FolderTree::eCngRt, [&](const QString& sRt) {
        loaded = true;
        root = sRt;
    });
    tree.F_GtFld(folder1 ? 0 : 64, typed);
    QObject::disconnect(seen);
    if (loaded)
        RootChanged(folder1, root);
}

void MainState::ChkExpChanged()
{
    TskChg(true);
}

void MainState::ChkRetClicked(int k)
{
    if (Usr::bBusy || k < 0 || k > 7)
        return;
    if (k == 2 || k == 3)
        EnBkFld(s.panel.chRet[2] || s.panel.chRet[3]);
    else if (k == 0 || k == 1)
        TskChg(true);
}

void MainState::FilterChosen(int index)
{
    if (Usr::bBusy)
        return;
    setFilterIndex(index);
}

void MainState::FilterTextChanged()
{
    TskChg(true);
}

void MainState::PickHist()
{
    if (Usr::bBusy)
        return;
    const QString path = Usr::GtFldDlg(yIni::FsGtSpFld(5));
    // Cancel means "no change": the folder typed or picked before stays.
    if (path.isEmpty())
        return;
    s.panel.txFold = path;
    if (changed)
        changed();
}

std::optional<CmpOutcome> MainState::CompareCmd()
{
    if (Usr::bBusy)
        return std::nullopt;
    lastSync.reset();
    const CmpOutcome out = CmpRun(s);
    if (changed)
        changed();
    return out;
}

std::optional<SyncReport> MainState::SyncCmd()
{
    if (Usr::bBusy)
        return std::nullopt;
    SyncReport rep = SyncRun(s, syncHooks);
    if (rep.outcome == SyncReport::Outcome::Completed || rep.outcome == SyncReport::Outcome::Stopped)
        lastSync = SyncSummary{rep.elapsedMs, rep.stoppedAfter(), rep.verified, int(rep.pruned.size())};
    if (changed)
        changed();
    return rep;
}

QString MainState::CountText() const
{
    if (s.vSpr.rowCount() == 0)
        return {};
    const ResultCounts c = CountResults(s.vSpr);
    QString text = lastSync ? SyncStatusText(c, lastSync->ms, lastSync->stoppedAfter) : CompareStatusText(c);
    if (lastSync && c.failed > 0)
        text += QStringLiteral("　ｴﾗｰ行へ: F8 次 / Shift+F8 前");
    if (lastSync && lastSync->pruned > 0)
        text += QStringLiteral("　古い履歴の削除: %1").arg(lastSync->pruned);
    // What folder 2's volume cannot hold is named once, not on every row.
    QStringList lost;
    for (const QString& line : s.vLost)
        lost.append(line.section(QStringLiteral(": "), 0, 0));
    if (!lost.isEmpty())
        text += QStringLiteral("　ﾌｫﾙﾀﾞ2に保存できない情報: ") + lost.join(QStringLiteral("･"));
    if (const QString root = RootFilesText(s.nRootFiles1, s.nRootFiles2); !root.isEmpty())
        text += QStringLiteral("　") + root;
    if (lastSync && !lastSync->verified.isEmpty())
        text += QStringLiteral("　") + lastSync->verified;
    return text;
}

void MainState::CompareSyncCmd()
{
    const std::optional<CmpOutcome> cmp = CompareCmd();
    if (cmp && *cmp == CmpOutcome::Done && !StopSignal::received())
        SyncCmd();
}

std::optional<MainState::UpResult> MainState::UpCmd(bool wait)
{
    if (Usr::bBusy)
        return std::nullopt;
    return UpHand(wait);
}

void MainState::DbCompact()
{
    if (Usr::bBusy || RunUnderWay(s))
        return;
    try {
        QString why;
        if (!s.oDb.DbCompact(&why))
            Usr::prompt().message(WinMsg::CompactFailed + why);
    } catch (const std::exception& e) {
        Usr::prompt().message(WinMsg::DbOpenFailed + QString::fromUtf8(e.what()));
    }
}

// --- window state ------------------------------------------------------------------

void MainState::ApplyWinState(const WinStateData& d)
{
    // The display mode as stored: outside 0-2 no item carries the mark.
    s.nDispMd = d.disp;
    for (int k = 0; k < 3; ++k)
        mnDispChecked[size_t(k)] = k == d.disp;
    SetLinked(d.linked);
    lbRoot = d.root1 + WinMsg::RootArrow + d.root2;
    {
        BusyGuard busy;  // the root loads are no change of the task
        tree1.setRoot(d.root1);
        tree2.setRoot(d.root2);
    }
    sFtpAp = d.ftpAp;
    if (changed)
        changed();
}

void MainState::FillWinState(WinStateData& d) const
{
    d.root1 = tree1.Root();
    d.root2 = tree2.Root();
    d.disp = s.nDispMd;
    d.linked = mnLinkChecked;
    d.ftpAp = sFtpAp;
}

} // namespace velmor
