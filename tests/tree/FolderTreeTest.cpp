#include "tree/FolderTree.h"

#include "common/TestSupport.h"
#include "env/Usr.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariant>
#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::makeDir;
using velmor::test::ScopedPrompt;
using velmor::test::writeFile;

namespace {

// Records the arguments of every emission of a signal (QtTest is not linked here).
template <class... A>
struct Spy {
    template <class Obj, class Sig>
    Spy(Obj* o, Sig s)
    {
        QObject::connect(o, s, [this](A... a) { calls.push_back({QVariant::fromValue(a)...}); });
    }
    int count() const { return int(calls.size()); }
    std::vector<std::vector<QVariant>> calls;
};

// root/ a/{a1,a2}  B/  c/c1/c1x  file.txt  link -> a
class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + "/root";
        makeDir(root + "/a/a1");
        makeDir(root + "/a/a2");
        makeDir(root + "/B");
        makeDir(root + "/c/c1/c1x");
        writeFile(root + "/file.txt", "x");
        ASSERT_TRUE(QFile::link(root + "/a", root + "/link"));
        usr = tmp.path() + "/usr/";
        makeDir(usr);
        Usr::sUsrDt = usr;
        Usr::bBusy = false;
    }

    // Texts of the node's children, placeholders as "?".
    static QStringList texts(const TreeNode* n)
    {
        QStringList out;
        for (const TreeNode* c : n->children)
            out << c->text;
        return out;
    }
    static TreeNode* child(const TreeNode* n, const QString& text)
    {
        for (TreeNode* c : n->children)
            if (c->text == text)
                return c;
        return nullptr;
    }
    QStringList keysInIndexOrder(const FolderTree& t) const
    {
        QStringList out;
        for (int i = 0; i < t.nodeCount(); ++i)
            out << t.nodeAt(i)->key;
        return out;
    }

    QTemporaryDir tmp;
    QString root;
    QString usr;
    ScopedPrompt prompt;
};

TEST_F(FolderTreeTest, RootLoadKeysIndexOrderAndPlaceholders)
{
    FolderTree t;
    Spy<QString> cngRt(&t, &FolderTree::eCngRt);
    t.setRoot(root + "/");
    EXPECT_FALSE(t.rootFellBack());
    EXPECT_EQ(t.Root(), root);
    ASSERT_EQ(cngRt.count(), 1);
    EXPECT_EQ(cngRt.calls.at(0).at(0).toString(), root);

    TreeNode* r = t.rootNode();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->key, "Nd000");
    EXPECT_EQ(r->text, root);
    EXPECT_EQ(r->image, "icOpen");
    EXPECT_TRUE(r->expanded);
    EXPECT_EQ(t.selected(), r);
    // Name order ignores letter case; the link and the file are no nodes.
    EXPECT_EQ(texts(r), QStringList({"a", "B", "c"}));
    EXPECT_EQ(keysInIndexOrder(t), QStringList({"Nd000", "Nd001", "Nd001X", "Nd002", "Nd003", "Nd003X"}));
    EXPECT_EQ(t.nNdCnt(), 3);
    EXPECT_TRUE(child(r, "a")->isUnloaded());
    EXPECT_TRUE(child(r, "B")->children.empty());  // no subfolders: no placeholder
    EXPECT_EQ(child(r, "a")->image, "icClose");
    EXPECT_FALSE(child(r, "a")->expanded);
    EXPECT_EQ(t.fullPath(child(r, "c")), root + "/c");
    EXPECT_TRUE(t.nodeAt(2)->isPlaceholder());
    EXPECT_EQ(t.nodeAt(2)->image, "");

    // Lazy load of "c" appends its children in creation order.
    t.expandNode(child(r, "c"));
    EXPECT_EQ(keysInIndexOrder(t), QStringList({"Nd000", "Nd001", "Nd001X", "Nd002", "Nd003", "Nd004", "Nd004X"}));
    EXPECT_EQ(child(r, "c")->image, "icOpen");
    EXPECT_EQ(t.fullPath(t.nodeByKey("Nd004")), root + "/c/c1");
    EXPECT_TRUE(t.dNdTm(4).isValid());
}

