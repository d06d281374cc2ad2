// The task store of the main window: saving, loading and deleting tasks in
// tbTask on real folders, and velmor-cli task over the same store.
#include "app/MainState.h"
#include "common/TestSupport.h"
#include "compare/Compare.h"
#include "env/Usr.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <sqlite3.h>
#include <thread>

using namespace velmor;
using namespace velmor::test;
using namespace Qt::Literals::StringLiterals;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Records the caption and default text of titled input boxes too.
class TitledPrompt : public RecordingPrompt {
public:
    QString inputTitled(const QString& title, const QString& prompt, const QString& defaultText) override
    {
        titles << title;
        defaults << defaultText;
        return input(prompt, defaultText);
    }
    QStringList titles, defaults;
};

// Ticked and expanded state of every folder node, by path below the root.
using Marks = QMap<QString, std::pair<bool, bool>>;

class TaskStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        Usr::sUsrDt = tmp.path() + u"/data/"_s;
        src = tmp.path() + u"/src"_s;
        dst = tmp.path() + u"/dst"_s;
        makeDir(Usr::sUsrDt);
        for (const char* rel : {"a/b/c", "a/d", "ab", "e/f"})
            makeDir(src + u'/' + QLatin1String(rel));
        makeDir(dst + u"/x/y"_s);
        Usr::setPrompt(&prompt);
        Usr::bBusy = false;
    }
    void TearDown() override { Usr::setPrompt(nullptr); }

    // A window after its load, showing root1 and root2.
    std::unique_ptr<MainState> window(const QString& root1 = {}, const QString& root2 = {})
    {
        auto w = std::make_unique<MainState>();
        w->s.progress = &progress;
        w->tree1.setRoot(root1.isEmpty() ? src : root1);
        w->tree2.setRoot(root2.isEmpty() ? dst : root2);
        w->Load();
        return w;
    }
    static TreeNode* node(MainState& w, const QString& rel)
    {
        const QString want = rel.isEmpty() ? w.tree1.Root() : w.tree1.Root() + u'/' + rel;
        for (int i = 0; i < w.tree1.nodeCount(); ++i)
            if (!w.tree1.nodeAt(i)->isPlaceholder() && w.tree1.fullPath(w.tree1.nodeAt(i)) == want)
                return w.tree1.nodeAt(i);
        return nullptr;
    }
    static Marks marks(MainState& w)
    {
        Marks m;
        for (int i = 0; i < w.tree1.nodeCount(); ++i)
            if (const TreeNode* n = w.tree1.nodeAt(i); !n->isPlaceholder())
                m.insert(w.tree1.fullPath(n).mid(w.tree1.Root().size()), {n->checked, n->expanded});
        return m;
    }
    void saveAs(MainState& w, const QString& name)
    {
        prompt.inputAnswers.push_back(name);
        w.TskSave(false);
    }
    QVariantList row(MainState& w, const QString& name, const QString& columns)
    {
        QVariantList v;
        EXPECT_TRUE(w.s.oDb.R_PAry(u"Select "_s + columns + u" From tbTask Where sTask = ?"_s, v, {name}));
        return v;
    }
    long long taskCount(MainState& w)
    {
        QVariantList v;
        EXPECT_TRUE(w.s.oDb.R_PAry(u"Select Count(*) From tbTask"_s, v));
        return v.value(0).toLongLong();
    }

    QTemporaryDir tmp;
    QString src, dst;
    TitledPrompt prompt;
    HeadlessProgress progress;
};

} // namespace

