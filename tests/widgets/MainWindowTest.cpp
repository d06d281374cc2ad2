// The main window on the offscreen platform: its captions and enabled
// states through a comparison and a synchronisation, the display modes, the
// linked checks, the panel's enabling rules, tasks from the menu and the
// list, the grid's flags and failed rows, and the window state.
#include "app/WinState.h"
#include "app/gui/fmSync.h"
#include "common/TestSupport.h"
#include "env/Usr.h"
#include "env/yIni.h"
#include "tree/view/uTrD.h"
#include "ui/ResultGrid.h"
#include "ui/WaitDialog.h"
#include "ui/WindowFit.h"
#include "app/gui/AppMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <memory>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace velmor;
using namespace velmor::test;
using namespace Qt::Literals::StringLiterals;

// Rectangles in failure messages: "x,y wxh".
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}
inline void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << 'x' << s.height(); }

namespace {

// The names of the widgets in the splitter s and its nested splitters, in
// the splitters' order.
void names(const QSplitter* s, QStringList& out)
{
    for (int i = 0; i < s->count(); ++i) {
        out << s->widget(i)->objectName();
        if (const auto* inner = qobject_cast<const QSplitter*>(s->widget(i)))
            names(inner, out);
    }
}

QStringList captions(const QWidget* menuOrBar)
{
    QStringList c;
    for (const QAction* a : menuOrBar->actions())
        c << (a->isSeparator() ? u"-"_s : a->text());
    return c;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        data = tmp.path() + u"/data/"_s;
        src = tmp.path() + u"/src"_s;
        dst = tmp.path() + u"/dst"_s;
        makeDir(data);
        Usr::sUsrDt = data;
        Usr::bBusy = false;
        Usr::sCmdTsk.clear();
        Usr::actRec = ActRec{};
        // new.txt only in folder 1, same.txt identical, changed.txt and
        // ro.txt newer in folder 1, only2.txt only in folder 2.
        const QDateTime old = QDateTime::currentDateTime().addDays(-10);
        const QDateTime now = QDateTime::currentDateTime().addDays(-1);
        const auto put = [](const QString& path, const QByteArray& body, const QDateTime& t) {
            writeFile(path, body);
            setMTime(path, t);
        };
        put(src + u"/a/new.txt"_s, "new", now);
        put(src + u"/a/same.txt"_s, "same", old);
        put(dst + u"/a/same.txt"_s, "same", old);
        for (const QString& f : {u"/b/changed.txt"_s, u"/b/ro.txt"_s}) {
            put(src + f, "new", now);
            put(dst + f, "old", old);
        }
        put(dst + u"/c/only2.txt"_s, "2", old);
    }
    void TearDown() override
    {
        Usr::bBusy = false;
        Usr::actRec = ActRec{};
        QFile::setPermissions(dst + u"/b/ro.txt"_s, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    std::unique_ptr<fmSync> window()
    {
        auto w = std::make_unique<fmSync>();
        w->appEnd = [this] { ++ended; };
        return w;
    }
    // Both trees on the test folders, every folder 1 folder ticked.
    static void pointAtTrees(fmSync& w, const QString& s, const QString& d)
    {
        MainState& st = w.state();
        st.tree1.setRoot(s);
        st.tree2.setRoot(d);
        st.tree1.ExpndALL(2, true);
        st.tree1.setPath(s);
        st.tree1.SetChkBx(true);
    }
    void pointAtTrees(fmSync& w) { pointAtTrees(w, src, dst); }
    static int rowOf(fmSync& w, const QString& name)
    {
        const ResultTable& t = w.state().s.vSpr;
        for (int r = 0; r < t.rowCount(); ++r)
            if (t.row(r).fileName() == name)
                return r;
        return -1;
    }
    static QColor base(const QWidget* w) { return w->palette().color(QPalette::Base); }

    ScopedTestHome home;
    ScopedPrompt prompt;
    QTemporaryDir tmp;
    QString data, src, dst;
    int ended = 0;
};

TEST_F(MainWindowTest, CaptionsAndEnabledStatesThroughCompareAndSync)
{
    auto w = window();
    EXPECT_EQ(w->windowTitle(), u"ﾌｫﾙﾀﾞの同期"_s);
    EXPECT_EQ(captions(w->menuBar()), (QStringList{u"ﾌｫﾙﾀﾞ(&F)"_s, u"同期(&S)"_s, u"表示設定(&D)"_s, u"ﾀｽｸ(&T)"_s}));
    EXPECT_EQ(captions(w->mnFold),
              (QStringList{u"ﾌｫﾙﾀﾞ1"_s, u"ﾌｫﾙﾀﾞ2"_s, u"ﾃﾞｰﾀｰﾍﾞｰｽの最適化"_s, u"-"_s, u"終了(&X)"_s}));
    EXPECT_EQ(w->item(w->mnFold, 0)->menu(), w->mnFld1);
    EXPECT_EQ(w->item(w->mnFold, 1)->menu(), w->mnFld2);
    EXPECT_EQ(captions(w->mnFld1),
              (QStringList{u"ﾙｰﾄﾊﾟｽを参照して開く"_s, u"直接ﾙｰﾄﾊﾟｽを指定"_s, u"指定のﾊﾟｽをｴｸｽﾌﾟﾛｰﾗｰで開く"_s, u"-"_s,
                           u"指定&下位のﾁｪｯｸをｵﾝに"_s, u"指定&下位のﾁｪｯｸをｵﾌに"_s,
                           u"ﾌｫﾙﾀﾞｰ名にﾌｨﾙﾀｰを指定し､ﾁｪｯｸを一括指定"_s, u"-"_s, u"指定&下位を全て展開"_s,
                           u"指定&下位を全て閉じる"_s, u"-"_s, u"ﾁｪｯｸの変更に下位のﾌｫﾙﾀﾞも連動する"_s, u"-"_s,
                           u"選択したﾌｫﾙﾀﾞだけをﾁｪｯｸ切替"_s}));
    EXPECT_EQ(captions(w->mnFld2), (QStringList{u"ﾙｰﾄﾊﾟｽを参照して開く"_s, u"直接ﾙｰﾄﾊﾟｽを指定"_s,
                                                u"指定のﾊﾟｽをｴｸｽﾌﾟﾛｰﾗｰで開く"_s, u"-"_s, u"指定&下位を全て展開"_s,
                                                u"指定&下位を全て閉じる"_s}));
    EXPECT_EQ(captions(w->mnSync),
              (QStringList{u"ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2のﾌｧｲﾙを比較する"_s, u"ﾌｫﾙﾀﾞ1からﾌｫﾙﾀﾞ2への同期を実行"_s,
                           u"比較ﾘｽﾄをｸﾘｯﾌﾟﾎﾞｰﾄﾞに貼り付け"_s, u"-"_s, u"ﾌｫﾙﾀﾞの比較+同期の実行(確認無し)"_s, u"-"_s,
                           u"同期先とFTPの照合"_s, u"-"_s, u"次のｴﾗｰ行へ"_s, u"前のｴﾗｰ行へ"_s}));
    EXPECT_EQ(captions(w->mnDisp),
              (QStringList{u"全てのﾌｧｲﾙを表示"_s, u"上書･追加･削除を表示"_s, u"同一以外を表示"_s}));
    EXPECT_EQ(captions(w->mnTask),
              (QStringList{u"上書き保存"_s, u"名前をつけて保存"_s, u"-"_s, u"現在のﾀｽｸを削除"_s, u"-"_s,
                           u"自動実行の設定..."_s}));
    QStringList buttons;
    for (QPushButton* b : w->cmRet)
        buttons << b->text();
    EXPECT_EQ(buttons, (QStringList{u"比較"_s, u"同期"_s, u"FTP"_s, u"比較・同期"_s, u"比較・同期・FTP(確認無)"_s}));

    // The panes in order, and the panel's texts with their ideographic and trailing spaces.
    const QStringList keys = {u"pTsk"_s, u"pLb1"_s, u"pTr1"_s, u"pLb2"_s, u"pTr2"_s, u"pUsr"_s, u"pSpr"_s};
    QStringList all;
    names(w->Splitter, all);
    EXPECT_EQ(all.filter(QRegularExpression(u"^p(Tsk|Lb1|Tr1|Lb2|Tr2|Usr|Spr)$"_s)), keys);
    EXPECT_EQ(w->findChild<QLabel*>(u"lbHogo"_s)->text(),
              u"保護\u3000(指定にﾏｯﾁするﾌｧｲﾙ(同期先)は上書・削除はしない) \u3000ｶﾝﾏ区切り "_s);
    EXPECT_EQ(w->findChild<QLabel*>(u"lbJogai"_s)->text(),
              u"除外\u3000(指定にﾏｯﾁするﾌｧｲﾙ(同期元)は上書・追加はしない) \u3000ｶﾝﾏ区切り"_s);
    EXPECT_EQ(w->frReigai->title(), u"例外指定 (最優先)"_s);
    EXPECT_EQ(w->chRet[7]->parentWidget(), w->frAttr);
    EXPECT_EQ(w->chRet[3]->toolTip(), u"同期先でﾌｧｲﾙの削除･上書の際に元のﾌｧｲﾙを別ﾌｫﾙﾀﾞに保存します"_s);
    EXPECT_EQ(w->cbFlt->itemText(2), u"ﾌｨﾙﾀｰに一致したﾌｧｲﾙを対象"_s);
    EXPECT_TRUE(w->uTrD1->GtObjct()->chkBx());
    EXPECT_FALSE(w->uTrD2->GtObjct()->chkBx());

    // At start.
    const auto states = [&] {
        return QList<bool>{w->item(w->mnSync, 1)->isEnabled(), w->item(w->mnSync, 2)->isEnabled(),
                           w->cmRet[1]->isEnabled(), w->cmRet[2]->isEnabled(), w->cmRet[4]->isEnabled()};
    };
    EXPECT_EQ(states(), (QList<bool>{false, false, false, true, true}));
    EXPECT_TRUE(w->item(w->mnDisp, 0)->isChecked());
    EXPECT_TRUE(w->item(w->mnFld1, 11)->isChecked());
    EXPECT_FALSE(w->item(w->mnTask, 0)->isEnabled());
    EXPECT_FALSE(w->item(w->mnTask, 3)->isEnabled());
    EXPECT_FALSE(w->item(w->mnTask, 5)->isEnabled());

    // Roots typed through both tree menus show in the root label.
    prompt->inputAnswers = {src, dst};
    w->item(w->mnFld1, 1)->trigger();
    w->item(w->mnFld2, 1)->trigger();
    EXPECT_EQ(w->lbRoot->text(), src + u" ⇒ "_s + dst);

    // After a comparison "FTP" waits for a synchronisation.
    pointAtTrees(*w);
    w->cmRet[0]->click();
    EXPECT_EQ(states(), (QList<bool>{true, true, true, false, true}));
    EXPECT_EQ(w->vSpr->model()->rowCount(), w->state().s.vSpr.rowCount());
    w->item(w->mnSync, 2)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), w->vSpr->clipboardText());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(u"\tnew\ttxt\t"_s));

    w->item(w->mnSync, 1)->trigger();
    EXPECT_EQ(states(), (QList<bool>{true, true, true, true, true}));
    EXPECT_EQ(readFile(dst + u"/a/new.txt"_s), "new");
    EXPECT_FALSE(WaitDlg().isVisible());

    w->item(w->mnFold, 2)->trigger();
    EXPECT_EQ(prompt->messages.last(), u"ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを最適化しました"_s);
}

