// Folder and file scans on real folders.
#include "CmpFixture.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

using namespace velmor;
using namespace velmor::test;

namespace {

class ScanTest : public CmpFixture {
protected:
    // The folder scan alone, as the run starts it.
    void scan1()
    {
        s.sFld1 = src;
        s.sFld2 = dst;
        s.oDb.DbOpen();
        s.oDb.exec(QStringLiteral("Delete From tbFold"));
        s.nCnt = 1000;
        pg.cMsg(CmpMsg::FolderPhase, true);
        ScnFld1(s);
    }
    std::vector<std::pair<long long, QString>> numbered()
    {
        std::vector<std::pair<long long, QString>> v;
        s.oDb.forEachRow(QStringLiteral("Select nNo, sPh, sED From tbFold Order By nNo"), {},
                         [&](const SqlStmt& q) {
                             v.emplace_back(q.int64(0), q.text(1) + QLatin1Char('=') + q.text(2));
                             return true;
                         });
        return v;
    }
};

} // namespace

TEST_F(ScanTest, ContainersAndTheirNumbering)
{
    makeDir(src + QStringLiteral("/a/b/c"));
    makeDir(src + QStringLiteral("/a/x"));
    load(false);
    tick(QStringLiteral("a/b/c"), true);
    scan1();
    const std::vector<std::pair<long long, QString>> want = {
        {1001, QStringLiteral("a/b/c=")}, {1002, QStringLiteral("a=空")}, {1003, QStringLiteral("a/b=空")}};
    EXPECT_EQ(numbered(), want);

    // Ticking a and a/b too gives no container rows.
    tick(QStringLiteral("a"), true);
    tick(QStringLiteral("a/x"), false);
    scan1();
    const std::vector<std::pair<long long, QString>> want2 = {
        {1001, QStringLiteral("a=")}, {1002, QStringLiteral("a/b=")}, {1003, QStringLiteral("a/b/c=")}};
    EXPECT_EQ(numbered(), want2);

    // Only the root ticked: no folder-1 rows; folder-2 folders become rows of their own.
    tick(QString(), false);
    t1.setPath(src);
    t1.setChecked(t1.rootNode(), true);
    makeDir(dst + QStringLiteral("/only2/sub"));
    t2.setRoot(dst);
    scan1();
    EXPECT_TRUE(numbered().empty());
    ScnFld2(s, dst);
    const std::vector<std::pair<long long, QString>> want3 = {{1001, QStringLiteral("only2=")},
                                                              {1002, QStringLiteral("only2/sub=")}};
    EXPECT_EQ(numbered(), want3);
}

TEST_F(ScanTest, NamesDifferingInCaseQuotesAndQuestionMarksStayApart)
{
    makeDir(src + QStringLiteral("/Web"));
    makeDir(dst + QStringLiteral("/web"));
    makeDir(src + QStringLiteral("/Bob's ?dir,x"));
    makeDir(dst + QStringLiteral("/Bob's ?dir,x"));
    file(src + QStringLiteral("/Bob's ?dir,x/a.txt"));
    file(src + QStringLiteral("/Bob's ?dir,x/A.txt"));
    file(src + QStringLiteral("/Bob's ?dir,x/it's *?.txt"));
    file(dst + QStringLiteral("/Bob's ?dir,x/A.txt"));
    file(dst + QStringLiteral("/Bob's ?dir,x/B\\c.txt"));
    load();
    s.panel.chRet[1] = true;  // delete switch
    ASSERT_EQ(run(), CmpOutcome::Done);
    const auto f = folds();
    EXPECT_EQ(f.at(QStringLiteral("Web")), St::Add);
    EXPECT_EQ(f.at(QStringLiteral("web")), St::Del) << "web and Web are two folders";
    EXPECT_EQ(f.at(QStringLiteral("Bob's ?dir,x")), St::Cmp);
    const auto fi = files();
    const QString p = QStringLiteral("Bob's ?dir,x|");
    EXPECT_EQ(fi.size(), 4u);
    EXPECT_EQ(fi.at(p + QStringLiteral("a.txt")), St::Add);
    EXPECT_EQ(fi.at(p + QStringLiteral("A.txt")), St::Same);
    EXPECT_EQ(fi.at(p + QStringLiteral("it's *?.txt")), St::Add);
    EXPECT_EQ(fi.at(p + QStringLiteral("B\\c.txt")), St::Del);
    // The grid shows both a and A.
    EXPECT_EQ(gridStatus(QStringLiteral("Bob's ?dir,x"), QStringLiteral("a"), QStringLiteral("txt")), St::Add);
    EXPECT_EQ(gridStatus(QStringLiteral("Bob's ?dir,x"), QStringLiteral("A"), QStringLiteral("txt")), St::Same);
}

