#include "ui/GuiPrompt.h"
#include "env/Reasons.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QAbstractProxyModel>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace velmor;

TEST(spWait, ShowEndAndStop)
{
    QWidget frame;
    frame.setGeometry(100, 100, 800, 600);
    spWait w;
    EXPECT_EQ(w.panelText(), QStringLiteral("しばらくお待ちください"));
    EXPECT_EQ(w.stopButton()->text(), QStringLiteral("中断"));
    EXPECT_FALSE(w.bRun());

    w.cMsg(QStringLiteral("ﾌｫﾙﾀﾞを比較しています"), &frame, true);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isModal());
    EXPECT_TRUE(w.bRun());
    EXPECT_TRUE(w.stopVisible());
    EXPECT_EQ(w.panelText(), QStringLiteral("ﾌｫﾙﾀﾞを比較しています"));
    const QPoint c = w.frameGeometry().center();
    EXPECT_NEAR(c.x(), frame.frameGeometry().center().x(), 2);
    EXPECT_NEAR(c.y(), frame.frameGeometry().center().y(), 2);

    // Stop: red "中断しました" for at most about a second, then hidden with bRun false.
    QElapsedTimer t;
    t.start();
    w.stopButton()->click();
    EXPECT_LE(t.elapsed(), 1200);
    EXPECT_FALSE(w.bRun());
    EXPECT_FALSE(w.yield());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.panelText(), QStringLiteral("中断しました"));
    EXPECT_TRUE(w.findChild<QLabel*>(QStringLiteral("ssPnl"))->styleSheet().contains(QStringLiteral("255, 0, 0")));

    // A stop does not carry over to the next operation; the red is gone.
    w.cMsg(QStringLiteral("設定中･･･"), &frame, false);
    EXPECT_TRUE(w.bRun());
    EXPECT_FALSE(w.stopVisible());
    EXPECT_TRUE(w.findChild<QLabel*>(QStringLiteral("ssPnl"))->styleSheet().isEmpty());
    // Without a stop button, Escape cannot stop the work.
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_TRUE(w.bRun());
    EXPECT_TRUE(w.isVisible());
    w.cEnd();
    EXPECT_FALSE(w.bRun());
    EXPECT_FALSE(w.isVisible());
}

TEST(spWait, YieldServicesEventsAndReadsFlagEveryCall)
{
    spWait w;
    w.cMsg(QStringLiteral("同期を実行しています"), nullptr, true);
    // A stop pressed while the work yields ends the loop.
    QTimer::singleShot(30, w.stopButton(), &QPushButton::click);
    QElapsedTimer t;
    t.start();
    long units = 0;
    while (w.yield() && t.elapsed() < 5000)
        ++units;
    EXPECT_FALSE(w.bRun());
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_GT(units, 0);

    // Right after cEnd the next yield reports false, however soon it comes.
    w.cMsg(QStringLiteral("x"), nullptr, true);
    EXPECT_TRUE(w.yield());
    w.cEnd();
    EXPECT_FALSE(w.yield());
}

TEST(GuiPrompt, MessageBoxLooksAsSpecified)
{
    EXPECT_EQ(GuiPrompt::displayText(QStringLiteral("a\rb\r\nc")), QStringLiteral("a\nb\nc"));
    // A reason of the run in a message is shown in Japanese.
    EXPECT_EQ(GuiPrompt::displayText(QStringLiteral("同期を中止しました\r") + WhyText(Why::LogWrite, QStringLiteral("/h/Log/x.log"), EIO)),
              QStringLiteral("同期を中止しました\nログファイル /h/Log/x.log に書き込めません: 入出力エラー"));

    GuiPrompt p;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    p.message(QStringLiteral("F が見つかりません\rﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは　D を使用します"));
    EXPECT_EQ(text, QStringLiteral("F が見つかりません\nﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは　D を使用します"));
    EXPECT_EQ(title, QStringLiteral("ﾌｫﾙﾀﾞの同期"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Cancel)->click();
    });
    EXPECT_FALSE(p.question(QStringLiteral("q")));
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_TRUE(p.question(QStringLiteral("q")));
}

TEST(GuiPrompt, TheCompanionPickerListsExecutablesWithoutExtension)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& [name, mode] : {std::pair{"zavro", 0755}, {"notes.txt", 0644}, {"old.exe", 0644}}) {
        QFile f(dir.path() + QLatin1Char('/') + QString::fromLatin1(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(f.fileName()).constData(), mode_t(mode)), 0);
    }
    const auto dlg = GuiPrompt::filePicker(nullptr, QStringLiteral("Zavro.exeの指定"), QStringLiteral("実行ﾌｧｲﾙ (*.exe)"),
                                           dir.path() + QStringLiteral("/Zavro.exe"));
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Zavro.exeの指定"));
    auto* model = dlg->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex root = model->index(dir.path());
    QElapsedTimer waited;
    waited.start();
    while (model->rowCount(root) == 0 && waited.elapsed() < 10000) {
        if (model->canFetchMore(root))
            model->fetchMore(root);
        QTest::qWait(20);
    }
    QAbstractProxyModel* shown = dlg->proxyModel();
    ASSERT_NE(shown, nullptr);
    const QModelIndex shownRoot = shown->mapFromSource(root);
    QStringList listed;
    for (int r = 0; r < shown->rowCount(shownRoot); ++r)
        listed << shown->index(r, 0, shownRoot).data().toString();
    EXPECT_EQ(listed, QStringList{QStringLiteral("zavro")});
}