TEST_F(FolderTreeTest, RootFallbackAndMissingRoot)
{
    FolderTree t;
    t.setRoot(root + "/missing");
    EXPECT_TRUE(t.rootFellBack());
    EXPECT_EQ(t.Root(), Usr::CutTail(usr));
    EXPECT_TRUE(prompt->messages.isEmpty());
    t.setRoot("");
    EXPECT_TRUE(t.rootFellBack());
    t.setRoot(root);
    EXPECT_FALSE(t.rootFellBack());

    // A root folder without subfolders stays collapsed with the closed image.
    t.setRoot(root + "/B");
    EXPECT_EQ(t.rootNode()->image, "icClose");
    EXPECT_FALSE(t.rootNode()->expanded);
    EXPECT_EQ(t.nodeCount(), 1);

    // A relative path is held by no volume; a missing typed root says so.
    prompt->inputAnswers = {"relative/path", root + "/gone"};
    t.F_GtFld(0, true);
    EXPECT_EQ(prompt->inputPrompts.value(0), QStringLiteral("ﾙｰﾄﾊﾟｽを指定して下さい"));
    EXPECT_EQ(prompt->messages.value(0), "relative/path Not Found !!");
    EXPECT_EQ(t.Root(), "");
    t.F_GtFld(0, true);
    EXPECT_EQ(prompt->messages.value(1), root + "/gone Not Found");
    EXPECT_EQ(t.nodeCount(), 0);
    // A cancelled input leaves the tree alone.
    t.setRoot(root);
    t.F_GtFld(64, true);
    EXPECT_EQ(t.Root(), root);
    EXPECT_EQ(prompt->messages.size(), 2);
}

TEST_F(FolderTreeTest, FileSystemRootActsAsDriveRoot)
{
    FolderTree t;
    Spy<QString> cngRt(&t, &FolderTree::eCngRt);
    t.setRoot("/");
    EXPECT_EQ(t.Root(), "/");
    EXPECT_EQ(cngRt.calls.at(0).at(0).toString(), "/");
    EXPECT_EQ(t.dNdTm(0), QDateTime(QDate(1999, 1, 1), QTime(0, 0)));
    TreeNode* r = t.rootNode();
    ASSERT_FALSE(r->children.empty());
    for (TreeNode* c : r->children) {
        EXPECT_EQ(t.fullPath(c), "/" + c->text);
        EXPECT_TRUE(c->isUnloaded()) << c->text.toStdString();
    }
    EXPECT_EQ(FolderTree::driveOf("/"), "/");
    EXPECT_FALSE(FolderTree::driveOf(root).isEmpty());
    EXPECT_TRUE(FolderTree::driveOf("x/y").isEmpty());
}

TEST_F(FolderTreeTest, PathSetInsideOutsideAndMissing)
{
    FolderTree t;
    t.setRoot(root);
    t.setPath(root + "/c/c1/c1x");
    EXPECT_EQ(t.Path(), root + "/c/c1/c1x");
    TreeNode* c1 = t.nodeByKey("Nd004");
    ASSERT_NE(c1, nullptr);
    EXPECT_TRUE(c1->expanded);
    EXPECT_EQ(c1->image, "icOpen");

    t.setPath(root + "/c/nothere");  // last component missing: selection kept
    EXPECT_EQ(t.Path(), root + "/c/c1/c1x");
    t.setPath("/elsewhere/x");       // outside: the root
    EXPECT_EQ(t.Path(), root);
    t.setPath(root + "/B/deeper");   // B has no children: B is selected
    EXPECT_EQ(t.Path(), root + "/B");
    t.select(nullptr);
    EXPECT_EQ(t.Path(), "");
}

