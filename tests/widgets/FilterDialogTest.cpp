// The filter entry dialog sbFlt: its texts, the ways it ends, and its place
// over the main window.
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
    // Runs Act; `whileShown` acts on the shown dialog, which is ended
    // afterwards whatever happened, so a failing check never hangs the test.
    void act(const std::function<void()>& whileShown)
    {
        QTimer::singleShot(0, &dlg, [&] {
            shownModal = dlg.isVisible() && dlg.isModal();
            shownCentre = dlg.frameGeometry().center();
            shownTexts = dlg.Text1[0]->text() + dlg.Text1[1]->text();
            whileShown();
            if (dlg.isVisible())
                dlg.reject();
        });
        dlg.Act(off, on, ok);
    }

    QWidget main;
    sbFlt dlg{&main};
    QString off, on, shownTexts;
    bool ok = false, shownModal = false;
    QPoint shownCentre;
};

} // namespace

TEST_F(FilterDialogTest, Texts)
{
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("ﾌｫﾙﾀﾞｰ ﾁｪｯｸを一括指定"));
    QStringList labels;
    for (QLabel* l : dlg.findChildren<QLabel*>())
        labels.append(l->text());
    EXPECT_EQ(labels, (QStringList{"以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをはずします",
                                   "以下のﾌｨﾙﾀに一致するﾌｫﾙﾀﾞ-のﾁｪｯｸをつけます",
                                   "｢つける｣と｢はずす｣のﾌｨﾙﾀｰが両方成立した場合は､｢つける｣が優先されます ",
                                   "ﾌｲﾙﾀｰが一致した場合に､ｻﾌﾞﾌｫﾙﾀﾞｰにも適用されます",
                                   "ｶﾝﾏ又はｽﾍﾟｰｽで仕切って下さい"}));
    EXPECT_EQ(dlg.cmRet->text(), QStringLiteral("Ok(&O)"));
}

TEST_F(FilterDialogTest, OkReturnsTheTextsAsTypedCentredOverTheMainWindow)
{
    act([&] {
        QTest::keyClicks(dlg.Text1[0], QStringLiteral("  Tmp*, Cache "));
        QTest::keyClicks(dlg.Text1[1], QStringLiteral("Src\\img[!a-c]? "));
        dlg.cmRet->click();
    });
    EXPECT_TRUE(shownModal);
    EXPECT_NEAR(shownCentre.x(), main.frameGeometry().center().x(), 2);
    EXPECT_NEAR(shownCentre.y(), main.frameGeometry().center().y(), 2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(off, QStringLiteral("  Tmp*, Cache "));
    EXPECT_EQ(on, QStringLiteral("Src\\img[!a-c]? "));

    // The next use starts empty, follows the main window, and Return in a
    // box confirms: both texts empty.
    main.move(400, 300);
    QCoreApplication::processEvents();
    act([&] { QTest::keyClick(dlg.Text1[1], Qt::Key_Return); });
    EXPECT_TRUE(shownTexts.isEmpty());
    EXPECT_NEAR(shownCentre.x(), main.frameGeometry().center().x(), 2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(off + on, QString());
}

TEST_F(FilterDialogTest, CloseBoxAndEscapeAreNoConfirmation)
{
    act([&] {
        QTest::keyClicks(dlg.Text1[0], QStringLiteral("typed"));
        dlg.close();
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(off + on, QString());
    // A confirmation of an earlier use does not carry over.
    act([&] { dlg.cmRet->click(); });
    ASSERT_TRUE(ok);
    act([&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    EXPECT_FALSE(ok);
}
