// How much dated history stays: which names count as the program's own,
// which of them go under the limits, and the removal below a history folder
// that also holds other things.
#include "SyncFixture.h"

#include "sync/Retention.h"
#include "sync/SyncPlan.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace velmor::test {
namespace {

const QDate kToday(2026, 3, 10);

DatedName dn(int y, int m, int d, int n = 0) { return DatedName{QDate(y, m, d), n}; }

struct ParseCase {
    const char* name;
    const char* suffix;
    bool valid;
    DatedName want;
};

TEST(RetentionTest, OnlyTheProgramsOwnNamesCount)
{
    const ParseCase cases[] = {
        {"2026-01-01", "", true, dn(2026, 1, 1)},
        {"2026-01-01~1", "", true, dn(2026, 1, 1, 1)},
        {"2026-01-01~32767", "", true, dn(2026, 1, 1, 32767)},
        {"2026-01-01.log", ".log", true, dn(2026, 1, 1)},
        {"2026-01-01~12.log", ".log", true, dn(2026, 1, 1, 12)},
        {"2026-01-01x", "", false, {}},
        {"2026-01-01~", "", false, {}},
        {"2026-01-01~0", "", false, {}},
        {"2026-01-01~01", "", false, {}},
        {"2026-01-01~32768", "", false, {}},
        {"2026-01-01~1a", "", false, {}},
        {"2026-02-30", "", false, {}},
        {"2026-1-01", "", false, {}},
        {"2026-01-01.log", "", false, {}},
        {"2026-01-01", ".log", false, {}},
        {"2026-01-01.LOG", ".log", false, {}},
        {"x2026-01-01", "", false, {}},
        {"2026_01_01", "", false, {}},
        {"", "", false, {}},
    };
    for (const ParseCase& c : cases) {
        const std::optional<DatedName> got = ParseDatedName(QByteArray(c.name), c.suffix);
        ASSERT_EQ(got.has_value(), c.valid) << c.name << " suffix " << c.suffix;
        if (c.valid) {
            EXPECT_EQ(*got, c.want) << c.name;
        }
    }
}

struct ExpireCase {
    const char* what;
    std::vector<DatedName> entries;
    KeepLimits limits;
    std::vector<int> keep;
    std::vector<int> gone;  // oldest first
};

TEST(RetentionTest, WhatGoesUnderTheLimits)
{
    const std::vector<DatedName> week = {dn(2026, 3, 4), dn(2026, 3, 10), dn(2026, 3, 6), dn(2026, 3, 10, 1),
                                         dn(2026, 3, 8)};
    const ExpireCase cases[] = {
        {"no limits", week, {0, 0}, {}, {}},
        {"count 2: the two newest of today stay", week, {0, 2}, {}, {0, 2, 4}},
        {"count 10: all stay", week, {0, 10}, {}, {}},
        {"count 1", week, {0, 1}, {}, {0, 2, 4, 1}},
        {"3 days: dated more than 3 days back go", week, {3, 0}, {}, {0, 2}},
        {"4 days: the 6th is exactly 4 days back and stays", week, {4, 0}, {}, {0}},
        {"days and count: either sends away", week, {5, 3}, {}, {0, 2}},
        {"all too old: the newest stays", {dn(2025, 1, 1), dn(2025, 1, 2), dn(2024, 12, 31)}, {30, 0}, {}, {2, 0}},
        {"one entry, too old, stays", {dn(2020, 1, 1)}, {1, 1}, {}, {}},
        {"counter orders entries of a day", {dn(2026, 3, 1, 2), dn(2026, 3, 1), dn(2026, 3, 1, 10)}, {0, 1}, {}, {1, 0}},
        {"own entry stays though old", {dn(2026, 3, 10), dn(2026, 1, 1)}, {0, 1}, {1}, {}},
        {"own entry counts towards the limit", {dn(2026, 3, 10), dn(2026, 3, 9), dn(2026, 3, 8)}, {0, 2}, {1}, {2}},
        {"future dates are newest", {dn(2026, 3, 9), dn(2027, 1, 1)}, {1, 0}, {}, {}},
        {"nothing listed", {}, {1, 1}, {}, {}},
    };
    for (const ExpireCase& c : cases)
        EXPECT_EQ(ExpiredHistory(c.entries, c.limits, kToday, c.keep), c.gone) << c.what;
}

class PruneTest : public SyncFixture {
protected:
    QString b(const QString& rel) const { return bk + QStringLiteral("/BackUp/") + rel; }
    QString l(const QString& rel) const { return bk + QStringLiteral("/Log/") + rel; }
    void link(const QString& target, const QString& at)
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
    }
    PruneReport prune(const KeepLimits& limits, const QString& ownBackup = {}, const QString& ownLog = {})
    {
        const UniqueFd hist = openDirPath(nameBytes(bk), true);
        EXPECT_TRUE(hist.valid());
        return PruneHistory(hist.get(), bk, limits, kToday, ownBackup, ownLog);
    }
};

