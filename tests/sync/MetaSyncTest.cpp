// Everything a file is, checked from outside: after one velmor-cli run with
// --acls --xattrs, rsync -aHAXn finds nothing left between folder 1 and
// folder 2 (as root and as an ordinary user); changes of metadata alone are
// corrected in place; a destination that cannot hold a kind of metadata is
// named once and is no difference for ever.
#include "common/TestSupport.h"
#include "common/ToolRuns.h"
#include "common/VolumeImage.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmor {
namespace {

using test::OrdinaryUser;
using test::VolumeImage;

void setAttr(const QString& path, const char* name, const QByteArray& value)
{
    ASSERT_EQ(::lsetxattr(path.toUtf8().constData(), name, value.constData(), size_t(value.size()), 0), 0)
        << path.toStdString() << " " << name << ": " << std::strerror(errno);
}

void setAcl(const QString& path, const QString& entry, bool asDefault = false)
{
    QStringList args{QStringLiteral("-m"), entry, path};
    if (asDefault)
        args.prepend(QStringLiteral("-d"));
    const test::CliResult r = test::runProgram(QStringLiteral("setfacl"), args);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
}

// Lines of the rows whose action flag is "1".
QStringList toDo(const QByteArray& out)
{
    QStringList rows;
    for (const QByteArray& line : out.split('\n')) {
        const QStringList cols = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (cols.size() >= 12 && cols[6] == QLatin1String("1"))
            rows.append(cols.mid(1, 3).join(QLatin1Char('/')) + QLatin1Char(' ') + cols[7] + QLatin1Char(' ') + cols[11]);
    }
    return rows;
}

// Folder 1: permissions the umask would strip, set-ID and sticky bits, an
// ACL and a folder's default ACL, attributes, three names of one file in two
// folders, a link, and (as root) another owner.
void makeSource(const QString& src, bool root)
{
    test::writeFile(src + "/d/run.sh", "#!/bin/sh\n");
    test::writeFile(src + "/d/plain.txt", "value=1");
    test::writeFile(src + "/d/setid", "x");
    test::writeFile(src + "/d/tagged", "t");
    test::writeFile(src + "/d/shared.txt", "shared by the group through its ACL");
    test::writeFile(src + "/d/one", "three names of one file");
    test::makeDir(src + "/d/sub/tmp");
    ASSERT_EQ(::link((src + "/d/one").toUtf8().constData(), (src + "/d/two").toUtf8().constData()), 0);
    // Names next to each other: a folder copied whole takes two files at a time.
    ASSERT_EQ(::link((src + "/d/one").toUtf8().constData(), (src + "/d/one2").toUtf8().constData()), 0);
    ASSERT_EQ(::link((src + "/d/one").toUtf8().constData(), (src + "/d/sub/three").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("plain.txt", (src + "/d/link").toUtf8().constData()), 0);
    ::chmod((src + "/d/run.sh").toUtf8().constData(), 0777);
    ::chmod((src + "/d/setid").toUtf8().constData(), 06755);
    ::chmod((src + "/d/sub/tmp").toUtf8().constData(), 01777);
    setAttr(src + "/d/tagged", "user.origin", "camera");
    setAcl(src + "/d/shared.txt", QStringLiteral("g:%1:r").arg(root ? 4321 : OrdinaryUser::kId));
    ::chmod((src + "/d/shared.txt").toUtf8().constData(), 0600);  // the group's bits (the ACL's mask) none
    setAcl(src + "/d/sub", QStringLiteral("u:%1:rwx").arg(root ? 1234 : OrdinaryUser::kId), true);
    if (root) {
        ASSERT_EQ(::lchown((src + "/d/plain.txt").toUtf8().constData(), 1234, 5678), 0);
        ASSERT_EQ(::lchown((src + "/d/link").toUtf8().constData(), 1234, 5678), 0);
        setAttr(src + "/d/tagged", "trusted.kept", "by root");
    }
}

// Changes of metadata alone, and an edit within the same minute that keeps
// the size.
void changeSource(const QString& src, bool root)
{
    ::chmod((src + "/d/run.sh").toUtf8().constData(), 0700);
    setAttr(src + "/d/tagged", "user.origin", "scanner");
    setAcl(src + "/d/shared.txt", QStringLiteral("g:%1:rw").arg(root ? 4321 : OrdinaryUser::kId));
    ::chmod((src + "/d/sub").toUtf8().constData(), 0750);
    if (root) {
        ASSERT_EQ(::lchown((src + "/d/one").toUtf8().constData(), 42, 42), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat((src + "/d/plain.txt").toUtf8().constData(), &st), 0);
    test::writeFile(src + "/d/plain.txt", "value=2");
    const struct timespec later[2] = {st.st_atim, {st.st_mtim.tv_sec + 1, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (src + "/d/plain.txt").toUtf8().constData(), later, AT_SYMLINK_NOFOLLOW), 0);
    if (root) {
        ASSERT_EQ(::lchown((src + "/d/plain.txt").toUtf8().constData(), 1234, 5678), 0);
    }
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(path.toUtf8().constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(MetaSyncTest, OneRunLeavesNothingForRsyncAndMetadataAloneIsCorrectedInPlace)
{
    if (test::velmorCli().isEmpty() || ::geteuid() != 0)
        GTEST_SKIP() << "needs velmor-cli and root";
    for (const bool root : {true, false}) {
        SCOPED_TRACE(root ? "as root" : "as an ordinary user");
        OrdinaryUser user;
        if (!root && !user.ok()) {
            std::printf("%s\n", qPrintable(user.reason()));
            continue;
        }
        QTemporaryDir tmp;
        ::chmod(tmp.path().toUtf8().constData(), 0755);
        const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst", data = tmp.path() + "/data";
        test::makeDir(dst);
        test::makeDir(data);
        makeSource(src, root);
        if (!root) {
            for (const QString& p : {src, dst, data})
                ASSERT_EQ(user.handOver(p), QString());
        }
        const QStringList prefix = root ? QStringList() : user.prefix();
        const QStringList args{QStringLiteral("sync"), src, dst, QStringLiteral("--data"), data,
                               QStringLiteral("--delete"), QStringLiteral("--acls"), QStringLiteral("--xattrs")};

        test::CliResult r = test::runVelmorCli(args, prefix);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(test::RsyncDiff(src + "/d", dst + "/d"), QStringList());
        EXPECT_EQ(inodeOf(dst + "/d/one"), inodeOf(dst + "/d/sub/three")) << "hard links stay links";
        EXPECT_EQ(inodeOf(dst + "/d/one"), inodeOf(dst + "/d/one2")) << "hard links stay links";

        changeSource(src, root);
        const ino_t before = inodeOf(dst + "/d/run.sh");
        r = test::runVelmorCli({QStringLiteral("compare"), src, dst, QStringLiteral("--data"), data,
                                QStringLiteral("--delete"), QStringLiteral("--acls"), QStringLiteral("--xattrs")},
                               prefix);
        QStringList want{"d/run/sh 上書 属性のみ", "d/shared/txt 上書 属性のみ",
                         "d/tagged/ 上書 属性のみ", "d/plain/txt 上書 ", "d/sub// 比較 属性のみ"};
        if (root)
            want << "d/one/ 上書 属性のみ" << "d/one2/ 上書 属性のみ" << "d/two/ 上書 属性のみ" << "d/sub/three/ 上書 属性のみ";
        QStringList got = toDo(r.out);
        got.sort();
        want.sort();
        EXPECT_EQ(got, want) << r.out.toStdString();

        r = test::runVelmorCli(args, prefix);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(test::RsyncDiff(src + "/d", dst + "/d"), QStringList());
        EXPECT_EQ(inodeOf(dst + "/d/run.sh"), before) << "metadata are corrected in place, not copied";
        EXPECT_EQ(test::readFile(dst + "/d/plain.txt"), QByteArray("value=2"));
    }
}

TEST(MetaSyncTest, WhatTheDestinationCannotHoldIsNamedOnceAndIsNoDifference)
{
    if (test::velmorCli().isEmpty() || ::geteuid() != 0)
        GTEST_SKIP() << "needs velmor-cli and root";
    struct Case {
        VolumeImage::Type type;
        QStringList named;
    };
    const Case cases[] = {
        {VolumeImage::Type::NoXattrs, {QStringLiteral("ACL"), QStringLiteral("拡張属性")}},
        {VolumeImage::Type::Exfat, {QStringLiteral("所有者とｸﾞﾙｰﾌﾟ"), QStringLiteral("ACL"), QStringLiteral("拡張属性")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(VolumeImage::name(c.type));
        VolumeImage vol(c.type);
        if (!vol.ok()) {
            std::printf("%s\n", qPrintable(vol.reason()));
            continue;
        }
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src", dst = vol.path() + "/dst", data = tmp.path() + "/data";
        test::makeDir(dst + "/d");  // compared file by file
        test::makeDir(data);
        makeSource(src, true);
        QFile::remove(src + "/d/link");  // exFAT holds no links
        const QStringList args{QStringLiteral("sync"), src, dst, QStringLiteral("--data"), data,
                               QStringLiteral("--delete"), QStringLiteral("--acls"), QStringLiteral("--xattrs")};
        test::CliResult r = test::runVelmorCli(args);
        EXPECT_EQ(r.code, 1) << "what is lost makes the exit status 1";
        // Named at the end of the comparison and of the run, never per item.
        for (const QString& what : c.named) {
            const qsizetype n = r.err.count(what + QStringLiteral(": ") + dst);
            EXPECT_TRUE(n == 1 || n == 2) << what.toStdString() << "\n" << r.err.toStdString();
        }
        EXPECT_EQ(test::readFile(dst + "/d/tagged"), QByteArray("t"));
        r = test::runVelmorCli({QStringLiteral("compare"), src, dst, QStringLiteral("--data"), data,
                                QStringLiteral("--delete"), QStringLiteral("--acls"), QStringLiteral("--xattrs")});
        EXPECT_EQ(toDo(r.out), QStringList()) << "nothing is a difference for ever";
    }
}

} // namespace
} // namespace velmor
