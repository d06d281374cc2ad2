// What the scans leave out and why: the history folder, the volume trash,
// the program's temporary files, special files, links on the way; and paths
// longer than the kernel takes in one call.
#include "CmpFixture.h"

#include <QDir>
#include <QFile>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace velmor;
using namespace velmor::test;

namespace {

class ScanSafetyTest : public CmpFixture {
protected:
    // The folder phases of a run: both folder scans and their classification.
    void scanFolders()
    {
        s.sFld1 = src;
        s.sFld2 = dst;
        s.yRt = GetOpt(s.panel);
        s.vUnread.clear();
        s.oDb.DbOpen();
        s.oDb.exec(QStringLiteral("Delete From tbFold"));
        s.oDb.exec(QStringLiteral("Delete From tbFile"));
        s.nCnt = 1000;
        pg.cMsg(CmpMsg::FolderPhase, true);
        ScnFld1(s);
        ScnFld2(s, dst);
        ClsFld(s);
    }
    // The file phases that follow.
    void scanFiles()
    {
        s.nCnt = 1000;
        ScnFile(s);
        ClsFile(s);
    }
    bool unreadNames(const QString& path)
    {
        for (const QString& line : std::as_const(s.vUnread))
            if (line.startsWith(path + QLatin1Char(':')))
                return true;
        return false;
    }
};

// Root reads every folder whatever its mode: for the guard's lifetime this
// thread loses that right (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), and so do
// the threads it starts meanwhile (the scans' listing workers). Other users
// are bound by the modes anyway.
class NoReadOverride {
public:
    NoReadOverride()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &m_head, m_saved) != 0)
            throw std::runtime_error("capget failed");
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        if (::syscall(SYS_capset, &m_head, reduced) != 0)
            throw std::runtime_error("capset failed");
        m_dropped = true;
    }
    ~NoReadOverride()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_head, m_saved);
    }
    NoReadOverride(const NoReadOverride&) = delete;
    NoReadOverride& operator=(const NoReadOverride&) = delete;

private:
    __user_cap_header_struct m_head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

} // namespace

TEST_F(ScanSafetyTest, AnUnreadableFolderLeavesItsLongerNamedSiblingCompared)
{
    s.panel.chRet[1] = true;
    for (const QString& side : {src, dst}) {
        for (const char* rel : {"x/sub", "xy/sub", "x.y"})
            makeDir(side + QLatin1Char('/') + QLatin1String(rel));
        file(side + QStringLiteral("/x/c.txt"));
        file(side + QStringLiteral("/xy/a.txt"));
        file(side + QStringLiteral("/xy/sub/b.txt"));
    }
    makeDir(dst + QStringLiteral("/xy/only2"));
    load();
    const std::map<QString, QString> wantFolds = {
        {QStringLiteral("x"), St::Excl},       {QStringLiteral("x/sub"), St::Excl},
        {QStringLiteral("x.y"), St::Cmp},      {QStringLiteral("xy"), St::Cmp},
        {QStringLiteral("xy/only2"), St::Del}, {QStringLiteral("xy/sub"), St::Cmp},
    };
    const std::map<QString, QString> wantFiles = {
        {QStringLiteral("xy|a.txt"), St::Same},
        {QStringLiteral("xy/sub|b.txt"), St::Same},
    };
    // Folder 2's "x" unreadable from the folder scan on; folder 1's "x"
    // unreadable once the folder scan is done (found by the file scan).
    struct Case {
        const char* phase;
        QString locked;
        bool beforeFolderScan;
    };
    const Case cases[] = {{"folder scan", dst + QStringLiteral("/x"), true},
                          {"file scan", src + QStringLiteral("/x"), false}};
    for (const Case& c : cases) {
        const QByteArray locked = nameBytes(c.locked);
        {
            NoReadOverride noOverride;
            if (c.beforeFolderScan) {
                ASSERT_EQ(::chmod(locked.constData(), 0), 0);
            }
            scanFolders();
            if (!c.beforeFolderScan) {
                ASSERT_EQ(::chmod(locked.constData(), 0), 0);
            }
            scanFiles();
        }
        ASSERT_EQ(::chmod(locked.constData(), 0755), 0);
        EXPECT_EQ(folds(), wantFolds) << c.phase;
        EXPECT_EQ(files(), wantFiles) << c.phase;
        EXPECT_TRUE(unreadNames(c.locked)) << c.phase << ": " << s.vUnread.join(QLatin1Char('\n')).toStdString();
    }
}

