// The whole comparison run: statuses in the grid, display modes, stops,
// refusals and large lists.
#include "CmpFixture.h"

#include <QDir>
#include <QFile>

using namespace velmor;
using namespace velmor::test;

namespace {

const QDateTime kOld(QDate(2009, 12, 21), QTime(17, 5));
const QDateTime kNew(QDate(2009, 12, 21), QTime(17, 6));

class RunTest : public CmpFixture {
protected:
    // A tree with one row of each kind below "w" (on both sides).
    void mixedTree()
    {
        makeDir(src + QStringLiteral("/w"));
        makeDir(dst + QStringLiteral("/w"));
        file(src + QStringLiteral("/w/same.txt"), "1", kOld);
        file(dst + QStringLiteral("/w/same.txt"), "2", kOld);
        // Rewritten within the same minute: the date texts are equal, the
        // sizes are not, so the copy is stale.
        file(src + QStringLiteral("/w/stale.txt"), "22", kOld.addSecs(30));
        file(dst + QStringLiteral("/w/stale.txt"), "1", kOld);
        file(src + QStringLiteral("/w/newer1.txt"), "x", kNew);
        file(dst + QStringLiteral("/w/newer1.txt"), "x", kOld);
        file(src + QStringLiteral("/w/newer2.txt"), "x", kOld);
        file(dst + QStringLiteral("/w/newer2.txt"), "x", kNew);
        file(src + QStringLiteral("/w/add.txt"));
        file(dst + QStringLiteral("/w/only2.txt"));
        makeDir(src + QStringLiteral("/addme"));
        makeDir(dst + QStringLiteral("/delme"));
    }
};

} // namespace

TEST_F(RunTest, StatusesKeepNewerAndDeleteSwitch)
{
    mixedTree();
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_TRUE(s.bCmpd);
    EXPECT_TRUE(s.syncEnabled);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("same"), QStringLiteral("txt")), St::Same);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("stale"), QStringLiteral("txt")), St::Over);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("newer1"), QStringLiteral("txt")), St::Over);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("newer2"), QStringLiteral("txt")), St::Over);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("add"), QStringLiteral("txt")), St::Add);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("only2"), QStringLiteral("txt")), St::None);
    EXPECT_EQ(gridStatus(QStringLiteral("addme")), St::Add);
    EXPECT_EQ(gridStatus(QStringLiteral("delme")), St::None);
    EXPECT_EQ(gridStatus(QStringLiteral("w")), QStringLiteral("<absent>")) << "比較 folders are never listed";

    s.panel.chRet[0] = true;  // keep newer
    s.panel.chRet[1] = true;  // delete
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("newer1"), QStringLiteral("txt")), St::Over);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("newer2"), QStringLiteral("txt")), St::None);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("only2"), QStringLiteral("txt")), St::Del);
    EXPECT_EQ(gridStatus(QStringLiteral("delme")), St::Del);

    // Folder rows come first, running numbers follow the fill order.
    for (int i = 0; i < s.vSpr.rowCount(); ++i)
        EXPECT_EQ(s.vSpr.row(i).no, i + 1);
    EXPECT_TRUE(s.vSpr.row(0).isFolderRow());
    EXPECT_FALSE(s.vSpr.row(s.vSpr.rowCount() - 1).isFolderRow());
}

TEST_F(RunTest, RowsWithoutStatusAreClassifiedAfterTheScan)
{
    mixedTree();
    load();
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const auto complete = files();
    // The scan classified every row; rows that lost their status (an
    // interrupted scan of an older run, other writers) get it back, and
    // rows that have one keep it.
    s.oDb.exec(QStringLiteral("Update tbFile Set sED = '' Where sFL <> 'same.txt'"));
    s.oDb.exec(QStringLiteral("Update tbFile Set sED = Null Where sFL = 'add.txt'"));
    pg.cMsg(CmpMsg::FilePhase, true);
    ClsFile(s);
    EXPECT_EQ(files(), complete);
    s.oDb.exec(QStringLiteral("Update tbFile Set sED = '上書' Where sFL = 'same.txt'"));
    ClsFile(s);
    EXPECT_EQ(files().at(QStringLiteral("w|same.txt")), St::Over) << "nothing to do: rows are left as they are";
}

