// The automatic run's splitting of the task text and its order and failure
// rules, over recorded steps.
#include "app/AutoRun.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace velmor;

namespace {

// Steps that log every call; tasks in `known` load.
struct StepLog {
    QSet<QString> known;
    CmpOutcome cmpOutcome = CmpOutcome::Done;
    QStringList log;
    std::vector<MainState::AutoRunTask> done;

    AutoRunSteps steps()
    {
        AutoRunSteps s;
        s.showWait = [this](const QString& m) { log << QStringLiteral("wait:") + m; };
        s.setTaskText = [this](const QString& t) { log << QStringLiteral("text:") + t; };
        s.load = [this](const QString& n) {
            log << QStringLiteral("load:") + n;
            return known.contains(n);
        };
        s.compare = [this] {
            log << QStringLiteral("cmp");
            return cmpOutcome;
        };
        s.sync = [this] {
            log << QStringLiteral("sync");
            SyncReport r;
            r.outcome = SyncReport::Outcome::Completed;
            return r;
        };
        s.upload = [this] {
            log << QStringLiteral("up");
            return MainState::UpResult::Finished;
        };
        s.closeWait = [this] { log << QStringLiteral("close"); };
        s.taskDone = [this](const MainState::AutoRunTask& t) {
            log << QStringLiteral("done:") + t.name;
            done.push_back(t);
        };
        return s;
    }
};

QStringList names(const std::vector<AutoRunItem>& items)
{
    QStringList n;
    for (const AutoRunItem& i : items)
        n << i.name + (i.upload ? QStringLiteral("+F") : QString());
    return n;
}

} // namespace

TEST(AutoRunItems, SplittingAndTheUploadSwitch)
{
    EXPECT_EQ(names(AutoRunItems(QStringLiteral("a /F, b"))), (QStringList{QStringLiteral("a+F"), QStringLiteral("b")}));
    // Lower case is no switch: it stays in the name.
    EXPECT_EQ(names(AutoRunItems(QStringLiteral("a /f"))), QStringList{QStringLiteral("a /f")});
    // Every occurrence goes, wherever it stands; blanks inside stay.
    EXPECT_EQ(names(AutoRunItems(QStringLiteral(" /F週次 バックアップ/F ,x/Fy"))),
              (QStringList{QStringLiteral("週次 バックアップ+F"), QStringLiteral("xy+F")}));
    // Empty pieces are items: a trailing ",", two in a row, an empty text.
    EXPECT_EQ(names(AutoRunItems(QStringLiteral("a,"))), (QStringList{QStringLiteral("a"), QString()}));
    EXPECT_EQ(names(AutoRunItems(QStringLiteral("a,,b"))), (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    EXPECT_EQ(names(AutoRunItems(QString())), QStringList{QString()});
    // Only blanks are trimmed; other characters belong to the name.
    EXPECT_EQ(names(AutoRunItems(QStringLiteral("\ta\t"))), QStringList{QStringLiteral("\ta\t")});
}

TEST(AutoRunOver, StepsInOrderAndMissingOrEmptyItemsSkipped)
{
    StepLog s;
    s.known = {QStringLiteral("a"), QStringLiteral("b")};
    // The missing task in the middle and the empty last item run nothing,
    // not even the requested upload; the run goes on after them.
    AutoRunOver(QStringLiteral("a /F,gone /F, b,"), s.steps());
    EXPECT_EQ(s.log, (QStringList{QStringLiteral("wait:a 設定中･･･"), QStringLiteral("text:a"), QStringLiteral("load:a"),
                                  QStringLiteral("cmp"), QStringLiteral("sync"), QStringLiteral("up"),
                                  QStringLiteral("close"), QStringLiteral("done:a"),
                                  QStringLiteral("wait:gone 設定中･･･"), QStringLiteral("text:gone"),
                                  QStringLiteral("load:gone"), QStringLiteral("close"), QStringLiteral("done:gone"),
                                  QStringLiteral("wait:b 設定中･･･"), QStringLiteral("text:b"), QStringLiteral("load:b"),
                                  QStringLiteral("cmp"), QStringLiteral("sync"), QStringLiteral("close"),
                                  QStringLiteral("done:b"),
                                  QStringLiteral("wait: 設定中･･･"), QStringLiteral("text:"), QStringLiteral("load:"),
                                  QStringLiteral("close"), QStringLiteral("done:")}));
    ASSERT_EQ(s.done.size(), 4u);
    EXPECT_EQ(s.done[0].up, MainState::UpResult::Finished);
    EXPECT_EQ(s.done[0].cmp, CmpOutcome::Done);
    EXPECT_FALSE(s.done[1].loaded);
    EXPECT_TRUE(s.done[1].upload);
    EXPECT_FALSE(s.done[1].cmp.has_value());
    EXPECT_FALSE(s.done[1].sync.has_value());
    EXPECT_FALSE(s.done[1].up.has_value());
    EXPECT_TRUE(s.done[2].sync.has_value());
    EXPECT_FALSE(s.done[2].up.has_value());
}

TEST(AutoRunOver, SynchronisationAndUploadFollowAComparisonThatDidNotComplete)
{
    for (const CmpOutcome o : {CmpOutcome::Stopped, CmpOutcome::Refused, CmpOutcome::Failed}) {
        StepLog s;
        s.known = {QStringLiteral("a")};
        s.cmpOutcome = o;
        AutoRunOver(QStringLiteral("a/F"), s.steps());
        EXPECT_EQ(s.log.mid(3, 3), (QStringList{QStringLiteral("cmp"), QStringLiteral("sync"), QStringLiteral("up")}));
        ASSERT_EQ(s.done.size(), 1u);
        EXPECT_EQ(s.done[0].cmp, o);
    }
}
