#pragma once
// The wait dialog spWait: a small non-modal window with a message panel and a
// stop button, shown while long work runs on the user-interface thread. One
// instance serves the whole program.
#include "env/Progress.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmor {

class spWait : public QDialog, public Progress {
    Q_OBJECT
public:
    explicit spWait(QWidget* parent = nullptr);

    // Shows the dialog centred over xFrm (or the frame set by setFrame, or
    // the parent), with the message and the stop button shown or hidden.
    // Sets bRun; calling it while shown only replaces the message.
    void cMsg(const QString& sMsg, QWidget* xFrm, bool bShwStop);
    void cMsg(const QString& sMsg, bool bShwStop) override;
    // Hides the dialog; bRun becomes false.
    void cEnd() override;
    // Services pending events at most every ~20 ms; bRun (and whether a
    // stop signal came) is read on every call.
    bool yield() override;
    bool bRun() const override { return m_run; }

    // A second, smaller line under the message (how far the work is, e.g.
    // "1,234 / 5,000"); cMsg and cEnd empty it. Painted at the next yield.
    void cDetail(const QString& text);
    QString detailText() const;
    // How far a synchronisation is (rows and bytes done of all to do, as
    // the run reports them every few hundred milliseconds): the counts as
    // the detail line, a bar by bytes (by rows where no byte is copied)
    // and, under it, the rate and the time left once the rate is steady,
    // timed from the message the run showed. cMsg and cEnd hide them.
    void cProgress(int done, int total, long long bytesDone, long long bytesTotal);
    int barValue() const;  // per mille, -1 while the bar is hidden
    QString rateText() const;

    // Ends the work under way as the stop button would (its message shown
    // when the button is), also while the button is hidden: the window is
    // closing.
    void stopWork();

    // The window cMsg centres over when none is given.
    void setFrame(QWidget* frame) { m_frame = frame; }

    QString panelText() const;
    bool stopVisible() const;
    QPushButton* stopButton() const { return m_stop; }

protected:
    // Escape and the window's close button act as the stop button when it is
    // shown, and do nothing otherwise (work cannot lose its dialog).
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

private:
    void onStop();

    QLabel* m_panel;
    QLabel* m_detail;
    QProgressBar* m_bar;
    QLabel* m_rate;
    QPushButton* m_stop;
    QWidget* m_frame = nullptr;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceMessage;
    bool m_run = false;
    bool m_stopping = false;
};

} // namespace velmor
