// The helpers that look at a run from outside: velmor-cli run as an ordinary
// user keeps its user data in that user's home, and rsync names each kind
// of difference between two trees.
#include "common/ToolRuns.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace velmor::test;

namespace {

TEST(ToolRunsTest, AnOrdinaryUsersRunKeepsItsUserDataInItsHome)
{
    if (velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    const OrdinaryUser nobody;
    if (!nobody.ok())
        GTEST_SKIP() << nobody.reason().toStdString();
    const CliResult id = nobody.run(QStringLiteral("id"), {QStringLiteral("-u")});
    EXPECT_EQ(id.out, QByteArray("65534\n")) << id.err.toStdString();

    const QString src = nobody.home() + QStringLiteral("/src"), dst = nobody.home() + QStringLiteral("/dst");
    writeFile(src + QStringLiteral("/f.txt"), "f");
    makeDir(dst);
    ASSERT_EQ(nobody.handOver(nobody.home()), QString());
    const CliResult saved = runVelmorCli({QStringLiteral("task"), QStringLiteral("save"), QStringLiteral("t"), src, dst},
                                         nobody.prefix());
    ASSERT_EQ(saved.code, 0) << saved.err.toStdString();
    const QStringList stores = filesBelow(nobody.home()).filter(QStringLiteral("Sync.mdb"));
    ASSERT_EQ(stores.size(), 1) << filesBelow(nobody.home()).join(u' ').toStdString();
    EXPECT_EQ(QFileInfo(nobody.home() + u'/' + stores[0]).ownerId(), OrdinaryUser::kId);
}

TEST(ToolRunsTest, RsyncDiffNamesWhatDiffers)
{
    if (QStandardPaths::findExecutable(QStringLiteral("setfattr")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("setfacl")).isEmpty())
        GTEST_SKIP() << "setfattr or setfacl is not installed (scripts/install-deps.sh installs them)";
    const auto tool = [](const QString& program, const QStringList& args) {
        const CliResult r = runProgram(program, args);
        ASSERT_EQ(r.code, 0) << program.toStdString() << ": " << r.err.toStdString();
    };
    const struct {
        const char* what;
        std::function<void(const QString& src, const QString& dst)> change;
        QStringList lines;
    } cases[] = {
        {"alike", [](const QString&, const QString&) {}, {}},
        {"an extended attribute",
         [&](const QString& s, const QString&) {
             tool(QStringLiteral("setfattr"), {QStringLiteral("-n"), QStringLiteral("user.k"), QStringLiteral("-v"),
                                               QStringLiteral("v"), s + QStringLiteral("/a.txt")});
         },
         {QStringLiteral(".f........x a.txt")}},
        {"an ACL",
         [&](const QString& s, const QString&) {
             tool(QStringLiteral("setfacl"), {QStringLiteral("-m"), QStringLiteral("u:65534:r"), s + QStringLiteral("/a.txt")});
         },
         {QStringLiteral(".f.......a. a.txt")}},
        {"a mode and a file of folder 2's own",
         [&](const QString& s, const QString& d) {
             tool(QStringLiteral("chmod"), {QStringLiteral("600"), s + QStringLiteral("/a.txt")});
             writeFile(d + QStringLiteral("/b.txt"), "b");
             tool(QStringLiteral("touch"), {QStringLiteral("-r"), s, d});
         },
         {QStringLiteral("*deleting   b.txt"), QStringLiteral(".f...p..... a.txt")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        const QString src = tmp.filePath(QStringLiteral("src")), dst = tmp.filePath(QStringLiteral("dst"));
        writeFile(src + QStringLiteral("/a.txt"), "a");
        tool(QStringLiteral("cp"), {QStringLiteral("-a"), src, dst});
        c.change(src, dst);
        EXPECT_EQ(RsyncDiff(src, dst), c.lines);
    }
    EXPECT_THROW(RsyncDiff(QStringLiteral("/nonexistent-src"), QStringLiteral("/nonexistent-dst")), std::runtime_error);
}

} // namespace
