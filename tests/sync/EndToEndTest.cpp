// Compare, synchronise, compare again: the second comparison finds nothing
// left to do, and folder 1 is untouched.
#include "EndToEndFixture.h"

#include "compare/Compare.h"
#include "env/FsList.h"
#include "env/Usr.h"
#include "sync/SyncPlan.h"
#include "tree/FolderTree.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::test {
namespace {

using namespace Qt::Literals::StringLiterals;

TEST_F(EndToEndTest, SyncThenCompareFindsOnlyIdenticalFiles)
{
    src(QStringLiteral("web/index.html"), "new index", At(10, 12, 30));
    dst(QStringLiteral("web/index.html"), "old index", At(10, 12, 29));
    src(QStringLiteral("web/.htaccess"), "deny");
    src(QStringLiteral("web/README"), "readme");
    src(QStringLiteral("web/Bob's notes.txt"), "apostrophe");
    src(QStringLiteral("web/日本語 ﾌｧｲﾙ.txt"), "unicode");
    src(QStringLiteral("web/img/new/a.png"), "png", At(11));
    src(QStringLiteral("web/img/same.gif"), "gif", At(3));
    dst(QStringLiteral("web/img/same.gif"), "gif", At(3));
    dst(QStringLiteral("web/stale.txt"), "stale");
    dst(QStringLiteral("web/oldfolder/x/y.txt"), "old folder");
    ASSERT_TRUE(QFile::link(QStringLiteral("index.html"), p1(QStringLiteral("web/link.html"))));
    session.panel.chRet[1] = true;  // delete what folder 1 lacks
    options(true, true, false);
    tick({QString()});

    const QStringList before = compare();
    EXPECT_TRUE(before.contains(QStringLiteral("web/img/new||追加|1"))) << before.join(u'\n').toStdString();
    EXPECT_TRUE(before.contains(QStringLiteral("web/oldfolder||削除|1")));
    EXPECT_TRUE(before.contains(QStringLiteral("web|index.html|上書|1")));
    EXPECT_TRUE(before.contains(QStringLiteral("web|stale.txt|削除|1")));

    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.failed, 0);
    for (const ResultRow& r : session.vSpr.rows())
        EXPECT_EQ(r.flag, r.status == QStringLiteral("同一") ? QStringLiteral("0") : QStringLiteral("2")) << r.path.toStdString();
    EXPECT_EQ(readFile(rep.sBkFld + QStringLiteral("mirror/web/index.html")), QByteArray("old index"));
    EXPECT_EQ(readFile(rep.sBkFld + QStringLiteral("mirror/web/oldfolder/x/y.txt")), QByteArray("old folder"));
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("web/link.html"))).isSymLink());

    const QStringList after = compare();
    EXPECT_FALSE(after.isEmpty());
    for (const QString& s : statuses())
        EXPECT_EQ(s, QStringLiteral("同一")) << after.join(u'\n').toStdString();
    EXPECT_EQ(after.size(), 8);  // every file of folder 1, the link included
}

TEST_F(EndToEndTest, ContainersOfATickedFolder)
{
    src(QStringLiteral("a/b/c/f.txt"), "f");
    src(QStringLiteral("a/top.txt"), "not compared: a is only a container");
    dst(QStringLiteral("keep/k.txt"), "k");

    // Delete switch off: the containers are "**" and stay so.
    tick({QStringLiteral("a/b/c")});
    QStringList rows = compare();
    EXPECT_EQ(rows, (QStringList{QStringLiteral("a/b/c||追加|1"), QStringLiteral("a||**|0"),
                                 QStringLiteral("a/b||**|0"), QStringLiteral("keep||**|0")}));
    EXPECT_EQ(SyncRun(session).failed, 0);
    rows = compare();
    EXPECT_EQ(rows, (QStringList{QStringLiteral("a||**|0"), QStringLiteral("a/b||**|0"),
                                 QStringLiteral("keep||**|0"), QStringLiteral("a/b/c|f.txt|同一|0")}));
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("a/top.txt"))));
}

