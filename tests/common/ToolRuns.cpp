#include "common/ToolRuns.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <stdexcept>

#include <unistd.h>

namespace velmor::test {

namespace {

const char* const kHomeDirs[][2] = {{"XDG_CONFIG_HOME", ".config"}, {"XDG_DATA_HOME", ".local/share"},
                                    {"XDG_STATE_HOME", ".local/state"}, {"XDG_CACHE_HOME", ".cache"},
                                    {"XDG_RUNTIME_DIR", "run"},          {"TMPDIR", "tmp"}};

} // namespace

OrdinaryUser::OrdinaryUser()
{
    if (::geteuid() != 0) {
        m_reason = QStringLiteral("running as another user needs root");
        return;
    }
    m_setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (m_setpriv.isEmpty()) {
        m_reason = QStringLiteral("setpriv is not installed (scripts/install-deps.sh installs it)");
        return;
    }
    if (!m_home.isValid()) {
        m_reason = QStringLiteral("no temporary folder: ") + m_home.errorString();
        return;
    }
    for (const auto& [var, rel] : kHomeDirs)
        if (!QDir(home()).mkpath(QString::fromLatin1(rel))) {
            m_reason = QStringLiteral("cannot create ") + home() + QLatin1Char('/') + QLatin1String(rel);
            return;
        }
    // Qt takes a runtime folder only when it is its user's alone.
    if (!QFile::setPermissions(home() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        m_reason = QStringLiteral("cannot restrict ") + home() + QStringLiteral("/run");
        return;
    }
    m_reason = handOver(home());
    if (!m_reason.isEmpty())
        return;
    const CliResult probe = run(QStringLiteral("test"), {QStringLiteral("-w"), home() + QStringLiteral("/tmp")});
    if (probe.code != 0)
        m_reason = QStringLiteral("nobody cannot write %1 here (%2)").arg(home(), probe.err.trimmed());
}

QStringList OrdinaryUser::prefix() const
{
    const QString id = QString::number(kId);
    QStringList p = {m_setpriv, QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                     QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("env"),
                     QStringLiteral("HOME=") + home(), QStringLiteral("USER=nobody"), QStringLiteral("LOGNAME=nobody")};
    for (const auto& [var, rel] : kHomeDirs)
        p << QLatin1String(var) + QLatin1Char('=') + home() + QLatin1Char('/') + QLatin1String(rel);
    return p;
}

CliResult OrdinaryUser::run(const QString& program, const QStringList& args, int timeoutMs) const
{
    const QStringList p = prefix();
    return runProgram(p.first(), p.mid(1) + QStringList{program} + args, timeoutMs);
}

QString OrdinaryUser::handOver(const QString& path) const
{
    const QString id = QString::number(kId);
    const CliResult r = runProgram(QStringLiteral("chown"), {QStringLiteral("-R"), id + QLatin1Char(':') + id, path});
    return r.code == 0 ? QString() : QStringLiteral("chown %1: %2").arg(path, r.err.trimmed());
}

QStringList RsyncDiff(const QString& src, const QString& dst)
{
    const CliResult r = runProgram(QStringLiteral("rsync"), {QStringLiteral("-aHAXn"), QStringLiteral("--delete"),
                                                             QStringLiteral("-i"), src + QLatin1Char('/'),
                                                             dst + QLatin1Char('/')});
    if (r.code != 0)
        throw std::runtime_error(QStringLiteral("rsync %1 %2 ended with %3: %4")
                                     .arg(src, dst, QString::number(r.code), r.err.trimmed())
                                     .toStdString());
    QStringList lines;
    for (const QString& line : QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // "YXcstpoguax path": nothing updated (Y '.') and no attribute but
        // the access time ('u') changed.
        const QStringView flags = QStringView(line).left(11);
        bool atimeOnly = flags.size() == 11 && flags[0] == QLatin1Char('.') && flags[8] == QLatin1Char('u');
        for (qsizetype i = 2; atimeOnly && i < 11; ++i)
            atimeOnly = i == 8 || flags[i] == QLatin1Char('.') || flags[i] == QLatin1Char(' ');
        if (!atimeOnly)
            lines.append(line);
    }
    return lines;
}

} // namespace velmor::test