TEST_F(FolderTreeTest, ExpndAllModes)
{
    FolderTree t;
    t.setRoot(root);
    Spy<> chkExp(&t, &FolderTree::eChkExp);
    t.ExpndALL(2, true);  // loads everything, expansion unchanged
    EXPECT_EQ(chkExp.count(), 1);
    for (int i = 0; i < t.nodeCount(); ++i)
        EXPECT_FALSE(t.nodeAt(i)->isPlaceholder());
    EXPECT_EQ(t.nodeCount(), 8);  // root a a1 a2 B c c1 c1x
    EXPECT_FALSE(t.nodeByKey("Nd001")->expanded);

    t.ExpndALL(0, true);
    for (int i = 0; i < t.nodeCount(); ++i) {
        const TreeNode* n = t.nodeAt(i);
        EXPECT_EQ(n->expanded, !n->children.empty()) << n->text.toStdString();
    }
    t.ExpndALL(1, true);
    EXPECT_TRUE(t.rootNode()->expanded);  // collapse never collapses the root
    EXPECT_FALSE(t.nodeByKey("Nd001")->expanded);
    EXPECT_EQ(t.nodeByKey("Nd001")->image, "icClose");
    EXPECT_EQ(chkExp.count(), 3);
    EXPECT_FALSE(Usr::bBusy);

    // Selected-node mode: only the subtree of the selection.
    FolderTree u;
    u.setRoot(root);
    u.select(u.nodeByKey("Nd003"));  // c
    u.ExpndALL(0);
    EXPECT_TRUE(u.nodeByKey("Nd003")->expanded);
    EXPECT_TRUE(u.nodeByKey("Nd001")->isUnloaded());
}

// Walks that load every node (expand all, ticking a subtree) settle each
// node by loading it; afterwards new nodes are probed for subfolders again.
TEST_F(FolderTreeTest, WalksThatLoadEverythingLeaveNoPlaceholderBehind)
{
    FolderTree t;
    t.setChkBx(true);
    t.setPrChSync(true);
    t.setRoot(root);
    t.checkClicked(t.nodeByKey("Nd003"), true);  // c: its whole subtree loads
    const TreeNode* c1x = t.nodeByKey("Nd005");
    ASSERT_NE(c1x, nullptr);
    EXPECT_EQ(c1x->text, "c1x");
    EXPECT_TRUE(c1x->children.empty());
    EXPECT_TRUE(t.nodeByKey("Nd001")->isUnloaded());  // a: outside the walk, probed

    t.ExpndALL(0, true);
    for (int i = 0; i < t.nodeCount(); ++i) {
        const TreeNode* n = t.nodeAt(i);
        EXPECT_FALSE(n->isUnloaded()) << n->text.toStdString();
        EXPECT_EQ(n->expanded, !n->children.empty()) << n->text.toStdString();
    }

    makeDir(root + "/d/d1");
    makeDir(root + "/e");
    test::setMTime(root, QDateTime::currentDateTime().addSecs(30));
    t.ChkUpd();
    EXPECT_TRUE(child(t.rootNode(), "d")->isUnloaded());
    EXPECT_TRUE(child(t.rootNode(), "e")->children.empty());
}

TEST_F(FolderTreeTest, SymlinkLoopNeverBecomesANode)
{
    ASSERT_TRUE(QFile::link(root, root + "/c/c1/c1x/loop"));
    FolderTree t;
    t.setRoot(root);
    t.ExpndALL(0, true);
    for (int i = 0; i < t.nodeCount(); ++i) {
        EXPECT_NE(t.nodeAt(i)->text, "loop");
        EXPECT_NE(t.nodeAt(i)->text, "link");
    }
    EXPECT_TRUE(t.nodeByKey("Nd007")->children.empty());  // c1x: only the link inside
}