TEST_F(TaskStoreTest, SavedTaskLoadsIntoAFreshWindowAsItWas)
{
    auto w1 = window();
    w1->tree1.ExpndALL(2, true);
    for (const char* rel : {"a", "a/b/c", "e/f"})
        node(*w1, QLatin1String(rel))->checked = true;
    w1->tree1.setPath(src + u"/a/d"_s);  // opens a on the way
    node(*w1, u"a/b"_s)->expanded = true;
    w1->tree2.setPath(dst + u"/x/y"_s);
    for (int i : {0, 1, 2, 5, 7})
        w1->s.panel.chRet[size_t(i)] = true;
    w1->s.panel.txFold = tmp.path() + u"/hist/"_s;
    w1->setFilterIndex(2);
    w1->s.panel.txFlt = u"*.txt, *.doc"_s;
    w1->s.panel.txJogai = u"*.bak"_s;
    w1->s.panel.txHogo = u"*.cfg,keep?"_s;
    Marks want = marks(*w1);
    want[QString()] = {true, true};  // the root's empty entry: always ticked and open after a load

    saveAs(*w1, u"毎日"_s);
    ASSERT_EQ(w1->tskResult, TskResult::Done) << prompt.messages.join(u'|').toStdString();
    EXPECT_EQ(prompt.titles, QStringList{u"ﾀｽｸの登録"_s});
    EXPECT_EQ(prompt.inputPrompts, QStringList{u"ﾀｽｸの名称を指定して下さい"_s});
    EXPECT_EQ(prompt.defaults, QStringList{src});
    EXPECT_EQ(row(*w1, u"毎日"_s, u"mChk"_s)[0].toString(), u"/a,/a/b/c,/e/f,"_s) << "index order, root unticked";

    auto w2 = window(dst, src);
    EXPECT_EQ(w2->cbTsk, QStringList{u"毎日"_s});
    w2->s.vSpr.setRowCount(3);
    bool ok = false;
    w2->TskLoad(ok, u"毎日"_s);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join(u'|').toStdString();
    EXPECT_EQ(w2->s.vSpr.rowCount(), 0);
    EXPECT_EQ(w2->tree1.Path(), src + u"/a/d"_s);
    EXPECT_EQ(w2->tree2.Path(), dst + u"/x/y"_s);
    EXPECT_EQ(marks(*w2), want);
    EXPECT_EQ(w2->s.panel.chRet, (std::array<bool, 8>{true, true, true, false, false, true, false, true}));
    EXPECT_EQ(w2->s.yRt, (YRt{1, 1, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(w2->s.panel.txFold, tmp.path() + u"/hist"_s) << "one trailing separator cut";
    EXPECT_TRUE(w2->txFoldEnabled);
    EXPECT_EQ(w2->s.panel.cbFlt, 2);
    EXPECT_TRUE(w2->txFltEnabled);
    EXPECT_EQ(w2->s.panel.txFlt, u"*.txt, *.doc"_s);
    EXPECT_EQ(w2->s.panel.txJogai, u"*.bak"_s);
    EXPECT_EQ(w2->s.panel.txHogo, u"*.cfg,keep?"_s);
    EXPECT_EQ(w2->sCurTsk, u"毎日"_s);
    EXPECT_EQ(w2->mnSaveAsCaption, u"名前を変えて保存"_s);
    EXPECT_TRUE(w2->mnSaveEnabled && w2->mnDeleteEnabled);
}

TEST_F(TaskStoreTest, AddedOptionsAreSavedAndOldRowsReadAsDefaults)
{
    // A work database of the layout before these options, with a task in it.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(WorkDb::dbPath()).constData(), &db), SQLITE_OK);
        const QByteArray sql = "CREATE TABLE tbTask (sTask TEXT NOT NULL, sRt1 TEXT, sRt2 TEXT, sPh1 TEXT, sPh2 TEXT,"
                               " iFlt INTEGER, sFlt TEXT, yRt0, yRt1, yRt2, yRt3, yRt4, yRt5, yRt6, yRt7, mChk TEXT,"
                               " mExp TEXT, sPhB TEXT, sHogo TEXT, sJogai TEXT, dUdt DATETIME);"
                               "INSERT INTO tbTask (sTask, sRt1, sRt2, yRt1) VALUES ('old', '"
                               + QFile::encodeName(src) + "', '" + QFile::encodeName(dst) + "', 1);";
        EXPECT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    auto w = window();
    w->s.panel.nShift = 5;
    w->s.panel.chLinkTgt = true;
    w->s.panel.chAcls = true;
    w->s.panel.chXattrs = true;
    w->s.panel.chVerify = w->s.panel.chContent = w->s.panel.chContentTimes = true;
    w->s.panel.nMoves = w->s.panel.nKeepDays = w->s.panel.nKeepCount = 2;
    bool ok = false;
    w->TskLoad(ok, u"old"_s);
    ASSERT_TRUE(ok) << prompt.messages.join(u'|').toStdString();
    EXPECT_EQ(w->s.panel.nShift, 0);
    EXPECT_FALSE(w->s.panel.chLinkTgt);
    EXPECT_FALSE(w->s.panel.chAcls);
    EXPECT_FALSE(w->s.panel.chXattrs);
    EXPECT_FALSE(w->s.panel.chVerify || w->s.panel.chContent || w->s.panel.chContentTimes);
    EXPECT_EQ(w->s.panel.nMoves + w->s.panel.nKeepDays + w->s.panel.nKeepCount, 0);
    EXPECT_TRUE(w->s.panel.chRet[1]);

    const struct {
        const char* name;
        int shift;
        bool link, acl, xat, verify, content, contentTimes;
        int moves, keepDays, keepCount;
    } cases[] = {{"fat", 60, false, false, false, true, false, false, 1, 30, 0},
                 {"both", kMaxShift, true, false, true, false, true, false, 2, 0, kMaxKeep},
                 {"acl", 0, false, true, false, false, false, true, 0, 7, 3},
                 {"old", 30, false, true, true, true, true, false, 0, 0, 0}};
    for (const auto& c : cases) {
        w->s.panel.nShift = c.shift;
        w->s.panel.chLinkTgt = c.link;
        w->s.panel.chAcls = c.acl;
        w->s.panel.chXattrs = c.xat;
        w->s.panel.chVerify = c.verify;
        w->s.panel.chContent = c.content;
        w->s.panel.chContentTimes = c.contentTimes;
        w->s.panel.nMoves = c.moves;
        w->s.panel.nKeepDays = c.keepDays;
        w->s.panel.nKeepCount = c.keepCount;
        saveAs(*w, QString::fromUtf8(c.name));
        ASSERT_EQ(w->tskResult, TskResult::Done) << c.name;
        auto w2 = window();
        w2->TskLoad(ok, QString::fromUtf8(c.name));
        ASSERT_TRUE(ok) << c.name;
        EXPECT_EQ(w2->s.panel.nShift, c.shift) << c.name;
        EXPECT_EQ(w2->s.panel.chLinkTgt, c.link) << c.name;
        EXPECT_EQ(w2->s.panel.chAcls, c.acl) << c.name;
        EXPECT_EQ(w2->s.panel.chXattrs, c.xat) << c.name;
        EXPECT_EQ(w2->s.panel.chVerify, c.verify) << c.name;
        EXPECT_EQ(w2->s.panel.chContent, c.content) << c.name;
        EXPECT_EQ(w2->s.panel.chContentTimes, c.contentTimes) << c.name;
        EXPECT_EQ(w2->s.panel.nMoves, c.moves) << c.name;
        EXPECT_EQ(w2->s.panel.nKeepDays, c.keepDays) << c.name;
        EXPECT_EQ(w2->s.panel.nKeepCount, c.keepCount) << c.name;
    }
}

TEST_F(TaskStoreTest, FolderListsOnLoad)
{
    // Only the first level loaded, "ab" ticked, nothing open: the empty list
    // still holds the root's entry, and "a" is no prefix match of "ab".
    auto w = window();
    for (int i = 0; i < w->tree1.nodeCount(); ++i)
        w->tree1.nodeAt(i)->expanded = false;
    node(*w, u"ab"_s)->checked = true;
    saveAs(*w, u"t"_s);
    EXPECT_EQ(row(*w, u"t"_s, u"mChk || '|' || mExp"_s)[0].toString(), u"/ab,|"_s);
    w = window();
    bool ok = false;
    w->TskLoad(ok, u"t"_s);
    ASSERT_TRUE(ok);
    Marks m = marks(*w);
    EXPECT_EQ(m.value(QString()), std::make_pair(true, true));
    EXPECT_EQ(m.value(u"/ab"_s), std::make_pair(true, false));
    EXPECT_EQ(m.value(u"/a"_s), std::make_pair(false, false));
    EXPECT_TRUE(m.contains(u"/a/b/c"_s)) << "every level is loaded";

    // Null columns read as their defaults: the lists as "0" tick and open
    // nothing, not even the root; texts empty, switches off, filter 0.
    w->s.oDb.exec(u"Insert Into tbTask (sTask, sRt1) Values (?, ?)"_s, {u"bare"_s, src});
    w->s.panel.txHogo = u"old"_s;
    w->setFilterIndex(1);
    w->TskLoad(ok, u"bare"_s);
    ASSERT_TRUE(ok);
    m = marks(*w);
    EXPECT_EQ(m.size(), 8);
    for (const auto& [rel, mark] : m.asKeyValueRange())
        EXPECT_EQ(mark, std::make_pair(false, false)) << rel.toStdString();
    EXPECT_EQ(w->s.panel.txHogo, QString());
    EXPECT_EQ(w->s.panel.chRet, (std::array<bool, 8>{}));
    EXPECT_FALSE(w->txFltEnabled);
    EXPECT_TRUE(w->tree2.rootFellBack()) << "an empty folder-2 root shows the user data folder";
}

TEST_F(TaskStoreTest, FolderListsKeepEveryFolderName)
{
    // Folders named like the tree's own texts, patterns and the lists'
    // separators, each holding one of the same name; the cases with commas
    // add "a,b", "," (the same) and "x," holding "y".
    const QString root = tmp.path() + u"/names"_s;
    for (const QString& n : {u"?"_s, u"*"_s, u"**"_s, u"***"_s, u"a\\b"_s, u"[x]"_s, u"?x"_s, u"%"_s, u"%2C"_s,
                             u"Nd001"_s, u"x"_s, u"y"_s})
        makeDir(root + u'/' + n + u'/' + n);

    struct Case {
        const char* what;
        QStringList ticked, opened;  // paths below the root
        bool plain;                  // stored exactly as a list without escapes
    };
    const Case cases[] = {
        {"names without a comma in a tree without one",
         {u"/?"_s, u"/?/?"_s, u"/*"_s, u"/**"_s, u"/***"_s, u"/a\\b"_s, u"/[x]"_s, u"/?x"_s, u"/%"_s, u"/%2C"_s,
          u"/Nd001"_s},
         {u"/?"_s, u"/a\\b"_s, u"/%"_s, u"/**"_s},
         true},
        {"commas in ticked and opened names",
         {u"/a,b"_s, u"/a,b/a,b"_s, u"/,"_s, u"/%2C"_s, u"/?"_s},
         {u"/x,"_s, u"/,/,"_s, u"/%"_s},
         false},
        {"a comma in a name beside the listed ones: \"/x,/y\" is not \"/x\" and \"/y\"",
         {u"/x"_s, u"/y"_s},
         {u"/x"_s, u"/y"_s},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.plain) {
            makeDir(root + u"/x,/y"_s);
            makeDir(root + u"/a,b/a,b"_s);
            makeDir(root + u"/,/,"_s);
        }
        auto w1 = window(root);
        w1->tree1.ExpndALL(2, true);
        for (int i = 0; i < w1->tree1.nodeCount(); ++i)
            if (TreeNode* n = w1->tree1.nodeAt(i); n->parent && !n->isPlaceholder())
                n->checked = n->expanded = false;
        for (const QString& rel : c.ticked) {
            ASSERT_NE(node(*w1, rel.mid(1)), nullptr) << rel.toStdString();
            node(*w1, rel.mid(1))->checked = true;
        }
        for (const QString& rel : c.opened)
            node(*w1, rel.mid(1))->expanded = true;
        Marks want = marks(*w1);
        want[QString()] = {true, true};
        // The plain form: every listed path followed by ",", in index order.
        QString plainChk;
        for (int i = 0; i < w1->tree1.nodeCount(); ++i)
            if (const TreeNode* n = w1->tree1.nodeAt(i); !n->isPlaceholder() && n->checked)
                plainChk += w1->tree1.fullPath(n).mid(root.size()) + u',';

        const QString task = QString::fromUtf8(c.what);
        saveAs(*w1, task);
        ASSERT_EQ(w1->tskResult, TskResult::Done) << prompt.messages.join(u'|').toStdString();
        const QString mChk = row(*w1, task, u"mChk"_s)[0].toString();
        if (c.plain)
            EXPECT_EQ(mChk, plainChk);
        else
            EXPECT_NE(mChk, plainChk);

        auto w2 = window(dst, src);
        bool ok = false;
        w2->TskLoad(ok, task);
        ASSERT_TRUE(ok);
        EXPECT_EQ(marks(*w2), want);
    }

    // A list saved before commas were escaped loads as it always did: "%2C"
    // is a name, and "/a,b" is found in the text.
    auto w = window();
    w->s.oDb.exec(u"Insert Into tbTask (sTask, sRt1, sRt2, mChk, mExp) Values (?, ?, ?, ?, ?)"_s,
                  {u"old"_s, root, dst, u"/%2C,/a,b,"_s, u",/%,"_s});
    bool ok = false;
    w->TskLoad(ok, u"old"_s);
    ASSERT_TRUE(ok);
    QStringList ticked, opened;
    for (const auto& [rel, mark] : marks(*w).asKeyValueRange()) {
        if (mark.first)
            ticked << rel;
        if (mark.second)
            opened << rel;
    }
    EXPECT_EQ(ticked, QStringList({QString(), u"/%2C"_s, u"/a,b"_s}));
    EXPECT_EQ(opened, QStringList({QString(), u"/%"_s}));
}

TEST_F(TaskStoreTest, NewNameIsAppendedSelectedAndLoaded)
{
    auto w = window();
    saveAs(*w, u"b"_s);
    saveAs(*w, u"d"_s);
    w = window();
    ASSERT_EQ(w->cbTsk, (QStringList{u"b"_s, u"d"_s}));
    w->s.vSpr.setRowCount(5);
    w->s.sFld1 = u"/compared/one"_s;
    const qsizetype shown = progress.messages().size();

    saveAs(*w, u"a"_s);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(w->cbTsk, (QStringList{u"b"_s, u"d"_s, u"a"_s})) << "appended, not sorted in";
    EXPECT_EQ(w->cbTskIndex, 2);
    EXPECT_EQ(w->sCurTsk, u"a"_s);
    EXPECT_EQ(w->s.vSpr.rowCount(), 0) << "loaded again at once";
    EXPECT_EQ(progress.messages().mid(shown), QStringList{u"設定中･･･"_s});
    EXPECT_FALSE(Usr::bBusy);
    EXPECT_EQ(w->s.sFld1, u"/compared/one"_s) << "the grid's comparison roots are not the task's";
}

TEST_F(TaskStoreTest, ExistingNameIsOverwrittenAndSelectedWithoutLoading)
{
    auto w = window();
    saveAs(*w, u"b"_s);
    saveAs(*w, u"d"_s);
    w = window();
    w->selectTask(1);  // the user picks "d": it loads
    ASSERT_EQ(w->sCurTsk, u"d"_s);
    w->tree1.setRoot(src + u"/e"_s);
    w->s.vSpr.setRowCount(4);

    saveAs(*w, u"b"_s);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(w->cbTsk, (QStringList{u"b"_s, u"d"_s}));
    EXPECT_EQ(w->cbTskIndex, 0);
    EXPECT_EQ(w->sCurTsk, u"b"_s);
    EXPECT_EQ(w->s.vSpr.rowCount(), 4) << "selected without loading";
    EXPECT_EQ(row(*w, u"b"_s, u"sRt1"_s)[0].toString(), src + u"/e"_s);
    EXPECT_EQ(row(*w, u"d"_s, u"sRt1"_s)[0].toString(), src);
    EXPECT_EQ(taskCount(*w), 2);
}

TEST_F(TaskStoreTest, CancelledSavesWriteNothing)
{
    auto w = window();
    w->TskSave(true);  // "上書き保存" without a current task
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    w->TskSave(false);  // the name box cancelled
    EXPECT_EQ(w->tskResult, TskResult::Cancelled);
    EXPECT_EQ(w->sCurTsk, QString());

    w->s.panel.chRet[3] = w->s.panel.chRet[4] = true;
    prompt.questionAnswers = {false, true};
    saveAs(*w, u"both"_s);
    EXPECT_EQ(w->tskResult, TskResult::Cancelled);
    EXPECT_EQ(prompt.questions, QStringList{u"上書･削除時の元ﾌｧｲﾙを別削除し､更にごみ箱を使用して削除する指定で良いですね"_s});
    EXPECT_EQ(taskCount(*w), 0);
    EXPECT_EQ(w->sCurTsk, u"both"_s) << "the chosen name stays current";
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(prompt.questions.size(), 2) << "asked on every save";
    EXPECT_EQ(taskCount(*w), 1);
}

TEST_F(TaskStoreTest, NothingWhileARunIsUnderWay)
{
    auto w = window();
    saveAs(*w, u"t"_s);
    w->tree1.setRoot(src + u"/a"_s);
    w->s.bRunning = true;
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    bool ok = true;
    w->TskLoad(ok, u"t"_s);
    EXPECT_FALSE(ok);
    EXPECT_EQ(w->tree1.Root(), src + u"/a"_s) << "the trees the run walks stay";
    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    EXPECT_EQ(prompt.messages, QStringList(3, CmpMsg::Busy));
    EXPECT_EQ(row(*w, u"t"_s, u"sRt1"_s)[0].toString(), src);
}

TEST_F(TaskStoreTest, HistoryFolderIsEmptiedWithoutLogAndBackup)
{
    auto w = window();
    w->s.panel.txFold = u"/var/hist"_s;
    w->s.yRt = YRt{0, 0, 0, 0, 1, 0, 0, 0};
    w->PutOpt();
    EXPECT_FALSE(w->txFoldEnabled);
    EXPECT_EQ(w->s.panel.txFold, u"/var/hist"_s) << "greyed, text kept";
    saveAs(*w, u"plain"_s);
    EXPECT_EQ(row(*w, u"plain"_s, u"sPhB"_s)[0].toString(), QString());
    EXPECT_EQ(w->s.panel.txFold, QString());

    w->s.panel.txFold = u"/var/hist"_s;
    w->s.panel.chRet[2] = true;
    w->TskSave(true);
    EXPECT_EQ(row(*w, u"plain"_s, u"sPhB"_s)[0].toString(), u"/var/hist"_s);
}

TEST_F(TaskStoreTest, DeleteClearsTheListEntryAndTheCurrentTask)
{
    auto w = window();
    saveAs(*w, u"b"_s);
    saveAs(*w, u"d"_s);
    w = window();
    int restored = 0;
    w->restoreWindowState = [&restored] { ++restored; };
    w->TskDel();
    EXPECT_EQ(restored, 0) << "nothing to delete without a current task";

    w->selectTask(0);
    ASSERT_EQ(w->sCurTsk, u"b"_s);
    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(w->cbTsk, QStringList{u"d"_s});
    EXPECT_EQ(w->cbTskIndex, -1);
    EXPECT_EQ(w->cbTskText, QString());
    EXPECT_EQ(w->sCurTsk, QString());
    EXPECT_EQ(w->mnSaveAsCaption, u"名前をつけて保存"_s);
    EXPECT_FALSE(w->mnSaveEnabled || w->mnDeleteEnabled);
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(taskCount(*w), 1);

    // Loaded by name while the list shows another entry: the entry equal
    // to the task goes.
    saveAs(*w, u"f"_s);
    w->selectTask(0);
    bool ok = false;
    w->TskLoad(ok, u"f"_s);
    w->TskDel();
    EXPECT_EQ(w->cbTsk, QStringList{u"d"_s});
    EXPECT_EQ(restored, 2);
}

TEST_F(TaskStoreTest, SaveLoadListAndDeleteWaitForAnotherProcessesLock)
{
    auto w = window();
    saveAs(*w, u"t"_s);
    ASSERT_EQ(w->tskResult, TskResult::Done);
    // Another connection to the same file, as another process would hold it:
    // a writer (IMMEDIATE) blocks writes, an EXCLUSIVE lock reads as well.
    // It lets go after a second, from another thread.
    struct Case {
        const char* what;
        const char* lock;
        std::function<bool()> op;  // true when it succeeded
    };
    const Case cases[] = {
        {"save", "BEGIN IMMEDIATE", [&] {
             w->TskSave(true);
             return w->tskResult == TskResult::Done;
         }},
        {"list", "BEGIN EXCLUSIVE", [&] {
             w->Load();
             return w->tskResult == TskResult::Done && w->cbTsk == QStringList{u"t"_s};
         }},
        {"load", "BEGIN EXCLUSIVE", [&] {
             bool ok = false;
             w->TskLoad(ok, u"t"_s);
             return ok;
         }},
        {"delete", "BEGIN IMMEDIATE", [&] {
             w->TskDel();
             return w->tskResult == TskResult::Done;
         }},
    };
    for (const Case& c : cases) {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(WorkDb::dbPath()).constData(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, c.lock, nullptr, nullptr, nullptr), SQLITE_OK) << c.what;
        std::thread release([other] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });
        prompt.questionAnswers.push_back(true);
        const bool done = c.op();
        release.join();
        sqlite3_close(other);
        EXPECT_TRUE(done) << c.what << ": " << prompt.messages.join(u'|').toStdString();
        prompt.questionAnswers.clear();
    }
    EXPECT_EQ(taskCount(*w), 0);
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join(u'|').toStdString();
}

TEST_F(TaskStoreTest, NamesWithApostrophesAndLetterCase)
{
    const QString other = tmp.path() + u"/other"_s;
    makeDir(other);
    auto w = window();
    saveAs(*w, u"Web"_s);
    w->tree1.setRoot(other);
    saveAs(*w, u"web"_s);
    saveAs(*w, u"Bob's task"_s);
    EXPECT_EQ(taskCount(*w), 3) << "Web and web are two tasks";

    w = window();
    EXPECT_EQ(w->cbTsk, (QStringList{u"Bob's task"_s, u"Web"_s, u"web"_s}));
    w->s.vSpr.setRowCount(2);
    bool ok = true;
    w->TskLoad(ok, u"WEB"_s);
    EXPECT_FALSE(ok);
    EXPECT_EQ(prompt.messages, QStringList{u"WEB が定義されていません"_s});
    EXPECT_EQ(w->s.vSpr.rowCount(), 0) << "the grid is emptied before the lookup";
    EXPECT_EQ(w->sCurTsk, QString());
    w->TskLoad(ok, u"Web"_s);
    EXPECT_EQ(w->tree1.Root(), src);
    w->TskLoad(ok, u"web"_s);
    EXPECT_EQ(w->tree1.Root(), other);
    w->TskLoad(ok, u"Bob's task"_s);
    ASSERT_TRUE(ok);
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Done);
    w->TskLoad(ok, u"web"_s);
    w->TskDel();
    EXPECT_EQ(window()->cbTsk, QStringList{u"Web"_s});
    EXPECT_EQ(prompt.messages.size(), 1) << prompt.messages.join(u'|').toStdString();
}

