// The run: preparation checks and their messages, the walk over the grid,
// flags and marks, the stop button, re-entry, and the finish on every path.
#include "SyncFixture.h"

#include "sync/SyncPlan.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <filesystem>

#include <sys/stat.h>

namespace velmor::test {
namespace {

class SyncRunTest : public SyncFixture {
protected:
    QString today() const { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }
    void expectFinished()
    {
        EXPECT_TRUE(session.syncEnabled);
        EXPECT_TRUE(session.ftpEnabled);
        EXPECT_FALSE(session.bRunning);
        EXPECT_FALSE(progress.bRun());
    }
};

TEST_F(SyncRunTest, FoldersBelowOneCopiedWholeAreDoneWithIt)
{
    src(QStringLiteral("a/x.txt"), "x");
    src(QStringLiteral("a/b/y.txt"), "y");
    src(QStringLiteral("a/b/c/z.txt"), "z");
    src(QStringLiteral("p/q/w.txt"), "w");
    folderRow(QStringLiteral("a"), QStringLiteral("追加"));
    folderRow(QStringLiteral("a/b"), QStringLiteral("追加"));
    folderRow(QStringLiteral("a/b/c"), QStringLiteral("追加"));
    // Without the folder above (its row cleared), a folder is copied on its
    // own, parents made as needed.
    folderRow(QStringLiteral("p"), QStringLiteral("追加"), QStringLiteral("0"));
    folderRow(QStringLiteral("p/q"), QStringLiteral("追加"));
    options(true, false, false);
    int copies = 0;
    setFsHook([&](const char* point) { copies += QLatin1String(point) == QLatin1String("folder:resolved"); });
    const SyncReport rep = run();
    setFsHook({});
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.processed, 4);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(copies, 4);
    for (int r : {0, 1, 2, 4}) {
        EXPECT_EQ(session.vSpr.row(r).flag, QStringLiteral("2")) << r;
        EXPECT_EQ(session.vSpr.row(r).result, QStringLiteral("追加")) << r;
    }
    for (const char* f : {"a/x.txt", "a/b/y.txt", "a/b/c/z.txt", "p/q/w.txt"})
        EXPECT_TRUE(QFileInfo(p2(QLatin1String(f))).isFile()) << f;
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("p/x.txt"))));
    EXPECT_EQ(LogLines(rep.logFile).size(), 4) << "one line per row, as before";
}

TEST_F(SyncRunTest, HistoryFolderChecksRefuseBeforeAnythingChanges)
{
    src(QStringLiteral("a.txt"), "a");
    fileRow(QString(), QStringLiteral("a"), QStringLiteral("txt"), QStringLiteral("追加"));
    int focused = 0;
    SyncHooks hooks;
    hooks.focusFold = [&] { ++focused; };
    freezeSource();

    options(true, false, false);
    session.panel.txFold.clear();
    SyncReport rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages, QStringList{QStringLiteral("更新履歴とﾊﾞｯｸｱｯﾌﾟの保存先を指定して下さい")});
    expectFinished();

    session.panel.txFold = tmp.path() + QStringLiteral("/nowhere/");
    options(false, true, false);
    session.panel.txFold = tmp.path() + QStringLiteral("/nowhere/");
    rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages.value(1), QStringLiteral("更新履歴･ﾊﾞｯｸｱｯﾌﾟの保存先で指定されている\r") + tmp.path()
                                             + QStringLiteral("/nowhere/が存在しません"));
    EXPECT_EQ(focused, 2);

    // The log cannot be created (a file named "Log" is in the way): refused
    // with a message, before any row is touched.
    options(true, false, false);
    writeFile(bk + QStringLiteral("/Log"), "not a folder");
    rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages.size(), 3);
    EXPECT_TRUE(prompt->messages.value(2).startsWith(QStringLiteral("更新履歴のﾛｸﾞﾌｧｲﾙを作成できないため同期は実行しません\r")));
    expectFinished();
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("a.txt"))));
    EXPECT_EQ(session.vSpr.row(0).flag, QStringLiteral("1"));
    EXPECT_TRUE(session.vSpr.row(0).result.isEmpty());

    // Log and backup off: the history field is not even looked at.
    options(false, false, false);
    session.panel.txFold = tmp.path() + QStringLiteral("/nowhere");
    rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(prompt->messages.size(), 3);
    EXPECT_EQ(session.vSpr.row(0).result, QStringLiteral("追加"));
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + QStringLiteral("/nowhere")));
}