TEST_F(ScanTest, FileRowsSidesOrderAndWhatIsNotScanned)
{
    makeDir(src + QStringLiteral("/both"));
    makeDir(dst + QStringLiteral("/both"));
    file(src + QStringLiteral("/both/b.txt"), "12345");
    file(src + QStringLiteral("/both/a.txt"), "1");
    file(dst + QStringLiteral("/both/a.txt"), "22", QDateTime(QDate(2010, 1, 2), QTime(3, 4)));
    file(dst + QStringLiteral("/both/0only2.txt"), "333");
    QFile::setPermissions(dst + QStringLiteral("/both/a.txt"), QFileDevice::ReadOwner);
    file(dst + QStringLiteral("/both/.hidden"), "h");
    makeDir(src + QStringLiteral("/new"));
    file(src + QStringLiteral("/new/n.txt"));
    file(src + QStringLiteral("/rootfile.txt"));  // files directly in a root take no part
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);

    std::vector<QString> rows;
    s.oDb.forEachRow(QStringLiteral("Select nNo, sFL, nS1, sU1, nS2, sU2, sAt From tbFile Order By nNo"), {},
                     [&](const SqlStmt& q) {
                         QStringList c;
                         for (int i = 0; i < 7; ++i)
                             c << q.text(i);
                         rows.push_back(c.join(QLatin1Char('|')));
                         return true;
                     });
    const std::vector<QString> want = {
        QStringLiteral("1001|a.txt|1|09/12/21 17:05|2|10/01/02 03:04|R**"),
        QStringLiteral("1002|b.txt|5|09/12/21 17:05|0||"),
        QStringLiteral("1003|.hidden|0||1|09/12/21 17:05|*H*"),
        QStringLiteral("1004|0only2.txt|0||3|09/12/21 17:05|***"),
    };
    EXPECT_EQ(rows, want);
    EXPECT_EQ(folds().at(QStringLiteral("new")), St::Add) << "copied whole, its files not scanned";
}

TEST_F(ScanTest, EveryFilePairsWithItsExactNameAcrossALargeFolder)
{
    // Names that sort next to each other (letter case, accents, prefixes),
    // some on one side only, in a folder of more rows than are written at
    // once: each row's two sides are the same name's, and the rows come in
    // folder-1 order followed by the folder-2-only files.
    makeDir(src + QStringLiteral("/m"));
    makeDir(dst + QStringLiteral("/m"));
    QStringList names = {QStringLiteral("a"),   QStringLiteral("A"),      QStringLiteral("ab"),
                         QStringLiteral("aB"),  QStringLiteral("\u00e9"), QStringLiteral("\u00c9"),
                         QStringLiteral("\u00e9a"), QStringLiteral("b"), QStringLiteral("\u65e5\u672c")};
    for (int i = 0; i < 60; ++i)
        names << QStringLiteral("f%1").arg(i);
    std::map<QString, QString> want;  // name -> "size1|size2"
    for (int i = 0; i < names.size(); ++i) {
        const bool one = i % 3 != 1, two = i % 3 != 2;
        // Sizes name the side and the file, so a row completed from the
        // wrong folder-2 file shows it.
        if (one)
            file(src + QStringLiteral("/m/") + names[i], QByteArray(i + 1, 'x'));
        if (two)
            file(dst + QStringLiteral("/m/") + names[i], QByteArray(i + 101, 'y'));
        want[names[i]] = QStringLiteral("%1|%2").arg(one ? i + 1 : 0).arg(two ? i + 101 : 0);
    }
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    std::map<QString, QString> got;
    std::vector<bool> side2Only;  // in nNo order
    s.oDb.forEachRow(QStringLiteral("Select sFL, nS1, nS2, nT1 Is Null, nT2 Is Null From tbFile Order By nNo"), {},
                     [&](const SqlStmt& q) {
                         got[q.text(0)] = QStringLiteral("%1|%2").arg(q.int64(1)).arg(q.int64(2));
                         EXPECT_EQ(q.int64(3), q.int64(1) == 0 ? 1 : 0) << q.text(0).toStdString();
                         EXPECT_EQ(q.int64(4), q.int64(2) == 0 ? 1 : 0) << q.text(0).toStdString();
                         side2Only.push_back(q.int64(1) == 0);
                         return true;
                     });
    EXPECT_EQ(got, want);
    EXPECT_TRUE(std::is_partitioned(side2Only.begin(), side2Only.end(), [](bool b) { return !b; }));
}