TEST_F(ScanSafetyTest, HistoryFolderInsideFolder2TakesNoPart)
{
    s.panel.chRet[1] = true;  // delete switch
    makeDir(dst + QStringLiteral("/old/hist/20200101"));
    file(dst + QStringLiteral("/old/hist/20200101/saved.txt"));
    makeDir(dst + QStringLiteral("/old/junk"));
    makeDir(src + QStringLiteral("/kept"));
    s.panel.txFold = dst + QStringLiteral("/old/hist/");
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(s.sHistRel, QStringLiteral("old/hist"));
    const std::map<QString, QString> want = {
        {QStringLiteral("kept"), St::Add},
        {QStringLiteral("old"), St::Excl},  // would take the history with it
        {QStringLiteral("old/junk"), St::Del},
    };
    EXPECT_EQ(folds(), want);

    // Named through a link, and with a folder-1 folder at its place: nothing
    // is copied into it, the folder holding it is compared as usual.
    makeDir(src + QStringLiteral("/old/hist/sub"));
    file(src + QStringLiteral("/old/hist/sub/a.txt"));
    file(src + QStringLiteral("/old/o.txt"));
    ASSERT_TRUE(QFile::link(dst + QStringLiteral("/old/hist"), tmp.path() + QStringLiteral("/histlink")));
    s.panel.txFold = tmp.path() + QStringLiteral("/histlink");
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_EQ(s.sHistRel, QStringLiteral("old/hist"));
    const auto f = folds();
    EXPECT_EQ(f.at(QStringLiteral("old")), St::Cmp);
    EXPECT_EQ(f.at(QStringLiteral("old/hist")), St::Excl);
    EXPECT_EQ(f.at(QStringLiteral("old/hist/sub")), St::Excl);
    EXPECT_EQ(f.at(QStringLiteral("old/junk")), St::Del);
    EXPECT_EQ(f.count(QStringLiteral("old/hist/20200101")), 0u);
    const std::map<QString, QString> wantFiles = {{QStringLiteral("old|o.txt"), St::Add}};
    EXPECT_EQ(files(), wantFiles);

    // A history folder outside folder 2 leaves nothing out.
    s.panel.txFold = data;
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_TRUE(s.sHistRel.isEmpty());
    EXPECT_EQ(folds().at(QStringLiteral("old/hist/20200101")), St::Del);
}

// The folder-1 scan stops at folder 2 itself, at a ticked folder or at one
// that only holds ticked folders: whatever view of it the comparison was
// given, nothing of it is scanned as a source.
TEST_F(ScanSafetyTest, TheFolder1ScanStopsAtFolder2Itself)
{
    makeDir(src + QStringLiteral("/a/inner"));
    makeDir(src + QStringLiteral("/b"));
    for (const char* rel : {"a/inner", "a"}) {
        load(false);
        tick(QStringLiteral("a/inner"), true);
        s.sFld1 = src;
        s.sFld2 = dst;
        s.id2 = FsIdOf(openDirPath(QFile::encodeName(src + QLatin1Char('/') + QLatin1String(rel)), true).get());
        s.oDb.DbOpen();
        s.oDb.exec(QStringLiteral("Delete From tbFold"));
        pg.cMsg(CmpMsg::FolderPhase, true);
        try {
            ScnFld1(s);
            ADD_FAILURE() << rel << " was scanned as a folder of folder 1";
        } catch (const FsError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("folder 2 itself"))) << e.what();
        }
    }
}

