// velmor-cli as a scheduler runs it: a second run on the same user data
// folder is refused, what a run leaves out makes its exit status 1, and
// names and paths that are awkward for text tools are synchronised exactly.
#include "common/TestSupport.h"
#include "common/ToolRuns.h"
#include "env/FolderLock.h"
#include "env/FsDir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmor;
using namespace velmor::test;

namespace {

class CliSafetyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cli = velmorCli();
        if (cli.isEmpty())
            GTEST_SKIP() << "velmor-cli is not built";
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + QStringLiteral("/src");
        dst = tmp.path() + QStringLiteral("/dst");
        data = tmp.path() + QStringLiteral("/data");
        makeDir(src);
        makeDir(dst);
        makeDir(data);
    }
    // Names that are not UTF-8 and long paths are beyond QTemporaryDir.
    void TearDown() override
    {
        rawClear(src);
        rawClear(dst);
    }

    CliResult run(const QString& command, QStringList args, const QStringList& prefix = {})
    {
        args.prepend(command);
        args << QStringLiteral("--data") << data;
        return runVelmorCli(args, prefix);
    }

    // Writes a file by its byte path with a time (days after 2020-01-01).
    static void put(const QByteArray& path, const QByteArray& content, int day)
    {
        QByteArray last;
        UniqueFd dir = openParentOf(path, last);
        ASSERT_TRUE(dir.valid()) << path.toStdString();
        const int fd = ::openat(dir.get(), last.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.constData(), size_t(content.size())), content.size());
        const struct timespec t[2] = {{1577836800 + day * 86400, 0}, {1577836800 + day * 86400, 0}};
        ::futimens(fd, t);
        ::close(fd);
    }
    static QByteArray get(const QByteArray& path)
    {
        QByteArray last;
        UniqueFd dir = openParentOf(path, last);
        const int fd = dir.valid() ? ::openat(dir.get(), last.constData(), O_RDONLY) : -1;
        if (fd < 0)
            return "<missing>";
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        return QByteArray(buf, int(n));
    }

    QString cli, src, dst, data;
    QTemporaryDir tmp;
};

TEST_F(CliSafetyTest, ASecondRunOnTheSameDataFolderIsRefused)
{
    writeFile(src + QStringLiteral("/a/f.txt"), "f");
    FolderLock held;
    ASSERT_TRUE(held.tryLock(data));
    for (const char* command : {"compare", "sync"}) {
        const CliResult r = run(QLatin1String(command), {src, dst});
        EXPECT_EQ(r.code, 2) << command;
        EXPECT_TRUE(r.err.contains(QStringLiteral("比較または同期を実行中です"))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dst + QStringLiteral("/a")));
    held.unlock();
    EXPECT_EQ(run(QStringLiteral("sync"), {src, dst}).code, 0);
    EXPECT_EQ(readFile(dst + QStringLiteral("/a/f.txt")), QByteArray("f"));
}