TEST_F(ScanTest, FilterCreatesCompareFolderInFolder2)
{
    makeDir(src + QStringLiteral("/newdir"));
    file(src + QStringLiteral("/newdir/keep.txt"));
    file(src + QStringLiteral("/newdir/skip.tmp"));
    load();
    s.panel.cbFlt = 1;
    s.panel.txFlt = QStringLiteral("tmp");
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(folds().at(QStringLiteral("newdir")), St::CmpF);
    EXPECT_TRUE(QDir(dst + QStringLiteral("/newdir")).exists());
    const auto fi = files();
    EXPECT_EQ(fi.at(QStringLiteral("newdir|keep.txt")), St::Add);
    EXPECT_EQ(fi.at(QStringLiteral("newdir|skip.tmp")), St::Excl);

    // The same with an empty filter text: filter mode 0, a plain "追加".
    QDir(dst + QStringLiteral("/newdir")).removeRecursively();
    s.panel.txFlt.clear();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(s.nFltMd, 0);
    EXPECT_EQ(folds().at(QStringLiteral("newdir")), St::Add);
    EXPECT_FALSE(QDir(dst + QStringLiteral("/newdir")).exists());
}

TEST_F(ScanTest, SymlinksAreItemsNeverFolders)
{
    makeDir(src + QStringLiteral("/d"));
    makeDir(dst + QStringLiteral("/d"));
    file(src + QStringLiteral("/d/real.txt"));
    ASSERT_TRUE(QFile::link(QStringLiteral("real.txt"), src + QStringLiteral("/d/link.txt")));
    ASSERT_TRUE(QFile::link(dst, dst + QStringLiteral("/d/loop")));  // a link to a folder, a loop
    load();
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const auto fi = files();
    EXPECT_EQ(fi.at(QStringLiteral("d|link.txt")), St::Add);
    EXPECT_EQ(fi.at(QStringLiteral("d|loop")), St::Del) << "a link to a folder is an item, not a folder";
    EXPECT_EQ(folds().count(QStringLiteral("d/loop")), 0u);
}

TEST_F(ScanTest, VanishedFolder1FolderIsExcludedNotDeleted)
{
    makeDir(src + QStringLiteral("/gone/sub"));
    makeDir(dst + QStringLiteral("/gone/sub"));
    file(dst + QStringLiteral("/gone/sub/precious.txt"));
    makeDir(src + QStringLiteral("/ok"));
    load();
    ASSERT_TRUE(QDir(src + QStringLiteral("/gone")).removeRecursively());
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const auto f = folds();
    EXPECT_EQ(f.at(QStringLiteral("gone")), St::Excl);
    EXPECT_EQ(f.at(QStringLiteral("gone/sub")), St::Excl);
    EXPECT_EQ(f.at(QStringLiteral("ok")), St::Add);
    EXPECT_EQ(s.vUnread.size(), 2);
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].startsWith(CmpMsg::Unread));
    for (const ResultRow& r : s.vSpr.rows())
        EXPECT_NE(r.status, St::Del) << r.path.toStdString();

    // A folder that cannot be listed in the file scan: excluded, no file rows.
    s.sFld1 = src;
    s.sFld2 = dst;
    s.oDb.exec(QStringLiteral("Delete From tbFile"));
    s.oDb.exec(QStringLiteral("Update tbFold Set sED = '比較' Where sPh = 'gone/sub'"));
    s.vUnread.clear();
    pg.cMsg(CmpMsg::FilePhase, true);
    ScnFile(s);
    EXPECT_EQ(folds().at(QStringLiteral("gone/sub")), St::Excl);
    EXPECT_EQ(count(QStringLiteral("tbFile")), 0);
    EXPECT_EQ(s.vUnread.size(), 1);
}

TEST_F(ScanTest, FoldersNeverLoadedIntoTheTreeAreNotScanned)
{
    makeDir(src + QStringLiteral("/top/deep/deeper"));
    makeDir(dst + QStringLiteral("/top/deep/deeper"));
    t1.setChkBx(true);
    t1.setRoot(src);  // only the first level is loaded
    int loaded = 0;
    for (int i = 0; i < t1.nodeCount(); ++i) {
        TreeNode* n = t1.nodeAt(i);
        if (!n->isPlaceholder()) {
            t1.setChecked(n, true);
            ++loaded;
        }
    }
    ASSERT_EQ(loaded, 2) << "the root and top";
    t2.setRoot(dst);
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    const auto f = folds();
    EXPECT_EQ(f.at(QStringLiteral("top")), St::Cmp);
    // Below an unloaded node nothing of folder 1 is known: folder 2's copies
    // are folder-2-only rows, deleted only because the delete switch is on.
    EXPECT_EQ(f.at(QStringLiteral("top/deep")), St::Del);
    EXPECT_EQ(f.at(QStringLiteral("top/deep/deeper")), St::Del);
}