TEST_F(TaskStoreTest, MissingRootLoadsWithTheFallbackAndIsNotSavedOver)
{
    // The user data folder's path is as long as the task's root and holds a
    // folder of the same name: the task's relative paths would fit it.
    const QString gone = tmp.path() + u"/usb1"_s;
    makeDir(gone + u"/Log"_s);
    makeDir(Usr::sUsrDt + u"Log"_s);
    auto w = window(gone);
    node(*w, QString())->checked = true;
    node(*w, u"Log"_s)->checked = true;
    saveAs(*w, u"usb"_s);
    ASSERT_TRUE(QDir(gone).removeRecursively());

    w = window();
    bool ok = false;
    w->TskLoad(ok, u"usb"_s);
    EXPECT_TRUE(ok);
    EXPECT_EQ(w->sCurTsk, u"usb"_s);
    EXPECT_TRUE(w->tree1.rootFellBack());
    for (const auto& [rel, mark] : marks(*w).asKeyValueRange())
        EXPECT_FALSE(mark.first) << "nothing of the fallback folder is ticked: " << rel.toStdString();
    EXPECT_TRUE(prompt.messages.isEmpty());

    EXPECT_EQ(CmpRun(w->s), CmpOutcome::Refused);
    EXPECT_EQ(prompt.messages, QStringList{CmpMsg::Root1Missing});
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    EXPECT_EQ(prompt.messages.last(), u"ﾌｫﾙﾀﾞ1が見つかりません\rﾀｽｸは保存しません"_s);
    EXPECT_EQ(row(*w, u"usb"_s, u"sRt1 || '|' || mChk"_s)[0].toString(), gone + u"|,/Log,"_s);
}