TEST_F(RunTest, WhichSideIsNewerIsDecidedOnExactTimes)
{
    // Exact times set with utimensat (nanoseconds); the date texts stay as shown.
    const auto at = [](const QString& path, const QDateTime& t, long ns = 0) {
        const struct timespec ts[2] = {{t.toSecsSinceEpoch(), ns}, {t.toSecsSinceEpoch(), ns}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), ts, 0), 0) << path.toStdString();
    };
    const QDateTime y1999(QDate(1999, 6, 1), QTime(12, 0)), y2026(QDate(2026, 6, 1), QTime(12, 0));
    struct Case {
        const char* name;
        QDateTime t1;
        long ns1;
        QByteArray bytes1;
        QDateTime t2;
        long ns2;
        QByteArray bytes2;
        QString want;  // with keep newer on
    };
    const Case cases[] = {
        {"new", y2026, 0, "x", y1999, 0, "x", St::Over},
        {"old", y1999, 0, "x", y2026, 0, "x", St::None},
        {"minute", kOld, 0, "22", kOld, 0, "1", St::Over},
        {"later2", kOld, 5, "22", kOld, 6, "1", St::None},
        {"equal", kOld, 5, "1", kOld, 900, "2", St::Same},
        {"seconds", kOld, 0, "1", kOld.addSecs(20), 0, "2", St::None},
    };
    makeDir(src + QStringLiteral("/y"));
    makeDir(dst + QStringLiteral("/y"));
    for (const Case& c : cases) {
        const QString name = QLatin1String(c.name) + QStringLiteral(".txt");
        writeFile(src + QStringLiteral("/y/") + name, c.bytes1);
        writeFile(dst + QStringLiteral("/y/") + name, c.bytes2);
        at(src + QStringLiteral("/y/") + name, c.t1, c.ns1);
        at(dst + QStringLiteral("/y/") + name, c.t2, c.ns2);
    }
    load();
    s.panel.chRet[0] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const ResultRow* r = row(QStringLiteral("y"), QStringLiteral("new"), QStringLiteral("txt"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->u1, QStringLiteral("26/06/01 12:00"));
    EXPECT_EQ(r->u2, QStringLiteral("99/06/01 12:00"));
    for (const Case& c : cases)
        EXPECT_EQ(gridStatus(QStringLiteral("y"), QLatin1String(c.name), QStringLiteral("txt")), c.want) << c.name;

    // A later pass over rows left without a status decides on the same times.
    const auto complete = files();
    s.oDb.exec(QStringLiteral("Update tbFile Set sED = ''"));
    pg.cMsg(CmpMsg::FilePhase, true);
    ClsFile(s);
    EXPECT_EQ(files(), complete);
}

