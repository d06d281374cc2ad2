#include "tree/view/uTrD.h"

#include "common/TestSupport.h"
#include "env/Usr.h"
#include "tree/view/TreeItemModel.h"
#include "ui/Pane.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::makeDir;

namespace {

class TreeControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + "/root";
        makeDir(root + "/a/a1");
        makeDir(root + "/a/a2/deep");
        makeDir(root + "/b");
        Usr::sUsrDt = tmp.path() + "/";
        Usr::bBusy = false;
        Usr::bAppRun = true;
    }
    void TearDown() override
    {
        Usr::bBusy = false;
        Usr::bAppRun = false;
    }
    QModelIndex indexOf(uTrD& w, const QString& path)
    {
        FolderTree* t = w.GtObjct();
        for (int i = 0; i < t->nodeCount(); ++i)
            if (t->fullPath(t->nodeAt(i)) == path)
                return w.itemModel()->indexOf(t->nodeAt(i));
        return {};
    }

    QTemporaryDir tmp;
    QString root;
    test::ScopedPrompt prompt;
};

TEST_F(TreeControlTest, RootLoadRaisesECngRtOnceAndViewFollowsTheModel)
{
    uTrD w(nullptr, makePane);
    QAbstractItemModelTester tester(w.itemModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy cngRt(&w, &uTrD::eCngRt);
    w.setRoot(root + "/");
    ASSERT_EQ(cngRt.count(), 1);
    EXPECT_EQ(cngRt.at(0).at(0).toString(), root);
    EXPECT_EQ(w.Root(), root);
    EXPECT_EQ(w.drive1()->currentText(), FolderTree::driveOf(root));

    QTreeView* v = w.trView();
    const QModelIndex r = v->model()->index(0, 0);
    EXPECT_EQ(r.data().toString(), root);
    EXPECT_TRUE(v->isExpanded(r));
    EXPECT_EQ(v->currentIndex(), r);
    EXPECT_EQ(v->model()->rowCount(r), 2);

    // The user opens "a": its level loads, the view shows real rows.
    QSignalSpy chkExp(&w, &uTrD::eChkExp);
    const QModelIndex a = indexOf(w, root + "/a");
    v->expand(a);
    EXPECT_EQ(chkExp.count(), 1);
    EXPECT_EQ(v->model()->rowCount(a), 2);
    EXPECT_EQ(v->model()->index(0, 0, a).data().toString(), "a1");

    // A refresh tick removing and adding folders keeps the adapter consistent.
    ASSERT_TRUE(QDir(root + "/a/a2").removeRecursively());
    makeDir(root + "/a/a0/x");
    test::setMTime(root + "/a", QDateTime::currentDateTime().addSecs(30));
    w.GtObjct()->ChkUpd();
    EXPECT_EQ(v->model()->rowCount(a), 2);
    EXPECT_EQ(v->model()->index(0, 0, a).data().toString(), "a0");

    w.setRoot(root);
    EXPECT_EQ(cngRt.count(), 2);
}

TEST_F(TreeControlTest, LinkedClickAndExpndAllRaiseEChkExp)
{
    uTrD w(nullptr, makePane);
    QAbstractItemModelTester tester(w.itemModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    w.setChkBx(true);
    w.setRoot(root);
    QSignalSpy chkExp(&w, &uTrD::eChkExp);
    QAbstractItemModel* m = w.trView()->model();

    const QModelIndex b = indexOf(w, root + "/b");
    EXPECT_TRUE(m->flags(b) & Qt::ItemIsUserCheckable);
    m->setData(b, Qt::Checked, Qt::CheckStateRole);  // unlinked: no event
    EXPECT_EQ(chkExp.count(), 0);
    EXPECT_EQ(b.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    w.setPrChSync(true);
    const QModelIndex a = indexOf(w, root + "/a");
    m->setData(a, Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(chkExp.count(), 1);
    EXPECT_EQ(m->rowCount(a), 2);
    EXPECT_EQ(m->index(1, 0, a).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_FALSE(Usr::bBusy);

    w.ExpndALL(0, true);
    EXPECT_EQ(chkExp.count(), 2);
    EXPECT_TRUE(w.trView()->isExpanded(indexOf(w, root + "/a/a2")));
    w.ExpndALL(1, true);
    EXPECT_EQ(chkExp.count(), 3);
    EXPECT_FALSE(w.trView()->isExpanded(indexOf(w, root + "/a")));
    EXPECT_TRUE(w.trView()->isExpanded(indexOf(w, root)));

    w.setChkBx(false);  // hidden boxes: no check state shown
    EXPECT_FALSE(a.data(Qt::CheckStateRole).isValid());
}

TEST_F(TreeControlTest, MouseEventsFollowTheBusyRules)
{
    uTrD w(nullptr, makePane);
    w.resize(300, 400);
    w.setRoot(root);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(w.timer1()->isActive());  // shown with a loaded tree
    QSignalSpy rClick(&w, &uTrD::eRClick);
    QSignalSpy cngDr(&w, &uTrD::eCngDr);
    QTreeView* v = w.trView();
    const QPoint onB = v->visualRect(indexOf(w, root + "/b")).center();

    Usr::bBusy = true;
    QTest::mouseClick(v->viewport(), Qt::RightButton, {}, onB);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, onB);
    EXPECT_EQ(rClick.count(), 1);  // whatever bBusy says
    EXPECT_EQ(cngDr.count(), 0);
    const QString before = w.Root();
    w.drive1()->activated(0);      // a drive change while busy is ignored
    EXPECT_EQ(w.Root(), before);

    Usr::bBusy = false;
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, onB);
    ASSERT_EQ(cngDr.count(), 1);
    EXPECT_EQ(cngDr.at(0).at(0).toString(), root + "/b");
    EXPECT_EQ(w.Path(), root + "/b");

    w.hide();
    EXPECT_FALSE(w.timer1()->isActive());
}

} // namespace
