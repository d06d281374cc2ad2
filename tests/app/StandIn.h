#pragma once
// A stand-in for the FTP companion program: a shell script that records its
// arguments, writes a line on its standard output, then waits for a "go"
// file before it ends, so that tests can tell whether a caller waited for it
// without measuring time.
#include "common/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QThread>

namespace velmor::test {

class StandIn {
public:
    // Writes the script as dir + "/" + name (dir is created; both may hold
    // spaces). Files beside it: "args" (the argument count, then each
    // argument on a line of its own), "go" (the caller's release), "done"
    // (written last), "timeout" (no release within about 20 s).
    StandIn(const QString& dir, const QString& name = QStringLiteral("Zavro stand in"))
        : m_dir(dir), m_program(dir + QLatin1Char('/') + name)
    {
        const QByteArray d = QFile::encodeName(dir);
        writeFile(m_program,
                  "#!/bin/sh\n"
                  "d='" + d + "'\n"
                  "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$d/args.part\"\n"
                  "mv \"$d/args.part\" \"$d/args\"\n"
                  "echo 'stand-in output'\n"
                  "n=0\n"
                  "while [ ! -e \"$d/go\" ]; do\n"
                  "  n=$((n+1)); if [ $n -gt 200 ]; then echo timeout > \"$d/timeout\"; break; fi\n"
                  "  sleep 0.1\n"
                  "done\n"
                  "echo done > \"$d/done\"\n");
        QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                             | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }

    QString program() const { return m_program; }
    void release() const { writeFile(file("go"), "go\n"); }
    bool started() const { return QFileInfo::exists(file("args")); }
    bool done() const { return QFileInfo::exists(file("done")); }
    bool timedOut() const { return QFileInfo::exists(file("timeout")); }
    // The recorded arguments (count first); empty before the script ran.
    QStringList args() const
    {
        if (!started())
            return {};
        QString t = QString::fromUtf8(readFile(file("args")));
        t.chop(1);  // the last line break
        return t.split(QLatin1Char('\n'));
    }
    // Runs events until the script has ended (or ~30 s passed): a detached
    // script must not outlive its folder.
    void waitDone() const
    {
        QDeadlineTimer limit(30000);
        while (!done() && !limit.hasExpired())
            pause();
    }
    // Runs events until the script has recorded its arguments (or ~30 s passed).
    void waitStarted() const
    {
        QDeadlineTimer limit(30000);
        while (!started() && !limit.hasExpired())
            pause();
    }

private:
    static void pause()
    {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    QString file(const char* n) const { return m_dir + QLatin1Char('/') + QLatin1String(n); }
    QString m_dir, m_program;
};

} // namespace velmor::test
