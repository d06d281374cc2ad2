// The schedule dialog dlSched: what it shows of a task's schedules, and the
// velmor-cli schedule arguments each choice makes.
#include "ui/ScheduleDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace velmor;

namespace {

struct ChoiceCase {
    const char* what;
    std::function<void(dlSched&)> set;
    QStringList args;  // empty: OK is disabled
};

TEST(ScheduleDialogTest, EachChoiceMakesItsArguments)
{
    const QString task = QStringLiteral("写真");
    const ChoiceCase cases[] = {
        {"none removes", [](dlSched& d) { d.cbKind->setCurrentIndex(0); },
         {QStringLiteral("remove"), task}},
        {"daily at a time",
         [](dlSched& d) {
             d.cbKind->setCurrentIndex(1);
             d.tmDaily->setTime(QTime(23, 5));
         },
         {task, QStringLiteral("--daily"), QStringLiteral("23:05")}},
        {"every interval",
         [](dlSched& d) {
             d.cbKind->setCurrentIndex(2);
             d.txEvery->setText(QStringLiteral(" 1h30min "));
         },
         {task, QStringLiteral("--every"), QStringLiteral("1h30min")}},
        {"an interval under a minute is refused",
         [](dlSched& d) {
             d.cbKind->setCurrentIndex(2);
             d.txEvery->setText(QStringLiteral("30s"));
         },
         {}},
        {"watch with its delay",
         [](dlSched& d) {
             d.cbKind->setCurrentIndex(3);
             d.spDelay->setValue(10);
         },
         {QStringLiteral("--watch"), task, QStringLiteral("--delay"), QStringLiteral("10")}},
    };
    for (const ChoiceCase& c : cases) {
        dlSched dlg;
        QStringList got{QStringLiteral("not shown")};
        bool okEnabled = false;
        QString shown;
        QTimer::singleShot(0, &dlg, [&] {
            shown = dlg.lbNow->text();
            c.set(dlg);
            okEnabled = dlg.cmOk->isEnabled();
            if (okEnabled)
                dlg.cmOk->click();
            else
                dlg.reject();
        });
        got = dlg.Act(task, {QStringLiteral("daily 02:30"), QStringLiteral("watch")});
        EXPECT_EQ(got, c.args) << c.what;
        EXPECT_EQ(okEnabled, !c.args.isEmpty()) << c.what;
        EXPECT_EQ(shown, task + QStringLiteral(": daily 02:30, watch")) << c.what;
    }
}

} // namespace
