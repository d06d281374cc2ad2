#include "fmSync.h"
#include "WindowDesign.h"

#include "AppMain.h"
#include "app/AutoRun.h"
#include "app/AutoRunStatus.h"
#include "app/UpHand.h"
#include "compare/ResultCounts.h"
#include "env/Prompt.h"
#include "env/StopSignal.h"
#include "env/Usr.h"
#include "tree/view/uTrD.h"
#include "ui/FilterDialog.h"
#include "ui/ResultGrid.h"
#include "ui/ScheduleDialog.h"
#include "ui/GuiPrompt.h"
#include "ui/WaitDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace velmor {

using namespace design;

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kGrey(0xE0, 0xE0, 0xE0);

// Enabled with a white background, or disabled with a light grey one.
void setUsable(QWidget* w, bool on)
{
    w->setEnabled(on);
    QPalette p = w->palette();
    p.setColor(QPalette::Base, on ? kWhite : kGrey);
    w->setPalette(p);
}

void setTextQuietly(QLineEdit* edit, const QString& value)
{
    if (edit->text() == value)
        return;
    const QSignalBlocker block(edit);
    edit->setText(value);
}

void setCheckedQuietly(QCheckBox* box, bool on)
{
    if (box->isChecked() == on)
        return;
    const QSignalBlocker block(box);
    box->setChecked(on);
}

} // namespace

// While alive: a run started from the window is under way. The controls that
// would change what it works on (trees, task list, options, menus) are
// disabled; the grid and the wait dialog's stop button stay usable.
class fmSync::RunBlock {
public:
    explicit RunBlock(fmSync& w) : m_w(w)
    {
        if (m_w.m_runDepth++ == 0)
            m_w.setRunning(true);
    }
    ~RunBlock()
    {
        if (--m_w.m_runDepth == 0)
            m_w.setRunning(false);
    }
    RunBlock(const RunBlock&) = delete;
    RunBlock& operator=(const RunBlock&) = delete;

private:
    fmSync& m_w;
};

fmSync::fmSync(QWidget* parent) : QMainWindow(parent), appEnd([] { AppEnd(); })
{
    // Load, step 2 (first half): from here on the tree controls do their
    // run-time work.
    Usr::bAppRun = true;
    setObjectName(QStringLiteral("fmSync"));
    setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞの同期"));
    resize(kDesignWidth, kDesignHeight);

    m_st.s.progress = &WaitDlg();
    WaitDlg().setFrame(this);
    // Messages of the loading below already belong to this window.
    if (auto* gui = dynamic_cast<GuiPrompt*>(&Usr::prompt()))
        gui->setOwner(this);

    buildControls();
    buildMenus();
    connectControls();
    Load();
}

fmSync::~fmSync()
{
    if (WaitDlg().isVisible())
        WaitDlg().cEnd();
    WaitDlg().setFrame(nullptr);
    // The controls show the state's trees and grid: they go first.
    delete takeCentralWidget();
    m_st.changed = nullptr;
    m_st.s.commandsChanged = nullptr;
    m_st.restoreWindowState = nullptr;
    m_st.syncHooks = {};
}

QAction* fmSync::item(QMenu* menu, int index) const
{
    const QList<QAction*> a = menu->actions();
    return index >= 0 && index < a.size() ? a[index] : nullptr;
}


// --- events -----------------------------------------------------------------------