TEST_F(EndToEndTest, ContainerCreatedByItsSubfolderEndsInErr)
{
    src(QStringLiteral("a/b/c/f.txt"), "f");
    session.panel.chRet[1] = true;
    tick({QStringLiteral("a/b/c")});
    EXPECT_EQ(compare(), (QStringList{QStringLiteral("a/b/c||追加|1"), QStringLiteral("a||空追|1"),
                                      QStringLiteral("a/b||空追|1")}));
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 2);
    EXPECT_EQ(statuses(), (QStringList{QStringLiteral("追加"), QStringLiteral("空追"), QStringLiteral("空追")}));
    QStringList results;
    for (const ResultRow& r : session.vSpr.rows())
        results << r.result;
    EXPECT_EQ(results, (QStringList{QStringLiteral("追加"), QStringLiteral("空追 Err"), QStringLiteral("空追 Err")}));
    EXPECT_TRUE(session.vSpr.row(1).red);
    EXPECT_EQ(readFile(p2(QStringLiteral("a/b/c/f.txt"))), QByteArray("f"));
    // Next time the containers exist on both sides.
    EXPECT_EQ(compare(), (QStringList{QStringLiteral("a||空|1"), QStringLiteral("a/b||空|1"),
                                      QStringLiteral("a/b/c|f.txt|同一|0")}));
}

// Every permission bit travels with the copy (set-user-ID, set-group-ID and
// sticky included), and a change of the bits alone is found and corrected by
// the next run.
TEST_F(EndToEndTest, PermissionBitsAreCarriedAndAChangeOfThemAloneIsCorrected)
{
    if (!FsKeepsModes(UniqueFd(::open(QFile::encodeName(f2).constData(), O_RDONLY | O_DIRECTORY)).get()))
        GTEST_SKIP() << "folder 2's volume keeps no permissions here";
    struct Case {
        const char* name;
        mode_t first, then;
    };
    const std::vector<Case> cases = {
        {"suid", 04755, 0755}, {"sgid", 0750, 02750}, {"sticky", 0644, 01644},
        {"exec", 0644, 0744},  {"all", 06755, 07775},
    };
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 07777;
    };
    const auto rel = [](const Case& c) { return QStringLiteral("m/") + QLatin1String(c.name); };
    for (const Case& c : cases) {
        src(rel(c), "data", At(3));
        ASSERT_EQ(::chmod(QFile::encodeName(p1(rel(c))).constData(), c.first), 0);
    }
    tick({QStringLiteral("m")});
    compare();
    ASSERT_EQ(SyncRun(session).failed, 0);
    for (const Case& c : cases)
        EXPECT_EQ(modeOf(p2(rel(c))), c.first) << c.name;

    for (const Case& c : cases)
        ASSERT_EQ(::chmod(QFile::encodeName(p1(rel(c))).constData(), c.then), 0);
    sourceChangedByTest();
    const QStringList changed = compare();
    for (const Case& c : cases)
        EXPECT_TRUE(changed.contains(QStringLiteral("m|%1|上書|1").arg(QLatin1String(c.name)))) << c.name;
    ASSERT_EQ(SyncRun(session).failed, 0);
    for (const Case& c : cases)
        EXPECT_EQ(modeOf(p2(rel(c))), c.then) << c.name;
    for (const QString& row : compare())
        EXPECT_FALSE(row.contains(St::Over)) << row.toStdString();
}

// A folder of folder 1 whose name a file holds in folder 2: with the delete
// switch, one run removes the file (saved first when backups are kept) and
// copies the folder in its place; the next comparison finds nothing to do.
TEST_F(EndToEndTest, AFolderTakesTheNameOfAFileInOneRun)
{
    for (const bool backup : {false, true}) {
        const QString top = backup ? QStringLiteral("kept") : QStringLiteral("plain");
        sourceChangedByTest();
        src(top + QStringLiteral("/x/y.txt"), "new", At(5));
        src(top + QStringLiteral("/x2/z.txt"), "sibling", At(5));
        dst(top + QStringLiteral("/x"), "old file", At(2));
        options(false, backup, false);
        session.panel.chRet[1] = true;
        tick({top});
        const QStringList rows = compare();
        EXPECT_TRUE(rows.contains(top + QStringLiteral("/x||追加|1"))) << rows.join(u' ').toStdString();
        EXPECT_TRUE(rows.contains(top + QStringLiteral("|x|削除|1"))) << rows.join(u' ').toStdString();
        const SyncReport rep = SyncRun(session);
        EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed) << top.toStdString();
        EXPECT_EQ(rep.failed, 0) << top.toStdString();
        EXPECT_EQ(readFile(p2(top + QStringLiteral("/x/y.txt"))), QByteArray("new"));
        EXPECT_EQ(readFile(p2(top + QStringLiteral("/x2/z.txt"))), QByteArray("sibling"));
        if (backup) {
            EXPECT_EQ(readFile(rep.sBkFld + QFileInfo(f2).fileName() + QLatin1Char('/') + top + QStringLiteral("/x")),
                      QByteArray("old file"));
        }
        for (const QString& row : compare())
            EXPECT_TRUE(row.endsWith(QStringLiteral("|0")) || row.contains(QStringLiteral("|空|")))
                << row.toStdString();
    }
}