TEST_F(ScanSafetyTest, VolumeTrashAtTheRootsIsLeftOut)
{
    s.panel.chRet[1] = true;
    makeDir(dst + QStringLiteral("/.Trash-0/files"));
    makeDir(dst + QStringLiteral("/.Trash/x"));
    makeDir(dst + QStringLiteral("/.Trash-1009/files"));  // a user id with a 9
    makeDir(dst + QStringLiteral("/.Trash-1x"));        // not a trash name
    makeDir(dst + QStringLiteral("/.Trash-10x9"));
    makeDir(dst + QStringLiteral("/.Trashy"));
    makeDir(dst + QStringLiteral("/a/.Trash"));         // not at the root
    makeDir(src + QStringLiteral("/.Trash-1000/files"));
    makeDir(src + QStringLiteral("/a/.Trash-1000"));
    makeDir(src + QStringLiteral("/b"));
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    const std::map<QString, QString> want = {
        {QStringLiteral(".Trash-10x9"), St::Del},
        {QStringLiteral(".Trash-1x"), St::Del},
        {QStringLiteral(".Trashy"), St::Del},
        {QStringLiteral("a"), St::Cmp},
        {QStringLiteral("a/.Trash"), St::Del},
        {QStringLiteral("a/.Trash-1000"), St::Add},
        {QStringLiteral("b"), St::Add},
    };
    EXPECT_EQ(folds(), want);
    EXPECT_TRUE(s.vUnread.isEmpty());
}

TEST_F(ScanSafetyTest, TemporaryAndSpecialFilesAreNotCompared)
{
    s.panel.chRet[1] = true;
    makeDir(src + QStringLiteral("/d"));
    makeDir(dst + QStringLiteral("/d"));
    makeDir(src + QStringLiteral("/e"));
    makeDir(dst + QStringLiteral("/e"));
    file(src + QStringLiteral("/d/a.txt"));
    file(dst + QStringLiteral("/d/a.txt"));
    file(dst + QStringLiteral("/d/.a.txt.velmor~Ab12Cd"), "partial copy");
    markAsTemp(dst + QStringLiteral("/d/.a.txt.velmor~Ab12Cd"));
    file(src + QStringLiteral("/e/b.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + QStringLiteral("/d/pipe1")).constData(), 0644), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dst + QStringLiteral("/e/pipe2")).constData(), 0644), 0);
    load();
    ASSERT_EQ(run(), CmpOutcome::Done);
    const std::map<QString, QString> want = {
        {QStringLiteral("d|a.txt"), St::Same},
        {QStringLiteral("e|b.txt"), St::Add},
    };
    EXPECT_EQ(files(), want);
    EXPECT_EQ(s.vTmpLeft, QSet<QString>{QStringLiteral("d")});
    ASSERT_EQ(s.vUnread.size(), 2) << s.vUnread.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(unreadNames(src + QStringLiteral("/d/pipe1")));
    EXPECT_TRUE(unreadNames(dst + QStringLiteral("/e/pipe2")));
    // Both folders are still compared, their special files are named at the end.
    EXPECT_EQ(folds().at(QStringLiteral("d")), St::Cmp);
    EXPECT_EQ(folds().at(QStringLiteral("e")), St::Cmp);
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].startsWith(CmpMsg::Unread));

    // The next comparison starts from a clean list.
    QFile::remove(dst + QStringLiteral("/d/.a.txt.velmor~Ab12Cd"));
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_TRUE(s.vTmpLeft.isEmpty());
}

TEST_F(ScanSafetyTest, PathsLongerThanTheKernelTakesAreCompared)
{
    // 21 levels of 200-byte names: more than 4096 bytes below each root.
    const QByteArray level(200, 'n');
    QByteArray rel;
    for (const QString& side : {src, dst}) {
        UniqueFd cur = rawOpen(side);
        rel.clear();
        while (rel.size() <= 4096) {
            cur = rawMkdirAt(cur.get(), level);
            rel += (rel.isEmpty() ? "" : "/") + level;
        }
        rawFileAt(cur.get(), "deep.txt", side == src ? "new" : "old",
                  side == src ? QDateTime(QDate(2012, 1, 1), QTime(1, 1)) : QDateTime(QDate(2009, 1, 1), QTime(1, 1)));
        if (side == src)
            rawFileAt(cur.get(), "add.txt", "a");
    }
    load();
    const QString deep = nameText(rel);
    ASSERT_GT(nameBytes(src + QLatin1Char('/') + deep).size(), 4096);
    ASSERT_EQ(run(), CmpOutcome::Done);
    EXPECT_TRUE(s.vUnread.isEmpty()) << s.vUnread.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(folds().at(deep), St::Cmp) << "the folder-1 tree loaded the deep folder";
    const std::map<QString, QString> want = {
        {deep + QStringLiteral("|add.txt"), St::Add},
        {deep + QStringLiteral("|deep.txt"), St::Over},
    };
    EXPECT_EQ(files(), want);
    EXPECT_EQ(gridStatus(deep, QStringLiteral("deep"), QStringLiteral("txt")), St::Over);
}

