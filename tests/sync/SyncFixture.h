#pragma once
// Shared fixture of the synchronisation tests: real temporary folders for
// folder 1, folder 2, the history/backup root and the trash (XDG_DATA_HOME),
// a recording prompt, and a fingerprint of folder 1 that must be unchanged
// when the test ends.
#include "common/TestSupport.h"
#include "compare/Session.h"
#include "env/Progress.h"
#include "env/zLog.h"
#include "sync/FsOps.h"
#include "sync/SyncOps.h"
#include "sync/SyncRun.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <ostream>

#include <sys/stat.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace velmor::test {

// Fingerprint of a tree by bytes: every entry's relative name, type, mode,
// size, mtime (ns), link target and content hash; links are not followed.
QByteArray TreeFingerprint(const QString& root);

// The lines of a log file without their time stamps (UTF-16 LE, CR LF);
// empty when the file does not exist.
QStringList LogLines(const QString& logFile);

// A fixed moment with whole seconds, so date texts and times compare exactly.
QDateTime At(int day, int hour = 10, int minute = 0);

// Owner-write bit of a path (false: the "R" attribute).
bool OwnerWritable(const QString& path);

// An entry named by its path, for calling the primitives directly: its
// folder is opened as path lookup would.
struct PathAt {
    explicit PathAt(const QString& path);
    UniqueFd dir;
    fsops::At at;
    operator const fsops::At&() const { return at; }
};

// The process's umask for the lifetime of the object.
struct ScopedUmask {
    explicit ScopedUmask(mode_t m) : old(::umask(m)) {}
    ~ScopedUmask() { ::umask(old); }
    mode_t old;
};

// True when anything (a dangling link too) is at path.
bool Exists(const QString& path);

class SyncFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a file below folder 1 or 2 with content and time.
    void src(const QString& rel, const QByteArray& content, const QDateTime& t = At(1));
    void dst(const QString& rel, const QByteArray& content, const QDateTime& t = At(1));
    QString p1(const QString& rel) const { return f1 + QLatin1Char('/') + rel; }
    QString p2(const QString& rel) const { return f2 + QLatin1Char('/') + rel; }

    // A context for direct operation calls; log (yRt[2]) and backup (yRt[3])
    // open the log / pick the backup folder as the run would.
    SyncCtx ctx(bool log, bool backup, bool trash);
    // Lines logged so far by the context's log.
    QStringList logged() const;
    QString trashed(const QString& name) const { return trashDir + QStringLiteral("/files/") + name; }

    // Grid rows for SyncRun.
    void folderRow(const QString& path, const QString& status, const QString& flag = QStringLiteral("1"));
    void fileRow(const QString& path, const QString& name, const QString& ext, const QString& status,
                 const QString& flag = QStringLiteral("1"));
    // Session with roots, switches and history folder set.
    void options(bool log, bool backup, bool trash);
    SyncReport run();

    // Freezes folder 1's fingerprint (done by ctx() and run() on first use).
    void freezeSource();
    // The test changes folder 1 itself: the fingerprint is taken again.
    void sourceChangedByTest() { m_frozen = false; }

    QTemporaryDir tmp;
    QString f1, f2, bk, trashDir;
    ScopedPrompt prompt;
    HeadlessProgress progress;
    Session session;
    zLog* log = nullptr;

private:
    QByteArray m_sourcePrint;
    bool m_frozen = false;
    std::unique_ptr<zLog> m_log;
};

} // namespace velmor::test
