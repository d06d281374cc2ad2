// Folder and file operations: every status under every combination of the
// log, backup and recycle-bin switches, and the failure cases.
#include "SyncFixture.h"

#include "sync/FsOps.h"
#include "sync/SyncPlan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmor::test {
namespace {

const QString kAdd = QStringLiteral("追加");
const QString kOver = QStringLiteral("上書");
const QString kDel = QStringLiteral("削除");
const QString kSame = QStringLiteral("同一");
const QString kNone = QStringLiteral("**");
const QString kEmpty = QStringLiteral("空");
const QString kEmptyAdd = QStringLiteral("空追");
const QString kCmpF = QStringLiteral("比較F");

YRt switches(bool log, bool backup, bool trash)
{
    YRt y{};
    y[kSwLog] = log;
    y[kSwBackup] = backup;
    y[kSwTrash] = trash;
    return y;
}

TEST(SyncPlanTest, ForcedRowsAndLogTexts)
{
    // Backup wins over the recycle bin, for folders and files alike.
    const YRt both = switches(false, true, true);
    EXPECT_EQ(DecideFld(kDel, both), FldOp::SaveAndRemove);
    EXPECT_EQ(DecideFile(kDel, both), (FilePlan{true, FileOp::None}));

    EXPECT_EQ(EffectiveStatus(QStringLiteral("除外")), kOver);
    EXPECT_EQ(EffectiveStatus(QStringLiteral("保護")), kOver);
    EXPECT_EQ(EffectiveStatus(kSame), kSame);

    // Character for character, the half-width "､" (U+FF64) included.
    EXPECT_EQ(logtx::copied(QStringLiteral("/a/x"), QStringLiteral("/b/x")), QStringLiteral("/a/x を\uFF64/b/x に複写しました"));
    EXPECT_EQ(logtx::overwritten(QStringLiteral("s"), QStringLiteral("d")), QStringLiteral("s を\uFF64d に上書きしました"));
    EXPECT_EQ(logtx::moved(QStringLiteral("d"), QStringLiteral("t")), QStringLiteral("d を\uFF64t に移動しました"));
    EXPECT_EQ(logtx::filesDeleted(QStringLiteral("d")), QStringLiteral("dの中の\uFF8C\uFF67\uFF72\uFF99を削除しました"));
    EXPECT_EQ(logtx::created(QStringLiteral("d")), QStringLiteral("dを作成しました"));
    EXPECT_EQ(logtx::trashed(QStringLiteral("d")), QStringLiteral("dをごみ箱に入れました"));
    EXPECT_EQ(logtx::deleted(QStringLiteral("d")), QStringLiteral("dを削除しました"));
}

TEST(SyncCtxTest, PathsAndRootName)
{
    SyncCtx c;
    c.sFld1 = QStringLiteral("/data/site");
    c.sFld2 = QStringLiteral("/srv/www");
    c.sBkFld = QStringLiteral("/h/BackUp/2021-03-01/");
    EXPECT_EQ(c.rootName(), QStringLiteral("www"));
    EXPECT_EQ(c.source(QStringLiteral("a/b.txt")), QStringLiteral("/data/site/a/b.txt"));
    EXPECT_EQ(c.destination(QStringLiteral("a/b.txt")), QStringLiteral("/srv/www/a/b.txt"));
    EXPECT_EQ(c.backupTarget(QStringLiteral("a/b.txt")), QStringLiteral("/h/BackUp/2021-03-01/www/a/b.txt"));
    c.sFld2 = QStringLiteral("/");
    EXPECT_EQ(c.rootName(), QStringLiteral("root"));
    EXPECT_EQ(c.destination(QStringLiteral("etc/x")), QStringLiteral("/etc/x"));
    EXPECT_EQ(c.backupTarget(QStringLiteral("etc/x")), QStringLiteral("/h/BackUp/2021-03-01/root/etc/x"));
}

class SyncOpsTest : public SyncFixture {};

TEST_F(SyncOpsTest, FileStatusesUnderEverySwitchCombination)
{
    for (int c = 0; c < 8; ++c) {
        const QString d = QStringLiteral("c%1/").arg(c);
        src(d + QStringLiteral("add.txt"), "added", At(5));
        src(d + QStringLiteral("over.txt"), "new", At(6));
        dst(d + QStringLiteral("over.txt"), "old", At(2));
        dst(d + QStringLiteral("del%1.txt").arg(c), "doomed");
        src(d + QStringLiteral("same.txt"), "same");
        dst(d + QStringLiteral("same.txt"), "same");
        dst(d + QStringLiteral("only2.txt"), "kept");
    }
    for (int c = 0; c < 8; ++c) {
        const bool lg = c & 1, bkp = c & 2, tr = c & 4;
        SCOPED_TRACE(testing::Message() << "log " << lg << " backup " << bkp << " trash " << tr);
        const QString d = QStringLiteral("c%1/").arg(c);
        const QString del = d + QStringLiteral("del%1.txt").arg(c);
        const SyncCtx x = ctx(lg, bkp, tr);
        QStringList expect;

        EXPECT_EQ(SyncFile(x, d + QStringLiteral("add.txt"), kAdd), kAdd);
        EXPECT_EQ(readFile(p2(d + QStringLiteral("add.txt"))), QByteArray("added"));
        EXPECT_EQ(QFileInfo(p2(d + QStringLiteral("add.txt"))).lastModified(), At(5));
        expect << logtx::copied(p1(d + QStringLiteral("add.txt")), p2(d + QStringLiteral("add.txt")));

        EXPECT_EQ(SyncFile(x, d + QStringLiteral("over.txt"), kOver), kOver);
        EXPECT_EQ(readFile(p2(d + QStringLiteral("over.txt"))), QByteArray("new"));
        EXPECT_EQ(QFileInfo(p2(d + QStringLiteral("over.txt"))).lastModified(), At(6));
        const QString overSaved = x.backupTarget(d + QStringLiteral("over.txt"));
        if (bkp) {
            EXPECT_EQ(readFile(overSaved), QByteArray("old"));
            EXPECT_EQ(QFileInfo(overSaved).lastModified(), At(2));
            EXPECT_TRUE(overSaved.startsWith(bk + QStringLiteral("/BackUp/")));
            EXPECT_TRUE(overSaved.contains(QStringLiteral("/mirror/c%1/").arg(c)));
            expect << logtx::moved(p2(d + QStringLiteral("over.txt")), overSaved);
        }
        expect << logtx::overwritten(p1(d + QStringLiteral("over.txt")), p2(d + QStringLiteral("over.txt")));

        EXPECT_EQ(SyncFile(x, del, kDel), kDel);
        EXPECT_FALSE(QFileInfo::exists(p2(del)));
        const bool inTrash = QFileInfo::exists(trashed(QStringLiteral("del%1.txt").arg(c)));
        if (bkp) {
            EXPECT_EQ(readFile(x.backupTarget(del)), QByteArray("doomed"));
            EXPECT_FALSE(inTrash);  // saved, not recycled
            expect << logtx::moved(p2(del), x.backupTarget(del));
        } else if (tr) {
            EXPECT_TRUE(inTrash);
            expect << logtx::trashed(p2(del));
        } else {
            EXPECT_FALSE(inTrash);
            expect << logtx::deleted(p2(del));
        }

        EXPECT_EQ(SyncFile(x, d + QStringLiteral("same.txt"), kSame), kSame);
        EXPECT_EQ(SyncFile(x, d + QStringLiteral("only2.txt"), kNone), kNone);
        EXPECT_EQ(readFile(p2(d + QStringLiteral("only2.txt"))), QByteArray("kept"));

        EXPECT_EQ(logged(), lg ? expect : QStringList());
    }
}

TEST_F(SyncOpsTest, FolderStatusesUnderEverySwitchCombination)
{
    for (int c = 0; c < 8; ++c) {
        const QString d = QStringLiteral("c%1/").arg(c);
        dst(d + QStringLiteral("box/a.txt"), "a");
        dst(d + QStringLiteral("box/.hidden"), "h");
        dst(d + QStringLiteral("box/sub/b.txt"), "b");
        src(d + QStringLiteral("new/x.txt"), "x", At(3));
        src(d + QStringLiteral("new/s/y.txt"), "y", At(4));
        dst(d + QStringLiteral("gone%1/z.txt").arg(c), "z");
        dst(d + QStringLiteral("keep/k.txt"), "k");
    }
    for (int c = 0; c < 8; ++c) {
        const bool lg = c & 1, bkp = c & 2, tr = c & 4;
        SCOPED_TRACE(testing::Message() << "log " << lg << " backup " << bkp << " trash " << tr);
        const QString d = QStringLiteral("c%1/").arg(c);
        const QString gone = d + QStringLiteral("gone%1").arg(c);
        const SyncCtx x = ctx(lg, bkp, tr);
        QStringList expect;

        EXPECT_EQ(SyncFld(x, d + QStringLiteral("box"), kEmpty), kEmpty);
        EXPECT_FALSE(QFileInfo::exists(p2(d + QStringLiteral("box/a.txt"))));
        EXPECT_FALSE(QFileInfo::exists(p2(d + QStringLiteral("box/.hidden"))));
        EXPECT_TRUE(QFileInfo::exists(p2(d + QStringLiteral("box/sub/b.txt"))));
        expect << logtx::filesDeleted(p2(d + QStringLiteral("box")));

        EXPECT_EQ(SyncFld(x, d + QStringLiteral("made"), kEmptyAdd), kEmptyAdd);
        EXPECT_TRUE(QFileInfo(p2(d + QStringLiteral("made"))).isDir());
        expect << logtx::created(p2(d + QStringLiteral("made")));

        EXPECT_EQ(SyncFld(x, d + QStringLiteral("new"), kAdd), kAdd);
        EXPECT_EQ(readFile(p2(d + QStringLiteral("new/s/y.txt"))), QByteArray("y"));
        EXPECT_EQ(QFileInfo(p2(d + QStringLiteral("new/x.txt"))).lastModified(), At(3));
        expect << logtx::copied(p1(d + QStringLiteral("new")), p2(d + QStringLiteral("new")));

        EXPECT_EQ(SyncFld(x, gone, kDel), kDel);
        EXPECT_FALSE(QFileInfo::exists(p2(gone)));
        const bool inTrash = QFileInfo::exists(trashed(QStringLiteral("gone%1").arg(c)) + QStringLiteral("/z.txt"));
        if (bkp) {
            EXPECT_EQ(readFile(x.backupTarget(gone) + QStringLiteral("/z.txt")), QByteArray("z"));
            EXPECT_FALSE(inTrash);
            expect << logtx::moved(p2(gone), x.backupTarget(gone));
        } else if (tr) {
            EXPECT_TRUE(inTrash);
            expect << logtx::trashed(p2(gone));
        } else {
            EXPECT_FALSE(inTrash);
            expect << logtx::deleted(p2(gone));
        }

        for (const QString& s : {kCmpF, kNone, kOver})
            EXPECT_EQ(SyncFld(x, d + QStringLiteral("keep"), s), s);
        EXPECT_EQ(readFile(p2(d + QStringLiteral("keep/k.txt"))), QByteArray("k"));

        EXPECT_EQ(logged(), lg ? expect : QStringList());
    }
}

TEST_F(SyncOpsTest, FolderEdgeCases)
{
    src(QStringLiteral("a/b/c/f.txt"), "f", At(7));
    setMTime(p1(QStringLiteral("a/b/c")), At(8));
    dst(QStringLiteral("only/sub/x.txt"), "x");
    const SyncCtx x = ctx(true, false, false);

    // "追加" creates the missing parent chain, then "空追" of an ancestor that
    // the addition already created fails as the creation of an existing folder.
    EXPECT_EQ(SyncFld(x, QStringLiteral("a/b/c"), kAdd), kAdd);
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("a/b/c"))).lastModified(), At(8));
    EXPECT_EQ(SyncFld(x, QStringLiteral("a"), kEmptyAdd), QStringLiteral("空追 Err"));
    // A "空追" whose parent is missing fails too; nothing is created.
    EXPECT_EQ(SyncFld(x, QStringLiteral("p/q"), kEmptyAdd), QStringLiteral("空追 Err"));
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("p"))));
    // "空" on a folder holding only subfolders succeeds and deletes nothing.
    EXPECT_EQ(SyncFld(x, QStringLiteral("only"), kEmpty), kEmpty);
    EXPECT_TRUE(QFileInfo::exists(p2(QStringLiteral("only/sub/x.txt"))));
    // A vanished source fails without leaving new parent folders behind.
    QString why;
    EXPECT_EQ(SyncFld(x, QStringLiteral("n1/n2/vanished"), kAdd, &why), QStringLiteral("追加 Err"));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("n1"))));
    // Deleting a folder that is already gone succeeds and is logged.
    EXPECT_EQ(SyncFld(x, QStringLiteral("never"), kDel), kDel);
    // Paths that would leave folder 2 are refused.
    EXPECT_EQ(SyncFld(x, QString(), kDel), QStringLiteral("削除 Err"));
    EXPECT_EQ(SyncFld(x, QStringLiteral("../site"), kDel), QStringLiteral("削除 Err"));
    EXPECT_TRUE(QFileInfo::exists(p2(QStringLiteral("only"))));

    const QStringList lines = logged();
    EXPECT_EQ(lines, (QStringList{logtx::copied(p1(QStringLiteral("a/b/c")), p2(QStringLiteral("a/b/c"))),
                                  logtx::filesDeleted(p2(QStringLiteral("only"))),
                                  logtx::deleted(p2(QStringLiteral("never")))}));
}

