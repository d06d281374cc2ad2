// The window's commands on the widget-free main window state: what they
// refuse while a run is under way, how a failed compaction is reported,
// the window state's part held here, and the exit status of an automatic run.
#include "app/AutoRunStatus.h"
#include "app/MainState.h"
#include "app/WinState.h"
#include "common/TestSupport.h"
#include "compare/ResultCounts.h"
#include "env/Usr.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace velmor;
using namespace velmor::test;
using namespace Qt::Literals::StringLiterals;

namespace {

class MainCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        Usr::sUsrDt = tmp.path() + u"/data/"_s;
        makeDir(Usr::sUsrDt);
        writeFile(tmp.path() + u"/src/a/new.txt"_s, "n");
        writeFile(tmp.path() + u"/src/a/same.txt"_s, "s");
        writeFile(tmp.path() + u"/dst/a/same.txt"_s, "s");
        setMTime(tmp.path() + u"/dst/a/same.txt"_s, QFileInfo(tmp.path() + u"/src/a/same.txt"_s).lastModified());
        Usr::bBusy = false;
        st.s.progress = &progress;
        st.tree1.setRoot(tmp.path() + u"/src"_s);
        st.tree2.setRoot(tmp.path() + u"/dst"_s);
        st.tree1.ExpndALL(2, true);
        st.tree1.setPath(st.tree1.Root());
        st.tree1.SetChkBx(true);
        st.Load();
    }

    QTemporaryDir tmp;
    ScopedPrompt prompt;
    HeadlessProgress progress;
    MainState st;
};

TEST_F(MainCommandsTest, DisplayModeLeavesTheGridOfARunAlone)
{
    ASSERT_EQ(st.CompareCmd(), CmpOutcome::Done);
    const int all = st.s.vSpr.rowCount();
    st.s.bRunning = true;  // a comparison or synchronisation yields
    st.SetDispMd(1);
    st.s.bRunning = false;
    EXPECT_EQ(prompt->messages, QStringList{CmpMsg::Busy});
    EXPECT_EQ(st.s.nDispMd, 0);
    EXPECT_TRUE(st.mnDispChecked[0]);
    EXPECT_EQ(st.s.vSpr.rowCount(), all);

    st.SetDispMd(1);  // afterwards the same choice refills the grid
    EXPECT_EQ(st.s.nDispMd, 1);
    EXPECT_LT(st.s.vSpr.rowCount(), all);
    Usr::bBusy = true;
    st.SetDispMd(2);
    Usr::bBusy = false;
    EXPECT_EQ(st.s.nDispMd, 1);
}

// The status line tells what the grid shows: a synchronisation's outcome
// until the rows are those of a comparison again (a new comparison, or a
// refill in another display mode).
TEST_F(MainCommandsTest, TheStatusLineFollowsTheRowsShown)
{
    const auto comparisonText = [&] { return CompareStatusText(CountResults(st.s.vSpr)); };
    const QString synced = u"完了 "_s;
    const struct {
        const char* step;
        std::function<void()> after;
    } steps[] = {
        {"a new comparison", [&] { ASSERT_EQ(st.CompareCmd(), CmpOutcome::Done); }},
        {"another display mode", [&] { st.SetDispMd(1); }},
    };
    ASSERT_EQ(st.CompareCmd(), CmpOutcome::Done);
    EXPECT_TRUE(st.CountText().startsWith(St::Add)) << st.CountText().toStdString();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        ASSERT_TRUE(st.SyncCmd().has_value());
        EXPECT_TRUE(st.CountText().startsWith(synced)) << st.CountText().toStdString();
        writeFile(tmp.path() + u"/src/a/new.txt"_s, "changed after the synchronisation");
        s.after();
        ASSERT_GT(st.s.vSpr.rowCount(), 0);
        EXPECT_EQ(st.CountText(), comparisonText());
        EXPECT_FALSE(st.CountText().startsWith(synced));
    }
}

TEST_F(MainCommandsTest, CompactionFailureIsReported)
{
    st.s.bRunning = true;
    st.DbCompact();
    st.s.bRunning = false;
    EXPECT_EQ(prompt->messages, QStringList{CmpMsg::Busy});
    // A leftover temporary name that cannot be removed stops the compaction.
    makeDir(Usr::sUsrDt + u"Sync$$$.mdb/x"_s);
    prompt->messages.clear();
    st.DbCompact();
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].startsWith(WinMsg::CompactFailed)) << prompt->messages[0].toStdString();
    EXPECT_GT(prompt->messages[0].size(), WinMsg::CompactFailed.size());
    EXPECT_TRUE(st.s.oDb.isOpen());
}

TEST_F(MainCommandsTest, WindowStatePartHeldHere)
{
    WinStateData d;
    d.root1 = tmp.path() + u"/unplugged"_s;
    d.root2 = tmp.path() + u"/dst"_s;
    d.disp = 5;
    d.linked = false;
    d.ftpAp = u"/opt/z"_s;
    st.ApplyWinState(d);
    // The label shows the stored text; the tree shows the user data folder.
    EXPECT_EQ(st.lbRoot, d.root1 + u" ⇒ "_s + d.root2);
    EXPECT_TRUE(st.tree1.rootFellBack());
    EXPECT_EQ(st.mnDispChecked, (std::array<bool, 3>{false, false, false}));
    EXPECT_FALSE(st.mnChkOnOffEnabled);
    EXPECT_FALSE(st.tree1.chkSync());
    WinStateData back;
    st.FillWinState(back);
    EXPECT_EQ(back.disp, 5);
    EXPECT_FALSE(back.linked);
    EXPECT_EQ(back.ftpAp, u"/opt/z"_s);
    EXPECT_EQ(back.root2, d.root2);
}

TEST(AutoRunStatusTest, SameVerdictAsVelmorCliRun)
{
    using T = MainState::AutoRunTask;
    const auto code = [](std::initializer_list<T> tasks) {
        AutoRunStatus s;
        for (const T& t : tasks)
            s.add(t);
        return s.exitCode();
    };
    T clean;
    clean.name = u"t"_s;
    clean.loaded = true;
    clean.cmp = CmpOutcome::Done;
    clean.sync = SyncReport{};
    clean.sync->outcome = SyncReport::Outcome::Completed;
    T missing = clean;
    missing.loaded = false;
    missing.cmp.reset();
    missing.sync.reset();
    T empty = missing;
    empty.name.clear();
    T rowFailed = clean;
    rowFailed.sync->failed = 1;
    T leftOut = clean;
    leftOut.sync->leftOut = {u"x"_s};
    T refused = clean;
    refused.cmp = CmpOutcome::Refused;
    refused.sync->outcome = SyncReport::Outcome::Refused;
    T noCompanion = clean;
    noCompanion.up = MainState::UpResult::NotFound;

    EXPECT_EQ(code({clean, empty}), 0);
    EXPECT_EQ(code({rowFailed}), 1);
    EXPECT_EQ(code({leftOut}), 1);
    EXPECT_EQ(code({noCompanion}), 1);
    EXPECT_EQ(code({clean, missing}), 2);
    EXPECT_EQ(code({rowFailed, refused}), 2);
}

} // namespace
