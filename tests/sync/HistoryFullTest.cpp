// A history folder whose volume fills up during a synchronisation: the run
// stops after the row under way, the reason names the volume and the lack of
// space, and the log keeps whole lines only.
#include "SyncFixture.h"

#include "sync/SyncPlan.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace velmor::test {
namespace {

constexpr qint64 kPage = 4096;

class HistoryFullTest : public SyncFixture {
protected:
    void SetUp() override
    {
        SyncFixture::SetUp();
        if (::mount("velmor-hist", nameBytes(bk).constData(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs as the history folder (" << std::strerror(errno)
                         << "); a full history volume is not tested";
        m_mounted = true;
    }
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(nameBytes(bk).constData(), MNT_DETACH);
        SyncFixture::TearDown();
    }

    // Fills the history volume up to `room` free bytes (whole pages).
    void fillLeaving(qint64 room)
    {
        const QByteArray path = nameBytes(bk + QStringLiteral("/filler"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const QByteArray chunk(64 * 1024, 'f');
        qint64 size = 0;
        for (;;) {
            const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
            if (n <= 0)
                break;
            size += n;
        }
        EXPECT_EQ(errno, ENOSPC);
        ASSERT_EQ(::ftruncate(fd, off_t(size - room)), 0) << std::strerror(errno);
        ::close(fd);
    }

    QString noSpace() const
    {
        return QStringLiteral("no space left on the volume mounted at ") + bk
               + QStringLiteral(" (No space left on device)");
    }

    bool m_mounted = false;
};

// The log holds its byte-order mark and whole lines only: every line ends in
// CR LF and begins with its time stamp.
void expectWholeLines(const QString& logFile)
{
    QFile f(logFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << logFile.toStdString();
    const QByteArray bytes = f.readAll();
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    ASSERT_EQ(bytes.size() % 2, 0) << "half a character at the end";
    const QString text = QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    ASSERT_TRUE(text.isEmpty() || text.endsWith(QStringLiteral("\r\n"))) << "the log ends in part of a line";
    const QRegularExpression line(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d : [^\\r\\n]+$"));
    const QStringList lines = text.chopped(text.isEmpty() ? 0 : 2).split(QStringLiteral("\r\n"));
    for (const QString& l : lines)
        EXPECT_TRUE(text.isEmpty() || line.match(l).hasMatch()) << l.toStdString();
}

TEST_F(HistoryFullTest, TheRunStopsAtTheRowThatFoundNoRoomAndNamesTheVolume)
{
    enum class Fails { LogCreation, LogLine, Backup };
    struct Case {
        const char* name;
        bool log, backup;
        qint64 room;      // free bytes left on the history volume before the run
        Fails fails;
        int jobs = 1;     // rows carried out at once
    };
    // A deletion logs about 150 bytes, a backup takes a page per file: one
    // free page holds the byte-order mark and some twenty lines, or one backup.
    const Case cases[] = {
        {"no room for the log's byte-order mark", true, false, 0, Fails::LogCreation},
        {"no room for a log line", true, false, kPage, Fails::LogLine},
        {"no room for a backup", false, true, kPage, Fails::Backup},
        {"no room for a backup, eight rows at a time", false, true, kPage, Fails::Backup, 8},
    };
    constexpr int kRows = 60;
    const auto nameOf = [](int i) { return QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0')); };
    for (int i = 0; i < kRows; ++i)
        src(nameOf(i) + QStringLiteral(".txt"), "new", At(9));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.vSpr.clear();
        prompt->messages.clear();
        for (const QString& folder : {f2, bk})
            for (const QFileInfo& e : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
                ASSERT_TRUE(e.isDir() ? QDir(e.filePath()).removeRecursively() : QFile::remove(e.filePath()));
        for (int i = 0; i < kRows; ++i) {
            const QString name = nameOf(i);
            dst(name + QStringLiteral(".txt"), QByteArray(3000, 'o'));
            if (c.fails == Fails::Backup) {  // overwritten, the old file kept in the backup folder
                fileRow(QString(), name, QStringLiteral("txt"), St::Over);
            } else {
                fileRow(QString(), name, QStringLiteral("txt"), St::Del);
            }
        }
        fillLeaving(c.room);
        options(c.log, c.backup, false);
        session.panel.nJobs = c.jobs;
        const SyncReport rep = run();

        ASSERT_FALSE(prompt->messages.isEmpty());
        const QString message = prompt->messages.last();
        EXPECT_TRUE(message.contains(noSpace())) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral("Unknown error"))) << message.toStdString();
        if (c.fails == Fails::LogCreation) {
            EXPECT_EQ(rep.outcome, SyncReport::Outcome::Refused);
            EXPECT_TRUE(message.startsWith(SyncMsg::LogFailed)) << message.toStdString();
            EXPECT_EQ(rep.processed, 0);
            EXPECT_TRUE(QDir(bk + QStringLiteral("/Log")).entryList(QDir::Files).isEmpty())
                << "a log without its byte-order mark was left";
            continue;
        }

        EXPECT_EQ(rep.outcome, SyncReport::Outcome::Stopped);
        ASSERT_GT(rep.processed, 0);
        ASSERT_LT(rep.processed, kRows);
        if (c.jobs > 1) {
            // Rows carried out ahead of the one that found no room may be
            // settled after it: each row is whole (overwritten with its old
            // file kept) or untouched (failed or not begun), and the run
            // names the volume at a row that failed for it.
            int done = 0, namedAt = -1;
            for (int r = 0; r < kRows; ++r) {
                const ResultRow& row = session.vSpr.row(r);
                SCOPED_TRACE(r);
                if (row.result == St::Over) {
                    ++done;
                    EXPECT_EQ(readFile(p2(row.fileName())), QByteArray("new"));
                    EXPECT_EQ(readFile(rep.sBkFld + QStringLiteral("mirror/") + row.fileName()), QByteArray(3000, 'o'));
                } else {
                    EXPECT_TRUE(row.result.isEmpty() || row.result == St::Over + kErrSuffix) << row.result.toString().toStdString();
                    EXPECT_EQ(readFile(p2(row.fileName())), QByteArray(3000, 'o'));
                    if (namedAt < 0 && row.why() == rep.historyFull)
                        namedAt = r;
                }
            }
            EXPECT_TRUE(message.startsWith(SyncMsg::HistoryFull)) << message.toStdString();
            EXPECT_TRUE(rep.historyFull.contains(noSpace())) << rep.historyFull.toStdString();
            EXPECT_GE(namedAt, 0);
            EXPECT_GT(done, 0);
            EXPECT_EQ(QDir(rep.sBkFld + QStringLiteral("mirror")).entryList(QDir::Files | QDir::Hidden).size(), done);
            continue;
        }
        const int last = rep.processed - 1;  // the row that found no room
        for (int r = 0; r < kRows; ++r) {
            const ResultRow& row = session.vSpr.row(r);
            const bool gone = !Exists(p2(row.fileName()));
            if (r > last) {
                EXPECT_TRUE(row.result.isEmpty()) << r;
                EXPECT_FALSE(gone) << r;
            } else if (c.fails == Fails::Backup && r == last) {
                // Undone: the destination stays as it was, its reason kept.
                EXPECT_EQ(row.result, St::Over + kErrSuffix);
                EXPECT_EQ(readFile(p2(row.fileName())), QByteArray(3000, 'o'));
            } else if (c.fails == Fails::Backup) {
                EXPECT_EQ(readFile(p2(row.fileName())), QByteArray("new")) << r;
            } else {
                EXPECT_TRUE(gone) << r;  // done, also the row whose line found no room
            }
        }
        if (c.fails == Fails::LogLine) {
            EXPECT_TRUE(message.startsWith(SyncMsg::LogWriteFailed)) << message.toStdString();
            EXPECT_TRUE(rep.logError.contains(noSpace())) << rep.logError.toStdString();
            expectWholeLines(rep.logFile);
            EXPECT_EQ(LogLines(rep.logFile).size(), rep.processed - 1);
        } else {
            EXPECT_TRUE(message.startsWith(SyncMsg::HistoryFull)) << message.toStdString();
            EXPECT_TRUE(rep.historyFull.contains(noSpace())) << rep.historyFull.toStdString();
            EXPECT_EQ(session.vSpr.row(last).why(), rep.historyFull);
            // No temporary of the failed backup is left in the backup folder.
            QStringList kept = QDir(rep.sBkFld + QStringLiteral("mirror")).entryList(QDir::Files | QDir::Hidden);
            EXPECT_EQ(kept.size(), last) << kept.join(QLatin1Char(' ')).toStdString();
        }
    }
}

} // namespace
} // namespace velmor::test