TEST_F(SyncRunTest, RootsThatAreMissingOrNestedAreRefused)
{
    dst(QStringLiteral("x.txt"), "x");
    fileRow(QString(), QStringLiteral("x"), QStringLiteral("txt"), QStringLiteral("削除"));
    options(false, false, false);

    session.sFld2 = f1 + QStringLiteral("/inner");
    makeDir(session.sFld2);
    session.sFld1 = f1;
    freezeSource();
    EXPECT_EQ(run().outcome, SyncReport::Outcome::Refused);
    session.sFld1 = session.sFld2;
    session.sFld2 = f1;
    EXPECT_EQ(run().outcome, SyncReport::Outcome::Refused);
    session.sFld1 = f1;
    session.sFld2 = tmp.path() + QStringLiteral("/unplugged");
    EXPECT_EQ(run().outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages, (QStringList{SyncMsg::Nested, SyncMsg::Nested, SyncMsg::Root2Missing}));
    EXPECT_FALSE(QFileInfo::exists(session.sFld2));
    EXPECT_EQ(session.vSpr.row(0).flag, QStringLiteral("1"));
    expectFinished();
}

TEST_F(SyncRunTest, WalksInNumberOrderAndMarksEveryRow)
{
    src(QStringLiteral("web/new/page.html"), "page");
    src(QStringLiteral("web/.htaccess"), "deny", At(4));
    dst(QStringLiteral("web/.htaccess"), "allow", At(3));
    src(QStringLiteral("README"), "readme");
    src(QStringLiteral("web/new2/in.txt"), "in");
    src(QStringLiteral("ex.txt"), "forced", At(6));
    dst(QStringLiteral("ex.txt"), "excluded", At(5));
    dst(QStringLiteral("left.txt"), "left alone");
    makeDir(p2(QStringLiteral("web")));

    folderRow(QStringLiteral("web/new"), QStringLiteral("追加"));                                          // 1
    folderRow(QStringLiteral("web/new2"), QStringLiteral("空追"));                                         // 2
    fileRow(QStringLiteral("web"), QString(), QStringLiteral("htaccess"), QStringLiteral("上書"));       // 3
    fileRow(QString(), QStringLiteral("README"), QString(), QStringLiteral("追加"));                     // 4
    fileRow(QStringLiteral("web/new2"), QStringLiteral("in"), QStringLiteral("txt"), QStringLiteral("追加")); // 5 needs row 2
    fileRow(QString(), QStringLiteral("ex"), QStringLiteral("txt"), QStringLiteral("除外"));             // 6 forced
    fileRow(QString(), QStringLiteral("vanished"), QStringLiteral("txt"), QStringLiteral("追加"));       // 7 fails
    fileRow(QString(), QStringLiteral("same"), QStringLiteral("txt"), QStringLiteral("同一"));           // 8 no-op
    fileRow(QString(), QStringLiteral("left"), QStringLiteral("txt"), QStringLiteral("削除"), QStringLiteral("0"));
    // The user sorted the grid by another column: reversed.
    std::reverse(session.vSpr.rows().begin(), session.vSpr.rows().end());
    options(true, false, false);
    QList<int> failedRows;
    QList<int> shown;
    SyncHooks hooks;
    hooks.rowFailed = [&](int r, const QString& why) {
        failedRows << r;
        EXPECT_FALSE(why.isEmpty());
        EXPECT_EQ(session.vSpr.row(r).why(), why);  // kept in the row
    };
    hooks.showRow = [&](int r) { shown << r; };
    freezeSource();

    const SyncReport rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.processed, 8);
    EXPECT_EQ(rep.failed, 1);
    EXPECT_TRUE(rep.sBkFld.isEmpty());
    const ResultTable& g = session.vSpr;
    for (int r = 0; r < g.rowCount(); ++r)
        EXPECT_EQ(g.row(r).no, r + 1);
    const QStringList results = {QStringLiteral("追加"), QStringLiteral("空追"), QStringLiteral("上書"),
                                 QStringLiteral("追加"), QStringLiteral("追加"), QStringLiteral("上書"),
                                 QStringLiteral("追加 Err"), QStringLiteral("同一"), QString()};
    const QStringList flags = {"2", "2", "2", "2", "2", "2", "1", "2", "0"};
    for (int r = 0; r < g.rowCount(); ++r) {
        EXPECT_EQ(g.row(r).result, results[r]) << "row " << r + 1;
        EXPECT_EQ(g.row(r).flag, flags[r]) << "row " << r + 1;
        EXPECT_EQ(g.row(r).red, r == 6) << "row " << r + 1;
    }
    EXPECT_EQ(failedRows, QList<int>{6});
    EXPECT_EQ(shown.size(), 10);
    EXPECT_EQ(shown.last(), 0);
    EXPECT_EQ(readFile(p2(QStringLiteral("web/.htaccess"))), QByteArray("deny"));
    EXPECT_EQ(readFile(p2(QStringLiteral("README"))), QByteArray("readme"));
    EXPECT_EQ(readFile(p2(QStringLiteral("web/new2/in.txt"))), QByteArray("in"));
    EXPECT_EQ(readFile(p2(QStringLiteral("ex.txt"))), QByteArray("forced"));
    EXPECT_EQ(readFile(p2(QStringLiteral("left.txt"))), QByteArray("left alone"));
    const QStringList lines = LogLines(rep.logFile);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[2], logtx::overwritten(p1(QStringLiteral("web/.htaccess")), p2(QStringLiteral("web/.htaccess"))));
    EXPECT_EQ(lines[3], logtx::copied(p1(QStringLiteral("README")), p2(QStringLiteral("README"))));
    expectFinished();

    // A second run without a new comparison retries only the failed row
    // (and clears its red mark and its reason once it succeeds).
    session.vSpr.row(6).path.clear();
    session.vSpr.row(6).name = QStringLiteral("ex");  // now names an existing source
    const SyncReport again = run();
    EXPECT_EQ(again.processed, 1);
    EXPECT_EQ(again.failed, 0);
    EXPECT_EQ(g.row(6).flag, QStringLiteral("2"));
    EXPECT_FALSE(g.row(6).red);
    EXPECT_TRUE(g.row(6).why().isEmpty());
    EXPECT_EQ(LogLines(again.logFile).size(), 1);
    EXPECT_NE(again.logFile, rep.logFile);
}