TEST_F(MainWindowTest, DisplayModesLinkedChecksAndTreeMenus)
{
    auto w = window();
    pointAtTrees(*w);
    // Before a comparison only the mark moves.
    w->item(w->mnDisp, 1)->trigger();
    EXPECT_EQ(w->state().s.vSpr.rowCount(), 0);
    EXPECT_EQ(QList<bool>({w->item(w->mnDisp, 0)->isChecked(), w->item(w->mnDisp, 1)->isChecked()}),
              QList<bool>({false, true}));
    w->item(w->mnDisp, 0)->trigger();
    w->cmRet[0]->click();
    const int all = w->vSpr->model()->rowCount();
    ASSERT_GE(rowOf(*w, u"same.txt"_s), 0);
    // Mode 1 lists only what changes: the identical file goes, the grid is filled anew.
    w->item(w->mnDisp, 1)->trigger();
    EXPECT_LT(w->vSpr->model()->rowCount(), all);
    EXPECT_EQ(w->vSpr->verticalHeader()->count(), w->state().s.vSpr.rowCount());
    EXPECT_EQ(rowOf(*w, u"same.txt"_s), -1);
    EXPECT_GE(rowOf(*w, u"new.txt"_s), 0);
    EXPECT_TRUE(w->item(w->mnDisp, 1)->isChecked());
    EXPECT_FALSE(w->item(w->mnDisp, 0)->isChecked());

    // Linked checks off disables the single-folder toggle, and on again.
    QAction* linked = w->item(w->mnFld1, 11);
    QAction* single = w->item(w->mnFld1, 13);
    linked->trigger();
    EXPECT_FALSE(linked->isChecked());
    EXPECT_FALSE(single->isEnabled());
    EXPECT_FALSE(w->state().tree1.chkSync());
    linked->trigger();
    EXPECT_TRUE(linked->isChecked());
    EXPECT_TRUE(single->isEnabled());
    EXPECT_TRUE(w->state().tree1.chkSync());

    // "指定&下位のﾁｪｯｸをｵﾌに" on the root, then the filter dialog ticks "b" only.
    w->item(w->mnFld1, 5)->trigger();
    TreeNode* b = nullptr;
    for (int i = 0; i < w->state().tree1.nodeCount(); ++i)
        if (w->state().tree1.nodeAt(i)->text == u"b"_s)
            b = w->state().tree1.nodeAt(i);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->checked);
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->findChild<QLineEdit*>(u"Text1_1"_s)->setText(u"b"_s);
        d->findChild<QPushButton*>(u"cmRet"_s)->click();
    });
    w->item(w->mnFld1, 6)->trigger();
    EXPECT_TRUE(b->checked);

    // A right click in a tree opens that tree's submenu.
    w->show();
    QTest::mouseClick(w->uTrD2->trView()->viewport(), Qt::RightButton);
    EXPECT_TRUE(w->mnFld2->isVisible());
    w->mnFld2->hide();
}