TEST_F(RunTest, ARefillShowsThisProcesssComparisonAfterAnotherOnesRun)
{
    // Another window or velmor-cli on the same user data folder (a session
    // with a work database of its own) compares other roots in between.
    file(src + QStringLiteral("/keep/mine.txt"));
    makeDir(dst + QStringLiteral("/keep"));
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);

    const QString o1 = tmp.path() + QStringLiteral("/o1"), o2 = tmp.path() + QStringLiteral("/o2");
    file(o1 + QStringLiteral("/sub/theirs.txt"));
    makeDir(o2 + QStringLiteral("/other"));
    FolderTree b1, b2;
    Session b;
    b.progress = &pg;
    b.tree1 = &b1;
    b.tree2 = &b2;
    b.panel.chRet[1] = true;
    b1.setChkBx(true);
    b1.setRoot(o1);
    b1.ExpndALL(2, true);
    b1.setPath(o1);
    b1.SetChkBx(true);
    b2.setRoot(o2);
    ASSERT_EQ(CmpRun(b), CmpOutcome::Done);
    ASSERT_NE(b.vSpr.rowCount(), 0);

    // A display mode change here refills the grid from this comparison only.
    for (int mode : {0, 2}) {
        s.nDispMd = mode;
        ASSERT_TRUE(LstFill(s));
        EXPECT_EQ(gridStatus(QStringLiteral("keep"), QStringLiteral("mine"), QStringLiteral("txt")), St::Add) << mode;
        EXPECT_EQ(gridStatus(QStringLiteral("sub"), QStringLiteral("theirs"), QStringLiteral("txt")),
                  QStringLiteral("<absent>"));
        EXPECT_EQ(gridStatus(QStringLiteral("other")), QStringLiteral("<absent>")) << mode;
    }
}

TEST_F(RunTest, OwnFilesAttributesAndFilters)
{
    makeDir(src + QStringLiteral("/f"));
    makeDir(dst + QStringLiteral("/f"));
    for (const char* n : {"sync.MDB", "xml", "old.BAK", "readme.txt", "index.html", "logo.gif", "ro.txt"}) {
        file(src + QStringLiteral("/f/") + QLatin1String(n), "x", kNew);
        file(dst + QStringLiteral("/f/") + QLatin1String(n), "x", kOld);
    }
    QFile::setPermissions(dst + QStringLiteral("/f/ro.txt"), QFileDevice::ReadOwner);
    load();
    s.panel.chRet[1] = true;  // delete
    s.panel.chRet[5] = true;  // protect read-only
    s.panel.cbFlt = 1;
    s.panel.txFlt = QStringLiteral("bak,\r\ntmp");
    ASSERT_EQ(run(), CmpOutcome::Done);
    auto fi = files();
    EXPECT_EQ(fi.at(QStringLiteral("f|sync.MDB")), St::Del) << "own file, delete switch on, both sides";
    EXPECT_EQ(fi.at(QStringLiteral("f|xml")), St::Del);
    EXPECT_EQ(fi.at(QStringLiteral("f|old.BAK")), St::Del);
    EXPECT_EQ(fi.at(QStringLiteral("f|readme.txt")), St::Over);
    EXPECT_EQ(fi.at(QStringLiteral("f|ro.txt")), St::Excl) << "a protected copy is never deleted";

    s.panel.chRet[1] = false;
    s.panel.cbFlt = 2;
    s.panel.txFlt = QStringLiteral("*.htm*");
    ASSERT_EQ(run(), CmpOutcome::Done);
    fi = files();
    EXPECT_EQ(fi.at(QStringLiteral("f|index.html")), St::Over);
    EXPECT_EQ(fi.at(QStringLiteral("f|logo.gif")), St::Excl);
    EXPECT_EQ(fi.at(QStringLiteral("f|sync.MDB")), St::Excl);
    EXPECT_EQ(s.vFltEx, (QStringList{QStringLiteral("bak"), QStringLiteral("tmp")})) << "the other list is kept";

    // Choice 2 with an empty text: every file passes.
    s.panel.txFlt.clear();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(files().at(QStringLiteral("f|logo.gif")), St::Over);
}