TEST_F(SyncRunTest, StopButtonEndsTheWalkAfterTheRowInProgress)
{
    for (int i = 1; i <= 5; ++i) {
        src(QStringLiteral("f%1.txt").arg(i), "x");
        fileRow(QString(), QStringLiteral("f%1").arg(i), QStringLiteral("txt"), QStringLiteral("追加"));
    }
    options(false, false, false);
    progress.stopAfter(2);
    QList<int> done;
    SyncHooks hooks;
    hooks.progress = [&](int n, int total, long long, long long) {
        done << n;
        EXPECT_EQ(total, 5);
    };
    freezeSource();
    const SyncReport rep = SyncRun(session, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Stopped);
    EXPECT_EQ(rep.processed, 2);
    EXPECT_EQ(done.value(0), 0);
    EXPECT_EQ(done.last(), 2);  // the last report shows where the stop came
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(session.vSpr.row(r).flag, r < 2 ? QStringLiteral("2") : QStringLiteral("1"));
        EXPECT_EQ(session.vSpr.row(r).result.isEmpty(), r >= 2);
        EXPECT_EQ(QFileInfo::exists(p2(QStringLiteral("f%1.txt").arg(r + 1))), r < 2);
    }
    EXPECT_EQ(progress.messages(), QStringList{QStringLiteral("同期を実行しています")});
    EXPECT_TRUE(progress.stopShown());
    expectFinished();
    // The copies written ahead for the rows not reached are gone too.
    EXPECT_EQ(QDir(f2).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("f1.txt"), QStringLiteral("f2.txt")}));
}

