#pragma once
#include "env/StopSignal.h"

#include <QString>
#include <QStringList>

namespace velmor {

// The wait dialog's contract for long work. An operation calls cMsg when it
// starts, yield() after every unit of work (a node, a folder, a row, a file)
// and stops at once when yield() returns false; cEnd closes the dialog.
class Progress {
public:
    virtual ~Progress() = default;
    // Shows (or updates) the message; sets bRun to true.
    virtual void cMsg(const QString& sMsg, bool bShwStop) = 0;
    // Closes the dialog; sets bRun to false.
    virtual void cEnd() = 0;
    // Lets pending events run, then returns bRun. A stop signal (see
    // StopSignal) acts as the stop button: false from then on.
    virtual bool yield() = 0;
    // False once the user pressed stop or a stop signal came (or after cEnd).
    virtual bool bRun() const = 0;
};

// Headless progress: no events to run. stopAfter(n) simulates the stop
// button being pressed during the n-th following yield (tests use it to stop
// an operation in a chosen phase). Records the last message shown.
class HeadlessProgress : public Progress {
public:
    void cMsg(const QString& sMsg, bool bShwStop) override
    {
        m_msg = sMsg;
        m_stopShown = bShwStop;
        m_run = true;
        m_messages.append(sMsg);
    }
    void cEnd() override { m_run = false; }
    bool yield() override
    {
        ++m_yields;
        if ((m_stopIn > 0 && --m_stopIn == 0) || StopSignal::received())
            m_run = false;
        return m_run;
    }
    bool bRun() const override { return m_run; }

    void stopAfter(long long yields) { m_stopIn = yields; }
    void pressStop() { m_run = false; }
    const QString& lastMessage() const { return m_msg; }
    const QStringList& messages() const { return m_messages; }
    bool stopShown() const { return m_stopShown; }
    long long yields() const { return m_yields; }

private:
    bool m_run = false;
    bool m_stopShown = false;
    long long m_stopIn = 0;
    long long m_yields = 0;
    QString m_msg;
    QStringList m_messages;
};

} // namespace velmor