TEST_F(CliSafetyTest, NamesThatAreNotUtf8AndPathsBeyondPathMaxAreSynchronised)
{
    const QByteArray s = nameBytes(src), d = nameBytes(dst);
    // A folder on both sides holding names that are not valid UTF-8.
    makeDir(src + QStringLiteral("/w"));
    makeDir(dst + QStringLiteral("/w"));
    put(s + "/w/caf\xe9.txt", "new", 9);
    put(d + "/w/caf\xe9.txt", "old", 1);
    put(s + "/w/\xff\xfe new", "added", 1);
    put(d + "/w/caf\xc3\xa9.txt", "valid look-alike", 1);
    // A path longer than PATH_MAX, on both sides.
    QByteArray deep = "/deep";
    while (deep.size() < 4200)
        deep += '/' + QByteArray(200, 'x');
    for (const QByteArray& root : {s, d}) {
        UniqueFd fd = openDirPath(root, true);
        for (const QByteArray& part : deep.mid(1).split('/')) {
            ASSERT_EQ(::mkdirat(fd.get(), part.constData(), 0755), 0);
            fd = UniqueFd(::openat(fd.get(), part.constData(), O_RDONLY | O_DIRECTORY));
            ASSERT_TRUE(fd.valid());
        }
    }
    put(s + deep + "/f.txt", "deep new", 9);
    put(d + deep + "/f.txt", "deep old", 1);

    const CliResult r = run(QStringLiteral("sync"), {src, dst, QStringLiteral("--delete")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(get(d + "/w/caf\xe9.txt"), QByteArray("new"));
    EXPECT_EQ(get(d + "/w/\xff\xfe new"), QByteArray("added"));
    EXPECT_EQ(get(d + "/w/caf\xc3\xa9.txt"), QByteArray("<missing>"));  // only in folder 2: deleted
    EXPECT_EQ(get(d + deep + "/f.txt"), QByteArray("deep new"));
    // The list names each file by its bytes.
    EXPECT_TRUE(r.out.contains("\tcaf\xe9\ttxt\t")) << r.out.left(2000).toStdString();
    EXPECT_TRUE(r.out.contains("\t\xff\xfe new\t"));

    const CliResult again = run(QStringLiteral("compare"), {src, dst, QStringLiteral("--mode"), QStringLiteral("1")});
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.isEmpty()) << again.out.toStdString();
}

TEST_F(CliSafetyTest, WhatIsLeftOutMakesTheExitStatusOne)
{
    writeFile(src + QStringLiteral("/p/a.txt"), "a");
    makeDir(dst + QStringLiteral("/p"));
    ASSERT_EQ(::mkfifo(nameBytes(src + QStringLiteral("/p/pipe")).constData(), 0644), 0);
    const CliResult piped = run(QStringLiteral("sync"), {src, dst});
    EXPECT_EQ(piped.code, 1) << piped.err.toStdString();
    EXPECT_TRUE(piped.err.contains(src + QStringLiteral("/p/pipe"))) << piped.err.toStdString();
    EXPECT_EQ(readFile(dst + QStringLiteral("/p/a.txt")), QByteArray("a"));
    ::unlink(nameBytes(src + QStringLiteral("/p/pipe")).constData());

    // A folder that cannot be read: the rest is done all the same.
    writeFile(src + QStringLiteral("/q/b.txt"), "b");
    writeFile(src + QStringLiteral("/locked/c.txt"), "c");
    writeFile(dst + QStringLiteral("/locked/precious.txt"), "keep");
    QStringList prefix;
    std::optional<OrdinaryUser> nobody;
    if (::geteuid() == 0) {
        // Root reads everything: run as nobody, who is given these folders.
        nobody.emplace();
        if (!nobody->ok())
            GTEST_SKIP() << "root cannot be shown an unreadable folder: " << nobody->reason().toStdString();
        ASSERT_EQ(nobody->handOver(tmp.path()), QString());
        prefix = nobody->prefix();
        const CliResult help = runVelmorCli({QStringLiteral("--help")}, prefix);
        if (help.code != 0)
            GTEST_SKIP() << "nobody cannot run " << cli.toStdString() << " here: " << help.err.toStdString();
    }
    ASSERT_EQ(::chmod(nameBytes(src + QStringLiteral("/locked")).constData(), 0311), 0);
    const CliResult locked = run(QStringLiteral("sync"), {src, dst, QStringLiteral("--delete")}, prefix);
    ::chmod(nameBytes(src + QStringLiteral("/locked")).constData(), 0755);
    EXPECT_EQ(locked.code, 1) << locked.err.toStdString();
    EXPECT_TRUE(locked.err.contains(src + QStringLiteral("/locked"))) << locked.err.toStdString();
    EXPECT_EQ(readFile(dst + QStringLiteral("/q/b.txt")), QByteArray("b"));
    EXPECT_EQ(readFile(dst + QStringLiteral("/locked/precious.txt")), QByteArray("keep"));
}

} // namespace
