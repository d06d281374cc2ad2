// The main window's automatic run on saved tasks: the command-line text
// reaches it unchanged on the first activation only, tasks run in order,
// "/F" hands the task to the companion and waits for it, missing and empty
// items are skipped.
#include "app/AutoRun.h"
#include "app/AutoRunStatus.h"
#include "app/Startup.h"
#include "common/TestSupport.h"
#include "env/UserStore.h"
#include "env/Usr.h"
#include "StandIn.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>


#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::makeDir;
using velmor::test::StandIn;
using velmor::test::writeFile;

namespace {

// Records every wait message with its stop button ("+" shown, "-" not).
class WaitLog : public HeadlessProgress {
public:
    void cMsg(const QString& sMsg, bool bShwStop) override
    {
        log << (bShwStop ? QStringLiteral("+") : QStringLiteral("-")) + sMsg;
        HeadlessProgress::cMsg(sMsg, bShwStop);
        if (sMsg == stopAt)
            stopAfter(1);  // the stop button, pressed as soon as this step shows
    }
    QString stopAt;
    // The automatic run's own messages.
    QStringList setUp() const { return log.filter(QStringLiteral(" 設定中･･･")); }
    QStringList log;
};

struct Done {
    QString name;
    bool upload = false;
    bool loaded = false;
};

class MainAutoRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        data = tmp.path() + QStringLiteral("/data");
        makeDir(data);
        Usr::sUsrDt = data + QLatin1Char('/');
        Usr::sCmdTsk.clear();
        Usr::setPrompt(&prompt);
    }
    void TearDown() override
    {
        Usr::setPrompt(nullptr);
        Usr::sCmdTsk.clear();
    }

    QString src(const QString& task) const { return tmp.path() + QStringLiteral("/src ") + task; }
    QString dst(const QString& task) const { return tmp.path() + QStringLiteral("/dst ") + task; }
    // True once the task's file has reached its destination.
    bool synced(const QString& task) const { return QFileInfo::exists(dst(task) + QStringLiteral("/in/f.txt")); }

    // Saves task name: its own source (one folder with one file) against an
    // empty destination, every folder ticked.
    void saveTask(const QString& name)
    {
        writeFile(src(name) + QStringLiteral("/in/f.txt"), name.toUtf8());
        makeDir(dst(name));
        MainState m;
        HeadlessProgress pg;
        m.s.progress = &pg;
        m.Load();
        m.tree1.setRoot(src(name));
        m.tree1.ExpndALL(2, true);
        m.tree1.setPath(src(name));
        m.tree1.SetChkBx(true);
        m.tree2.setRoot(dst(name));
        prompt.inputAnswers.push_back(name);
        m.TskSave(false);
        ASSERT_EQ(m.tskResult, TskResult::Done);
        prompt.inputPrompts.clear();
        prompt.messages.clear();
    }

    // A window as the program loads it, recording what the run did.
    void open(MainState& m)
    {
        m.s.progress = &pg;
        m.Load();
        m.autoRunTaskDone = [this](const MainState::AutoRunTask& t) {
            done.push_back({t.name, t.upload, t.loaded});
            if (t.loaded) {
                EXPECT_EQ(t.cmp, CmpOutcome::Done) << t.name.toStdString();
                ASSERT_TRUE(t.sync.has_value());
                EXPECT_EQ(t.sync->outcome, SyncReport::Outcome::Completed) << t.name.toStdString();
                EXPECT_EQ(t.sync->failed, 0);
            }
            if (onDone)
                onDone(t);
        };
    }

    test::ScopedTestHome home;
    QTemporaryDir tmp;
    QString data;
    test::RecordingPrompt prompt;
    WaitLog pg;
    std::vector<Done> done;
    std::function<void(const MainState::AutoRunTask&)> onDone;
};

} // namespace

TEST_F(MainAutoRun, CommandLineTextReachesTheRunOnceAndUnchanged)
{
    saveTask(QStringLiteral("夜間"));
    // The desktop program's start-up: the arguments become one text.
    QTemporaryDir prog;
    ASSERT_TRUE(prog.isValid());
    writeFile(prog.path() + QStringLiteral("/UserData.ini"), data.toUtf8());
    startProcess(prog.path(), prog.path() + QStringLiteral("/velmor"),
                 {QStringLiteral("週次"), QStringLiteral("バックアップ/F,"), QStringLiteral("夜間")});
    ASSERT_EQ(Usr::sUsrDt, data + QLatin1Char('/'));
    ASSERT_EQ(Usr::sCmdTsk, QStringLiteral("週次 バックアップ/F, 夜間"));

    MainState m;
    open(m);
    EXPECT_TRUE(m.Activate());
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].name, QStringLiteral("週次 バックアップ"));
    EXPECT_TRUE(done[0].upload);
    EXPECT_FALSE(done[0].loaded);
    EXPECT_EQ(done[1].name, QStringLiteral("夜間"));
    EXPECT_FALSE(done[1].upload);
    EXPECT_TRUE(done[1].loaded);
    EXPECT_TRUE(synced(QStringLiteral("夜間")));
    EXPECT_EQ(pg.setUp(), (QStringList{QStringLiteral("-週次 バックアップ 設定中･･･"), QStringLiteral("-夜間 設定中･･･")}));
    EXPECT_EQ(prompt.messages, QStringList{QStringLiteral("週次 バックアップ が定義されていません")});
    EXPECT_FALSE(pg.bRun());  // the wait dialog is closed

    // Later activations never start it again.
    EXPECT_FALSE(m.Activate());
    EXPECT_EQ(done.size(), 2u);

    // Without tasks on the command line the first activation runs nothing.
    Usr::sCmdTsk.clear();
    MainState plain;
    open(plain);
    EXPECT_FALSE(plain.Activate());
    EXPECT_EQ(done.size(), 2u);
}