TEST_F(SyncOpsTest, SaveAndRemoveMergesIntoAnEarlierSavedCopy)
{
    dst(QStringLiteral("old/a.txt"), "a");
    dst(QStringLiteral("old/inner/b.txt"), "b");
    const SyncCtx x = ctx(true, true, true);
    EXPECT_EQ(SyncFld(x, QStringLiteral("old"), kDel), kDel);
    // The inner folder went with its parent: its own row still succeeds.
    EXPECT_EQ(SyncFld(x, QStringLiteral("old/inner"), kDel), kDel);
    EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("old/inner/b.txt"))), QByteArray("b"));
    // It reappeared in folder 2 meanwhile: merged into the saved copy, nothing lost.
    dst(QStringLiteral("old/inner/b.txt"), "b2");
    dst(QStringLiteral("old/inner/c.txt"), "c");
    EXPECT_EQ(SyncFld(x, QStringLiteral("old/inner"), kDel), kDel);
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("old/inner"))));
    EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("old/inner/b.txt"))), QByteArray("b2"));
    EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("old/inner/c.txt"))), QByteArray("c"));
    EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("old/a.txt"))), QByteArray("a"));
    // Neither there nor saved: nothing to move is a failure.
    EXPECT_EQ(SyncFld(x, QStringLiteral("nothing"), kDel), QStringLiteral("削除 Err"));
    EXPECT_EQ(logged().size(), 3);
    EXPECT_FALSE(QFileInfo::exists(trashDir + QStringLiteral("/files/old")));
}

