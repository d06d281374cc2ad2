// Rows carried out many at a time, as on a destination that answers slowly:
// the grid, the log and folder 2 come out as when the rows go one at a time,
// in the grid's order; a stop settles every row whose change was made.
#include "SyncFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QThread>

#include <algorithm>
#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

namespace velmor::test {
namespace {

class InFlightTest : public SyncFixture {
protected:
    // Folder 2 as it was compared, and the grid: a new folder and its files,
    // overwrites, a copy whose source is gone (it fails), new files,
    // deletions, and a folder copied whole (which waits for the rows before
    // it, then goes alone); backup: what is overwritten or deleted is saved
    // in the backup folder, emptied first.
    void build(bool backup)
    {
        QDir(bk + QStringLiteral("/BackUp")).removeRecursively();
        // Emptied, not made anew: the run refuses a folder 2 that is
        // another folder than the one compared.
        for (const QFileInfo& fi : QDir(f2).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            fi.isDir() && !fi.isSymLink() ? QDir(fi.filePath()).removeRecursively() : QFile::remove(fi.filePath());
        session.vSpr.clear();
        folderRow(QStringLiteral("fresh"), QStringLiteral("空追"));
        for (int i = 0; i < 8; ++i) {
            src(QStringLiteral("fresh/f%1.txt").arg(i), "fresh " + QByteArray::number(i));
            fileRow(QStringLiteral("fresh"), QStringLiteral("f%1").arg(i), QStringLiteral("txt"), QStringLiteral("追加"));
        }
        for (int i = 0; i < 6; ++i) {
            src(QStringLiteral("keep/over%1.txt").arg(i), "new " + QByteArray::number(i), At(3));
            dst(QStringLiteral("keep/over%1.txt").arg(i), "old", At(2));
            fileRow(QStringLiteral("keep"), QStringLiteral("over%1").arg(i), QStringLiteral("txt"), QStringLiteral("上書"));
            if (i == 2)
                fileRow(QStringLiteral("keep"), QStringLiteral("gone"), QStringLiteral("txt"), QStringLiteral("追加"));
        }
        for (int i = 0; i < 6; ++i) {
            src(QStringLiteral("keep/new%1.txt").arg(i), "added " + QByteArray::number(i));
            fileRow(QStringLiteral("keep"), QStringLiteral("new%1").arg(i), QStringLiteral("txt"), QStringLiteral("追加"));
        }
        for (int i = 0; i < 4; ++i) {
            dst(QStringLiteral("keep/old%1.txt").arg(i), "stale");
            fileRow(QStringLiteral("keep"), QStringLiteral("old%1").arg(i), QStringLiteral("txt"), QStringLiteral("削除"));
        }
        folderRow(QStringLiteral("whole"), QStringLiteral("追加"));
        for (int i = 0; i < 3; ++i)
            src(QStringLiteral("whole/sub/w%1.txt").arg(i), "whole " + QByteArray::number(i));
        options(true, backup, false);
    }

    // Whether row r's change is in folder 2 (a copy with its source's
    // content, a deletion gone).
    bool madeOnDisk(int r)
    {
        const ResultRow& row = session.vSpr.row(r);
        const QString rel = row.itemPath();
        if (row.isFolderRow())
            return QFileInfo(p2(rel)).isDir();
        if (row.status == QStringLiteral("削除"))
            return !Exists(p2(rel));
        return Exists(p1(rel)) && readFile(p2(rel)) == readFile(p1(rel));
    }

    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }

    // The entries below root: names, and each file's names, content, mode
    // and time.
    QStringList listing(const QString& root)
    {
        QStringList out;
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo fi(it.next());
            out << QDir(root).relativeFilePath(fi.filePath())
                       + (fi.isDir() ? QStringLiteral("/")
                                     : QStringLiteral(" %1 %2 %3 ")
                                           .arg(int(fi.permissions()))
                                           .arg(fi.lastModified().toMSecsSinceEpoch())
                                           .arg(linksOf(fi.filePath()))
                                           + QString::fromUtf8(readFile(fi.filePath())));
        }
        out.sort();
        return out;
    }

    // What the backups hold, below the run's dated folder.
    QStringList saved()
    {
        QStringList out;
        for (const QString& line : listing(bk + QStringLiteral("/BackUp")))
            out << line.section(QLatin1Char('/'), 1);
        return out;
    }

    static int linksOf(const QString& path)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_nlink) : -1;
    }

    QStringList temporaries()
    {
        QStringList out;
        for (const QString& dir : {f2, p2(QStringLiteral("fresh")), p2(QStringLiteral("keep"))})
            out += QDir(dir).entryList({QStringLiteral(".*velmor~*")}, QDir::Files | QDir::Hidden);
        return out;
    }
};

