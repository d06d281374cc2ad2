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

} // namespace
