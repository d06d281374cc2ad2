// The task store of the main window: saving, loading and deleting tasks in
// tbTask on real folders, the task list and the panel's enabled states.
#include "app/MainState.h"
#include "common/TestSupport.h"
#include "compare/Compare.h"
#include "env/Usr.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

using namespace velmor;
using namespace velmor::test;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Records the caption of titled input boxes too.
class TitledPrompt : public RecordingPrompt {
public:
    QString inputTitled(const QString& title, const QString& prompt, const QString& defaultText) override
    {
        titles.append(title);
        defaults.append(defaultText);
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
        Usr::sUsrDt = tmp.path() + QStringLiteral("/data/");
        makeDir(Usr::sUsrDt);
        src = tmp.path() + QStringLiteral("/src");
        dst = tmp.path() + QStringLiteral("/dst");
        for (const char* rel : {"a/b/c", "a/d", "ab", "e/f"})
            makeDir(src + QLatin1Char('/') + QLatin1String(rel));
        makeDir(dst + QStringLiteral("/x/y"));
        Usr::setPrompt(&prompt);
        Usr::bBusy = false;
    }
    void TearDown() override
    {
        Usr::setPrompt(nullptr);
        Usr::bBusy = false;
    }

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
        const QString want = rel.isEmpty() ? w.tree1.Root() : w.tree1.Root() + QLatin1Char('/') + rel;
        for (int i = 0; i < w.tree1.nodeCount(); ++i)
            if (!w.tree1.nodeAt(i)->isPlaceholder() && w.tree1.fullPath(w.tree1.nodeAt(i)) == want)
                return w.tree1.nodeAt(i);
        return nullptr;
    }

    static Marks marks(MainState& w)
    {
        Marks m;
        const QString root = w.tree1.Root();
        for (int i = 0; i < w.tree1.nodeCount(); ++i) {
            const TreeNode* n = w.tree1.nodeAt(i);
            if (!n->isPlaceholder())
                m.insert(w.tree1.fullPath(n).mid(root.size()), {n->checked, n->expanded});
        }
        return m;
    }

    // Saves under a new name, answering the name box.
    void saveAs(MainState& w, const QString& name)
    {
        prompt.inputAnswers.push_back(name);
        w.TskSave(false);
    }

    QVariantList row(MainState& w, const QString& name, const QString& columns)
    {
        QVariantList v;
        EXPECT_TRUE(w.s.oDb.R_PAry(QStringLiteral("Select ") + columns + QStringLiteral(" From tbTask Where sTask = ?"),
                                   v, {name}));
        return v;
    }
    long long taskCount(MainState& w)
    {
        QVariantList v;
        EXPECT_TRUE(w.s.oDb.R_PAry(QStringLiteral("Select Count(*) From tbTask"), v));
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
    w1->tree1.setPath(src + QStringLiteral("/a/d"));  // opens a on the way
    node(*w1, QStringLiteral("a/b"))->expanded = true;
    w1->tree2.setPath(dst + QStringLiteral("/x/y"));
    for (int i : {0, 1, 2, 5, 7})
        w1->s.panel.chRet[size_t(i)] = true;
    w1->s.panel.txFold = tmp.path() + QStringLiteral("/hist/");
    w1->setFilterIndex(2);
    w1->s.panel.txFlt = QStringLiteral("*.txt, *.doc");
    w1->s.panel.txJogai = QStringLiteral("*.bak");
    w1->s.panel.txHogo = QStringLiteral("*.cfg,keep?");
    Marks want = marks(*w1);
    want[QString()] = {true, true};  // the root's empty entry: always ticked and open after a load

    saveAs(*w1, QStringLiteral("毎日"));
    ASSERT_EQ(w1->tskResult, TskResult::Done) << prompt.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(prompt.titles, QStringList{QStringLiteral("ﾀｽｸの登録")});
    EXPECT_EQ(prompt.inputPrompts, QStringList{QStringLiteral("ﾀｽｸの名称を指定して下さい")});
    EXPECT_EQ(prompt.defaults, QStringList{src});
    EXPECT_TRUE(prompt.questions.isEmpty());
    EXPECT_EQ(row(*w1, QStringLiteral("毎日"), QStringLiteral("mChk"))[0].toString(), QStringLiteral("/a,/a/b/c,/e/f,"))
        << "the root was not ticked; entries in index order";

    auto w2 = window(dst, src);
    EXPECT_EQ(w2->cbTsk, QStringList{QStringLiteral("毎日")});
    EXPECT_EQ(w2->cbTskIndex, -1);
    w2->s.vSpr.setRowCount(3);
    bool ok = false;
    w2->TskLoad(ok, QStringLiteral("毎日"));
    ASSERT_TRUE(ok);
    EXPECT_TRUE(prompt.messages.isEmpty()) << prompt.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(w2->s.vSpr.rowCount(), 0);
    EXPECT_EQ(w2->tree1.Root(), src);
    EXPECT_EQ(w2->tree2.Root(), dst);
    EXPECT_EQ(w2->tree1.Path(), src + QStringLiteral("/a/d"));
    EXPECT_EQ(w2->tree2.Path(), dst + QStringLiteral("/x/y"));
    EXPECT_EQ(marks(*w2), want);
    EXPECT_EQ(w2->s.panel.chRet, (std::array<bool, 8>{true, true, true, false, false, true, false, true}));
    EXPECT_EQ(w2->s.yRt, (YRt{1, 1, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(w2->s.panel.txFold, tmp.path() + QStringLiteral("/hist")) << "one trailing separator cut";
    EXPECT_TRUE(w2->txFoldEnabled);
    EXPECT_EQ(w2->s.panel.cbFlt, 2);
    EXPECT_TRUE(w2->txFltEnabled);
    EXPECT_EQ(w2->s.panel.txFlt, QStringLiteral("*.txt, *.doc"));
    EXPECT_EQ(w2->s.panel.txJogai, QStringLiteral("*.bak"));
    EXPECT_EQ(w2->s.panel.txHogo, QStringLiteral("*.cfg,keep?"));
    EXPECT_EQ(w2->sCurTsk, QStringLiteral("毎日"));
    EXPECT_EQ(w2->mnSaveAsCaption, QStringLiteral("名前を変えて保存"));
    EXPECT_TRUE(w2->mnSaveEnabled);
    EXPECT_TRUE(w2->mnDeleteEnabled);
}

TEST_F(TaskStoreTest, RootEntryAndWholeEntriesOnLoad)
{
    // Only the first level is loaded; "ab" ticked, "a" not, nothing open.
    auto w1 = window();
    for (int i = 0; i < w1->tree1.nodeCount(); ++i)
        w1->tree1.nodeAt(i)->expanded = false;
    node(*w1, QStringLiteral("ab"))->checked = true;
    saveAs(*w1, QStringLiteral("t"));
    ASSERT_EQ(w1->tskResult, TskResult::Done);
    const QVariantList v = row(*w1, QStringLiteral("t"), QStringLiteral("mChk, mExp"));
    EXPECT_EQ(v[0].toString(), QStringLiteral("/ab,"));
    EXPECT_EQ(v[1].toString(), QString());

    auto w2 = window();
    bool ok = false;
    w2->TskLoad(ok, QStringLiteral("t"));
    ASSERT_TRUE(ok);
    const Marks m = marks(*w2);
    EXPECT_EQ(m.value(QString()), std::make_pair(true, true)) << "an empty list still holds the root's entry";
    EXPECT_EQ(m.value(QStringLiteral("/ab")), std::make_pair(true, false));
    EXPECT_EQ(m.value(QStringLiteral("/a")), std::make_pair(false, false)) << "a is not a prefix match of ab";
    EXPECT_TRUE(m.contains(QStringLiteral("/a/b/c"))) << "every level is loaded";
    EXPECT_EQ(m.value(QStringLiteral("/a/b/c")), std::make_pair(false, false));
}

TEST_F(TaskStoreTest, NullColumnsReadAsTheirDefaults)
{
    // A row holding its name and root only: the folder lists read as 0,
    // which ticks and opens nothing, not even the root.
    auto w = window();
    w->s.oDb.exec(QStringLiteral("Insert Into tbTask (sTask, sRt1) Values (?, ?)"), {QStringLiteral("bare"), src});
    w->Load();
    w->s.panel.txHogo = QStringLiteral("old");
    w->s.panel.chRet[3] = true;
    w->setFilterIndex(1);
    bool ok = false;
    w->TskLoad(ok, QStringLiteral("bare"));
    ASSERT_TRUE(ok);
    for (const auto& [rel, mark] : marks(*w).asKeyValueRange())
        EXPECT_EQ(mark, std::make_pair(false, false)) << rel.toStdString();
    EXPECT_EQ(w->s.panel.txHogo, QString());
    EXPECT_EQ(w->s.panel.chRet, (std::array<bool, 8>{}));
    EXPECT_FALSE(w->txFoldEnabled);
    EXPECT_EQ(w->s.panel.cbFlt, 0);
    EXPECT_FALSE(w->txFltEnabled);
    EXPECT_TRUE(w->tree2.rootFellBack()) << "an empty folder-2 root shows the user data folder";
}

TEST_F(TaskStoreTest, NewNameIsAppendedSelectedAndLoaded)
{
    auto w = window();
    saveAs(*w, QStringLiteral("b"));
    saveAs(*w, QStringLiteral("d"));
    w = window();
    ASSERT_EQ(w->cbTsk, (QStringList{QStringLiteral("b"), QStringLiteral("d")}));
    w->s.vSpr.setRowCount(5);
    w->s.sFld1 = QStringLiteral("/compared/one");
    w->s.sFld2 = QStringLiteral("/compared/two");
    const qsizetype shown = progress.messages().size();

    saveAs(*w, QStringLiteral("a"));
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(w->cbTsk, (QStringList{QStringLiteral("b"), QStringLiteral("d"), QStringLiteral("a")}))
        << "appended at the end, not sorted in";
    EXPECT_EQ(w->cbTskIndex, 2);
    EXPECT_EQ(w->cbTskText, QStringLiteral("a"));
    EXPECT_EQ(w->sCurTsk, QStringLiteral("a"));
    EXPECT_EQ(w->s.vSpr.rowCount(), 0) << "the new task was loaded again";
    EXPECT_EQ(progress.messages().mid(shown), QStringList{QStringLiteral("設定中･･･")});
    EXPECT_FALSE(Usr::bBusy);
    // The roots of the comparison that filled the grid are not the task's to change.
    EXPECT_EQ(w->s.sFld1, QStringLiteral("/compared/one"));
    EXPECT_EQ(w->s.sFld2, QStringLiteral("/compared/two"));
    EXPECT_EQ(taskCount(*w), 3);
}

TEST_F(TaskStoreTest, ExistingNameIsOverwrittenAndSelectedWithoutLoading)
{
    auto w = window();
    saveAs(*w, QStringLiteral("b"));
    saveAs(*w, QStringLiteral("d"));
    w = window(src + QStringLiteral("/a"));
    w->selectTask(1);  // the user picks "d": it loads
    ASSERT_EQ(w->sCurTsk, QStringLiteral("d"));
    w->tree1.setRoot(src + QStringLiteral("/e"));
    w->s.vSpr.setRowCount(4);

    saveAs(*w, QStringLiteral("b"));
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_TRUE(prompt.questions.isEmpty()) << "no question for an existing name";
    EXPECT_EQ(w->cbTsk, (QStringList{QStringLiteral("b"), QStringLiteral("d")}));
    EXPECT_EQ(w->cbTskIndex, 0);
    EXPECT_EQ(w->sCurTsk, QStringLiteral("b"));
    EXPECT_EQ(w->s.vSpr.rowCount(), 4) << "selected without loading";
    EXPECT_EQ(row(*w, QStringLiteral("b"), QStringLiteral("sRt1"))[0].toString(), src + QStringLiteral("/e"));
    EXPECT_EQ(row(*w, QStringLiteral("d"), QStringLiteral("sRt1"))[0].toString(), src);
    EXPECT_EQ(taskCount(*w), 2);

    // "上書き保存" writes the current task again.
    w->tree1.setRoot(src + QStringLiteral("/a"));
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(row(*w, QStringLiteral("b"), QStringLiteral("sRt1"))[0].toString(), src + QStringLiteral("/a"));
    EXPECT_EQ(prompt.inputPrompts.size(), 3) << "no name asked when overwriting";
}

TEST_F(TaskStoreTest, CancelledNameOrQuestionWritesNothing)
{
    auto w = window();
    w->TskSave(true);  // no current task: the command has nothing to save under
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    w->TskSave(false);  // the name box cancelled
    EXPECT_EQ(w->tskResult, TskResult::Cancelled);
    EXPECT_EQ(w->sCurTsk, QString());

    w->s.panel.chRet[3] = true;
    w->s.panel.chRet[4] = true;
    prompt.questionAnswers.push_back(false);
    saveAs(*w, QStringLiteral("both"));
    EXPECT_EQ(w->tskResult, TskResult::Cancelled);
    EXPECT_EQ(prompt.questions,
              QStringList{QStringLiteral("上書･削除時の元ﾌｧｲﾙを別削除し､更にごみ箱を使用して削除する指定で良いですね")});
    EXPECT_EQ(taskCount(*w), 0);
    EXPECT_TRUE(w->cbTsk.isEmpty());
    EXPECT_EQ(w->sCurTsk, QStringLiteral("both")) << "the chosen name stays current";

    prompt.questionAnswers.push_back(true);
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(prompt.questions.size(), 2) << "asked on every save";
    EXPECT_EQ(taskCount(*w), 1);
}

TEST_F(TaskStoreTest, HistoryFolderIsEmptiedWithoutLogAndBackup)
{
    auto w = window();
    w->s.panel.txFold = QStringLiteral("/var/hist");
    w->s.panel.chRet[4] = true;
    saveAs(*w, QStringLiteral("plain"));
    EXPECT_EQ(row(*w, QStringLiteral("plain"), QStringLiteral("sPhB"))[0].toString(), QString());
    EXPECT_EQ(w->s.panel.txFold, QString());

    w->s.panel.txFold = QStringLiteral("/var/hist");
    w->s.panel.chRet[2] = true;
    w->TskSave(true);
    EXPECT_EQ(row(*w, QStringLiteral("plain"), QStringLiteral("sPhB"))[0].toString(), QStringLiteral("/var/hist"));
    EXPECT_EQ(w->s.panel.txFold, QStringLiteral("/var/hist"));
}

TEST_F(TaskStoreTest, DeleteClearsTheListEntryAndTheCurrentTask)
{
    auto w = window();
    saveAs(*w, QStringLiteral("b"));
    saveAs(*w, QStringLiteral("d"));
    int restored = 0;
    w = window();
    w->restoreWindowState = [&restored] { ++restored; };
    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    EXPECT_EQ(restored, 0) << "nothing to delete without a current task";

    w->selectTask(0);
    ASSERT_EQ(w->sCurTsk, QStringLiteral("b"));
    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Done);
    EXPECT_EQ(w->cbTsk, QStringList{QStringLiteral("d")});
    EXPECT_EQ(w->cbTskIndex, -1);
    EXPECT_EQ(w->cbTskText, QString());
    EXPECT_EQ(w->sCurTsk, QString());
    EXPECT_EQ(w->mnSaveAsCaption, QStringLiteral("名前をつけて保存"));
    EXPECT_FALSE(w->mnSaveEnabled);
    EXPECT_FALSE(w->mnDeleteEnabled);
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(taskCount(*w), 1);

    // Loaded by name while the list's text shows another entry: the entry
    // equal to the task goes.
    saveAs(*w, QStringLiteral("f"));
    w->selectTask(0);
    bool ok = false;
    w->TskLoad(ok, QStringLiteral("f"));
    ASSERT_TRUE(ok);
    w->TskDel();
    EXPECT_EQ(w->cbTsk, QStringList{QStringLiteral("d")});
    EXPECT_EQ(restored, 2);
}

TEST_F(TaskStoreTest, NamesWithApostrophesAndLetterCase)
{
    const QString other = tmp.path() + QStringLiteral("/other");
    makeDir(other + QStringLiteral("/o"));
    auto w = window();
    saveAs(*w, QStringLiteral("Web"));
    w->tree1.setRoot(other);
    saveAs(*w, QStringLiteral("web"));
    saveAs(*w, QStringLiteral("Bob's task"));
    EXPECT_EQ(taskCount(*w), 3) << "Web and web are two tasks";

    w = window();
    EXPECT_EQ(w->cbTsk, (QStringList{QStringLiteral("Bob's task"), QStringLiteral("Web"), QStringLiteral("web")}));
    bool ok = false;
    w->TskLoad(ok, QStringLiteral("WEB"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(prompt.messages, QStringList{QStringLiteral("WEB が定義されていません")});
    w->TskLoad(ok, QStringLiteral("Web"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(w->tree1.Root(), src);
    w->TskLoad(ok, QStringLiteral("web"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(w->tree1.Root(), other);
    w->TskLoad(ok, QStringLiteral("Bob's task"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(w->tree1.Root(), other);
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Done);

    w->TskDel();
    EXPECT_EQ(w->tskResult, TskResult::Done);
    w->TskLoad(ok, QStringLiteral("web"));
    w->TskDel();
    w = window();
    EXPECT_EQ(w->cbTsk, QStringList{QStringLiteral("Web")});
    EXPECT_EQ(prompt.messages.size(), 1) << prompt.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(TaskStoreTest, UnknownNameEmptiesTheGridAndChangesNothingElse)
{
    auto w = window();
    w->s.vSpr.setRowCount(2);
    w->s.panel.txJogai = QStringLiteral("keep");
    bool ok = true;
    w->TskLoad(ok, QStringLiteral("nope"));
    EXPECT_FALSE(ok);
    EXPECT_EQ(prompt.messages, QStringList{QStringLiteral("nope が定義されていません")});
    EXPECT_EQ(w->s.vSpr.rowCount(), 0);
    EXPECT_EQ(w->s.panel.txJogai, QStringLiteral("keep"));
    EXPECT_EQ(w->sCurTsk, QString());
    EXPECT_FALSE(Usr::bBusy);

    // An empty name takes the selected entry; with none selected nothing happens.
    w->TskLoad(ok, QString());
    EXPECT_FALSE(ok);
    EXPECT_EQ(prompt.messages.size(), 1);
}

TEST_F(TaskStoreTest, MissingRootLoadsWithTheFallbackAndIsNotSavedOver)
{
    // The user data folder's path is as long as the task's root and holds a
    // folder of the same name: the task's relative paths would fit it.
    const QString gone = tmp.path() + QStringLiteral("/usb1");
    makeDir(gone + QStringLiteral("/Log"));
    makeDir(Usr::sUsrDt + QStringLiteral("Log"));
    auto w = window(gone);
    node(*w, QString())->checked = true;
    node(*w, QStringLiteral("Log"))->checked = true;
    saveAs(*w, QStringLiteral("usb"));
    ASSERT_EQ(w->tskResult, TskResult::Done);
    ASSERT_TRUE(QDir(gone).removeRecursively());

    w = window();
    bool ok = false;
    w->TskLoad(ok, QStringLiteral("usb"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(w->sCurTsk, QStringLiteral("usb"));
    EXPECT_TRUE(w->tree1.rootFellBack());
    for (const auto& [rel, mark] : marks(*w).asKeyValueRange())
        EXPECT_FALSE(mark.first) << "nothing of the fallback folder is ticked: " << rel.toStdString();
    EXPECT_TRUE(prompt.messages.isEmpty());

    EXPECT_EQ(CmpRun(w->s), CmpOutcome::Refused);
    EXPECT_EQ(prompt.messages, QStringList{CmpMsg::Root1Missing});
    w->TskSave(true);
    EXPECT_EQ(w->tskResult, TskResult::Refused);
    EXPECT_EQ(prompt.messages.last(), QStringLiteral("ﾌｫﾙﾀﾞ1が見つかりません\rﾀｽｸは保存しません"));
    const QVariantList v = row(*w, QStringLiteral("usb"), QStringLiteral("sRt1, mChk"));
    EXPECT_EQ(v[0].toString(), gone) << "the saved root is kept";
    EXPECT_EQ(v[1].toString(), QStringLiteral(",/Log,"));
}

TEST_F(TaskStoreTest, PanelEnablingRules)
{
    auto w = window();
    EXPECT_EQ(w->mnSaveAsCaption, QStringLiteral("名前をつけて保存"));
    EXPECT_FALSE(w->mnSaveEnabled);
    EXPECT_FALSE(w->mnDeleteEnabled);
    EXPECT_EQ(w->s.panel.cbFlt, 0);
    EXPECT_FALSE(w->txFltEnabled);
    w->TskChg(true);
    EXPECT_FALSE(w->mnSaveEnabled) << "no current task";

    w->SetCurTsk(QStringLiteral("t"));
    w->TskChg(false);
    EXPECT_FALSE(w->mnSaveEnabled);
    {
        BusyGuard busy;
        w->TskChg(true);
        EXPECT_FALSE(w->mnSaveEnabled) << "ignored while busy";
        w->selectTask(0);  // an index the list does not have: no entry, no load
        EXPECT_EQ(w->cbTskIndex, -1);
    }
    w->setFilterIndex(1);
    EXPECT_TRUE(w->txFltEnabled);
    EXPECT_TRUE(w->mnSaveEnabled) << "a new filter choice is a change";

    // Unticking both log and backup greys the folder box but keeps its text.
    w->s.panel.txFold = QStringLiteral("/h");
    w->s.yRt = YRt{0, 0, 0, 1, 0, 0, 0, 0};
    w->PutOpt();
    EXPECT_TRUE(w->txFoldEnabled);
    w->s.yRt = YRt{1, 1, 0, 0, 1, 1, 1, 1};
    w->PutOpt();
    EXPECT_FALSE(w->txFoldEnabled);
    EXPECT_EQ(w->s.panel.txFold, QStringLiteral("/h"));
    w->GetOpt();
    EXPECT_EQ(w->s.yRt, (YRt{1, 1, 0, 0, 1, 1, 1, 1}));
}

// velmor-cli task: the same store from the command line.
TEST_F(TaskStoreTest, CommandLineSavesListsShowsAndDeletes)
{
    if (velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    const QString data = tmp.path() + QStringLiteral("/clidata");
    const auto cli = [&](QStringList args) {
        args << QStringLiteral("--data") << data;
        return runVelmorCli(args);
    };
    const QStringList save = {QStringLiteral("task"), QStringLiteral("save"), QStringLiteral("Bob's"), src, dst,
                              QStringLiteral("--uncheck"), QStringLiteral("e"), QStringLiteral("--expand"),
                              QStringLiteral("a/b"), QStringLiteral("--select1"), QStringLiteral("a/d"),
                              QStringLiteral("--select2"), QStringLiteral("x"), QStringLiteral("--backup"),
                              QStringLiteral("--trash"), QStringLiteral("--history"), tmp.path() + QStringLiteral("/h"),
                              QStringLiteral("--filter-only"), QStringLiteral("*.txt")};
    CliResult r = cli(save);
    EXPECT_EQ(r.code, 2) << "the backup-and-trash question is cancelled without --yes";
    EXPECT_TRUE(r.err.contains(QStringLiteral("ごみ箱を使用して削除する指定で良いですね"))) << r.err.toStdString();
    r = cli({QStringLiteral("task"), QStringLiteral("list")});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.isEmpty()) << "nothing was written";

    r = cli(save + QStringList{QStringLiteral("--yes")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({QStringLiteral("task"), QStringLiteral("save"), QStringLiteral("bob's"), src, dst, QStringLiteral("--check"),
             QStringLiteral("ab")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({QStringLiteral("task"), QStringLiteral("list")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, QByteArray("Bob's\nbob's\n"));

    r = cli({QStringLiteral("task"), QStringLiteral("show"), QStringLiteral("Bob's")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 21) << r.out.toStdString();
    const QStringList head = {
        QStringLiteral("sTask\tBob's"),
        QStringLiteral("sRt1\t") + src,
        QStringLiteral("sRt2\t") + dst,
        QStringLiteral("sPh1\t") + src + QStringLiteral("/a/d"),
        QStringLiteral("sPh2\t") + dst + QStringLiteral("/x"),
        QStringLiteral("iFlt\t2"),
        QStringLiteral("sFlt\t*.txt"),
        QStringLiteral("yRt0\t0"),
        QStringLiteral("yRt1\t0"),
        QStringLiteral("yRt2\t0"),
        QStringLiteral("yRt3\t1"),
        QStringLiteral("yRt4\t1"),
        QStringLiteral("yRt5\t0"),
        QStringLiteral("yRt6\t0"),
        QStringLiteral("yRt7\t0"),
        // Every folder but e and below it; a/b opened, and a above it.
        QStringLiteral("mChk\t,/a,/ab,/a/b,/a/d,/a/b/c,"),
        QStringLiteral("mExp\t,/a,/a/b,"),
        QStringLiteral("sPhB\t") + tmp.path() + QStringLiteral("/h"),
        QStringLiteral("sHogo\t"),
        QStringLiteral("sJogai\t"),
    };
    EXPECT_EQ(lines.mid(0, 20), head);
    EXPECT_TRUE(lines[20].startsWith(QStringLiteral("dUdt\t2"))) << lines[20].toStdString();

    r = cli({QStringLiteral("task"), QStringLiteral("show"), QStringLiteral("BOB'S")});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("BOB'S が定義されていません\n"));
    r = cli({QStringLiteral("task"), QStringLiteral("delete"), QStringLiteral("nobody")});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("nobody が定義されていません\n"));

    r = cli({QStringLiteral("task"), QStringLiteral("delete"), QStringLiteral("Bob's")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = cli({QStringLiteral("task"), QStringLiteral("list")});
    EXPECT_EQ(r.out, QByteArray("bob's\n"));

    r = cli({QStringLiteral("task"), QStringLiteral("show"), QStringLiteral("bob's"), QStringLiteral("--check"),
             QStringLiteral("a")});
    EXPECT_EQ(r.code, 2) << "show takes no folder options";
}