TEST_F(FolderTreeTest, RefreshTickReconcilesCreatedRemovedRenamed)
{
    FolderTree t;
    t.setChkBx(true);
    t.setPrChSync(true);
    t.setRoot(root);
    TreeNode* r = t.rootNode();
    t.setChecked(r, true);
    t.ChkUpd();  // nothing changed on disk: nothing happens
    EXPECT_EQ(texts(r), QStringList({"a", "B", "c"}));

    // New folder with a subfolder, a removed folder and a renamed one, in one tick.
    makeDir(root + "/b2/sub");
    ASSERT_TRUE(QDir(root + "/c").removeRecursively());
    ASSERT_TRUE(QDir().rename(root + "/a", root + "/z"));
    test::setMTime(root, QDateTime::currentDateTime().addSecs(30));
    t.ChkUpd();
    EXPECT_EQ(texts(r), QStringList({"B", "b2", "z"}));
    TreeNode* b2 = child(r, "b2");
    ASSERT_NE(b2, nullptr);
    EXPECT_TRUE(b2->isUnloaded());       // it has a subfolder
    EXPECT_TRUE(b2->checked);            // linked mode, ticked parent
    EXPECT_EQ(b2->image, "icClose");
    EXPECT_FALSE(b2->expanded);
    EXPECT_EQ(b2->key, "Nd004");
    EXPECT_EQ(child(r, "z")->key, "Nd005");  // a renamed folder is a new node
    EXPECT_EQ(t.nodeByKey("Nd001"), nullptr);
    EXPECT_EQ(t.nodeByKey("Nd003"), nullptr);
    // Index order: survivors first, then the new nodes in creation order.
    EXPECT_EQ(keysInIndexOrder(t), QStringList({"Nd000", "Nd002", "Nd004", "Nd004X", "Nd005", "Nd005X"}));

    // A loaded folder without subfolders gets its first child; unlinked: unticked.
    t.setPrChSync(false);
    t.setChecked(child(r, "B"), true);
    makeDir(root + "/B/new");
    test::setMTime(root + "/B", QDateTime::currentDateTime().addSecs(60));
    t.ChkUpd();
    EXPECT_EQ(texts(child(r, "B")), QStringList({"new"}));
    EXPECT_FALSE(child(child(r, "B"), "new")->checked);

    // The selected node vanishing selects its parent; the root vanishing empties the tree.
    t.setPath(root + "/B/new");
    ASSERT_TRUE(QDir(root + "/B/new").removeRecursively());
    t.ChkUpd();
    EXPECT_EQ(t.Path(), root + "/B");
    ASSERT_TRUE(QDir(root).removeRecursively());
    t.ChkUpd();
    EXPECT_EQ(t.Root(), "");
    EXPECT_EQ(t.nodeCount(), 0);
}

TEST_F(FolderTreeTest, RefreshPausedWhileAWalkHoldsTheTree)
{
    FolderTree t;
    t.setRoot(root);
    ASSERT_TRUE(QDir(root + "/c").removeRecursively());
    {
        FolderTree::RefreshPause hold(t);
        t.ChkUpd();
        EXPECT_NE(child(t.rootNode(), "c"), nullptr);
    }
    t.ChkUpd();
    EXPECT_EQ(child(t.rootNode(), "c"), nullptr);
}

