#pragma once
// Runs of other programs for the tests that check a run from outside: a
// command run as an ordinary user, and rsync's view of how two trees differ.
#include "common/TestSupport.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace velmor::test {

// Commands run as an ordinary user: nobody (65534:65534, no supplementary
// groups) through setpriv, with HOME, TMPDIR and the XDG folders in a
// temporary folder of that user's own, so that the user data folder, the
// per-user store and the trash of what runs land there. Needs root and
// setpriv (scripts/install-deps.sh); where either is missing, or nobody
// cannot write the home folder, ok() is false and reason() says why, for
// GTEST_SKIP.
class OrdinaryUser {
public:
    static constexpr unsigned kId = 65534;  // the user's and its group's number
    OrdinaryUser();
    OrdinaryUser(const OrdinaryUser&) = delete;
    OrdinaryUser& operator=(const OrdinaryUser&) = delete;

    bool ok() const { return m_reason.isEmpty(); }
    QString reason() const { return m_reason; }
    // The user's home folder (removed with the object).
    QString home() const { return m_home.path(); }
    // setpriv and env with their arguments, to put before a program and its
    // arguments (as runVelmorCli's prefix).
    QStringList prefix() const;
    // Runs program with args as the user.
    CliResult run(const QString& program, const QStringList& args, int timeoutMs = 120'000) const;
    // Makes the user the owner of path and everything below it. "" when
    // done, else what failed.
    QString handOver(const QString& path) const;

private:
    QTemporaryDir m_home;
    QString m_setpriv;
    QString m_reason;
};

// The lines of `rsync -aHAXn --delete -i src/ dst/`: each item in which dst
// differs from src (its itemized change, a blank, its path; "*deleting" for
// what only dst has), in rsync's order. A line whose only change is an
// access time is left out. Empty when the trees are alike in content, modes,
// owners, times, links, hard links, ACLs and extended attributes. Throws
// std::runtime_error, with what rsync said, when rsync cannot be run or
// fails.
QStringList RsyncDiff(const QString& src, const QString& dst);

} // namespace velmor::test
