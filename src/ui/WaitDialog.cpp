#include "ui/WaitDialog.h"

#include "compare/ResultCounts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>

namespace velmor {

namespace {
const QString kPanelIdle = QStringLiteral("しばらくお待ちください");
const QString kStopped = QStringLiteral("中断しました");
constexpr int kYieldIntervalMs = 20;
constexpr int kStopHoldMaxMs = 1000;

void runEventsOnce() { QCoreApplication::processEvents(); }
} // namespace

spWait::spWait(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("spWait"));
    setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞの同期"));
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    m_panel = new QLabel(kPanelIdle, this);
    m_panel->setObjectName(QStringLiteral("ssPnl"));
    m_panel->setAlignment(Qt::AlignCenter);
    m_panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel->setMinimumSize(280, 40);

    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("ssDtl"));
    m_detail->setAlignment(Qt::AlignCenter);
    QFont small = m_detail->font();
    if (small.pointSizeF() > 0)  // a font sized in pixels keeps its size
        small.setPointSizeF(small.pointSizeF() * 0.85);
    m_detail->setFont(small);
    // The line keeps its height while empty: the dialog's size is fixed.
    m_detail->setMinimumHeight(QFontMetrics(small).height());

    // The bar and the rate keep their room while hidden: the size is fixed.
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ssBar"));
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setMaximumHeight(QFontMetrics(small).height());
    m_rate = new QLabel(this);
    m_rate->setObjectName(QStringLiteral("ssRate"));
    m_rate->setAlignment(Qt::AlignCenter);
    m_rate->setFont(small);
    m_rate->setMinimumHeight(QFontMetrics(small).height());
    for (QWidget* w : {static_cast<QWidget*>(m_bar), static_cast<QWidget*>(m_rate)}) {
        QSizePolicy p = w->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        w->setSizePolicy(p);
    }

    m_stop = new QPushButton(QStringLiteral("中断"), this);
    m_stop->setObjectName(QStringLiteral("cmStop"));
    m_stop->setAutoDefault(false);
    connect(m_stop, &QPushButton::clicked, this, &spWait::onStop);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_panel);
    layout->addWidget(m_detail);
    layout->addWidget(m_bar);
    layout->addWidget(m_rate);
    layout->addWidget(m_stop, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint());
    m_bar->hide();
}

void spWait::cMsg(const QString& sMsg, bool bShwStop) { cMsg(sMsg, m_frame ? m_frame : parentWidget(), bShwStop); }

void spWait::cMsg(const QString& sMsg, QWidget* xFrm, bool bShwStop)
{
    // Set before any event runs: a stop pressed while the dialog changes is
    // the new work's stop, never undone here.
    m_run = true;
    if (m_stop->isVisibleTo(this) != bShwStop) {
        m_stop->setVisible(bShwStop);
        runEventsOnce();
    }
    if (!m_stopping)
        m_stop->setEnabled(true);
    if (xFrm) {
        const QRect f = xFrm->frameGeometry();
        move(f.left() + (f.width() - frameGeometry().width()) / 2,
             f.top() + (f.height() - frameGeometry().height()) / 2);
    }
    m_panel->setStyleSheet(QString());  // a previous stop left the text red
    m_panel->setText(sMsg);
    m_sinceMessage.start();
    m_detail->clear();
    m_bar->hide();
    m_rate->clear();
    show();
    raise();
    runEventsOnce();
    m_sinceEvents.start();
}

void spWait::cEnd()
{
    m_run = false;
    m_detail->clear();
    m_bar->hide();
    m_rate->clear();
    hide();
    runEventsOnce();
}

void spWait::cDetail(const QString& text) { m_detail->setText(text); }

QString spWait::detailText() const { return m_detail->text(); }

void spWait::cProgress(int done, int total, long long bytesDone, long long bytesTotal)
{
    m_detail->setText(ProgressText(done, total, bytesDone, bytesTotal));
    const bool inBytes = bytesTotal > 0;
    const long long at = inBytes ? bytesDone : done, of = inBytes ? bytesTotal : total;
    m_bar->setVisible(of > 0);
    if (of > 0)
        m_bar->setValue(int(std::clamp<long long>(at * 1000 / of, 0, 1000)));
    m_rate->setText(RateText(m_sinceMessage.isValid() ? m_sinceMessage.elapsed() : 0, at, of, inBytes));
}

int spWait::barValue() const { return m_bar->isVisibleTo(this) ? m_bar->value() : -1; }

QString spWait::rateText() const { return m_rate->text(); }

bool spWait::yield()
{
    if (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= kYieldIntervalMs) {
        runEventsOnce();
        m_sinceEvents.start();
    }
    if (StopSignal::received())
        m_run = false;
    return m_run;
}

QString spWait::panelText() const { return m_panel->text(); }

bool spWait::stopVisible() const { return m_stop->isVisibleTo(this); }

void spWait::onStop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_stop->setEnabled(false);
    m_panel->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
    m_panel->setText(kStopped);
    m_panel->repaint();
    runEventsOnce();

    // Hold the message without servicing events until the clock's second
    // moves on; the monotonic limit also ends the pause across midnight or a
    // clock change.
    const int second = QTime::currentTime().second();
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < kStopHoldMaxMs && QTime::currentTime().second() == second)
        QThread::msleep(10);

    m_run = false;
    runEventsOnce();
    hide();
    m_stopping = false;
}

void spWait::stopWork()
{
    if (isVisible() && stopVisible() && m_stop->isEnabled())
        onStop();
    else
        m_run = false;
}

void spWait::reject()
{
    if (isVisible() && stopVisible() && m_stop->isEnabled())
        onStop();
}

void spWait::closeEvent(QCloseEvent* e)
{
    if (e->spontaneous()) {
        e->ignore();
        reject();
        return;
    }
    QDialog::closeEvent(e);
}

} // namespace velmor
