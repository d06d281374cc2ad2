// Attributes read the same way for the comparison and the copy: their
// canonical text splits back into what was read, and a damaged text is
// refused instead of being applied in part.
#include "env/FileMeta.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmor {
namespace {

TEST(FileMetaTest, TheTextOfTheAttributesSplitsBackOrIsRefused)
{
    QTemporaryDir tmp;
    const QByteArray file = QFile::encodeName(tmp.path() + QStringLiteral("/f"));
    ::close(::open(file.constData(), O_CREAT | O_WRONLY, 0600));
    const QByteArray binary("\0\1\2", 3);
    if (::setxattr(file.constData(), "user.b", "second", 6, 0) != 0
        || ::setxattr(file.constData(), "user.a", binary.constData(), size_t(binary.size()), 0) != 0)
        GTEST_SKIP() << "no user attributes here";
    const int dir = ::open(QFile::encodeName(tmp.path()).constData(), O_RDONLY | O_DIRECTORY);
    FileXattrs x;
    ASSERT_TRUE(ReadXattrs(dir, "f", kMetaXattrs, x));
    ::close(dir);
    EXPECT_TRUE(x.acl.isEmpty());
    QList<XattrPair> pairs;
    ASSERT_TRUE(SplitXattrs(x.other, pairs));
    ASSERT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs[0].name, "user.a");  // in name order, values byte for byte
    EXPECT_EQ(pairs[0].value, binary);
    EXPECT_EQ(pairs[1].value, "second");
    for (const qsizetype cut : {qsizetype(3), qsizetype(8), x.other.size() - 1})
        EXPECT_FALSE(SplitXattrs(x.other.left(cut), pairs)) << cut;
}

} // namespace
} // namespace velmor