void fmSync::connectControls()
{
    MainState& st = m_st;
    st.changed = [this] { showState(); };
    st.s.commandsChanged = [this] { showState(); };
    st.restoreWindowState = [this] { WinStateLoad(); };
    st.syncHooks.focusFold = [this] { txFold->setFocus(); };
    st.syncHooks.gridReordered = [this] { vSpr->gridModel().rowsChanged(0, m_st.s.vSpr.rowCount() - 1); };
    st.syncHooks.showRow = [this](int row) { showRowSoon(row); };
    // Reported every few hundred milliseconds, not per file.
    st.syncHooks.progress = [](int done, int total, long long bytesDone, long long bytesTotal) {
        WaitDlg().cProgress(done, total, bytesDone, bytesTotal);
    };
    // The counts follow every flag the user changes.
    connect(vSpr, &ResultGrid::flagToggled, this, [this] { lbCount->setText(m_st.CountText()); });

    // Menu "ﾌｫﾙﾀﾞ(&F)".
    connect(item(mnFold, 2), &QAction::triggered, this, [this] { m_st.DbCompact(); });
    connect(item(mnFold, 4), &QAction::triggered, this, [this] { close(); });

    // Submenu "ﾌｫﾙﾀﾞ1".
    connect(item(mnFld1, 0), &QAction::triggered, this, [this] { m_st.PickRoot(true, false); });
    connect(item(mnFld1, 1), &QAction::triggered, this, [this] { m_st.PickRoot(true, true); });
    connect(item(mnFld1, 2), &QAction::triggered, this, [this] { uTrD1->OpnFld(); });
    for (const bool on : {true, false}) {
        connect(item(mnFld1, on ? 4 : 5), &QAction::triggered, this, [this, on] {
            uTrD1->trView()->setFocus();
            QCoreApplication::processEvents();
            uTrD1->SetChkBx(on);
        });
    }
    connect(item(mnFld1, 6), &QAction::triggered, this, [this] { filterChecks(); });
    connect(item(mnFld1, 8), &QAction::triggered, this, [this] { uTrD1->ExpndALL(0); });
    connect(item(mnFld1, 9), &QAction::triggered, this, [this] { uTrD1->ExpndALL(1); });
    connect(item(mnFld1, 11), &QAction::triggered, this, [this] { m_st.ToggleLinked(); });
    connect(item(mnFld1, 13), &QAction::triggered, this, [this] { uTrD1->ChkOnOff(); });

    // Submenu "ﾌｫﾙﾀﾞ2".
    connect(item(mnFld2, 0), &QAction::triggered, this, [this] { m_st.PickRoot(false, false); });
    connect(item(mnFld2, 1), &QAction::triggered, this, [this] { m_st.PickRoot(false, true); });
    connect(item(mnFld2, 2), &QAction::triggered, this, [this] { uTrD2->OpnFld(); });
    connect(item(mnFld2, 4), &QAction::triggered, this, [this] { uTrD2->ExpndALL(0); });
    connect(item(mnFld2, 5), &QAction::triggered, this, [this] { uTrD2->ExpndALL(1); });

    // Menu "同期(&S)" and the command buttons.
    const auto compare = [this] {
        RunBlock run(*this);
        m_st.CompareCmd();
        resetGrid();
    };
    // After a run the first failed row, if any, is the current one.
    const auto showFirstFailed = [this] {
        if (m_st.lastSync) {
            vSpr->setCurrentIndex(QModelIndex());
            vSpr->goToFailed(true);
        }
    };
    const auto sync = [this, showFirstFailed] {
        {
            RunBlock run(*this);
            m_st.SyncCmd();
        }
        showFirstFailed();
    };
    const auto compareSync = [this, showFirstFailed] {
        {
            RunBlock run(*this);
            m_st.CompareSyncCmd();
            resetGrid();
        }
        showFirstFailed();
    };
    // The window stays usable while it waits for the companion.
    const auto upload = [this](bool wait) { m_st.UpCmd(wait); };
    connect(item(mnSync, 0), &QAction::triggered, this, compare);
    connect(item(mnSync, 1), &QAction::triggered, this, sync);
    connect(item(mnSync, 2), &QAction::triggered, this, [this] { copyList(); });
    connect(item(mnSync, 4), &QAction::triggered, this, compareSync);
    connect(item(mnSync, 6), &QAction::triggered, this, [upload] { upload(false); });
    connect(item(mnSync, 8), &QAction::triggered, this, [this] { vSpr->goToFailed(true); });
    connect(item(mnSync, 9), &QAction::triggered, this, [this] { vSpr->goToFailed(false); });
    connect(cmRet[0], &QPushButton::clicked, this, compare);
    connect(cmRet[1], &QPushButton::clicked, this, sync);
    connect(cmRet[2], &QPushButton::clicked, this, [upload] { upload(false); });
    connect(cmRet[3], &QPushButton::clicked, this, compareSync);
    connect(cmRet[4], &QPushButton::clicked, this, [upload] { upload(true); });

    // Menu "表示設定(&D)".
    for (int i = 0; i < 3; ++i) {
        connect(item(mnDisp, i), &QAction::triggered, this, [this, i] {
            RunBlock run(*this);
            m_st.SetDispMd(i);
            resetGrid();
        });
    }

    // Menu "ﾀｽｸ(&T)".
    connect(item(mnTask, 0), &QAction::triggered, this, [this] { m_st.TskSave(true); });
    connect(item(mnTask, 1), &QAction::triggered, this, [this] { m_st.TskSave(false); });
    connect(item(mnTask, 3), &QAction::triggered, this, [this] { m_st.TskDel(); });
    connect(item(mnTask, 5), &QAction::triggered, this, [this] { scheduleTask(); });

    // The trees' events.
    connect(uTrD1, &uTrD::eCngRt, this, [this](const QString& sRt) { m_st.RootChanged(true, sRt); });
    connect(uTrD2, &uTrD::eCngRt, this, [this](const QString& sRt) { m_st.RootChanged(false, sRt); });
    connect(uTrD1, &uTrD::eChkExp, this, [this] { m_st.ChkExpChanged(); });
    connect(uTrD1, &uTrD::eRClick, this, [this] { mnFld1->popup(QCursor::pos()); });
    connect(uTrD2, &uTrD::eRClick, this, [this] { mnFld2->popup(QCursor::pos()); });

    // The task list: a choice loads the task; typing changes only its text.
    connect(cbTsk, &QComboBox::activated, this, [this](int index) {
        RunBlock run(*this);
        m_st.selectTask(index);
        resetGrid();
    });
    connect(cbTsk, &QComboBox::editTextChanged, this, [this](const QString& t) { m_st.cbTskText = t; });

    // The options panel: every user change goes into the panel's values first.
    for (int k = 0; k < 8; ++k) {
        connect(chRet[size_t(k)], &QCheckBox::clicked, this, [this, k](bool checked) {
            m_st.s.panel.chRet[size_t(k)] = checked;
            m_st.ChkRetClicked(k);
        });
    }
    connect(cbFlt, &QComboBox::activated, this, [this](int index) { m_st.FilterChosen(index); });
    connect(txFlt, &QLineEdit::textEdited, this, [this](const QString& t) {
        m_st.s.panel.txFlt = t;
        m_st.FilterTextChanged();
    });
    connect(txFold, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txFold = t; });
    connect(txJogai, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txJogai = t; });
    connect(txHogo, &QLineEdit::textEdited, this, [this](const QString& t) { m_st.s.panel.txHogo = t; });
    for (auto [box, field] : {std::pair{chLinkTgt, &TaskPanel::chLinkTgt}, std::pair{chAcls, &TaskPanel::chAcls},
                              std::pair{chXattrs, &TaskPanel::chXattrs}, std::pair{chVerify, &TaskPanel::chVerify}})
        connect(box, &QCheckBox::clicked, this, [this, field](bool checked) {
            m_st.s.panel.*field = checked;
            m_st.TskChg(true);
        });
    connect(cbCmp, &QComboBox::activated, this, [this](int k) {
        m_st.s.panel.chContent = k > 0;
        m_st.s.panel.chContentTimes = k == 2;
        m_st.TskChg(true);
    });
    connect(cbMove, &QComboBox::activated, this, [this](int k) {
        m_st.s.panel.nMoves = k;
        m_st.TskChg(true);
    });
    for (auto [sp, field] : {std::pair{spKeepD, &TaskPanel::nKeepDays}, std::pair{spKeepN, &TaskPanel::nKeepCount},
                             std::pair{spJobs, &TaskPanel::nJobs}})
        connect(sp, &QSpinBox::valueChanged, this, [this, field](int n) {
            if (m_st.s.panel.*field == n)
                return;
            m_st.s.panel.*field = n;
            m_st.TskChg(true);
        });
    connect(spShift, &QSpinBox::valueChanged, this, [this](int minutes) {
        if (m_st.s.panel.nShift == minutes)
            return;
        m_st.s.panel.nShift = minutes;
        m_st.TskChg(true);
    });
    connect(cmFold, &QPushButton::clicked, this, [this] { m_st.PickHist(); });
    txFold->installEventFilter(this);
}