// An item directly in folder 2's root (which takes no part) named like a
// ticked folder: with the delete switch it goes as a deleted file would and
// the folder is made in the same run; without it, or when it is protected,
// the folder's row fails and its reason names the item.
TEST_F(EndToEndTest, ARootItemInTheWayOfATickedFolder)
{
    struct Case {
        const char* name;
        bool del, backup, link, readOnly;
        bool cleared;
    };
    // A pipe one level down is never compared either, so it has no row.
    const std::vector<Case> cases = {
        {"kept", false, false, false, false, false},   {"deleted", true, false, false, false, true},
        {"saved", true, true, false, false, true},     {"link", true, false, true, false, true},
        {"guarded", true, false, false, true, false},  {"p/pipe", true, false, false, false, true},
        {"held.keep", true, false, false, false, false},  // a protection pattern names it
    };
    for (const Case& c : cases) {
        sourceChangedByTest();
        const QString name = QLatin1String(c.name);
        src(name + QStringLiteral("/f.txt"), "folder content", At(4));
        if (c.link) {
            ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent"), p2(name)));
        } else if (name.endsWith(QLatin1String("pipe"))) {
            makeDir(p2(QStringLiteral("p")));
            ASSERT_EQ(::mkfifo(QFile::encodeName(p2(name)).constData(), 0644), 0);
        } else {
            dst(name, "root file", At(2));
        }
        if (c.readOnly) {
            ASSERT_EQ(::chmod(QFile::encodeName(p2(name)).constData(), 0444), 0);
        }
        options(true, c.backup, false);
        session.panel.chRet[1] = c.del;
        session.panel.chRet[5] = c.readOnly;  // protect read-only destinations
        session.panel.txHogo = QStringLiteral("*.keep");
        tick({name});
        compare();
        const SyncReport rep = SyncRun(session);
        EXPECT_EQ(rep.failed, c.cleared ? 0 : 1) << c.name << " " << rep.leftOut.join(u' ').toStdString();
        EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed) << c.name;
        EXPECT_EQ(Exists(p2(name + QStringLiteral("/f.txt"))), c.cleared) << c.name;
        if (!c.cleared) {
            const auto row = std::find_if(session.vSpr.rows().begin(), session.vSpr.rows().end(),
                                          [&](const ResultRow& r) { return r.path == name; });
            ASSERT_NE(row, session.vSpr.rows().end()) << c.name;
            EXPECT_TRUE(row->red) << c.name;
            EXPECT_TRUE(row->why().contains(p2(name) + QStringLiteral(" is in the way"))) << row->why().toStdString();
            EXPECT_EQ(readFile(p2(name)), QByteArray("root file")) << c.name;
        }
        // The removal is logged as a deleted file's would be.
        const QString kept = rep.sBkFld + QFileInfo(f2).fileName() + QLatin1Char('/') + name;
        if (c.cleared) {
            EXPECT_TRUE(LogLines(rep.logFile).contains(c.backup ? logtx::moved(p2(name), kept) : logtx::deleted(p2(name))))
                << c.name << ": " << LogLines(rep.logFile).join(u'|').toStdString();
        }
        if (c.backup) {
            EXPECT_EQ(readFile(kept), QByteArray("root file"));
        }
    }
}

// The program's own file names inside a new folder copied whole stay out of
// folder 2 as they do for file rows, so the next run changes nothing.
TEST_F(EndToEndTest, OwnFilesStayOutOfAFolderCopiedWhole)
{
    for (const char* n : {"n/sync", "n/Sync.mdb", "n/XML", "n/sub/velmor.xml", "n/data.txt", "n/sub/mdb.txt"})
        src(QLatin1String(n), "x", At(3));
    session.panel.chRet[1] = true;
    tick({QStringLiteral("n")});
    compare();
    ASSERT_EQ(SyncRun(session).failed, 0);
    for (const char* n : {"n/data.txt", "n/sub/mdb.txt"})
        EXPECT_TRUE(Exists(p2(QLatin1String(n)))) << n;
    for (const char* n : {"n/sync", "n/Sync.mdb", "n/XML", "n/sub/velmor.xml"})
        EXPECT_FALSE(Exists(p2(QLatin1String(n)))) << n;
    for (const QString& row : compare())
        EXPECT_FALSE(row.endsWith(QStringLiteral("|1"))) << row.toStdString();
}

