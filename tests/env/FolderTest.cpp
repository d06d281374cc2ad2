#include "common/TestSupport.h"
#include "env/yIni.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmor;

TEST(yIniFolders, CreateFldMakesEveryMissingLevel)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString base = tmp.path();

    yIni::F_CreateFld(base + QStringLiteral("/a/b/c"));
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/a/b/c")).isDir());

    // Trailing and doubled separators, and an existing level with content.
    velmor::test::writeFile(base + QStringLiteral("/a/keep.txt"), "k");
    yIni::F_CreateFld(base + QStringLiteral("/a//d/e/"));
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/a/d/e")).isDir());
    EXPECT_TRUE(QFileInfo::exists(base + QStringLiteral("/a/keep.txt")));

    // A file in the way: that level and those below fail silently, nothing is replaced.
    velmor::test::writeFile(base + QStringLiteral("/f"), "file");
    EXPECT_NO_THROW(yIni::F_CreateFld(base + QStringLiteral("/f/g/h")));
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/f")).isFile());
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("/f/g")));

    // Relative paths create their first level too.
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(base));
    yIni::F_CreateFld(QStringLiteral("rel/x"));
    QDir::setCurrent(cwd);
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/rel/x")).isDir());

    EXPECT_NO_THROW(yIni::F_CreateFld(QString()));
}

TEST(yIniFolders, ChkSbMakesOneLevelEach)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString base = tmp.path() + QLatin1Char('/');
    yIni::F_ChkSb(base, {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("missing/z")});
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("x")).isDir());
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("y")).isDir());
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("missing")));
}