bool fmSync::eventFilter(QObject* watched, QEvent* e)
{
    // A disabled field sees the click here too: it opens nothing.
    if (watched == txFold && e->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        if (txFold->isEnabled())
            m_st.PickHist();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void fmSync::filterChecks()
{
    sbFlt dialog(this);
    QString sOff, sOn;
    bool bOk = false;
    dialog.Act(sOff, sOn, bOk);
    if (bOk)
        uTrD1->SetChkFlt(sOff, sOn);
}

void fmSync::scheduleTask()
{
    // velmor-cli beside this program writes the units; its messages are
    // shown as they are when it fails.
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/velmor-cli");
    const QString task = m_st.sCurTsk;
    const auto runCli = [&cli](const QStringList& args, QString& said) {
        QProcess p;
        p.start(cli, QStringList{QStringLiteral("schedule")} + args);
        const bool ok = p.waitForFinished(120'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        said = QString::fromUtf8(p.readAllStandardError()).trimmed();
        if (said.isEmpty() && !ok)
            said = p.errorString();
        return ok ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
    };
    QString said;
    QStringList current;
    const QString listed = runCli({QStringLiteral("list")}, said);
    if (!said.isEmpty()) {
        Usr::prompt().message(QStringLiteral("自動実行の設定: ") + said);
        return;
    }
    for (const QString& line : listed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (cols.size() >= 2 && cols[0] == task)
            current.append(cols[1]);
    }
    dlSched dialog(this);
    const QStringList args = dialog.Act(task, current);
    if (args.isEmpty())
        return;
    if (args.first() == QLatin1String("remove") && current.isEmpty())
        return;  // nothing to remove
    runCli(args + QStringList{QStringLiteral("--data"), Usr::sUsrDt}, said);
    if (!said.isEmpty())
        Usr::prompt().message(QStringLiteral("自動実行の設定: ") + said);
}

void fmSync::copyList() { QGuiApplication::clipboard()->setText(vSpr->clipboardText()); }

void fmSync::resetGrid() { vSpr->gridModel().reset(); }

void fmSync::showRowSoon(int row)
{
    // Scrolling moves the whole grid image: done once per pass of the event
    // loop for the last row handled, not for every row of a long run.
    m_scrollTo = row;
    m_changedFirst = qMin(m_changedFirst, row);
    m_changedLast = qMax(m_changedLast, row);
    if (m_gridPending)
        return;
    m_gridPending = true;
    QTimer::singleShot(0, this, [this] {
        m_gridPending = false;
        vSpr->gridModel().rowsChanged(m_changedFirst, m_changedLast);
        vSpr->showRow(m_scrollTo);
        m_changedFirst = INT_MAX;
        m_changedLast = -1;
    });
}

void fmSync::setRunning(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(menuBar()), pTsk, pTr1, pTr2, pUsr})
        w->setEnabled(!on);
    if (!on && StopSignal::received() && !m_closePending) {
        // A stop signal stopped the run: the program ends, reporting the stop.
        SetExitStatus(AutoRunStatus::kFailed);
        m_closePending = true;
    }
    if (!on && m_closePending) {
        QTimer::singleShot(0, this, [this] {
            if (m_closePending)
                close();
        });
    }
}

// --- the state on screen ------------------------------------------------------

void fmSync::showState()
{
    const MainState& st = m_st;
    const Session& s = st.s;
    lbCount->setText(st.CountText());

    // Commands that need a result, and "FTP".
    item(mnSync, 1)->setEnabled(s.syncEnabled);
    item(mnSync, 2)->setEnabled(s.syncEnabled);
    cmRet[1]->setEnabled(s.syncEnabled);
    cmRet[2]->setEnabled(s.ftpEnabled);

    // Task menu and task list.
    item(mnTask, 0)->setEnabled(st.mnSaveEnabled);
    item(mnTask, 1)->setText(st.mnSaveAsCaption);
    item(mnTask, 3)->setEnabled(st.mnDeleteEnabled);
    item(mnTask, 5)->setEnabled(st.mnDeleteEnabled);  // both need a current task
    {
        const QSignalBlocker block(cbTsk);
        QStringList shown;
        for (int i = 0; i < cbTsk->count(); ++i)
            shown << cbTsk->itemText(i);
        if (shown != st.cbTsk) {
            cbTsk->clear();
            cbTsk->addItems(st.cbTsk);
        }
        if (cbTsk->currentIndex() != st.cbTskIndex)
            cbTsk->setCurrentIndex(st.cbTskIndex);
        if (cbTsk->currentText() != st.cbTskText)
            cbTsk->setEditText(st.cbTskText);
    }
    lbRoot->setText(st.lbRoot);

    // Display and check menus.
    for (int i = 0; i < 3; ++i)
        item(mnDisp, i)->setChecked(st.mnDispChecked[size_t(i)]);
    item(mnFld1, 11)->setChecked(st.mnLinkChecked);
    item(mnFld1, 13)->setEnabled(st.mnChkOnOffEnabled);

    // The options panel.
    for (size_t i = 0; i < 8; ++i)
        setCheckedQuietly(chRet[i], s.panel.chRet[i]);
    setTextQuietly(txFold, s.panel.txFold);
    setUsable(txFold, st.txFoldEnabled);
    cmFold->setEnabled(st.txFoldEnabled);
    if (s.panel.cbFlt >= 0 && s.panel.cbFlt < cbFlt->count() && cbFlt->currentIndex() != s.panel.cbFlt) {
        const QSignalBlocker block(cbFlt);
        cbFlt->setCurrentIndex(s.panel.cbFlt);
    }
    setTextQuietly(txFlt, s.panel.txFlt);
    setUsable(txFlt, st.txFltEnabled);
    setTextQuietly(txJogai, s.panel.txJogai);
    setTextQuietly(txHogo, s.panel.txHogo);
    setCheckedQuietly(chLinkTgt, s.panel.chLinkTgt);
    setCheckedQuietly(chAcls, s.panel.chAcls);
    setCheckedQuietly(chXattrs, s.panel.chXattrs);
    setCheckedQuietly(chVerify, s.panel.chVerify);
    if (const int k = !s.panel.chContent ? 0 : s.panel.chContentTimes ? 2 : 1; cbCmp->currentIndex() != k) {
        const QSignalBlocker block(cbCmp);
        cbCmp->setCurrentIndex(k);
    }
    if (spShift->value() != s.panel.nShift) {
        const QSignalBlocker block(spShift);
        spShift->setValue(s.panel.nShift);
    }
    if (cbMove->currentIndex() != s.panel.nMoves) {
        const QSignalBlocker block(cbMove);
        cbMove->setCurrentIndex(s.panel.nMoves);
    }
    for (auto [sp, n] : {std::pair{spKeepD, s.panel.nKeepDays}, std::pair{spKeepN, s.panel.nKeepCount},
                         std::pair{spJobs, s.panel.nJobs}})
        if (sp->value() != n) {
            const QSignalBlocker block(sp);
            sp->setValue(n);
        }

    // The grid: rows added or removed since the view last counted them.
    if (vSpr->model()->rowCount() != vSpr->verticalHeader()->count())
        resetGrid();
    else
        vSpr->viewport()->update();
}

// --- lifecycle ------------------------------------------------------------------

void fmSync::Load()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_waitCursor = true;
    {
        BusyGuard busy;
        uTrD1->setBHdSlct(true);
        uTrD2->setBHdSlct(true);
        uTrD1->setChkBx(true);
        WinStateLoad();
        // The grid: no rows; the result column takes the width that is left,
        // and a click selects whole rows.
        m_st.s.vSpr.clear();
        resetGrid();
        vSpr->horizontalHeader()->setStretchLastSection(true);
        vSpr->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_st.s.ftpEnabled = true;  // "FTP" is usable until a comparison fills the grid
        m_st.Load();               // task list, first filter entry, no current task
    }
    showState();
    QApplication::restoreOverrideCursor();
    m_waitCursor = false;
}


