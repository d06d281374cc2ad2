// velmor-cli stopped by SIGTERM, SIGINT or SIGHUP while it compares or
// synchronises: the run stops as with the stop button, the rows done so far
// are printed and logged, no temporary file is left, every file in folder 2
// is whole, and the exit status is 1.
#include "common/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstring>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::readFile;

namespace {

// Big enough that a synchronisation takes well over the time to see it start.
constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 600;

class CliSignalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (test::velmorCli().isEmpty())
            GTEST_SKIP() << "velmor-cli is not built";
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + QStringLiteral("/src");
        data = tmp.path() + QStringLiteral("/data");
        hist = tmp.path() + QStringLiteral("/hist");
        test::writeManyFiles(src, kFolders, kFilesPerFolder);
        test::makeDir(hist);
    }

    // A fresh, empty destination whose folders exist: every file is a row
    // of its own.
    QString freshDestination(const QString& name)
    {
        const QString dst = tmp.path() + QLatin1Char('/') + name;
        QDir(dst).removeRecursively();
        for (int d = 0; d < kFolders; ++d)
            test::makeDir(dst + QLatin1Char('/') + test::manyFilesFolder(d));
        return dst;
    }

    // The run lock of the data folder is held by pid: its run is under way.
    bool runUnderWay(qint64 pid) const
    {
        struct stat st {};
        if (::stat(QFile::encodeName(data).constData(), &st) != 0)
            return false;
        QFile locks(QStringLiteral("/proc/locks"));
        if (!locks.open(QIODevice::ReadOnly))
            return false;
        const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino)) + ' ';
        const QByteArray owner = ' ' + QByteArray::number(pid) + ' ';
        for (const QByteArray& line : locks.readAll().split('\n'))
            if (line.contains("FLOCK") && line.contains(owner) && line.contains(inode))
                return true;
        return false;
    }

    test::ScopedTestHome home;  // the child's per-user store
    QTemporaryDir tmp;
    QString src, data, hist;
};

} // namespace