TEST_F(MainWindowTest, FilterAndHistoryFolderEnabling)
{
    auto w = window();
    w->show();
    makeDir(yIni::FsGtSpFld(5));
    const QColor white(0xFF, 0xFF, 0xFF), grey(0xE0, 0xE0, 0xE0);
    EXPECT_EQ(w->cbFlt->currentIndex(), 0);
    EXPECT_FALSE(w->txFlt->isEnabled());
    EXPECT_EQ(base(w->txFlt), grey);
    EXPECT_FALSE(w->txFold->isEnabled());
    EXPECT_FALSE(w->cmFold->isEnabled());
    EXPECT_EQ(base(w->txFold), grey);

    w->cbFlt->setFocus();
    QTest::keyClick(w->cbFlt, Qt::Key_Down);  // the user picks entry 1
    EXPECT_EQ(w->state().s.panel.cbFlt, 1);
    EXPECT_TRUE(w->txFlt->isEnabled());
    EXPECT_EQ(base(w->txFlt), white);
    QTest::keyClick(w->cbFlt, Qt::Key_Up);
    EXPECT_FALSE(w->txFlt->isEnabled());
    EXPECT_EQ(base(w->txFlt), grey);

    // Either the log or the backup box makes the history folder usable.
    w->chRet[3]->click();
    EXPECT_TRUE(w->txFold->isEnabled());
    EXPECT_TRUE(w->cmFold->isEnabled());
    EXPECT_EQ(base(w->txFold), white);
    w->chRet[2]->click();
    w->chRet[3]->click();
    EXPECT_TRUE(w->txFold->isEnabled());
    // A right click in the field picks from the documents folder; a cancel keeps the text.
    prompt->folderAnswers = {tmp.path()};
    QTest::mouseClick(w->txFold, Qt::RightButton);
    EXPECT_EQ(w->txFold->text(), tmp.path());
    EXPECT_EQ(prompt->pickerStarts.last(), yIni::FsGtSpFld(5));
    w->cmFold->click();
    EXPECT_EQ(w->txFold->text(), tmp.path());
    w->chRet[2]->click();
    EXPECT_FALSE(w->txFold->isEnabled());
    EXPECT_EQ(base(w->txFold), grey);
    EXPECT_EQ(w->txFold->text(), tmp.path());

    // While bBusy a choice changes no enabled state.
    Usr::bBusy = true;
    emit w->cbFlt->activated(2);
    w->chRet[3]->click();
    Usr::bBusy = false;
    EXPECT_FALSE(w->txFlt->isEnabled());
    EXPECT_FALSE(w->txFold->isEnabled());
}