bool fmSync::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate)
        Activate();
    return QMainWindow::event(e);
}

void fmSync::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (m_splitPending) {
        m_splitPending = false;
        splitFirstStart();
    }
    // A window that the desktop does not activate (focus-stealing prevention
    // for a program started by a scheduler) still runs its tasks.
    if (!m_st.bActDone && !m_firstQueued) {
        m_firstQueued = true;
        QTimer::singleShot(0, this, [this] { firstActivation(); });
    }
}

void fmSync::Activate()
{
    m_activated = true;
    if (m_waitCursor) {
        QApplication::restoreOverrideCursor();
        m_waitCursor = false;
    }
    releasePanes();
    // The automatic run starts once the activation has been handled, so the
    // window is painted and active meanwhile.
    if (!m_st.bActDone && !m_firstQueued) {
        m_firstQueued = true;
        QTimer::singleShot(0, this, [this] { firstActivation(); });
    }
}

void fmSync::firstActivation()
{
    if (m_st.bActDone)
        return;
    releasePanes();
    if (Usr::sCmdTsk.isEmpty()) {
        m_st.Activate();  // no tasks named: nothing runs, ever
        return;
    }
    AutoRunStatus status;
    bool ran = false;
    {
        RunBlock run(*this);
        m_st.autoRunTaskDone = [this, &status](const MainState::AutoRunTask& t) {
            status.add(t);
            resetGrid();
        };
        // A night job reads its failures where velmor-cli run writes them.
        m_st.autoRunRowFailed = [this](int r, const QString& why) {
            PrintFailedRow(m_st.cbTskText, m_st.s.vSpr.row(r), why);
        };
        ran = m_st.Activate();
        m_st.autoRunTaskDone = nullptr;
        m_st.autoRunRowFailed = nullptr;
    }
    if (!ran)
        return;
    SetExitStatus(status.exitCode());
    close();
}

void fmSync::closeEvent(QCloseEvent* e)
{
    // Nothing more starts: an automatic run skips its remaining steps and
    // tasks, and a wait for the companion ends (the companion runs on).
    m_st.bClosing = true;
    if (m_runDepth > 0) {
        // The run finishes first (as soon as it sees the stop), then the
        // window closes: the state is saved and the database closed only
        // when nothing works on them any more.
        e->ignore();
        m_closePending = true;
        WaitDlg().stopWork();
        return;
    }
    e->accept();
    m_closePending = false;
    if (m_closed)
        return;  // the close request runs once
    m_closed = true;
    WinStateSave();
    try {
        m_st.s.oDb.DbClose();
    } catch (const std::exception& ex) {
        std::fprintf(stderr, "velmor: the work database did not close cleanly: %s\n", ex.what());
    }
    if (appEnd)
        appEnd();
}

} // namespace velmor