TEST_F(ScanSafetyTest, LinksOnTheWayAreNeverFollowed)
{
    s.panel.chRet[1] = true;
    const QString outside = tmp.path() + QStringLiteral("/outside");
    file(outside + QStringLiteral("/secret.txt"));
    makeDir(outside + QStringLiteral("/inner"));
    for (const QString& side : {src, dst}) {
        makeDir(side + QStringLiteral("/d/sub"));
        makeDir(side + QStringLiteral("/ok"));
        file(side + QStringLiteral("/d/a.txt"));
        file(side + QStringLiteral("/ok/b.txt"));
    }
    makeDir(src + QStringLiteral("/w/x"));
    load();

    // Folder 2's copy of a compared folder becomes a link to a folder
    // outside the root after the folder scan: nothing of it is listed.
    scanFolders();
    ASSERT_EQ(folds().at(QStringLiteral("d")), St::Cmp);
    ASSERT_TRUE(QDir(dst + QStringLiteral("/d")).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, dst + QStringLiteral("/d")));
    scanFiles();
    const std::map<QString, QString> want = {{QStringLiteral("ok|b.txt"), St::Same}};
    EXPECT_EQ(files(), want);
    EXPECT_EQ(folds().at(QStringLiteral("d")), St::Excl);
    EXPECT_EQ(folds().at(QStringLiteral("d/sub")), St::Excl);
    ASSERT_EQ(s.vUnread.size(), 1) << s.vUnread.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(unreadNames(dst + QStringLiteral("/d")));

    // The same on the folder-1 side, found already by the folder scan.
    ASSERT_TRUE(QFile::remove(dst + QStringLiteral("/d")));
    makeDir(dst + QStringLiteral("/d/sub"));
    makeDir(dst + QStringLiteral("/d/only2"));
    ASSERT_TRUE(QDir(src + QStringLiteral("/d")).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, src + QStringLiteral("/d")));
    scanFolders();
    EXPECT_EQ(folds().at(QStringLiteral("d")), St::Excl);
    EXPECT_EQ(folds().at(QStringLiteral("d/sub")), St::Excl);
    EXPECT_EQ(folds().at(QStringLiteral("d/only2")), St::Excl) << "not known to be absent from folder 1";
    EXPECT_TRUE(unreadNames(src + QStringLiteral("/d")));
    EXPECT_TRUE(unreadNames(src + QStringLiteral("/d/sub")));
    scanFiles();
    EXPECT_EQ(files(), want);

    // A folder to create in folder 2 ("比較F") whose place became a link:
    // nothing is made through it, the folder and those below it are left out.
    s.panel.cbFlt = 1;
    s.panel.txFlt = QStringLiteral("tmp");
    s.nFltMd = 1;
    s.vFltEx = QStringList{QStringLiteral("tmp")};
    scanFolders();
    ASSERT_EQ(folds().at(QStringLiteral("w/x")), St::CmpF);
    ASSERT_TRUE(QFile::link(outside, dst + QStringLiteral("/w")));
    s.vUnread.clear();
    scanFiles();
    EXPECT_EQ(folds().at(QStringLiteral("w")), St::Excl);
    EXPECT_EQ(folds().at(QStringLiteral("w/x")), St::Excl);
    EXPECT_EQ(s.vUnread.size(), 1) << s.vUnread.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("/x")));
}