TEST_F(MainWindowTest, TasksFromTheMenuAndTheList)
{
    auto w = window();
    MainState& st = w->state();
    pointAtTrees(*w);
    w->show();
    QTest::keyClicks(w->txJogai, u"*.tmp"_s);
    // No task is loaded: a change has nothing to overwrite.
    EXPECT_FALSE(w->item(w->mnTask, 0)->isEnabled());
    prompt->inputAnswers = {u"one"_s};
    w->item(w->mnTask, 1)->trigger();
    EXPECT_EQ(w->cbTsk->currentText(), u"one"_s);
    EXPECT_EQ(w->item(w->mnTask, 1)->text(), u"名前を変えて保存"_s);
    EXPECT_TRUE(w->item(w->mnTask, 0)->isEnabled());
    EXPECT_TRUE(w->item(w->mnTask, 5)->isEnabled());  // a current task can be scheduled

    // A second task on other roots, then the first chosen from the list.
    const QString dst2 = tmp.path() + u"/dst2"_s;
    makeDir(dst2);
    st.tree2.setRoot(dst2);
    w->txJogai->selectAll();
    QTest::keyClick(w->txJogai, Qt::Key_Delete);
    prompt->inputAnswers = {u"two"_s};
    w->item(w->mnTask, 1)->trigger();
    ASSERT_EQ(w->cbTsk->count(), 2);
    EXPECT_EQ(w->lbRoot->text(), src + u" ⇒ "_s + dst2);

    // While bBusy a choice in the list loads nothing.
    w->cbTsk->setFocus();
    Usr::bBusy = true;
    QTest::keyClick(w->cbTsk, Qt::Key_Up);
    Usr::bBusy = false;
    EXPECT_EQ(st.sCurTsk, u"two"_s);
    EXPECT_EQ(st.tree2.Root(), dst2);

    // The user's choice loads the task: roots, patterns, root label.
    w->cbTsk->setCurrentIndex(1);
    QTest::keyClick(w->cbTsk, Qt::Key_Up);
    EXPECT_EQ(st.sCurTsk, u"one"_s);
    EXPECT_EQ(st.tree2.Root(), dst);
    EXPECT_EQ(w->txJogai->text(), u"*.tmp"_s);
    EXPECT_EQ(w->lbRoot->text(), src + u" ⇒ "_s + dst);
    EXPECT_FALSE(WaitDlg().isVisible());

    // From the open list by keyboard: the task under the cursor loads on Enter.
    w->cbTsk->setFocus();
    w->cbTsk->showPopup();
    QAbstractItemView* list = w->cbTsk->view();
    ASSERT_TRUE(list->isVisible());
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(st.sCurTsk, u"two"_s);
    EXPECT_EQ(st.tree2.Root(), dst2);
}

