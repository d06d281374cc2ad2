// The filter entry dialog sbFlt: its texts, the three ways it ends, and its
// place over the main window.
#include "ui/FilterDialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace velmor;

namespace {

class FilterDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        main.setGeometry(120, 80, 1000, 700);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    }

    // Runs Act; `whileShown` acts on the shown dialog. Whatever it does, the
    // dialog is ended afterwards, so a failing check never hangs the test.
    void act(sbFlt& dlg, const std::function<void()>& whileShown)
    {
        QTimer::singleShot(0, &dlg, [&] {
            shownModal = dlg.isVisible() && dlg.isModal();
            shownCentre = dlg.frameGeometry().center();
            shownOff = dlg.Text1[0]->text();
            shownOn = dlg.Text1[1]->text();
            whileShown();
            if (dlg.isVisible())
                dlg.reject();
        });
        dlg.Act(off, on, ok);
    }

    QWidget main;
    QString off = QStringLiteral("stale"), on = QStringLiteral("stale");
    bool ok = true;
    bool shownModal = false;
    QPoint shownCentre;
    QString shownOff, shownOn;
};

} // namespace

TEST_F(FilterDialogTest, Texts)
{
    sbFlt dlg(&main);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ﾌｫﾙﾀﾞｰ ﾁｪｯｸを一括指定"));
    QStringList labels;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        labels.append(l->text());
    EXPECT_EQ(labels, (QStringList{"以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをはずします",
                                   "以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをつけます",
                                   "｢つける｣と｢はずす｣のﾌｨﾙﾀｰが両方成立した場合は､｢つける｣が優先されます ",
                                   "ﾌｲﾙﾀｰが一致した場合に､ｻﾌﾞﾌｫﾙﾀﾞｰにも適用されます",
                                   "ｶﾝﾏ又はｽﾍﾟｰｽで仕切って下さい"}));
    ASSERT_NE(dlg.cmRet, nullptr);
    EXPECT_EQ(dlg.cmRet->text(), QStringLiteral("Ok(&O)"));
    // Top to bottom: un-check label, Text1(0), check label, Text1(1), notes, button.
    dlg.adjustSize();
    const auto y = [](QWidget* w) { return w->geometry().top(); };
    const QList<QLabel*> l = dlg.findChildren<QLabel*>();
    EXPECT_LT(y(l[0]), y(dlg.Text1[0]));
    EXPECT_LT(y(dlg.Text1[0]), y(l[1]));
    EXPECT_LT(y(l[1]), y(dlg.Text1[1]));
    EXPECT_LT(y(dlg.Text1[1]), y(l[2]));
    EXPECT_LT(y(l[4]), y(dlg.cmRet));
}

TEST_F(FilterDialogTest, OkReturnsTheTextsExactlyAsTyped)
{
    sbFlt dlg(&main);
    act(dlg, [&] {
        QTest::keyClicks(dlg.Text1[0], QStringLiteral("  Tmp*, Cache "));
        dlg.Text1[1]->setFocus();
        QTest::keyClicks(dlg.Text1[1], QStringLiteral("Src\\img[!a-c]? "));
        dlg.cmRet->click();
    });
    EXPECT_TRUE(shownModal);
    EXPECT_TRUE(ok);
    EXPECT_EQ(off, QStringLiteral("  Tmp*, Cache "));
    EXPECT_EQ(on, QStringLiteral("Src\\img[!a-c]? "));
    EXPECT_FALSE(dlg.isVisible());

    // The next use starts with both boxes empty; Return in a box is "Ok(&O)",
    // and confirming empty boxes gives "".
    act(dlg, [&] { QTest::keyClick(dlg.Text1[1], Qt::Key_Return); });
    EXPECT_TRUE(shownOff.isEmpty());
    EXPECT_TRUE(shownOn.isEmpty());
    EXPECT_TRUE(ok);
    EXPECT_EQ(off, QString());
    EXPECT_EQ(on, QString());
}

TEST_F(FilterDialogTest, CloseBoxAndEscapeAreNotConfirmation)
{
    sbFlt dlg(&main);
    act(dlg, [&] {
        QTest::keyClicks(dlg.Text1[0], QStringLiteral("typed"));
        dlg.close();
    });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(off.isEmpty());
    EXPECT_TRUE(on.isEmpty());

    // A confirmation of an earlier use does not carry over.
    act(dlg, [&] { dlg.cmRet->click(); });
    ASSERT_TRUE(ok);
    act(dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    EXPECT_FALSE(ok);
}

TEST_F(FilterDialogTest, CentredOverTheMainWindow)
{
    sbFlt dlg(&main);
    act(dlg, [&] { dlg.cmRet->click(); });
    const QPoint c = main.frameGeometry().center();
    EXPECT_NEAR(shownCentre.x(), c.x(), 2);
    EXPECT_NEAR(shownCentre.y(), c.y(), 2);

    // Also after the main window moved.
    main.move(400, 300);
    QCoreApplication::processEvents();
    act(dlg, [&] { dlg.cmRet->click(); });
    const QPoint moved = main.frameGeometry().center();
    EXPECT_NEAR(shownCentre.x(), moved.x(), 2);
    EXPECT_NEAR(shownCentre.y(), moved.y(), 2);
}