TEST_F(ScanTest, NamesNotValidUtf8AreComparedByTheirBytes)
{
    // "caf\xE9" is Latin-1, not UTF-8: a file and a folder of that name are
    // compared like any other, and keep their exact bytes.
    const QByteArray cafe = "caf\xE9";
    const QDateTime later(QDate(2011, 3, 4), QTime(5, 6));
    makeDir(src + QStringLiteral("/d"));
    makeDir(dst + QStringLiteral("/d"));
    for (const QString& side : {src, dst}) {
        const UniqueFd d = rawOpen(side + QStringLiteral("/d"));
        rawFileAt(d.get(), cafe + ".txt", "same");
        const UniqueFd sub = rawMkdirAt(d.get(), cafe);
        rawFileAt(sub.get(), "in.txt", "in", side == src ? later : QDateTime(QDate(2009, 1, 1), QTime(0, 0)));
        if (side == src)
            rawFileAt(sub.get(), "new\xFF.txt", "n");
    }
    load();
    s.panel.chRet[1] = true;
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_TRUE(s.vUnread.isEmpty()) << s.vUnread.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(prompt->messages.isEmpty());

    // Rows named by their bytes on disk.
    std::map<QByteArray, QString> byBytes;
    s.oDb.forEachRow(QStringLiteral("Select sPh, sFL, sED From tbFile"), {}, [&](const SqlStmt& q) {
        byBytes[nameBytes(q.text(0)) + '|' + nameBytes(q.text(1))] = q.text(2);
        return true;
    });
    const std::map<QByteArray, QString> want = {
        {"d|" + cafe + ".txt", St::Same},
        {"d/" + cafe + "|in.txt", St::Over},
        {"d/" + cafe + "|new\xFF.txt", St::Add},
    };
    EXPECT_EQ(byBytes, want);
    EXPECT_EQ(folds().at(nameText("d/" + cafe)), St::Cmp);
    // The grid names the same bytes.
    const ResultRow* r = row(nameText("d/" + cafe), QStringLiteral("in"), QStringLiteral("txt"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->status, St::Over);
    EXPECT_EQ(nameBytes(r->path), "d/" + cafe);
}

TEST_F(ScanTest, GridSplitsEveryKindOfFileNameIntoNameAndExtension)
{
    makeDir(src + QStringLiteral("/d"));
    makeDir(dst + QStringLiteral("/d"));
    const UniqueFd d = rawOpen(src + QStringLiteral("/d"));
    const QByteArray names[] = {"noext", "a.", ".hidden", "two.dots.tar.gz", "\xE6\x97\xA5\xE6\x9C\xAC.txt",
                                "x\xFF.b\xFEn", "trail\xE9.", "b.txt", "..."};
    for (const QByteArray& n : names)
        rawFileAt(d.get(), n, "x");
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);

    struct Want {
        QByteArray name, ext;
        bool exact;
    };
    const std::map<QByteArray, Want> want = {
        {"noext", {"noext", "", false}},
        {"a.", {"a", "", true}},
        {".hidden", {"", "hidden", false}},
        {"two.dots.tar.gz", {"two.dots.tar", "gz", false}},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", {"\xE6\x97\xA5\xE6\x9C\xAC", "txt", false}},
        {"x\xFF.b\xFEn", {"x\xFF", "b\xFEn", false}},
        {"trail\xE9.", {"trail\xE9", "", true}},
        {"b.txt", {"b", "txt", false}},
        {"...", {"..", "", true}},
    };
    std::map<QByteArray, Want> got;
    const ResultRow* japanese = nullptr;
    const ResultRow* plain = nullptr;
    for (const ResultRow& r : s.vSpr.rows()) {
        if (r.path != QStringLiteral("d") || r.isFolderRow())
            continue;
        got[nameBytes(r.fileName())] = {nameBytes(r.name), nameBytes(r.ext), !r.exactName().isEmpty()};
        EXPECT_EQ(r.status, St::Add);
        if (r.name == QStringLiteral("日本"))
            japanese = &r;
        if (r.name == QStringLiteral("b"))
            plain = &r;
    }
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [file, w] : want) {
        SCOPED_TRACE(file.toStdString());
        ASSERT_TRUE(got.count(file));
        EXPECT_EQ(got[file].name, w.name);
        EXPECT_EQ(got[file].ext, w.ext);
        EXPECT_EQ(got[file].exact, w.exact);
    }
    // One extension text is shared by the rows that show it.
    ASSERT_TRUE(japanese && plain);
    EXPECT_EQ(japanese->ext.constData(), plain->ext.constData());
}