TEST_F(MainWindowTest, GridFlagsAndFailedRows)
{
    auto w = window();
    pointAtTrees(*w);
    QFile::setPermissions(dst + u"/b/ro.txt"_s, QFileDevice::ReadOwner);
    // A second read-only destination, in a folder shown before b.
    writeFile(src + u"/a/ro2.txt"_s, "new");
    writeFile(dst + u"/a/ro2.txt"_s, "old");
    setMTime(dst + u"/a/ro2.txt"_s, QDateTime::currentDateTime().addDays(-10));
    QFile::setPermissions(dst + u"/a/ro2.txt"_s, QFileDevice::ReadOwner);
    w->cmRet[0]->click();
    const int changed = rowOf(*w, u"changed.txt"_s);
    const int ro = rowOf(*w, u"ro.txt"_s);
    ASSERT_GE(changed, 0);
    ASSERT_GE(ro, 0);
    EXPECT_EQ(w->state().s.vSpr.row(changed).status, u"上書"_s);
    EXPECT_TRUE(w->lbCount->text().contains(u"上書 3"_s)) << w->lbCount->text().toStdString();
    // The user clears the flag of "changed.txt" with Space: the counts follow.
    w->show();
    w->vSpr->setFocus();
    w->vSpr->setCurrentIndex(w->vSpr->model()->index(changed, 0));
    QTest::keyClick(w->vSpr, Qt::Key_Space);
    EXPECT_EQ(w->vSpr->model()->index(changed, 6).data().toString(), u"0"_s);
    EXPECT_TRUE(w->lbCount->text().contains(u"上書 2"_s)) << w->lbCount->text().toStdString();
    EXPECT_TRUE(w->lbCount->text().contains(u"解除 1"_s)) << w->lbCount->text().toStdString();
    // Only the left button's double click toggles a flag.
    const QModelIndex newFlag = w->vSpr->model()->index(rowOf(*w, u"new.txt"_s), 6);
    const QPoint at = w->vSpr->visualRect(newFlag).center();
    for (const Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton})
        QTest::mouseDClick(w->vSpr->viewport(), b, {}, at);
    EXPECT_EQ(newFlag.data().toString(), u"1"_s);
    QTest::mouseDClick(w->vSpr->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(newFlag.data().toString(), u"0"_s);
    QTest::mouseDClick(w->vSpr->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(newFlag.data().toString(), u"1"_s);

    w->cmRet[1]->click();
    EXPECT_EQ(readFile(dst + u"/b/changed.txt"_s), "old");
    EXPECT_EQ(w->state().s.vSpr.row(changed).result, QString());
    EXPECT_EQ(w->state().s.vSpr.row(rowOf(*w, u"new.txt"_s)).flag, u"2"_s);
    // The read-only destination is refused: " Err" in red.
    const QModelIndex result = w->vSpr->model()->index(rowOf(*w, u"ro.txt"_s), 11);
    EXPECT_EQ(result.data().toString(), u"上書 Err"_s);
    EXPECT_EQ(result.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_EQ(result.data(Qt::ToolTipRole).toString(), dst + u"/b/ro.txt は読み取り専用のため置き換えられません"_s);
    // The status bar says what the run did.
    EXPECT_TRUE(w->lbCount->text().startsWith(u"完了"_s)) << w->lbCount->text().toStdString();
    EXPECT_TRUE(w->lbCount->text().contains(u"失敗 2"_s)) << w->lbCount->text().toStdString();
    EXPECT_TRUE(w->lbCount->text().contains(u"F8"_s)) << w->lbCount->text().toStdString();
    EXPECT_EQ(readFile(dst + u"/b/ro.txt"_s), "old");
    // The first failed row is the current one; F8 and Shift+F8 go on from
    // the current row to the next and the previous, past the end to the start.
    const int ro2 = rowOf(*w, u"ro2.txt"_s);
    ASSERT_LT(ro2, ro);
    const auto current = [&] { return w->vSpr->gridModel().tableRow(w->vSpr->currentIndex().row()); };
    EXPECT_EQ(current(), ro2);
    QAction* next = w->item(w->mnSync, 8);
    QAction* previous = w->item(w->mnSync, 9);
    EXPECT_EQ(next->shortcut(), QKeySequence(Qt::Key_F8));
    EXPECT_EQ(previous->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F8));
    for (const auto& [go, want] : {std::pair{next, ro}, std::pair{next, ro2}, std::pair{previous, ro},
                                   std::pair{previous, ro2}}) {
        go->trigger();
        EXPECT_EQ(current(), want) << go->text().toStdString();
    }
    w->vSpr->setCurrentIndex(w->vSpr->model()->index(w->vSpr->gridModel().viewRow(changed), 0));
    previous->trigger();
    EXPECT_EQ(current(), ro2) << "the previous from a row between them";
}

// A destination file that cannot be replaced (immutable: the system says
// EPERM) fails its row; the tooltip says why in Japanese, with the path.
TEST_F(MainWindowTest, AFailedRowSaysWhyInTheWindowsLanguage)
{
    const QString locked = dst + u"/b/changed.txt"_s;
    const int fd = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 || ::ioctl(fd, FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a file immutable here: " << std::strerror(errno);
    }
    const auto unlock = qScopeGuard([&] {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
    });
    auto w = window();
    pointAtTrees(*w);
    w->cmRet[0]->click();
    w->cmRet[1]->click();
    const QModelIndex result = w->vSpr->model()->index(rowOf(*w, u"changed.txt"_s), 11);
    EXPECT_EQ(result.data().toString(), u"上書 Err"_s);
    const QString tip = result.data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith(locked + u" "_s)) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith(u": 操作が許可されていません"_s)) << tip.toStdString();
    // The row itself keeps the English reason, as velmor-cli and the log say it.
    EXPECT_TRUE(w->state().s.vSpr.row(rowOf(*w, u"changed.txt"_s)).why().endsWith(
        QString::fromLocal8Bit(std::strerror(EPERM))));
}

TEST_F(MainWindowTest, CompareAndSyncDoesNotCarryOutAnEarlierList)
{
    auto w = window();
    pointAtTrees(*w);
    w->cmRet[0]->click();
    ASSERT_GT(w->state().s.vSpr.rowCount(), 0);
    // Folder 2 gone: the comparison is refused and the earlier list stays unused.
    const QString gone = tmp.path() + u"/gone"_s;
    w->state().tree2.setRoot(gone);
    w->cmRet[3]->click();
    EXPECT_EQ(prompt->messages, QStringList{u"ﾌｫﾙﾀﾞ2が見つかりません\r比較は実行しません"_s});
    EXPECT_FALSE(QFile::exists(dst + u"/a/new.txt"_s));
    EXPECT_FALSE(QFile::exists(data + u"a/new.txt"_s));
}

