#include "ui/ScheduleDialog.h"

#include "app/watch/Schedule.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace velmor {

namespace {
enum Kind { kNone, kDaily, kEvery, kWatch };
}

dlSched::dlSched(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("dlSched"));
    setWindowTitle(QStringLiteral("自動実行の設定"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lbNow = new QLabel(this);
    lbNow->setObjectName(QStringLiteral("lbNow"));
    layout->addWidget(lbNow);
    auto* form = new QFormLayout;
    cbKind = new QComboBox(this);
    cbKind->setObjectName(QStringLiteral("cbKind"));
    cbKind->addItems({QStringLiteral("自動実行しない"), QStringLiteral("毎日決まった時刻に実行"),
                      QStringLiteral("一定の間隔で実行"), QStringLiteral("ﾌｫﾙﾀﾞ1の変更を監視して実行")});
    form->addRow(QStringLiteral("実行"), cbKind);
    tmDaily = new QTimeEdit(QTime(2, 0), this);
    tmDaily->setObjectName(QStringLiteral("tmDaily"));
    tmDaily->setDisplayFormat(QStringLiteral("HH:mm"));
    form->addRow(QStringLiteral("時刻"), tmDaily);
    txEvery = new QLineEdit(QStringLiteral("1h"), this);
    txEvery->setObjectName(QStringLiteral("txEvery"));
    txEvery->setToolTip(QStringLiteral("30min, 2h, 1h30min, 1d など (1分以上)"));
    form->addRow(QStringLiteral("間隔"), txEvery);
    spDelay = new QSpinBox(this);
    spDelay->setObjectName(QStringLiteral("spDelay"));
    spDelay->setRange(0, 86400);
    spDelay->setValue(3);
    spDelay->setSuffix(QStringLiteral(" 秒"));
    spDelay->setToolTip(QStringLiteral("変更が止んでからこの秒数の後に同期します"));
    form->addRow(QStringLiteral("待ち時間"), spDelay);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmOk = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { showKind(); });
    connect(txEvery, &QLineEdit::textChanged, this, [this] { showKind(); });
    showKind();
}

void dlSched::showKind()
{
    const int k = cbKind->currentIndex();
    tmDaily->setEnabled(k == kDaily);
    txEvery->setEnabled(k == kEvery);
    spDelay->setEnabled(k == kWatch);
    cmOk->setEnabled(!chosen().isEmpty());
}

QStringList dlSched::chosen() const
{
    switch (cbKind->currentIndex()) {
    case kDaily:
        return {m_task, QStringLiteral("--daily"), tmDaily->time().toString(QStringLiteral("HH:mm"))};
    case kEvery:
        if (!ParseEvery(txEvery->text().trimmed()))
            return {};
        return {m_task, QStringLiteral("--every"), txEvery->text().trimmed()};
    case kWatch:
        return {QStringLiteral("--watch"), m_task, QStringLiteral("--delay"), QString::number(spDelay->value())};
    default:
        return {QStringLiteral("remove"), m_task};
    }
}

QStringList dlSched::Act(const QString& task, const QStringList& current)
{
    m_task = task;
    lbNow->setText(task + QStringLiteral(": ")
                   + (current.isEmpty() ? QStringLiteral("自動実行しない") : current.join(QStringLiteral(", "))));
    showKind();
    return exec() == QDialog::Accepted ? chosen() : QStringList();
}

} // namespace velmor