TEST_F(FolderTreeTest, LinkedAndUnlinkedTicks)
{
    FolderTree t;
    t.setRoot(root);
    t.setPrChSync(true);  // boxes hidden: ignored
    EXPECT_FALSE(t.chkSync());
    t.setChkBx(true);

    Spy<> chkExp(&t, &FolderTree::eChkExp);
    TreeNode* c = t.nodeByKey("Nd003");
    t.checkClicked(c, true);  // unlinked: that box only, no event
    EXPECT_TRUE(c->checked);
    EXPECT_TRUE(c->isUnloaded());
    EXPECT_EQ(chkExp.count(), 0);

    t.setPrChSync(true);
    EXPECT_TRUE(t.chkSync());
    TreeNode* a = t.nodeByKey("Nd001");
    t.checkClicked(a, true);  // linked: the unloaded subtree loads and follows
    EXPECT_EQ(chkExp.count(), 1);
    EXPECT_EQ(texts(a), QStringList({"a1", "a2"}));
    EXPECT_TRUE(child(a, "a1")->checked && child(a, "a2")->checked);
    EXPECT_FALSE(Usr::bBusy);

    t.select(a);
    t.ChkOnOff();  // the selected node only
    EXPECT_FALSE(a->checked);
    EXPECT_TRUE(child(a, "a1")->checked);

    t.setPrChSync(false);
    t.select(c);
    t.SetChkBx(false);  // whole subtree in either mode
    t.SetChkBx(true);
    TreeNode* c1 = child(c, "c1");
    ASSERT_NE(c1, nullptr);
    EXPECT_TRUE(c1->checked && child(c1, "c1x")->checked);
    EXPECT_EQ(chkExp.count(), 1);

    // Loading in linked mode gives new children the parent's mark; unlinked, none.
    FolderTree u;
    u.setChkBx(true);
    u.setRoot(root);
    u.setChecked(u.nodeByKey("Nd001"), true);
    u.setChecked(u.nodeByKey("Nd003"), true);
    u.expandNode(u.nodeByKey("Nd003"));
    EXPECT_FALSE(child(u.nodeByKey("Nd003"), "c1")->checked);
    u.setPrChSync(true);
    u.expandNode(u.nodeByKey("Nd001"));
    EXPECT_TRUE(child(u.nodeByKey("Nd001"), "a1")->checked);
}

TEST_F(FolderTreeTest, SetChkFltPatterns)
{
    const QString r2 = tmp.path() + "/r2";
    for (const char* p : {"bk1/x", "BK2", "tmp", "old", "keep/bkdeep/y", "keep/tmp", "keep/other", "bkOld"})
        makeDir(r2 + "/" + p);
    FolderTree t;
    t.setChkBx(true);
    t.setRoot(r2);
    t.SetChkBx(true);  // everything ticked, root included
    t.ExpndALL(2, true);
    TreeNode* r = t.rootNode();
    t.setChecked(child(r, "BK2"), false);
    t.setChecked(child(r, "bk1"), false);

    QString offs = "tmp, old   bkold";
    QString ons = "bk*";
    t.SetChkFlt(offs, ons);
    EXPECT_EQ(offs, "tmp,,old,bkold");
    EXPECT_EQ(ons, "bk*");
    EXPECT_TRUE(r->checked);  // the selected node is never changed
    EXPECT_TRUE(child(r, "bk1")->checked);
    EXPECT_TRUE(child(r, "BK2")->checked);      // letter case ignored
    EXPECT_TRUE(child(r, "bkOld")->checked);    // on wins over off
    EXPECT_FALSE(child(r, "tmp")->checked);
    EXPECT_FALSE(child(r, "old")->checked);
    TreeNode* keep = child(r, "keep");
    EXPECT_TRUE(keep->checked);                 // matched nothing: descended into
    EXPECT_FALSE(child(keep, "tmp")->checked);
    EXPECT_TRUE(child(keep, "other")->checked);

    // Linked: the subtree of a matched folder follows it.
    t.SetChkBx(false);
    t.setPrChSync(true);
    QString offs2 = ",, ";
    QString ons2 = "bk#";
    t.SetChkFlt(offs2, ons2);
    EXPECT_TRUE(child(child(r, "bk1"), "x")->checked);
    EXPECT_FALSE(child(child(keep, "bkdeep"), "y")->checked);

    // An unclosed "[" is reported and changes nothing.
    QString offs3 = "";
    QString ons3 = "k[ee";
    t.SetChkFlt(offs3, ons3);
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].endsWith("k[ee"));
    EXPECT_FALSE(keep->checked);
    EXPECT_FALSE(Usr::bBusy);
}