TEST_F(MainAutoRun, UploadedTaskIsHandedOverAndWaitedForBeforeTheNext)
{
    saveTask(QStringLiteral("a"));
    saveTask(QStringLiteral("b"));
    StandIn z(tmp.path() + QStringLiteral("/Zavro"));
    UserStore::writePath(QStringLiteral("Zavro"), z.program());
    // Released by an event: only a wait that lets events run gets it ended.
    QTimer::singleShot(0, [&z] { z.release(); });
    onDone = [&](const MainState::AutoRunTask& t) {
        if (t.name == QLatin1String("a")) {
            EXPECT_TRUE(synced(QStringLiteral("a")));
            EXPECT_TRUE(z.done());  // waited for before the next task
            EXPECT_FALSE(synced(QStringLiteral("b")));
            EXPECT_EQ(t.up, MainState::UpResult::Finished);
        } else {
            EXPECT_FALSE(t.up.has_value());
        }
    };
    MainState m;
    open(m);
    m.AutoRun(QStringLiteral("a /F, b"));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(synced(QStringLiteral("b")));
    EXPECT_FALSE(z.timedOut());
    // Handed over once, for a, in batch mode.
    EXPECT_EQ(z.args(), (QStringList{QStringLiteral("2"), QStringLiteral("SyncUp"), QStringLiteral("/b|a")}));
    EXPECT_TRUE(prompt.messages.isEmpty());
}

TEST_F(MainAutoRun, MissingLowerCaseAndEmptyItemsAreSkipped)
{
    saveTask(QStringLiteral("a"));
    saveTask(QStringLiteral("b"));
    MainState m;
    open(m);
    // An entry selected beforehand must not be loaded for the empty item.
    m.selectTask(0);
    ASSERT_EQ(m.cbTskText, QStringLiteral("a"));
    m.AutoRun(QStringLiteral("a/f,gone /F,b,"));
    ASSERT_EQ(done.size(), 4u);
    EXPECT_FALSE(done[0].loaded);  // "a/f" is no task
    EXPECT_FALSE(done[1].loaded);
    EXPECT_TRUE(done[2].loaded);
    EXPECT_FALSE(done[3].loaded);
    EXPECT_EQ(done[3].name, QString());
    EXPECT_FALSE(synced(QStringLiteral("a")));
    EXPECT_TRUE(synced(QStringLiteral("b")));
    EXPECT_EQ(pg.setUp(), (QStringList{QStringLiteral("-a/f 設定中･･･"), QStringLiteral("-gone 設定中･･･"),
                                      QStringLiteral("-b 設定中･･･"), QStringLiteral("- 設定中･･･")}));
    // The missing tasks say so; no upload was tried for the missing one.
    EXPECT_EQ(prompt.messages, (QStringList{QStringLiteral("a/f が定義されていません"),
                                            QStringLiteral("gone が定義されていません")}));
    EXPECT_TRUE(prompt.pickerStarts.isEmpty());
    // The empty last item leaves the task list's text empty, nothing selected.
    EXPECT_EQ(m.cbTskText, QString());
    EXPECT_EQ(m.cbTskIndex, -1);
}

TEST_F(MainAutoRun, AStoppedComparisonEndsTheRunWithStatusOne)
{
    // (What a run leaves out goes to standard error: the program test.)
    saveTask(QStringLiteral("stop"));
    MainState m;
    m.s.progress = &pg;
    m.Load();
    AutoRunStatus stopped;
    m.autoRunTaskDone = [&](const MainState::AutoRunTask& t) { stopped.add(t); };
    pg.stopAt = CmpMsg::FolderPhase;
    m.AutoRun(QStringLiteral("stop"));
    EXPECT_FALSE(synced(QStringLiteral("stop")));
    EXPECT_EQ(stopped.exitCode(), AutoRunStatus::kFailed);
    EXPECT_FALSE(m.s.bUnattended);  // a run started by hand shows its messages again
}