// A copy written ahead is put in place only after its row's own checks at
// its turn: what changed in folder 2 meanwhile is met as without it.
TEST_F(SyncRunTest, CopiesWrittenAheadMeetTheDestinationAsItIsAtTheirTurn)
{
    for (int i = 1; i <= 4; ++i) {
        src(QStringLiteral("f%1.txt").arg(i), "new");
        fileRow(QString(), QStringLiteral("f%1").arg(i), QStringLiteral("txt"), QStringLiteral("追加"));
    }
    options(false, false, false);
    std::atomic<bool> first{true};  // the copies written ahead call the hook too, on their thread
    setFsHook([&](const char* point) {
        if (QByteArray(point) != "file:resolved" || !first.exchange(false))
            return;
        // Rows 3 and 4 are written ahead while row 1 goes on.
        const auto ahead = [&] {
            return QDir(f2).entryList({QStringLiteral(".f3.txt.velmor~*"), QStringLiteral(".f4.txt.velmor~*")},
                                      QDir::Files | QDir::Hidden).size();
        };
        for (int i = 0; i < 500 && ahead() < 2; ++i)
            QThread::msleep(10);
        EXPECT_EQ(ahead(), 2);
        makeDir(p2(QStringLiteral("f3.txt")));
        dst(QStringLiteral("f4.txt"), "theirs");
        ::chmod(QFile::encodeName(p2(QStringLiteral("f4.txt"))).constData(), 0444);
    });
    freezeSource();
    const SyncReport rep = SyncRun(session, {});
    setFsHook({});
    EXPECT_EQ(rep.failed, 2);
    const QStringList results = {QStringLiteral("追加"), QStringLiteral("追加"), QStringLiteral("追加 Err"),
                                 QStringLiteral("追加 Err")};
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(session.vSpr.row(r).result, results[r]) << r;
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("f3.txt"))).isDir());
    EXPECT_EQ(readFile(p2(QStringLiteral("f4.txt"))), QByteArray("theirs"));
    EXPECT_EQ(QDir(f2).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("f1.txt"), QStringLiteral("f2.txt"), QStringLiteral("f3.txt"),
                           QStringLiteral("f4.txt")}));
}

// A folder copied whole copies its files two at a time: every file, mode,
// time and link arrives as in folder 1; a file that cannot be replaced fails
// the row with its own name and leaves no temporary behind.
TEST_F(SyncRunTest, FolderCopiedWholeTwoFilesAtATime)
{
    const mode_t modes[] = {0644, 0600, 0755, 0444, 0640, 0700, 0664, 0604, 0666};
    for (int i = 0; i < 9; ++i) {
        for (const char* dir : {"a", "a/sub"}) {
            const QString rel = QStringLiteral("%1/f%2").arg(QLatin1String(dir)).arg(i);
            src(rel, QByteArray(i * 1000, char('a' + i)), At(i + 1));
            ::chmod(QFile::encodeName(p1(rel)).constData(), modes[i]);
        }
    }
    ASSERT_EQ(::symlink("f1", QFile::encodeName(p1(QStringLiteral("a/link"))).constData()), 0);
    // Two names of one file, and a folder its owner may not write to (the
    // copy fills it first and gives it its mode last).
    ASSERT_EQ(::link(QFile::encodeName(p1(QStringLiteral("a/f2"))).constData(),
                     QFile::encodeName(p1(QStringLiteral("a/sub/twin"))).constData()), 0);
    src(QStringLiteral("a/shut/in"), "in");
    ::chmod(QFile::encodeName(p1(QStringLiteral("a/shut"))).constData(), 0555);
    // One at a time, and many at a time as onto a slow destination.
    for (const auto& [readOnlyInTheWay, jobs] : {std::pair{false, 1}, std::pair{true, 1}, std::pair{false, 8},
                                                 std::pair{true, 8}}) {
        SCOPED_TRACE(testing::Message() << readOnlyInTheWay << " jobs " << jobs);
        session.panel.nJobs = jobs;
        session.vSpr.clear();
        if (Exists(p2(QStringLiteral("a/shut"))))
            ::chmod(QFile::encodeName(p2(QStringLiteral("a/shut"))).constData(), 0755);
        std::filesystem::remove_all(QFile::encodeName(p2(QStringLiteral("a"))).toStdString());
        if (readOnlyInTheWay) {
            dst(QStringLiteral("a/f5"), "theirs");
            ::chmod(QFile::encodeName(p2(QStringLiteral("a/f5"))).constData(), 0444);
        }
        folderRow(QStringLiteral("a"), QStringLiteral("追加"));
        options(false, false, false);
        const SyncReport rep = run();
        EXPECT_EQ(rep.failed, readOnlyInTheWay ? 1 : 0);
        if (!readOnlyInTheWay) {
            EXPECT_EQ(TreeFingerprint(p2(QStringLiteral("a"))), TreeFingerprint(p1(QStringLiteral("a"))));
            struct stat one {}, two {};
            ASSERT_EQ(::stat(QFile::encodeName(p2(QStringLiteral("a/f2"))).constData(), &one), 0);
            ASSERT_EQ(::stat(QFile::encodeName(p2(QStringLiteral("a/sub/twin"))).constData(), &two), 0);
            EXPECT_EQ(one.st_ino, two.st_ino) << "two names of one file stay one file";
            continue;
        }
        EXPECT_TRUE(session.vSpr.row(0).why().contains(QStringLiteral("a/f5"))) << session.vSpr.row(0).why().toStdString();
        EXPECT_EQ(readFile(p2(QStringLiteral("a/f5"))), QByteArray("theirs"));
        EXPECT_TRUE(QDir(p2(QStringLiteral("a"))).entryList({QStringLiteral(".*velmor~*")}, QDir::Files | QDir::Hidden).isEmpty());
    }
}