TEST_F(RunTest, PatternsInTheGridAndDisplayModes)
{
    mixedTree();
    file(src + QStringLiteral("/w/run.cgi"), "x", kNew);
    file(dst + QStringLiteral("/w/run.cgi"), "x", kOld);
    makeDir(src + QStringLiteral("/w/img"));
    makeDir(dst + QStringLiteral("/w/img"));
    file(src + QStringLiteral("/w/img/a.gif"));
    file(src + QStringLiteral("/w/img/b.png"));
    load();
    s.panel.chRet[1] = true;
    s.panel.txHogo = QStringLiteral("*.cgi,only2.txt");
    s.panel.txJogai = QStringLiteral("img\\*.gif,*.cgi");
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("run"), QStringLiteral("cgi")), St::Prot);
    EXPECT_EQ(row(QStringLiteral("w"), QStringLiteral("run"), QStringLiteral("cgi"))->flag, QStringLiteral("0"));
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("only2"), QStringLiteral("txt")), St::Prot);
    EXPECT_EQ(gridStatus(QStringLiteral("w/img"), QStringLiteral("a"), QStringLiteral("gif")), St::Excl);
    EXPECT_EQ(gridStatus(QStringLiteral("w/img"), QStringLiteral("b"), QStringLiteral("png")), St::Add);
    EXPECT_EQ(files().at(QStringLiteral("w|run.cgi")), St::Over) << "patterns never change tbFile";

    // Mode 1: only "上書", "追加", "削除" rows (stored status), flags as shown.
    s.nDispMd = 1;
    ASSERT_TRUE(LstFill(s));
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("same"), QStringLiteral("txt")), QStringLiteral("<absent>"));
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("run"), QStringLiteral("cgi")), St::Prot);
    EXPECT_EQ(gridStatus(QStringLiteral("addme")), St::Add);
    EXPECT_EQ(gridStatus(QStringLiteral("delme")), St::Del);
    for (const ResultRow& r : s.vSpr.rows()) {
        if (r.isFolderRow()) {
            EXPECT_TRUE(r.status == St::Add || r.status == St::Del) << r.status;
        }
    }

    // Mode 2: everything but "同一".
    s.nDispMd = 2;
    ASSERT_TRUE(LstFill(s));
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("same"), QStringLiteral("txt")), QStringLiteral("<absent>"));
    EXPECT_EQ(gridStatus(QStringLiteral("w"), QStringLiteral("newer1"), QStringLiteral("txt")), St::Over);

    // Mode 0: "同一" listed with flag "0".
    s.nDispMd = 0;
    ASSERT_TRUE(LstFill(s));
    const ResultRow* same = row(QStringLiteral("w"), QStringLiteral("same"), QStringLiteral("txt"));
    ASSERT_TRUE(same);
    EXPECT_EQ(same->flag, QStringLiteral("0"));
    const ResultRow* stale = row(QStringLiteral("w"), QStringLiteral("stale"), QStringLiteral("txt"));
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->text(5), QStringLiteral("2"));
    EXPECT_EQ(stale->text(9), QStringLiteral("1"));

    // Changing a pattern applies at the next fill; an invalid one is
    // reported and leaves the grid as it was.
    const int before = s.vSpr.rowCount();
    s.panel.txHogo = QStringLiteral("[oops");
    EXPECT_FALSE(LstFill(s));
    EXPECT_EQ(s.vSpr.rowCount(), before);
    EXPECT_EQ(prompt->messages.last(), CmpMsg::BadPattern + QStringLiteral("[oops"));
}