TEST_F(MainWindowTest, ACloseDuringAnAutomaticRunEndsItAndNothingMoreIsDone)
{
    const QString dst2 = tmp.path() + u"/dst2"_s;
    makeDir(dst2);
    {
        auto w = window();
        pointAtTrees(*w);
        for (const auto& [name, root2] : {std::pair{u"one"_s, dst}, {u"two"_s, dst2}}) {
            w->state().tree2.setRoot(root2);
            prompt->inputAnswers = {name};
            w->state().TskSave(false);
            ASSERT_EQ(w->state().tskResult, TskResult::Done);
        }
    }
    Usr::sCmdTsk = u"one,two /F"_s;
    auto w = window();
    w->show();
    // The close request arrives while the first task is under way.
    QTimer::singleShot(0, w.get(), [&] { w->close(); });
    // (QTRY_* would end the test quietly on a timeout: gtest would not see it.)
    QElapsedTimer waited;
    waited.start();
    while (ended == 0 && waited.elapsed() < 10000)
        QTest::qWait(10);
    ASSERT_EQ(ended, 1);
    EXPECT_EQ(ExitStatus(), 1);
    EXPECT_EQ(readFile(dst + u"/b/changed.txt"_s), "old");
    EXPECT_FALSE(QFile::exists(dst + u"/a/new.txt"_s));
    EXPECT_TRUE(QDir(dst2).isEmpty());
    EXPECT_TRUE(prompt->pickerStarts.isEmpty()) << "the hand-off of the second task ran";
    SetExitStatus(0);
}

