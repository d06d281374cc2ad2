// Moved and renamed items: the comparison pairs them and shows the pair, the
// synchronisation renames folder 2's copy instead of copying it again; what
// is not surely the same item stays an ordinary copy and deletion.
#include "EndToEndFixture.h"

#include "common/VolumeImage.h"
#include "compare/Compare.h"
#include "compare/Moves.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::test {
namespace {

using namespace Qt::Literals::StringLiterals;

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// 64 KiB of one letter, or of another at one byte that no sample reads.
QByteArray block(char c, qsizetype otherAt = -1)
{
    QByteArray b(64 * 1024, c);
    if (otherAt >= 0)
        b[otherAt] = char(c + 1);
    return b;
}

const QByteArray kA = block('a'), kB = block('b'), kC = block('c');

struct Item {
    int side;  // 1 or 2
    const char* rel;
    QByteArray content;
};

struct MoveCase {
    const char* what;
    int moves;  // TaskPanel::nMoves
    std::vector<Item> items;
    QStringList rows;     // "path|name|status|result" of every grid row, in grid order
    QStringList cleared;  // "path|name" of rows whose flag the user clears
    QStringList renamed;  // "old>new": folder 2's item renamed, not copied
    QString hogo, jogai;  // protection and exclusion patterns
};

class MoveTest : public EndToEndTest {
protected:
    QStringList gridRows() const
    {
        QStringList out;
        for (const ResultRow& r : session.vSpr.rows())
            if (r.status != St::Cmp)  // listed where only its metadata differ
                out << r.path + u'|' + r.fileName() + u'|' + r.status + u'|' + r.result;
        return out;
    }
    ResultRow* rowOf(const QString& pathAndName)
    {
        for (ResultRow& r : session.vSpr.rows())
            if (r.path + u'|' + r.fileName() == pathAndName)
                return &r;
        return nullptr;
    }
    void writeAt(int side, const QString& rel, const QByteArray& content)
    {
        if (side == 1)
            src(rel, content, At(3));
        else
            dst(rel, content, At(3));
    }
    // d/a.jpg renamed d/b.jpg in folder 1, compared with quick moves.
    void renamedFile()
    {
        src(u"d/b.jpg"_s, kA, At(3));
        dst(u"d/a.jpg"_s, kA, At(3));
        session.panel.chRet[1] = true;
        session.panel.nMoves = 1;
        options(false, false, false);
        tick({QString()});
        compare();
        ASSERT_EQ(gridRows(), (QStringList{u"d|b.jpg|追加|移動"_s, u"d|a.jpg|削除|移動"_s}));
    }
    QString backupOf(const SyncReport& rep, const QString& rel) const { return rep.sBkFld + u"mirror/"_s + rel; }
};

const MoveCase kCases[] = {
    {"a renamed file", 1,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|追加|移動"_s, u"d|a.jpg|削除|移動"_s}, {}, {u"d/a.jpg>d/b.jpg"_s}, {}, {}},
    {"moves off: a copy and a deletion", 0,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|追加|"_s, u"d|a.jpg|削除|"_s}, {}, {}, {}, {}},
    {"a file moved to another folder", 2,
     {{2, "x/a.jpg", kA}, {1, "y/a.jpg", kA}, {2, "x/keep.txt", "k"}, {1, "x/keep.txt", "k"}, {2, "y/keep.txt", "k"},
      {1, "y/keep.txt", "k"}},
     {u"x|keep.txt|同一|"_s, u"x|a.jpg|削除|移動"_s, u"y|a.jpg|追加|移動"_s, u"y|keep.txt|同一|"_s}, {},
     {u"x/a.jpg>y/a.jpg"_s}, {}, {}},
    {"a renamed folder", 1,
     {{2, "old/1.bin", kA}, {2, "old/sub/2.bin", kB}, {1, "new/1.bin", kA}, {1, "new/sub/2.bin", kB}},
     {u"new||追加|移動"_s, u"new/sub||追加|"_s, u"old||削除|移動"_s, u"old/sub||削除|"_s}, {},
     {u"old>new"_s, u"old/sub/2.bin>new/sub/2.bin"_s}, {}, {}},
    {"a renamed folder that gained a file is no move", 1,
     {{2, "old/1.bin", kA}, {1, "new/1.bin", kA}, {1, "new/2.bin", kB}},
     {u"new||追加|"_s, u"old||削除|"_s}, {}, {}, {}, {}},
    {"a folder moved one level down into a new folder", 1,
     {{2, "photos/1.jpg", kA}, {2, "photos/2.jpg", kB}, {1, "archive/photos/1.jpg", kA},
      {1, "archive/photos/2.jpg", kB}, {1, "archive/note.txt", "n"}},
     {u"archive||追加|"_s, u"archive/photos||追加|移動"_s, u"photos||削除|移動"_s}, {},
     {u"photos>archive/photos"_s, u"photos/2.jpg>archive/photos/2.jpg"_s}, {}, {}},
    // b.bin and d.bin have a.bin's size and time: only the bytes tell which
    // is a.bin renamed; d.bin is new, b.bin goes.
    {"two files of one size and time, one of them moved", 1,
     {{2, "d/a.bin", kA}, {2, "d/b.bin", kB}, {1, "d/c.bin", kA}, {1, "d/d.bin", kC}},
     {u"d|c.bin|追加|移動"_s, u"d|d.bin|追加|"_s, u"d|a.bin|削除|移動"_s, u"d|b.bin|削除|"_s}, {}, {u"d/a.bin>d/c.bin"_s}, {}, {}},
    {"the deletion's flag cleared", 1,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|追加|移動"_s, u"d|a.jpg|削除|移動"_s}, {u"d|a.jpg"_s}, {}, {}, {}},
    {"the addition's flag cleared", 1,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|追加|移動"_s, u"d|a.jpg|削除|移動"_s}, {u"d|b.jpg"_s}, {}, {}, {}},
    {"a protected deletion is not paired", 1,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|追加|"_s, u"d|a.jpg|保護|"_s}, {}, {}, u"a.jpg"_s, {}},
    {"an excluded addition is not paired", 1,
     {{2, "d/a.jpg", kA}, {1, "d/b.jpg", kA}},
     {u"d|b.jpg|除外|"_s, u"d|a.jpg|削除|"_s}, {}, {}, {}, u"b.jpg"_s},
    {"the same size and time, other content", 1,
     {{2, "d/a.bin", kA}, {1, "d/b.bin", kB}},
     {u"d|b.bin|追加|"_s, u"d|a.bin|削除|"_s}, {}, {}, {}, {}},
    {"other content where no sample reads: every byte tells", 2,
     {{2, "d/a.bin", block('a', 5000)}, {1, "d/b.bin", kA}},
     {u"d|b.bin|追加|"_s, u"d|a.bin|削除|"_s}, {}, {}, {}, {}},
};

TEST_F(MoveTest, PairsAreShownAndRenamedInFolderTwo)
{
    for (const MoveCase& c : kCases) {
        SCOPED_TRACE(c.what);
        TearDown();
        sourceChangedByTest();
        SetUp();
        for (const Item& i : c.items)
            writeAt(i.side, QString::fromUtf8(i.rel), i.content);
        // Every folder of an earlier day: one a move leaves or enters must
        // get its source's time again, else it differs the next time.
        for (const QString& root : {f1, f2})
            for (QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
                setMTime(it.next(), At(2));
        session.panel.chRet[1] = true;
        session.panel.nMoves = c.moves;
        session.panel.txHogo = c.hogo;
        session.panel.txJogai = c.jogai;
        options(true, true, false);
        tick({QString()});
        compare();
        EXPECT_EQ(gridRows(), c.rows);
        for (const QString& r : c.cleared) {
            ResultRow* row = rowOf(r);
            ASSERT_NE(row, nullptr) << r.toStdString();
            row->flag = kFlagOff;
        }
        std::vector<ino_t> before;
        for (const QString& r : c.renamed)
            before.push_back(inodeOf(p2(r.section(u'>', 0, 0))));

        const SyncReport rep = SyncRun(session);
        EXPECT_EQ(rep.failed, 0);
        for (size_t k = 0; k < before.size(); ++k) {
            const QString from = c.renamed[qsizetype(k)].section(u'>', 0, 0), to = c.renamed[qsizetype(k)].section(u'>', 1);
            EXPECT_EQ(inodeOf(p2(to)), before[k]) << to.toStdString() << " is a copy";
            EXPECT_FALSE(Exists(p2(from)));
            EXPECT_FALSE(Exists(backupOf(rep, from))) << "a move needs no backup";
        }
        if (c.renamed.isEmpty())
            continue;
        const QString first = c.renamed.first();
        const QStringList lines = LogLines(rep.logFile);
        EXPECT_TRUE(lines.contains(p2(first.section(u'>', 0, 0)) + u" を､"_s + p2(first.section(u'>', 1)) + u" に移動しました"_s))
            << lines.join(u'\n').toStdString();
        // Nothing is left to do.
        compare();
        for (const ResultRow& r : session.vSpr.rows())
            EXPECT_EQ(r.flag, kFlagOff) << (r.path + u'|' + r.fileName() + u'|' + r.status).toStdString();
    }
}

TEST_F(MoveTest, ClearedFlagsMakeAnOrdinaryCopyAndDeletion)
{
    renamedFile();
    rowOf(u"d|a.jpg"_s)->flag = kFlagOff;
    const ino_t old = inodeOf(p2(u"d/a.jpg"_s));
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(readFile(p2(u"d/b.jpg"_s)), kA);
    EXPECT_NE(inodeOf(p2(u"d/b.jpg"_s)), old);  // copied
    EXPECT_EQ(inodeOf(p2(u"d/a.jpg"_s)), old);  // its row did nothing
    EXPECT_EQ(rowOf(u"d|b.jpg"_s)->result, u"追加"_s);
}

TEST_F(MoveTest, ARenameThatFailsFallsBackToCopyAndDeletion)
{
    renamedFile();
    // The name is taken after the comparison: the move must not replace it.
    dst(u"d/b.jpg"_s, "taken meanwhile", At(4));
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(readFile(p2(u"d/b.jpg"_s)), kA);
    EXPECT_FALSE(Exists(p2(u"d/a.jpg"_s)));
    const ResultRow* add = rowOf(u"d|b.jpg"_s);
    EXPECT_EQ(add->result, u"追加"_s);
    EXPECT_TRUE(add->why().startsWith(u"移動できないため"_s)) << add->why().toStdString();
    EXPECT_EQ(rowOf(u"d|a.jpg"_s)->result, u"削除"_s);
}

TEST_F(MoveTest, OnlyTheLetterCaseChangesOnAVolumeThatIgnoresCase)
{
    VolumeImage vol(VolumeImage::Type::Exfat);
    if (!vol.ok())
        GTEST_SKIP() << vol.reason().toStdString();
    f2 = vol.path() + u"/mirror"_s;
    makeDir(f2);
    ASSERT_TRUE(SetRoots(session, f1, f2));
    src(u"d/Photo.JPG"_s, kA, At(3));
    dst(u"d/photo.jpg"_s, kA, At(3));
    // The FUSE driver stamps a file opened for writing when it lets it go,
    // after close: the time is set once more, without opening the file.
    ::sync();
    const struct timespec t[2] = {{At(3).toSecsSinceEpoch(), 0}, {At(3).toSecsSinceEpoch(), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(p2(u"d/photo.jpg"_s)).constData(), t, 0), 0);
    session.panel.chRet[1] = true;
    session.panel.nMoves = 1;
    options(true, false, false);
    tick({QString()});
    compare();
    ASSERT_EQ(gridRows(), (QStringList{u"d|Photo.JPG|上書|移動"_s}));
    EXPECT_EQ(session.vSpr.row(0).moveText(), u"移動元 d/photo.jpg"_s);
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(QDir(p2(u"d"_s)).entryList(QDir::Files), QStringList{u"Photo.JPG"_s});
    EXPECT_EQ(readFile(p2(u"d/Photo.JPG"_s)), kA);
    EXPECT_EQ(LogLines(rep.logFile), QStringList{p2(u"d/photo.jpg"_s) + u" を､"_s + p2(u"d/Photo.JPG"_s) + u" に移動しました"_s});
    compare();
    EXPECT_EQ(gridRows(), (QStringList{u"d|Photo.JPG|同一|"_s}));
}

} // namespace
} // namespace velmor::test