TEST_F(RunTest, StopInEachPhase)
{
    mixedTree();
    makeDir(dst + QStringLiteral("/delme2"));
    // A second compared folder: the scan writes a folder's rows together, so
    // a stop seen after the first folder leaves this one unwritten.
    makeDir(src + QStringLiteral("/x"));
    makeDir(dst + QStringLiteral("/x"));
    file(src + QStringLiteral("/x/later.txt"));
    load();
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const long long filesBefore = count(QStringLiteral("tbFile"));
    ASSERT_GT(filesBefore, 0);
    const auto complete = files();

    StopWhen sp;
    s.progress = &sp;
    const auto q = [&](const char* sql) {
        QVariantList v(1);
        s.oDb.R_PAry(QString::fromUtf8(sql), v);
        return v[0].toLongLong();
    };
    struct Case {
        const char* name;
        std::function<bool()> when;
    };
    const std::vector<Case> cases = {
        {"folder-1 scan", [&] { return q("Select Count(*) From tbFold") >= 1; }},
        {"folder-2 scan", [&] { return q("Select Count(*) From tbFold Where sU2 <> ''") >= 1; }},
        {"folder classification", [&] { return q("Select Count(*) From tbFold Where sED Not In ('', '空')") >= 1; }},
        {"file scan", [&] { return sp.msg == CmpMsg::FilePhase && q("Select Count(*) From tbFile") >= 1; }},
        {"file classification", [&] { return q("Select Count(*) From tbFile Where sED <> ''") >= 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sp.stop = c.when;
        EXPECT_EQ(run(), CmpOutcome::Stopped);
        EXPECT_EQ(s.vSpr.rowCount(), 0) << "a stopped run leaves the grid empty";
        EXPECT_TRUE(s.bCmpd) << "kept from the earlier run";
        EXPECT_FALSE(sp.run);
        EXPECT_FALSE(s.bRunning);
    }
    // The last stop came once the file scan had written a row: every row
    // written carries its final status (the scan classifies as it writes).
    const long long filesLeft = count(QStringLiteral("tbFile"));
    EXPECT_GE(filesLeft, 1);
    EXPECT_LT(filesLeft, filesBefore);
    EXPECT_EQ(q("Select Count(*) From tbFile Where sED = ''"), 0);
    for (const auto& [key, status] : files())
        EXPECT_EQ(status, complete.at(key)) << key.toStdString();

    // A stop in the folder phase leaves the previous run's file rows.
    sp.stop = [&] { return q("Select Count(*) From tbFold Where sU2 <> ''") >= 1; };
    EXPECT_EQ(run(), CmpOutcome::Stopped);
    EXPECT_EQ(count(QStringLiteral("tbFile")), filesLeft);
    EXPECT_GT(q("Select Count(*) From tbFold Where sED = ''"), 0) << "not classified";

    // Switching the display mode afterwards lists the partial tables.
    sp.stop = nullptr;
    EXPECT_TRUE(LstFill(s));
    EXPECT_GT(s.vSpr.rowCount(), 0);

    // A stop while the grid fills keeps the rows filled so far.
    sp.stop = [&] { return sp.msg == CmpMsg::Fill && s.vSpr.rowCount() >= 2; };
    EXPECT_EQ(run(), CmpOutcome::Stopped);
    EXPECT_EQ(s.vSpr.rowCount(), 2);
}

// Folder 2 swapped for another folder while the comparison runs: the run
// ends with the reason, and nothing of the other folder is listed.
TEST_F(RunTest, ARootReplacedDuringTheRunEndsIt)
{
    mixedTree();
    load();
    StopWhen sp;
    s.progress = &sp;
    bool swapped = false;
    sp.stop = [&] {
        if (!swapped) {
            swapped = QDir().rename(dst, dst + QStringLiteral(".old"));
            makeDir(dst + QStringLiteral("/w"));
            file(dst + QStringLiteral("/w/intruder.txt"));
        }
        return false;
    };
    EXPECT_EQ(run(), CmpOutcome::Failed);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(s.vSpr.rowCount(), 0);
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].contains(dst + QStringLiteral(": no longer the folder the comparison began with")))
        << prompt->messages[0].toStdString();
}

TEST_F(RunTest, MoreThanTenThousandFileRowsAreAllListed)
{
    makeDir(src + QStringLiteral("/big"));
    makeDir(dst + QStringLiteral("/big"));
    for (int i = 0; i < 10050; ++i)
        writeFile(src + QStringLiteral("/big/f%1.dat").arg(i, 5, 10, QLatin1Char('0')), QByteArray());
    const struct timespec old[2] = {{0, UTIME_OMIT}, {946684800, 0}};  // folder 2's folder is older
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dst + QStringLiteral("/big")).constData(), old, 0), 0);
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(count(QStringLiteral("tbFile")), 10050);
    // The folder row comes first: its time differs (files were added).
    EXPECT_EQ(s.vSpr.rowCount(), 10051);
    EXPECT_EQ(s.vSpr.row(0).result, kMetaOnly);
    EXPECT_EQ(s.vSpr.row(10050).no, 10051);
    EXPECT_EQ(s.vSpr.row(10050).name, QStringLiteral("f10049"));
}