// Every copy's data is written once, ahead of its row's turn or at it; and
// nothing new is written into a folder that holds temporaries of a dead run
// before they are gone.
TEST_F(SyncRunTest, EachCopyIsWrittenOnceAndNeverBesideADeadRunsTemporaries)
{
    dst(QStringLiteral("gone.txt"), "x");
    fileRow(QString(), QStringLiteral("gone"), QStringLiteral("txt"), QStringLiteral("削除"));
    for (const QString& dir : {QStringLiteral("a"), QStringLiteral("d")}) {
        makeDir(p2(dir));
        for (int i = 1; i <= 3; ++i) {
            src(dir + QStringLiteral("/f%1.txt").arg(i), QByteArray(i * 10, 'x'));
            fileRow(dir, QStringLiteral("f%1").arg(i), QStringLiteral("txt"), QStringLiteral("追加"));
        }
    }
    const QString dead = p2(QStringLiteral("d/.f1.txt.velmor~Ab3dE6"));
    writeFile(dead, "half a copy");
    markAsTemp(dead);
    session.vTmpLeft = {QStringLiteral("d")};
    options(false, false, false);
    std::atomic<int> written{0}, besideDead{0};  // the copies written ahead call the hook on their thread
    setFsHook([&](const char* point) {
        if (QByteArray(point) != "copy:data-written")
            return;
        ++written;
        if (Exists(dead) && QDir(p2(QStringLiteral("d"))).entryList({QStringLiteral(".*velmor~*")}, QDir::Files | QDir::Hidden).size() > 1)
            ++besideDead;
    });
    const SyncReport rep = run();
    setFsHook({});
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(written.load(), 6);
    EXPECT_EQ(besideDead.load(), 0);
    EXPECT_EQ(QDir(p2(QStringLiteral("d"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("f1.txt"), QStringLiteral("f2.txt"), QStringLiteral("f3.txt")}));
    for (const char* f : {"a/f1.txt", "a/f2.txt", "a/f3.txt", "d/f1.txt", "d/f2.txt", "d/f3.txt"})
        EXPECT_EQ(readFile(p2(QLatin1String(f))), readFile(p1(QLatin1String(f)))) << f;
}

// Logs and backups never go into folder 2 itself, however it is named; a
// history folder below it is neither written into nor removed by rows (of
// a comparison made before it was chosen).
TEST_F(SyncRunTest, RowsNeverReachTheHistoryFolderInFolder2)
{
    dst(QStringLiteral("keep/hist/Log/2001-01-01.log"), "old log");
    dst(QStringLiteral("keep/x.txt"), "x");
    folderRow(QStringLiteral("keep"), QStringLiteral("削除"));
    fileRow(QStringLiteral("keep/hist/Log"), QStringLiteral("2001-01-01"), QStringLiteral("log"), QStringLiteral("削除"));
    const QString viaLink = tmp.path() + QStringLiteral("/to-mirror");
    ASSERT_TRUE(QFile::link(f2, viaLink));
    freezeSource();
    const QByteArray before = TreeFingerprint(f2);
    for (const QString& hist : {f2, viaLink}) {
        SCOPED_TRACE(hist.toStdString());
        options(true, true, false);
        session.panel.txFold = hist;
        EXPECT_EQ(run().outcome, SyncReport::Outcome::Refused);
        EXPECT_EQ(prompt->messages.value(prompt->messages.size() - 1), SyncMsg::HistoryInRoot);
        EXPECT_EQ(TreeFingerprint(f2), before);
    }
    options(true, false, false);
    session.panel.txFold = p2(QStringLiteral("keep/hist"));
    const SyncReport rep = run();
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.failed, 2);
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(session.vSpr.row(r).result, QStringLiteral("削除 Err")) << r;
    EXPECT_EQ(readFile(p2(QStringLiteral("keep/hist/Log/2001-01-01.log"))), QByteArray("old log"));
    EXPECT_EQ(readFile(p2(QStringLiteral("keep/x.txt"))), QByteArray("x"));
    EXPECT_TRUE(rep.logFile.startsWith(p2(QStringLiteral("keep/hist/Log/"))));
}