TEST_F(MainWindowTest, TaskNamesAreExactAndADisabledHistoryFieldOpensNothing)
{
    auto w = window();
    pointAtTrees(*w);
    for (const QString& name : {u"Web"_s, u"web"_s}) {
        prompt->inputAnswers = {name};
        w->state().TskSave(false);
    }
    w->show();
    w->cbTsk->setFocus();
    w->cbTsk->lineEdit()->clear();
    QTest::keyClicks(w->cbTsk->lineEdit(), u"web"_s);
    QTest::keyClick(w->cbTsk->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(w->state().sCurTsk, u"web"_s);

    ASSERT_FALSE(w->txFold->isEnabled());
    QTest::mouseClick(w->txFold, Qt::RightButton);
    EXPECT_TRUE(prompt->pickerStarts.isEmpty());
}

TEST_F(MainWindowTest, CloseDuringARunWaitsForItsEnd)
{
    auto w = window();
    pointAtTrees(*w);
    bool runningAtEnd = true;
    w->appEnd = [&] {
        ++ended;
        runningAtEnd = w->state().s.bRunning;
    };
    // The close request arrives while the comparison yields.
    QTimer::singleShot(0, w.get(), [&] { w->close(); });
    w->cmRet[0]->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(runningAtEnd);
    EXPECT_EQ(w->state().s.vSpr.rowCount(), 0);  // the close stopped the comparison
    EXPECT_TRUE(QFile::exists(data + u"User.xml"_s));
}

// Reads one key of group 画面 of User.xml.
QString stored(const QString& key)
{
    yIni ini;
    bool ok = false;
    ini.GetTxt(Usr::sUsrDt + u"User.xml"_s, ok);
    ini.GetGtx(u"画面"_s);
    return ini.vGtVal(key, QString()).toString();
}

// On a laptop screen every grid column is in view until the user sizes one;
// then the user's widths stay whatever the window does.
TEST_F(MainWindowTest, GridColumnsFitTheWidthUntilTheUserSizesOne)
{
    auto w = window();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    pointAtTrees(*w);
    w->cmRet[0]->click();
    const auto total = [&] {
        int sum = 0;
        for (int c = 0; c < w->vSpr->model()->columnCount(); ++c)
            sum += w->vSpr->columnWidth(c);
        return sum;
    };
    for (const int width : {1024, 1366, 800}) {
        w->resize(width, 700);
        QCoreApplication::processEvents();
        EXPECT_LE(total(), w->vSpr->viewport()->width()) << width;
        EXPECT_FALSE(w->vSpr->horizontalScrollBar()->isVisible()) << width;
        EXPECT_GE(w->vSpr->columnWidth(11), w->vSpr->fontMetrics().horizontalAdvance(u"上書 Err"_s)) << width;
    }
    // Design widths stored by a window that never sized a column are none
    // of the user's: the columns still fit.
    ResultTable none;
    w->vSpr->setColumnWidths(ResultGrid(none).columnWidths());
    w->resize(1024, 700);
    QCoreApplication::processEvents();
    EXPECT_LE(total(), w->vSpr->viewport()->width());
    w->vSpr->horizontalHeader()->resizeSection(1, 300);
    const QList<double> mine = w->vSpr->columnWidths();
    w->resize(1300, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(w->vSpr->columnWidths(), mine);
}

TEST_F(MainWindowTest, WindowStateRoundTripThroughUserXml)
{
    QList<double> widths;
    {
        auto w = window();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->move(30, 45);
        w->resize(1000, 760);
        w->findChild<QSplitter*>(u"spTrees"_s)->setSizes({340, 260});
        w->vSpr->setColumnWidth(1, 333);
        pointAtTrees(*w);
        w->item(w->mnDisp, 2)->trigger();
        w->item(w->mnFld1, 11)->trigger();
        w->state().sFtpAp = u"/opt/zavro/Zavro"_s;
        widths = w->vSpr->columnWidths();
        w->close();
        EXPECT_EQ(ended, 1);
    }
    EXPECT_EQ(stored(u"ROOT1"_s), src);
    EXPECT_EQ(stored(u"DISP"_s), u"2"_s);
    EXPECT_EQ(stored(u"CHECK"_s), u"非連動"_s);
    EXPECT_EQ(stored(u"FTP_AP"_s), u"/opt/zavro/Zavro"_s);
    EXPECT_EQ(stored(u"WIDTH"_s), QString::number(1000 * kTwipsPerPixel));
    const int dr1 = stored(u"DR1_WD"_s).toInt();
    EXPECT_GT(dr1, 300);

    auto w = window();
    EXPECT_EQ(w->pos(), QPoint(30, 45));
    EXPECT_EQ(w->size(), QSize(1000, 760));
    EXPECT_EQ(w->state().tree1.Root(), src);
    EXPECT_EQ(w->state().tree2.Root(), dst);
    EXPECT_EQ(w->lbRoot->text(), src + u" ⇒ "_s + dst);
    EXPECT_TRUE(w->item(w->mnDisp, 2)->isChecked());
    EXPECT_FALSE(w->item(w->mnFld1, 11)->isChecked());
    EXPECT_FALSE(w->item(w->mnFld1, 13)->isEnabled());
    EXPECT_FALSE(w->state().tree1.chkSync());
    EXPECT_EQ(w->state().sFtpAp, u"/opt/zavro/Zavro"_s);
    EXPECT_EQ(w->vSpr->columnWidths(), widths);
    // The tree panes hold their size until the first activation releases them.
    w->show();
    EXPECT_EQ(w->pTr1->width() * kTwipsPerPixel, dr1);
    EXPECT_EQ(w->pTr1->height() * kTwipsPerPixel, stored(u"DIR_HI"_s).toInt());
    EXPECT_EQ(w->pTr2->width() * kTwipsPerPixel, stored(u"DR2_WD"_s).toInt());
    EXPECT_EQ(w->pTr1->maximumWidth(), w->pTr1->minimumWidth());
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    EXPECT_EQ(w->pTr1->minimumWidth(), 0);
    EXPECT_EQ(w->pTr1->maximumWidth(), QWIDGETSIZE_MAX);
    // Deleting a task restores the state again; the panes do not stay fixed.
    prompt->inputAnswers = {u"t"_s};
    w->item(w->mnTask, 1)->trigger();
    w->item(w->mnTask, 3)->trigger();
    EXPECT_EQ(w->state().sCurTsk, QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(w->pTr1->minimumWidth(), 0);
    w.reset();

    // A pane width of 300 twips or less leaves the design sizes; DISP outside
    // 0-2 ticks no display item.
    yIni ini;
    bool ok = false;
    ini.GetTxt(data + u"User.xml"_s, ok);
    ini.GetGtx(u"画面"_s);
    ini.SetVal(u"DR1_WD"_s, 300);
    ini.SetVal(u"DISP"_s, 7);
    ini.SetGtx();
    ini.SetTxt(ok);
    w = window();
    EXPECT_EQ(w->pTr1->minimumWidth(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(w->item(w->mnDisp, i)->isChecked());

    // Hand-off mode: geometry from the record, only the "_R" pane keys are written.
    w.reset();
    Usr::actRec.nLeft = 150;
    Usr::actRec.nTop = 300;
    Usr::actRec.nWidth = 12000;
    Usr::actRec.nHeight = 9000;
    Usr::actRec.sRoot1 = dst;
    Usr::actRec.bActOn = true;
    w = window();
    EXPECT_EQ(w->size(), QSize(800, 600));
    EXPECT_EQ(w->state().tree1.Root(), dst);
    w->close();
    EXPECT_EQ(stored(u"WIDTH"_s), QString::number(1000 * kTwipsPerPixel));
    EXPECT_EQ(stored(u"ROOT1"_s), src);
    EXPECT_EQ(stored(u"DR1_WD_R"_s).toInt(), w->pTr1->width() * kTwipsPerPixel);
}

TEST_F(MainWindowTest, StoredLayoutSurvivesActivationAndCloseOnAScreenThatExists)
{
    // The offscreen desktop: a primary 1920x1080 and a 1024x768 screen to its right.
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    struct Case {
        QRect geometry;  // frame position, inner size (pixels)
        QSize tree1;     // pTr1 width and height
        int tree2;       // pTr2 width
        bool maximised;  // closed maximised
        bool kept;       // on a screen as stored: saved as stored
    };
    const Case cases[] = {
        {{100, 80, 1000, 700}, {230, 300}, 210, false, true},  // narrower than the design size
        {{40, 30, 1500, 950}, {420, 480}, 380, false, true},
        {{200, 120, 1100, 720}, {260, 320}, 250, true, true},
        {{1900, 0, 1400, 900}, {600, 650}, 560, false, false},  // larger than the small screen: panes give way
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.geometry));
        WinStateData d;
        d.left = c.geometry.left() * kTwipsPerPixel;
        d.top = c.geometry.top() * kTwipsPerPixel;
        d.width = c.geometry.width() * kTwipsPerPixel;
        d.height = c.geometry.height() * kTwipsPerPixel;
        d.dr1Wd = c.tree1.width() * kTwipsPerPixel;
        d.dirHi = c.tree1.height() * kTwipsPerPixel;
        d.dr2Wd = c.tree2 * kTwipsPerPixel;
        ASSERT_TRUE(SaveWinState(d));
        auto w = window();
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        QCoreApplication::processEvents();
        const QRect frame = w->frameGeometry();
        EXPECT_TRUE(screenAreaFor(frame, areas).contains(frame)) << testing::PrintToString(frame);
        EXPECT_EQ(w->pTr1->minimumWidth(), 0);  // released
        if (c.maximised)
            w->showMaximized();
        w->close();
        if (!c.kept)
            continue;
        const auto px = [](const QString& key) { return stored(key).toInt() / kTwipsPerPixel; };
        EXPECT_EQ(QRect(px(u"LEFT"_s), px(u"TOP"_s), px(u"WIDTH"_s), px(u"HEIGHT"_s)), c.geometry);
        EXPECT_EQ(QSize(px(u"DR1_WD"_s), px(u"DIR_HI"_s)), c.tree1);
        EXPECT_EQ(px(u"DR2_WD"_s), c.tree2);
    }
    // A first start opens at the design size on the primary screen.
    QFile::remove(data + u"User.xml"_s);
    auto w = window();
    EXPECT_EQ(w->size(), QSize(1180, 820));
    EXPECT_TRUE(areas[0].contains(QRect(w->pos(), w->size())));
}

TEST_F(MainWindowTest, SmallestWindowFitsA1024x768ScreenWithEveryControlReachable)
{
    auto w = window();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->resize(1, 1);  // held at its minimum
    QCoreApplication::processEvents();
    EXPECT_LE(w->width(), 1000);
    EXPECT_LE(w->height(), 700);
    EXPECT_GE(w->vSpr->viewport()->height(), 3 * w->vSpr->verticalHeader()->defaultSectionSize());
    auto* scroll = w->findChild<QScrollArea*>(u"scUsr"_s);
    ASSERT_NE(scroll, nullptr);
    QList<QWidget*> controls = {w->frAttr, w->txFold, w->cmFold, w->cbFlt, w->txFlt, w->txJogai, w->txHogo};
    controls << QList<QWidget*>(w->chRet.begin(), w->chRet.end()) << QList<QWidget*>(w->cmRet.begin(), w->cmRet.end());
    for (QWidget* c : controls) {
        // The whole control scrolled into view (ensureWidgetVisible shows a line edit's cursor only).
        const QPoint centre = c->mapTo(scroll->widget(), c->rect().center());
        scroll->ensureVisible(centre.x(), centre.y(), c->width() / 2 + 1, c->height() / 2 + 1);
        const QRect at(c->mapTo(scroll->viewport(), QPoint()), c->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(at)) << qPrintable(c->objectName());
    }
}

TEST(WindowFit, ScreenFrameAndPanes)
{
    const QRect primary(0, 0, 1920, 1080), small(1920, 0, 1024, 768), screen1024(0, 0, 1024, 768);
    EXPECT_EQ(screenAreaFor({1800, 0, 400, 300}, {primary, small}), small);  // the larger part
    EXPECT_EQ(screenAreaFor({-900, 0, 400, 300}, {small, primary}), small);  // none: the first
    struct Case {
        QRect frame, area;
        QSize minimum;
        QRect fitted;
    };
    const Case cases[] = {
        {{30, 45, 800, 600}, screen1024, {700, 500}, {30, 45, 800, 600}},      // fits: unchanged
        {{-83, -36, 1190, 840}, screen1024, {700, 500}, {0, 0, 1024, 768}},    // a first start's design size
        {{2900, 500, 1000, 700}, small, {700, 500}, {1944, 68, 1000, 700}},    // past the right and bottom
        {{100, 100, 800, 600}, screen1024, {1100, 800}, {0, 0, 1100, 800}},    // the minimum wins
        {{10, 10, 50, 50}, QRect(), {700, 500}, {10, 10, 50, 50}},             // no screen
    };
    for (const Case& c : cases)
        EXPECT_EQ(fitFrame(c.frame, c.area, c.minimum), c.fitted) << testing::PrintToString(c.frame);
    EXPECT_EQ(giveWay({600, 200}, 200, 100), (QList<int>{450, 150}));
    EXPECT_EQ(giveWay({333, 333, 334}, 100, 100), (QList<int>{300, 300, 300}));
    EXPECT_EQ(giveWay({300, 120}, 400, 100), (QList<int>{100, 100}));  // held at the least
}

} // namespace

// The captions are half-width katakana and kanji: some font must hold them
// (scripts/install-deps.sh installs one).
TEST(JapaneseFontTest, CaptionsHaveAFont)
{
    const QString family = EnsureJapaneseFont();
    ASSERT_FALSE(family.isEmpty());
    const QFontMetrics fm{QFont(family)};
    for (char32_t c : {U'ﾌ', U'ｫ', U'同', U'期', U'･'})
        EXPECT_TRUE(fm.inFontUcs4(c)) << std::hex << uint32_t(c);
}

TEST(QtTexts, AreJapaneseWhateverTheLocale)
{
    ASSERT_TRUE(LoadQtTranslation());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"キャンセル"_s);
}

// A first start on a laptop screen (1366x768 less a title bar and a panel)
// shows at least twenty grid rows; a tall window keeps the upper panel's
// design height.
TEST_F(MainWindowTest, AFirstStartGivesTheGridTwentyRows)
{
    for (const int height : {700, 1000}) {
        SCOPED_TRACE(height);
        auto w = window();
        w->resize(1366, height);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        QCoreApplication::processEvents();
        const int rows = w->vSpr->viewport()->height() / w->vSpr->verticalHeader()->defaultSectionSize();
        EXPECT_GE(rows, 20);
        if (height == 1000) {
            EXPECT_GE(w->pTr1->height(), 300);
        }
    }
}
