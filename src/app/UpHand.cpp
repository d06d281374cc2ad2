#include "app/UpHand.h"

#include "env/Argv.h"
#include "env/Prompt.h"
#include "env/UserStore.h"
#include "env/Usr.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

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

WaitEnd RunWait(const QString& program, const QStringList& args, QString* why,
                const std::function<bool()>& abandon)
{
    // A child of our own (not a QProcess, which would kill it when the
    // window closes during the wait): its end is polled, and a closing window
    // simply stops waiting for it.
    const Argv argv(QStringList{program} + args);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv.program(), &io, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&io);
    if (rc != 0) {
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(rc));
        return WaitEnd::NotStarted;
    }
    // Waits in 100 ms steps; between them the window repaints and its
    // commands stay usable. A wait that fails ends the loop like the end.
    for (;;) {
        QCoreApplication::processEvents();
        if (abandon && abandon())
            return WaitEnd::Abandoned;
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done != 0)
            return WaitEnd::Ended;
        QThread::msleep(100);
    }
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

MainState::UpResult UpHand(bool wait, const QString& task, QString& sFtpAp, const std::function<bool()>& abandon)
{
    sFtpAp = FindUp();
    if (sFtpAp.isEmpty()) {
        Usr::prompt().message(UpMsg::NotFound);
        return MainState::UpResult::NotFound;
    }
    const QStringList args = Args(wait, task);
    QString why;
    const WaitEnd end = wait ? RunWait(sFtpAp, args, &why, abandon)
                             : Start(sFtpAp, args, &why) ? WaitEnd::Ended : WaitEnd::NotStarted;
    if (end == WaitEnd::NotStarted) {
        Usr::prompt().message(sFtpAp + UpMsg::StartFailed + why);
        return MainState::UpResult::StartFailed;
    }
    if (end == WaitEnd::Abandoned)
        return MainState::UpResult::Abandoned;
    return wait ? MainState::UpResult::Finished : MainState::UpResult::Started;
}

} // namespace Zavro

MainState::UpResult MainState::UpHand(bool wait)
{
    return Zavro::UpHand(wait, cbTskText, sFtpAp, [this] { return bClosing; });
}

void MainState::FindUp() { sFtpAp = Zavro::FindUp(); }

} // namespace velmor
