// The trash: an item goes under a free name and never replaces what the
// trash holds, also where another program left an entry without its
// information file.
#include "common/TestSupport.h"
#include "env/FsDir.h"
#include "env/Trash.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <fcntl.h>

using namespace velmor;
using velmor::test::readFile;
using velmor::test::writeFile;

TEST(Trash, ANameTakenInFilesWithoutItsInformationIsNeverReplaced)
{
    const test::ScopedTestHome home;
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
    const QString dir = home.path() + QStringLiteral("/work");
    // files/ holds "a.txt" with no information file, and "a.txt.2" likewise
    // (a sibling whose name extends the first); the folder "d" is taken too.
    writeFile(trash + QStringLiteral("/files/a.txt"), "earlier");
    writeFile(trash + QStringLiteral("/files/a.txt.2"), "earlier 2");
    writeFile(trash + QStringLiteral("/files/d/inner.txt"), "earlier folder");
    writeFile(dir + QStringLiteral("/a.txt"), "new");
    writeFile(dir + QStringLiteral("/d/other.txt"), "new folder");
    const UniqueFd fd(::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));

    EXPECT_EQ(TrashAt(fd.get(), "a.txt", dir + QStringLiteral("/a.txt")), QString());
    EXPECT_EQ(TrashAt(fd.get(), "d", dir + QStringLiteral("/d")), QString());

    EXPECT_EQ(readFile(trash + QStringLiteral("/files/a.txt")), QByteArray("earlier"));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/a.txt.2")), QByteArray("earlier 2"));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/a.txt.3")), QByteArray("new"));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/d/inner.txt")), QByteArray("earlier folder"));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/d.2/other.txt")), QByteArray("new folder"));
    // Each item's information file has the item's name, and only those were added.
    EXPECT_EQ(QDir(trash + QStringLiteral("/info")).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("a.txt.3.trashinfo"), QStringLiteral("d.2.trashinfo")}));
    EXPECT_TRUE(readFile(trash + QStringLiteral("/info/a.txt.3.trashinfo"))
                    .startsWith("[Trash Info]\nPath=" + QFile::encodeName(dir) + "/a.txt\nDeletionDate="));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/a.txt")));
}