TEST_F(SyncRunTest, ARunningRunCannotBeEnteredAgain)
{
    src(QStringLiteral("a.txt"), "a");
    fileRow(QString(), QStringLiteral("a"), QStringLiteral("txt"), QStringLiteral("追加"));
    options(false, false, false);
    session.bRunning = true;
    EXPECT_EQ(run().outcome, SyncReport::Outcome::Busy);
    EXPECT_EQ(prompt->messages, QStringList{QStringLiteral("比較または同期を実行中です")});
    EXPECT_TRUE(session.bRunning);
    EXPECT_FALSE(session.syncEnabled);
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("a.txt"))));
    EXPECT_EQ(session.vSpr.row(0).flag, QStringLiteral("1"));

    // Re-entry from inside the walk (the event loop runs between rows).
    session.bRunning = false;
    SyncHooks hooks;
    SyncReport inner;
    hooks.showRow = [&](int) { inner = SyncRun(session); };
    EXPECT_EQ(SyncRun(session, hooks).outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(inner.outcome, SyncReport::Outcome::Busy);
    EXPECT_EQ(session.vSpr.row(0).result, QStringLiteral("追加"));
}

TEST_F(SyncRunTest, BackupFoldersAndLogsPerRun)
{
    src(QStringLiteral("d/page.txt"), "v2", At(9));
    dst(QStringLiteral("d/page.txt"), "v1", At(8));
    dst(QStringLiteral("d/old.txt"), "old");
    dst(QStringLiteral("gone/x.txt"), "x");
    folderRow(QStringLiteral("gone"), QStringLiteral("削除"));
    fileRow(QStringLiteral("d"), QStringLiteral("page"), QStringLiteral("txt"), QStringLiteral("上書"));
    fileRow(QStringLiteral("d"), QStringLiteral("old"), QStringLiteral("txt"), QStringLiteral("削除"));
    options(true, true, true);

    const SyncReport first = run();
    EXPECT_EQ(first.failed, 0);
    const QString day = bk + QStringLiteral("/BackUp/") + today() + QLatin1Char('/');
    EXPECT_EQ(first.sBkFld, day);
    EXPECT_EQ(first.logFile, bk + QStringLiteral("/Log/") + today() + QStringLiteral(".log"));
    EXPECT_EQ(readFile(p2(QStringLiteral("d/page.txt"))), QByteArray("v2"));
    EXPECT_EQ(readFile(day + QStringLiteral("mirror/d/page.txt")), QByteArray("v1"));
    EXPECT_EQ(readFile(day + QStringLiteral("mirror/d/old.txt")), QByteArray("old"));
    EXPECT_EQ(readFile(day + QStringLiteral("mirror/gone/x.txt")), QByteArray("x"));
    EXPECT_FALSE(QFileInfo::exists(trashDir + QStringLiteral("/files")));  // saved, not recycled
    EXPECT_EQ(LogLines(first.logFile),
              (QStringList{logtx::moved(p2(QStringLiteral("gone")), day + QStringLiteral("mirror/gone")),
                           logtx::moved(p2(QStringLiteral("d/page.txt")), day + QStringLiteral("mirror/d/page.txt")),
                           logtx::overwritten(p1(QStringLiteral("d/page.txt")), p2(QStringLiteral("d/page.txt"))),
                           logtx::moved(p2(QStringLiteral("d/old.txt")), day + QStringLiteral("mirror/d/old.txt"))}));

    // Second run the same day: "~1" for both; a run that saves nothing
    // creates no backup folder.
    dst(QStringLiteral("d/old.txt"), "old again");
    session.vSpr.row(2).flag = QStringLiteral("1");
    const SyncReport second = run();
    EXPECT_EQ(second.sBkFld, bk + QStringLiteral("/BackUp/") + today() + QStringLiteral("~1/"));
    EXPECT_EQ(second.logFile, bk + QStringLiteral("/Log/") + today() + QStringLiteral("~1.log"));
    EXPECT_EQ(readFile(second.sBkFld + QStringLiteral("mirror/d/old.txt")), QByteArray("old again"));
    const SyncReport third = run();
    EXPECT_EQ(third.processed, 0);
    EXPECT_EQ(third.sBkFld, bk + QStringLiteral("/BackUp/") + today() + QStringLiteral("~2/"));
    EXPECT_FALSE(QFileInfo::exists(third.sBkFld));
    EXPECT_TRUE(LogLines(third.logFile).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(third.logFile));
}

} // namespace
} // namespace velmor::test