// A history folder where dated entries of this program lie beside things
// that only look like them: only the former go, each whole, and a link
// inside or in place of one leads nowhere the removal follows.
TEST_F(PruneTest, RemovesOnlyDatedEntriesWholeAndNeverThroughLinks)
{
    const QString outside = tmp.path() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep.txt"), "precious");
    writeFile(b(QStringLiteral("2026-01-01/f2/a/deep.txt")), "old");
    writeFile(b(QStringLiteral("2026-01-02~1/f2/b.txt")), "old");
    link(outside, b(QStringLiteral("2026-01-02~1/f2/escape")));
    writeFile(b(QStringLiteral("2026-03-09/f2/c.txt")), "new");
    writeFile(b(QStringLiteral("2026-01-01x/mine.txt")), "foreign");
    writeFile(b(QStringLiteral("2026-01-03")), "a file named like a date");
    link(outside, b(QStringLiteral("2025-12-31")));
    writeFile(b(QStringLiteral("notes.txt")), "foreign");
    writeFile(l(QStringLiteral("2026-01-01.log")), "old log");
    writeFile(l(QStringLiteral("2026-01-01~1.log")), "old log");
    writeFile(l(QStringLiteral("2026-03-10.log")), "today");
    makeDir(l(QStringLiteral("2025-01-01.log")));
    link(outside + QStringLiteral("/keep.txt"), l(QStringLiteral("2025-01-02.log")));
    writeFile(l(QStringLiteral("2026-01-01.log.bak")), "foreign");
    writeFile(bk + QStringLiteral("/2026-01-01/other.txt"), "not below BackUp");

    const PruneReport rep = prune({30, 0});

    EXPECT_EQ(rep.failed, QStringList());
    EXPECT_EQ(rep.removed, QStringList({b(QStringLiteral("2026-01-01")), b(QStringLiteral("2026-01-02~1")),
                                        l(QStringLiteral("2026-01-01.log")), l(QStringLiteral("2026-01-01~1.log"))}));
    for (const QString& gone : rep.removed)
        EXPECT_FALSE(Exists(gone)) << gone.toStdString();
    for (const QString& kept :
         {b(QStringLiteral("2026-03-09/f2/c.txt")), b(QStringLiteral("2026-01-01x/mine.txt")),
          b(QStringLiteral("2026-01-03")), b(QStringLiteral("2025-12-31")), b(QStringLiteral("notes.txt")),
          l(QStringLiteral("2026-03-10.log")), l(QStringLiteral("2025-01-01.log")), l(QStringLiteral("2025-01-02.log")),
          l(QStringLiteral("2026-01-01.log.bak")), bk + QStringLiteral("/2026-01-01/other.txt")})
        EXPECT_TRUE(Exists(kept)) << kept.toStdString();
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep.txt")), "precious");
}

TEST_F(PruneTest, CountsBackupsAndLogsApartAndKeepsTheRunsOwn)
{
    for (const char* d : {"2026-03-01", "2026-03-02", "2026-03-03"}) {
        makeDir(b(QString::fromLatin1(d)));
        writeFile(l(QString::fromLatin1(d) + QStringLiteral(".log")), "x");
    }
    // The running synchronisation's own log is dated oldest (a clock set back).
    const PruneReport rep = prune({0, 1}, QStringLiteral("2026-03-03"), QStringLiteral("2026-03-01.log"));
    EXPECT_EQ(rep.removed, QStringList({b(QStringLiteral("2026-03-01")), b(QStringLiteral("2026-03-02")),
                                        l(QStringLiteral("2026-03-02.log"))}));
    EXPECT_TRUE(Exists(l(QStringLiteral("2026-03-01.log"))));
    EXPECT_TRUE(Exists(l(QStringLiteral("2026-03-03.log"))));
}

// A backup folder that cannot go whole (a volume mounted inside it) is
// named with its reason; the others still go.
TEST_F(PruneTest, AnEntryThatCannotGoIsNamedAndTheRestGoes)
{
    writeFile(b(QStringLiteral("2026-01-02/f2/a.txt")), "old");
    makeDir(b(QStringLiteral("2026-01-01/mnt")));
    makeDir(b(QStringLiteral("2026-03-10")));
    const QByteArray mnt = nameBytes(b(QStringLiteral("2026-01-01/mnt")));
    if (::mount("velmor-prune", mnt.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (" << std::strerror(errno) << ")";
    const PruneReport rep = prune({0, 1});
    ::umount2(mnt.constData(), MNT_DETACH);
    EXPECT_EQ(rep.removed, QStringList({b(QStringLiteral("2026-01-02"))}));
    ASSERT_EQ(rep.failed.size(), 1);
    EXPECT_TRUE(rep.failed.first().contains(QStringLiteral("2026-01-01"))) << rep.failed.first().toStdString();
    EXPECT_TRUE(Exists(b(QStringLiteral("2026-01-01"))));
}

// A whole run: backups and logs beyond the task's count go after the walk,
// each named in the run's log and report; the run's own stay.
TEST_F(PruneTest, SynchronisationPrunesAndLogsWhatWent)
{
    makeDir(b(QStringLiteral("2000-01-01")));
    makeDir(b(QStringLiteral("2000-01-02")));
    writeFile(l(QStringLiteral("2000-01-01.log")), "x");
    writeFile(bk + QStringLiteral("/README"), "foreign");
    src(QStringLiteral("a.txt"), "new", At(2));
    dst(QStringLiteral("a.txt"), "old", At(1));
    fileRow(QString(), QStringLiteral("a"), QStringLiteral("txt"), St::Over);
    options(true, true, false);
    session.panel.nKeepCount = 1;

    const SyncReport rep = run();

    ASSERT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_FALSE(rep.partial());
    const QStringList gone = {b(QStringLiteral("2000-01-01")), b(QStringLiteral("2000-01-02")),
                              l(QStringLiteral("2000-01-01.log"))};
    EXPECT_EQ(rep.pruned, gone);
    for (const QString& g : gone)
        EXPECT_FALSE(Exists(g)) << g.toStdString();
    EXPECT_TRUE(QDir(rep.sBkFld).exists());
    EXPECT_TRUE(QFile::exists(rep.logFile));
    EXPECT_TRUE(Exists(bk + QStringLiteral("/README")));
    const QStringList lines = LogLines(rep.logFile);
    for (const QString& g : gone)
        EXPECT_TRUE(lines.contains(logtx::expired(g))) << g.toStdString();
}

} // namespace
} // namespace velmor::test