TEST_F(InFlightTest, RowsComeOutInTheGridsOrder)
{
    for (const bool backup : {false, true}) {
        SCOPED_TRACE(backup ? "with backups" : "without backups");
        setFsHook({});
        build(backup);
        sourceChangedByTest();
        const SyncReport one = run();
        ASSERT_EQ(one.outcome, SyncReport::Outcome::Completed);
        ASSERT_EQ(one.failed, 1);
        const QStringList oneLog = LogLines(one.logFile);
        QStringList oneResults;
        for (const ResultRow& row : session.vSpr.rows())
            oneResults << row.flag + QLatin1Char(' ') + row.result + (row.red ? QStringLiteral(" red") : QString());
        const QStringList onePrint = listing(f2);
        const QStringList oneSaved = saved();
        ASSERT_EQ(oneSaved.isEmpty(), !backup);
        // The log lines of each row: those naming its item in folder 2 (a
        // backup line and the overwrite, or one line), none for the failed one.
        std::vector<QStringList> linesOf;
        for (const ResultRow& row : session.vSpr.rows()) {
            const QString item = p2(row.itemPath());
            linesOf.emplace_back();
            for (const QString& line : oneLog) {
                const qsizetype at = line.indexOf(item);
                const qsizetype after = at + item.size();
                const QChar next = at >= 0 && after < line.size() ? line.at(after) : QChar();
                if (at >= 0 && (next == QLatin1Char(' ') || next.unicode() > 127))
                    linesOf.back() << line;
            }
            EXPECT_EQ(linesOf.back().size(), row.red ? 0 : backup && row.status == QStringLiteral("上書") ? 2 : 1)
                << row.itemPath().toStdString();
        }

        // Early rows are made slow, so later ones are done first.
        std::atomic<int> calls{0};
        setFsHook([&](const char* point) {
            if (QByteArray(point) == "file:resolved" && calls++ % 3 == 0)
                QThread::msleep(15);
        });
        const struct {
            const char* what;
            int jobs;
            long long stopAfter;  // 0: no stop
        } cases[] = {
            {"eight at a time", 8, 0},
            {"two at a time", 2, 0},
            {"stopped early", 8, 3},
            {"stopped later", 4, 12},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            build(backup);
            session.panel.nJobs = c.jobs;
            progress.stopAfter(c.stopAfter);
            const SyncReport rep = run();
            progress.stopAfter(0);
            EXPECT_TRUE(temporaries().isEmpty()) << temporaries().join(u' ').toStdString();
            const QStringList log = LogLines(rep.logFile);
            if (c.stopAfter == 0) {
                EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
                QStringList results;
                for (const ResultRow& row : session.vSpr.rows())
                    results << row.flag + QLatin1Char(' ') + row.result + (row.red ? QStringLiteral(" red") : QString());
                EXPECT_EQ(results, oneResults);
                EXPECT_EQ(log, oneLog);
                EXPECT_EQ(listing(f2), onePrint);
                EXPECT_EQ(saved(), oneSaved);
                continue;
            }
            // Every change made is settled and logged, in the grid's order; no
            // row is settled whose change was not made.
            EXPECT_EQ(rep.outcome, SyncReport::Outcome::Stopped);
            QStringList wanted;
            int settled = 0;
            for (int r = 0; r < session.vSpr.rowCount(); ++r) {
                const ResultRow& row = session.vSpr.row(r);
                const bool done = row.flag == QStringLiteral("2");
                settled += done || row.red;
                if (row.red)
                    continue;
                EXPECT_EQ(madeOnDisk(r), done) << row.itemPath().toStdString();
                if (done)
                    wanted << linesOf[size_t(r)];
            }
            EXPECT_EQ(rep.processed, settled);
            EXPECT_LT(settled, session.vSpr.rowCount()) << "the stop came before the end";
            EXPECT_EQ(log, wanted);
        }
    }
    setFsHook({});
}

TEST_F(InFlightTest, TwoNamesOfOneFileStayOneFile)
{
    // The second name becomes a link to the first one's copy, also where
    // rows go many at a time: it waits for the first one, which takes a while
    // between its data and its place.
    src(QStringLiteral("d/twin_a.txt"), "twins");
    ASSERT_EQ(::link(QFile::encodeName(p1(QStringLiteral("d/twin_a.txt"))).constData(),
                     QFile::encodeName(p1(QStringLiteral("d/twin_b.txt"))).constData()),
              0);
    ASSERT_TRUE(QDir().mkpath(p2(QStringLiteral("d"))));
    for (const char* twin : {"twin_a", "twin_b"})
        fileRow(QStringLiteral("d"), QLatin1String(twin), QStringLiteral("txt"), QStringLiteral("追加"));
    options(false, false, false);
    session.panel.nJobs = 8;
    setFsHook([](const char* point) {
        if (QByteArray(point) == "copy:data-written")
            QThread::msleep(20);
    });
    const SyncReport rep = run();
    setFsHook({});
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(readFile(p2(QStringLiteral("d/twin_b.txt"))), QByteArray("twins"));
    EXPECT_EQ(linksOf(p2(QStringLiteral("d/twin_a.txt"))), 2);
}

} // namespace
} // namespace velmor::test