TEST_F(TaskStoreTest, CommandLineSavesListsShowsAndDeletes)
{
    if (velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    const auto cli = [&](QStringList args) { return runVelmorCli(args << u"--data"_s << tmp.path() + u"/cli"_s); };
    const QStringList save = {u"task"_s,   u"save"_s,    u"Bob's"_s,     src,      dst,
                              u"--uncheck"_s, u"e"_s,    u"--expand"_s,  u"a/b"_s, u"--select1"_s,
                              u"a/d"_s,    u"--select2"_s, u"x"_s,       u"--backup"_s, u"--trash"_s,
                              u"--history"_s, tmp.path() + u"/h"_s, u"--filter-only"_s, u"*.txt"_s,
                              u"--ignore-shift"_s, u"60"_s, u"--copy-link-targets"_s,
                              u"--xattrs"_s, u"--content"_s, u"--jobs"_s, u"4"_s};
    CliResult r = cli(save);
    EXPECT_EQ(r.code, 2) << "the backup-and-trash question is cancelled without --yes";
    EXPECT_TRUE(r.err.contains(u"ごみ箱を使用して削除する指定で良いですね"_s)) << r.err.toStdString();
    EXPECT_TRUE(cli({u"task"_s, u"list"_s}).out.isEmpty()) << "nothing was written";

    r = cli(save + QStringList{u"--yes"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({u"task"_s, u"save"_s, u"bob's"_s, src, dst, u"--check"_s, u"ab"_s, u"--acls"_s, u"--verify"_s,
             u"--content-times"_s, u"--moves"_s, u"full"_s, u"--keep-count=12"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(cli({u"task"_s, u"list"_s}).out, QByteArray("Bob's\nbob's\n"));

    r = cli({u"task"_s, u"show"_s, u"Bob's"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
    const QString want = u"sTask\tBob's|sRt1\t%1|sRt2\t%2|sPh1\t%1/a/d|sPh2\t%2/x|iFlt\t2|sFlt\t*.txt|"
                         "yRt0\t0|yRt1\t0|yRt2\t0|yRt3\t1|yRt4\t1|yRt5\t0|yRt6\t0|yRt7\t0|"
                         // every folder but e and below it; a/b opened, and a above it
                         "mChk\t,/a,/ab,/a/b,/a/d,/a/b/c,|mExp\t,/a,/a/b,|sPhB\t%3/h|sHogo\t|sJogai\t"_s
                             .arg(src, dst, tmp.path());
    ASSERT_EQ(lines.size(), 32) << r.out.toStdString();
    EXPECT_EQ(lines.mid(0, 20).join(u'|'), want);
    EXPECT_TRUE(lines[20].startsWith(u"dUdt\t2"_s)) << lines[20].toStdString();
    EXPECT_EQ(lines.mid(21).join(u'|'), u"nShift\t60|yLnkTgt\t1|yAcl\t0|yXat\t1|yVerify\t0|yCont\t1|yContT\t0|nMove\t0|nKeepD\t0|nKeepN\t0|nJobs\t4"_s) << "the columns added later come last";

    r = cli({u"task"_s, u"show"_s, u"BOB'S"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, u"BOB'S が定義されていません\n"_s);
    r = cli({u"task"_s, u"delete"_s, u"nobody"_s});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, u"nobody が定義されていません\n"_s);
    EXPECT_EQ(cli({u"task"_s, u"delete"_s, u"Bob's"_s}).code, 0);
    EXPECT_EQ(cli({u"task"_s, u"list"_s}).out, QByteArray("bob's\n"));
    EXPECT_TRUE(cli({u"task"_s, u"show"_s, u"bob's"_s}).out.endsWith("nShift\t0\nyLnkTgt\t0\nyAcl\t1\nyXat\t0\nyVerify\t1\nyCont\t0\nyContT\t1\nnMove\t2\nnKeepD\t0\nnKeepN\t12\nnJobs\t0\n"));
    EXPECT_EQ(cli({u"task"_s, u"show"_s, u"bob's"_s, u"--check"_s, u"a"_s}).code, 2) << "no folder options";
}