TEST_F(RunTest, RefusesEqualNestedAndFallbackRoots)
{
    mixedTree();
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    const int rows = s.vSpr.rowCount();
    const auto folds0 = folds();
    const auto refusedWith = [&](const QString& msg) {
        prompt->messages.clear();
        EXPECT_EQ(run(), CmpOutcome::Refused);
        EXPECT_EQ(prompt->messages, QStringList{msg});
        EXPECT_EQ(s.vSpr.rowCount(), rows) << "nothing was touched";
        EXPECT_EQ(folds(), folds0);
        EXPECT_EQ(s.sFld1, src);
        EXPECT_FALSE(s.bRunning);
    };

    t2.setRoot(src);
    refusedWith(CmpMsg::Nested);
    t2.setRoot(src + QStringLiteral("/w"));
    refusedWith(CmpMsg::Nested);
    t2.setRoot(tmp.path());
    refusedWith(CmpMsg::Nested);
    // Through a symbolic link to the same folder.
    ASSERT_TRUE(QFile::link(src, tmp.path() + QStringLiteral("/srclink")));
    t2.setRoot(tmp.path() + QStringLiteral("/srclink"));
    refusedWith(CmpMsg::Nested);

    t2.setRoot(tmp.path() + QStringLiteral("/missing"));
    ASSERT_TRUE(t2.rootFellBack());
    refusedWith(CmpMsg::Root2Missing);
    t2.setRoot(dst);
    t1.setRoot(tmp.path() + QStringLiteral("/missing"));
    refusedWith(CmpMsg::Root1Missing);

    // An invalid filter pattern is refused before anything changes.
    t1.setRoot(src);
    s.panel.cbFlt = 2;
    s.panel.txFlt = QStringLiteral("[a-");
    refusedWith(CmpMsg::BadPattern + QStringLiteral("[a-"));

    // A run cannot start while another one runs.
    s.panel.cbFlt = 0;
    s.bRunning = true;
    prompt->messages.clear();
    EXPECT_EQ(run(), CmpOutcome::Refused);
    EXPECT_EQ(prompt->messages, QStringList{CmpMsg::Busy});
    EXPECT_TRUE(s.bRunning) << "the other run's flag is left alone";
    s.bRunning = false;
}

TEST_F(RunTest, ContainersInTheGrid)
{
    makeDir(src + QStringLiteral("/a/b/c"));
    makeDir(src + QStringLiteral("/k/l"));
    makeDir(dst + QStringLiteral("/k"));
    load(false);
    tick(QStringLiteral("a/b/c"), true);
    tick(QStringLiteral("k/l"), true);
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(gridStatus(QStringLiteral("a")), St::KaraAdd);
    EXPECT_EQ(gridStatus(QStringLiteral("a/b")), St::KaraAdd);
    EXPECT_EQ(gridStatus(QStringLiteral("k")), St::Kara);
    EXPECT_EQ(row(QStringLiteral("k"))->flag, QStringLiteral("1"));
    // Mode 1 leaves containers out.
    s.nDispMd = 1;
    ASSERT_TRUE(LstFill(s));
    EXPECT_EQ(gridStatus(QStringLiteral("a")), QStringLiteral("<absent>"));
    EXPECT_EQ(gridStatus(QStringLiteral("a/b/c")), St::Add);

    s.panel.chRet[1] = false;
    s.nDispMd = 0;
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(gridStatus(QStringLiteral("k")), St::None);
    EXPECT_EQ(row(QStringLiteral("k"))->flag, QStringLiteral("0"));
}
