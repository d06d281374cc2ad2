#include "app/UpHand.h"

#include "env/Prompt.h"
#include "env/UserStore.h"
#include "env/Usr.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace velmor {

namespace Zavro {

namespace {
// No shell: the program and its arguments go to the system as they are. The
// companion reads nothing from us, and its standard output is dropped so that
// it never mixes into velmor-cli's result table; its messages stay on stderr.
void prepare(QProcess& p, const QString& program, const QStringList& args)
{
    p.setProgram(program);
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

QString reasonOf(const QProcess& p)
{
    const QString why = p.errorString();
    return why.isEmpty() ? QStringLiteral("unknown error") : why;
}
} // namespace

QStringList Args(bool wait, const QString& task)
{
    if (wait)
        return {QStringLiteral("SyncUp"), QStringLiteral("/b|") + task};
    return {QStringLiteral("SyncUp|") + task};
}

QString FindUp()
{
    QString p = UserStore::readPath(kStoreKey);
    if (!QFileInfo(p).isFile())
        p.clear();
    if (p.isEmpty()) {
        p = Usr::prompt().pickFile(UpMsg::PickTitle, UpMsg::PickFilter, UpMsg::PickName);
        if (!p.isEmpty())
            p = QFileInfo(p).absoluteFilePath();
        // A store that cannot be written only means the user is asked again
        // next time; this hand-off goes on with the answer.
        UserStore::writePath(kStoreKey, p);
    }
    return p;
}

bool RunWait(const QString& program, const QStringList& args, QString* why)
{
    QProcess p;
    prepare(p, program, args);
    p.start();
    if (!p.waitForStarted(-1)) {
        if (why)
            *why = reasonOf(p);
        return false;
    }
    // Waits in 100 ms steps; between them the window repaints and its
    // commands stay usable. A wait that fails ends the loop like the end.
    do {
        QCoreApplication::processEvents();
    } while (!p.waitForFinished(100) && p.state() != QProcess::NotRunning);
    return true;
}

bool Start(const QString& program, const QStringList& args, QString* why)
{
    QProcess p;
    prepare(p, program, args);
    if (p.startDetached())
        return true;
    if (why)
        *why = reasonOf(p);
    return false;
}

MainState::UpResult UpHand(bool wait, const QString& task, QString& sFtpAp)
{
    sFtpAp = FindUp();
    if (sFtpAp.isEmpty()) {
        Usr::prompt().message(UpMsg::NotFound);
        return MainState::UpResult::NotFound;
    }
    const QStringList args = Args(wait, task);
    QString why;
    const bool ok = wait ? RunWait(sFtpAp, args, &why) : Start(sFtpAp, args, &why);
    if (!ok) {
        Usr::prompt().message(sFtpAp + UpMsg::StartFailed + why);
        return MainState::UpResult::StartFailed;
    }
    return wait ? MainState::UpResult::Finished : MainState::UpResult::Started;
}

} // namespace Zavro

MainState::UpResult MainState::UpHand(bool wait)
{
    return Zavro::UpHand(wait, cbTskText, sFtpAp);
}

void MainState::FindUp() { sFtpAp = Zavro::FindUp(); }

} // namespace velmor