TEST_F(CliSignalTest, ASignalStopsTheRunAndTheRowsDoneArePrinted)
{
    enum class Command { Compare, Sync, Run };
    struct Case {
        const char* name;
        Command command;
        int sig;
    };
    const Case cases[] = {
        {"sync, SIGTERM", Command::Sync, SIGTERM},
        {"sync, SIGINT", Command::Sync, SIGINT},
        {"sync, SIGHUP", Command::Sync, SIGHUP},
        {"compare, SIGTERM", Command::Compare, SIGTERM},
        {"run of two tasks, SIGTERM", Command::Run, SIGTERM},
    };
    const QString data2 = QStringLiteral("--data");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString dst = freshDestination(QStringLiteral("dst"));
        const QString second = freshDestination(QStringLiteral("dst2"));
        QDir(hist).removeRecursively();
        test::makeDir(hist);
        QStringList args;
        switch (c.command) {
        case Command::Compare:
            args = {QStringLiteral("compare"), src, dst};
            break;
        case Command::Sync:
            args = {QStringLiteral("sync"), src, dst, QStringLiteral("--log"), QStringLiteral("--history"), hist};
            break;
        case Command::Run:
            for (const auto& [task, to] : {std::pair{QStringLiteral("T1"), dst}, std::pair{QStringLiteral("T2"), second}}) {
                const test::CliResult saved = test::runVelmorCli(
                    {QStringLiteral("task"), QStringLiteral("save"), task, src, to, QStringLiteral("--log"),
                     QStringLiteral("--history"), hist, data2, data});
                ASSERT_EQ(saved.code, 0) << saved.err.toStdString();
            }
            // T2's folder 2 is gone: started, T2 would be refused (status 2).
            ASSERT_TRUE(QDir(second).removeRecursively());
            args = {QStringLiteral("run"), QStringLiteral("T1, T2")};
            break;
        }
        args << data2 << data;

        QProcess cli;
        cli.start(test::velmorCli(), args);
        ASSERT_TRUE(cli.waitForStarted());
        // Under way: the comparison holds the run lock; the synchronisation
        // has put its first file in place.
        QElapsedTimer waited;
        waited.start();
        const QString first = dst + QLatin1Char('/') + test::manyFilesFolder(0);
        const auto started = [&] {
            return c.command == Command::Compare ? runUnderWay(cli.processId())
                                                 : !QDir(first).entryList(QDir::Files).isEmpty();
        };
        while (!started() && cli.state() == QProcess::Running && waited.elapsed() < 60000)
            QThread::usleep(500);
        ASSERT_EQ(cli.state(), QProcess::Running) << "the run ended before it was seen under way: "
                                                  << cli.readAllStandardError().toStdString();
        if (c.command == Command::Compare)
            QThread::msleep(10);  // from the lock to the run's start
        ASSERT_EQ(::kill(pid_t(cli.processId()), c.sig), 0);
        ASSERT_TRUE(cli.waitForFinished(60000));
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
        EXPECT_EQ(cli.exitCode(), 1) << err.toStdString();

        // What is in folder 2 is whole, and no temporary file is left.
        const int copied = test::expectWholeCopies(src, dst);
        EXPECT_LT(copied, kFolders * kFilesPerFolder) << "the run was not stopped";
        if (c.command == Command::Compare)
            continue;  // stopped in its scan: no row listed yet

        // The rows are printed: those done with flag 2, the others still 1.
        const int flagColumn = c.command == Command::Run ? 7 : 6;
        // Folder rows (their times differ: files went in) are done first and
        // logged too; the file rows done are the files copied.
        int done = 0, left = 0, folders = 0;
        for (const QString& line : QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList cols = line.split(QLatin1Char('\t'));
            ASSERT_GT(cols.size(), flagColumn) << line.toStdString();
            if (c.command == Command::Run) {
                EXPECT_EQ(cols[0], QStringLiteral("T1"));
            }
            const bool folderRow = cols[flagColumn - 4].isEmpty();
            folders += folderRow && cols[flagColumn] == QStringLiteral("2");
            done += !folderRow && cols[flagColumn] == QStringLiteral("2");
            left += cols[flagColumn] == QStringLiteral("1");
        }
        EXPECT_EQ(done, copied);
        EXPECT_GT(left, 0);
        // Logged: one whole line per file put in place.
        const QStringList logs = QDir(hist + QStringLiteral("/Log")).entryList(QDir::Files);
        ASSERT_EQ(logs.size(), 1) << logs.join(QLatin1Char(' ')).toStdString();
        const QByteArray log = readFile(hist + QStringLiteral("/Log/") + logs[0]);
        const QString text = QStringDecoder(QStringConverter::Utf16LE).decode(log.mid(2));
        EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
        EXPECT_EQ(text.count(QStringLiteral("\r\n")), done + folders);
    }
}

// A comparison by content stops inside a long file, not after it: two pairs
// of 8 GiB files with equal sizes (sparse, so they take no room) would keep
// it reading for many seconds.
TEST(CliContentSignalTest, ASignalStopsAComparisonInsideALongFile)
{
    if (test::velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    test::ScopedTestHome home;
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString src = tmp.path() + QStringLiteral("/src"), dst = tmp.path() + QStringLiteral("/dst");
    for (const QString& root : {src, dst}) {
        test::makeDir(root + QStringLiteral("/big"));
        for (const char* name : {"/big/a.bin", "/big/b.bin"}) {
            QFile f(root + QLatin1String(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_TRUE(f.resize(8LL << 30));
        }
    }
    const QString data = tmp.path() + QStringLiteral("/data");
    QProcess cli;
    cli.start(test::velmorCli(), {QStringLiteral("compare"), src, dst, QStringLiteral("--content"),
                                  QStringLiteral("--data"), data});
    ASSERT_TRUE(cli.waitForStarted());
    QThread::msleep(400);
    ASSERT_EQ(cli.state(), QProcess::Running) << cli.readAllStandardError().toStdString();
    ASSERT_EQ(::kill(pid_t(cli.processId()), SIGTERM), 0);
    QElapsedTimer stopping;
    stopping.start();
    ASSERT_TRUE(cli.waitForFinished(120000));
    // Reading the rest takes over half a minute here; a stop seen only
    // between files would wait for it.
    EXPECT_LT(stopping.elapsed(), 15000) << "the stop waited for the files under way";
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 1) << "not stopped: " << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(cli.readAllStandardOutput().isEmpty()) << "no row is printed from a stopped scan";
}
