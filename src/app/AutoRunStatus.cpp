#include "app/AutoRunStatus.h"

#include "env/FsDir.h"

#include <cstdio>

namespace velmor {

void PrintErrorLine(const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QByteArray b = nameBytes(t) + '\n';
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

void PrintFailedRow(const QString& task, const ResultRow& row, const QString& why)
{
    PrintErrorLine(QStringLiteral("%1: row %2 (%3): %4").arg(task).arg(row.no).arg(row.status, why));
}

void AutoRunStatus::add(const MainState::AutoRunTask& t)
{
    if (t.cut)
        failed = true;  // the window closed, or a stop signal came, before the task was done
    if (!t.loaded) {
        if (!t.name.isEmpty() && !t.cut)
            missing = true;  // TskLoad has said why
        return;
    }
    if (t.cmp) {
        switch (*t.cmp) {
        case CmpOutcome::Done:
            break;
        case CmpOutcome::Refused:
            refused = true;
            break;
        case CmpOutcome::Stopped:
        case CmpOutcome::Failed:
            failed = true;
            break;
        }
    }
    if (t.sync) {
        const SyncReport& rep = *t.sync;
        switch (rep.outcome) {
        case SyncReport::Outcome::Refused:
        case SyncReport::Outcome::Busy:
            refused = true;
            break;
        case SyncReport::Outcome::Stopped:
            failed = true;
            break;
        case SyncReport::Outcome::Completed:
            break;
        }
        // Something left out means the destination is not what the list says.
        if (rep.outcome != SyncReport::Outcome::Refused && rep.outcome != SyncReport::Outcome::Busy
            && rep.partial())
            failed = true;
    }
    if (t.up && *t.up != MainState::UpResult::Finished)
        failed = true;  // the companion could not be run (message shown), or was left running
}

int AutoRunStatus::exitCode() const
{
    if (missing || refused)
        return kRefused;
    return failed ? kFailed : kOk;
}

} // namespace velmor