TEST_F(FolderTreeTest, NodeNumbersPastThreeDigits)
{
    const QString wide = tmp.path() + "/wide";
    for (int i = 0; i < 1001; ++i)
        makeDir(QStringLiteral("%1/f%2").arg(wide).arg(i, 4, 10, QLatin1Char('0')));
    FolderTree t;
    t.setRoot(wide);
    EXPECT_EQ(t.nNdCnt(), 1001);
    TreeNode* n = t.nodeByKey("Nd1000");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->text, "f0999");
    EXPECT_EQ(t.nodeByKey("Nd0001"), nullptr);  // keys are exact
    EXPECT_EQ(t.nodeByKey("Nd001")->text, "f0000");
}

// Folder names that look like the tree's own texts (the placeholder "?",
// node keys) or like patterns and list separators are ordinary folders in
// every operation of the model. Each name N gets a root of its own:
// N/{N/deep, sub}  z
TEST_F(FolderTreeTest, NamesLikeTheTreesOwnTextsAreOrdinaryFolders)
{
    const QStringList names = {"?", "*", "**", "***", "a\\b", "[x]", "?x", "Nd001", "Nd001X", "a,b"};
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        SCOPED_TRACE(name.toStdString());
        const QString r = tmp.path() + "/names/" + QString::number(i);
        const QString n1 = r + '/' + name;
        makeDir(n1 + '/' + name + "/deep");
        makeDir(n1 + "/sub");
        makeDir(r + "/z");

        FolderTree t;
        t.setChkBx(true);
        t.setRoot(r);
        TreeNode* root = t.rootNode();
        ASSERT_NE(root, nullptr);
        EXPECT_FALSE(root->isUnloaded());
        ASSERT_EQ(texts(root), QStringList({name, "z"}));
        TreeNode* n = child(root, name);
        EXPECT_FALSE(n->isPlaceholder());
        EXPECT_EQ(n->key, "Nd001");
        EXPECT_EQ(t.nodeByKey("Nd001"), n);
        EXPECT_TRUE(n->isUnloaded()) << "it has subfolders";

        // Opening it loads its level, the same name inside it included.
        t.expandNode(n);
        ASSERT_EQ(texts(n), QStringList({name, "sub"}));
        TreeNode* inner = child(n, name);
        EXPECT_FALSE(inner->isPlaceholder());
        EXPECT_TRUE(inner->isUnloaded());

        // Selection by path goes through both.
        t.setPath(n1 + '/' + name + "/deep");
        EXPECT_EQ(t.Path(), n1 + '/' + name + "/deep");

        // The refresh tick reconciles the levels that start with the name.
        makeDir(r + "/y");
        makeDir(n1 + "/sub2");
        test::setMTime(r, QDateTime::currentDateTime().addSecs(30));
        test::setMTime(n1, QDateTime::currentDateTime().addSecs(30));
        t.ChkUpd();
        EXPECT_EQ(texts(root), QStringList({name, "y", "z"}));
        EXPECT_EQ(texts(n), QStringList({name, "sub", "sub2"}));

        // A linked tick goes down through it; expand-all opens it.
        t.setPrChSync(true);
        t.checkClicked(root, true);
        t.ExpndALL(0, true);
        QStringList unticked, closed;
        int placeholders = 0;
        for (int k = 0; k < t.nodeCount(); ++k) {
            const TreeNode* m = t.nodeAt(k);
            placeholders += m->isPlaceholder() ? 1 : 0;
            if (!m->checked)
                unticked << t.fullPath(m);
            if (!m->children.empty() && !m->expanded)
                closed << t.fullPath(m);
        }
        EXPECT_EQ(placeholders, 0);
        EXPECT_EQ(unticked, QStringList());
        EXPECT_EQ(closed, QStringList());
        EXPECT_EQ(t.nodeCount(), 8) << "root, N, N/N, N/N/deep, N/sub, N/sub2, y, z";
    }
}

} // namespace