TEST_F(SyncOpsTest, FileFailuresAndWhatStaysDone)
{
    src(QStringLiteral("ro.txt"), "new", At(9));
    dst(QStringLiteral("ro.txt"), "old", At(1));
    ASSERT_TRUE(QFile(p2(QStringLiteral("ro.txt"))).setPermissions(QFile::ReadOwner | QFile::ReadGroup));
    src(QStringLiteral("sub/missing-folder.txt"), "m");
    dst(QStringLiteral("over-vanished.txt"), "old");
    src(QStringLiteral("fresh.txt"), "f");
    const SyncCtx plain = ctx(true, false, false);

    // A read-only destination is not overwritten, not even by root.
    EXPECT_EQ(SyncFile(plain, QStringLiteral("ro.txt"), kOver), QStringLiteral("上書 Err"));
    EXPECT_EQ(readFile(p2(QStringLiteral("ro.txt"))), QByteArray("old"));
    // ... but deletions remove read-only files.
    EXPECT_EQ(SyncFile(plain, QStringLiteral("ro.txt"), kDel), kDel);
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("ro.txt"))));
    // "追加" does not create the folder of the file.
    EXPECT_EQ(SyncFile(plain, QStringLiteral("sub/missing-folder.txt"), kAdd), QStringLiteral("追加 Err"));
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("sub"))));
    // A file already gone is "deleted" all the same.
    EXPECT_EQ(SyncFile(plain, QStringLiteral("never.txt"), kDel), kDel);
    EXPECT_EQ(logged(), (QStringList{logtx::deleted(p2(QStringLiteral("ro.txt"))),
                                     logtx::deleted(p2(QStringLiteral("never.txt")))}));

    // With backup: a vanished source fails before anything moves: the old
    // file stays in folder 2, nothing is saved, nothing is logged.
    const SyncCtx saving = ctx(true, true, false);
    EXPECT_EQ(SyncFile(saving, QStringLiteral("over-vanished.txt"), kOver), QStringLiteral("上書 Err"));
    EXPECT_EQ(readFile(p2(QStringLiteral("over-vanished.txt"))), QByteArray("old"));
    EXPECT_FALSE(Exists(saving.backupTarget(QStringLiteral("over-vanished.txt"))));
    EXPECT_TRUE(logged().isEmpty());
    // A forced overwrite whose destination does not exist fails in the backup step.
    EXPECT_EQ(SyncFile(saving, QStringLiteral("fresh.txt"), kOver), QStringLiteral("上書 Err"));
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("fresh.txt"))));
}