// Folder and file names that look like the program's own texts (the tree's
// placeholder "?", the status "**", the attribute text "***", node keys) or
// like patterns and list separators take part as any other name: with the
// delete switch on, one run brings folder 2 in step, the next comparison
// finds nothing to do, and folder 2 keeps every file of folder 1.
TEST_F(EndToEndTest, NamesLikeTheProgramsOwnTextsAreSynchronised)
{
    const QStringList names = {"?", "*", "**", "***", "a\\b", "[x]", "?x", "a,b", "%", "Nd001", "Nd001X"};
    QStringList files;  // below folder 1: N/f.txt, N/N/N, and N/g.txt in a folder new to folder 2
    for (const QString& n : names) {
        files << n + "/f.txt" << n + '/' + n + '/' + n << "new/" + n + "/g.txt";
        dst(n + "/f.txt", "old", At(2));
        dst(n + "/gone.txt", "folder 1 lacks it");
    }
    for (const QString& f : files)
        src(f, f.toUtf8(), At(4));
    options(false, false, false);
    session.panel.chRet[1] = true;
    tick({QString()});

    const QStringList before = compare();
    for (const QString& n : names) {
        SCOPED_TRACE(n.toStdString());
        EXPECT_TRUE(before.contains(n + "|f.txt|上書|1")) << before.join(u'\n').toStdString();
        EXPECT_TRUE(before.contains(n + "|gone.txt|削除|1"));
        EXPECT_TRUE(before.contains(n + '/' + n + "||追加|1"));
        EXPECT_TRUE(before.contains("new/" + n + "||追加|1")) << "copied whole with its files";
    }
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.failed, 0);

    const QStringList after = compare();
    for (const QString& s : statuses())
        EXPECT_EQ(s, St::Same) << after.join(u'\n').toStdString();
    EXPECT_EQ(after.size(), files.size());
    for (const QString& f : files)
        EXPECT_EQ(readFile(p2(f)), f.toUtf8()) << f.toStdString();
    for (const QString& n : names)
        EXPECT_FALSE(QFileInfo::exists(p2(n + "/gone.txt"))) << n.toStdString();
}

// With the option a folder-1 link to a file reaches folder 2 as a copy of
// that file (its content, mode and time), as a row of its own, replacing a
// file (also with backups on), and inside a folder copied whole; a link to a
// folder or to nothing stays a link. Without it every link stays a link.
TEST_F(EndToEndTest, LinksToFilesAreCopiedAsTheirTargetsWhenAsked)
{
    const struct Case {
        const char* dir;
        bool follow, backup;
    } cases[] = {{"links", false, false}, {"targets", true, false}, {"kept", true, true}};
    const auto link = [this](const char* target, const QString& rel) {
        ASSERT_EQ(::symlink(target, QFile::encodeName(p1(rel)).constData()), 0) << rel.toStdString();
    };
    for (const Case& c : cases) {
        const QString d = QLatin1String(c.dir);
        src(d + u"/data.txt"_s, "target data", At(3));
        ASSERT_EQ(::chmod(QFile::encodeName(p1(d + u"/data.txt"_s)).constData(), 0640), 0);
        src(d + u"/sub/x.txt"_s, "x");
        makeDir(p1(d + u"/new"_s));
        link("data.txt", d + u"/file.lnk"_s);
        link("sub", d + u"/dir.lnk"_s);
        link("missing", d + u"/gone.lnk"_s);
        link("../data.txt", d + u"/new/in.lnk"_s);
        dst(d + u"/file.lnk"_s, "old");
    }
    const auto isLink = [this](const QString& rel) { return QFileInfo(p2(rel)).isSymLink(); };
    for (const Case& c : cases) {
        const QString d = QLatin1String(c.dir);
        session.panel.chLinkTgt = c.follow;
        options(false, c.backup, false);
        tick({d});
        compare();
        const SyncReport rep = SyncRun(session);
        ASSERT_EQ(rep.failed, 0) << c.dir;
        for (const QString& rel : {d + u"/file.lnk"_s, d + u"/new/in.lnk"_s}) {
            EXPECT_EQ(isLink(rel), !c.follow) << rel.toStdString();
            if (!c.follow)
                continue;
            const QFileInfo copy(p2(rel));
            EXPECT_EQ(readFile(p2(rel)), QByteArray("target data")) << rel.toStdString();
            EXPECT_EQ(copy.permissions(), QFileInfo(p1(d + u"/data.txt"_s)).permissions()) << rel.toStdString();
            EXPECT_EQ(copy.lastModified(), At(3)) << rel.toStdString();
        }
        EXPECT_TRUE(isLink(d + u"/dir.lnk"_s)) << c.dir;
        EXPECT_TRUE(isLink(d + u"/gone.lnk"_s)) << c.dir;
        for (const QString& row : compare())
            EXPECT_FALSE(row.contains(St::Over) || row.contains(St::Add)) << row.toStdString();
    }
}

} // namespace
} // namespace velmor::test