TEST_F(SyncOpsTest, ATrashThatCannotTakeTheItemIsAFailure)
{
    dst(QStringLiteral("f.txt"), "f");
    dst(QStringLiteral("d/x.txt"), "x");
    const SyncCtx x = ctx(true, false, true);
    // No trash can be made below a file.
    writeFile(tmp.path() + QStringLiteral("/blocker"), "file");
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.path() + QStringLiteral("/blocker/xdg")));
    EXPECT_EQ(SyncFile(x, QStringLiteral("f.txt"), kDel), QStringLiteral("削除 Err"));
    EXPECT_EQ(SyncFld(x, QStringLiteral("d"), kDel), QStringLiteral("削除 Err"));
    EXPECT_EQ(readFile(p2(QStringLiteral("f.txt"))), QByteArray("f"));
    EXPECT_EQ(readFile(p2(QStringLiteral("d/x.txt"))), QByteArray("x"));
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(SyncOpsTest, LinksAndUnreadableNamesAreHandledSafely)
{
    const QString outside = tmp.path() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/victim.txt"), "must stay");
    src(QStringLiteral("ln/x.txt"), "x");
    ASSERT_TRUE(QFile::link(QStringLiteral("x.txt"), p1(QStringLiteral("ln/link"))));
    makeDir(p2(QStringLiteral("ln")));
    // Folder 2 holds a link where folder 1 has a folder: never written or deleted through.
    ASSERT_TRUE(QFile::link(outside, p2(QStringLiteral("via"))));
    const SyncCtx x = ctx(false, false, false);

    EXPECT_EQ(SyncFile(x, QStringLiteral("ln/link"), kAdd), kAdd);
    EXPECT_EQ(fsops::kindOf(PathAt(p2(QStringLiteral("ln/link")))), fsops::Kind::Link);
    EXPECT_EQ(QFile::symLinkTarget(p2(QStringLiteral("ln/link"))), p2(QStringLiteral("ln/x.txt")));
    EXPECT_EQ(SyncFile(x, QStringLiteral("via/victim.txt"), kDel), QStringLiteral("削除 Err"));
    EXPECT_EQ(SyncFld(x, QStringLiteral("via/sub"), kAdd), QStringLiteral("追加 Err"));
    EXPECT_EQ(SyncFld(x, QStringLiteral("via"), kEmpty), kEmpty + QStringLiteral(" Err"));
    EXPECT_EQ(readFile(outside + QStringLiteral("/victim.txt")), QByteArray("must stay"));
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("/sub")));
    // Deleting the link row removes the link only.
    EXPECT_EQ(SyncFile(x, QStringLiteral("via"), kDel), kDel);
    EXPECT_FALSE(QFileInfo(p2(QStringLiteral("via"))).isSymLink());
    EXPECT_EQ(readFile(outside + QStringLiteral("/victim.txt")), QByteArray("must stay"));

    // A name that is not UTF-8 on disk reaches the grid by its exact bytes:
    // its row acts on that file, and never on a look-alike spelled with U+FFFD.
    const QByteArray raw = QFile::encodeName(f2) + "/bad\xff.txt";
    FILE* f = ::fopen(raw.constData(), "w");
    ASSERT_NE(f, nullptr);
    ::fclose(f);
    dst(QStringLiteral("bad\uFFFD.txt"), "look-alike");
    EXPECT_EQ(SyncFile(x, nameText("bad\xff.txt"), kDel), kDel);
    EXPECT_FALSE(Exists(nameText(raw)));
    EXPECT_EQ(readFile(p2(QStringLiteral("bad\uFFFD.txt"))), QByteArray("look-alike"));
    // A genuine U+FFFD in a valid name is handled like any other name.
    dst(QStringLiteral("real\uFFFD.txt"), "r");
    EXPECT_EQ(SyncFile(x, QStringLiteral("real\uFFFD.txt"), kDel), kDel);
    EXPECT_FALSE(QFileInfo::exists(p2(QStringLiteral("real\uFFFD.txt"))));
}

} // namespace
} // namespace velmor::test
