// The option snapshot and the comma-list membership test.
#include "tasks/FolderList.h"
#include "tasks/Options.h"

#include <gtest/gtest.h>

using namespace velmor;

TEST(InListTest, WholeEntriesOnly)
{
    EXPECT_TRUE(InList(QString(), QString()));
    EXPECT_TRUE(InList(QStringLiteral("/A,/B,"), QString())) << "the root's empty entry is always found";
    EXPECT_TRUE(InList(QStringLiteral("/A,/B,"), QStringLiteral("/A")));
    EXPECT_TRUE(InList(QStringLiteral("/A,/B,"), QStringLiteral("/B")));
    EXPECT_FALSE(InList(QStringLiteral("/AB,"), QStringLiteral("/A"))) << "no prefix matches";
    EXPECT_FALSE(InList(QStringLiteral("/A,/B,"), QStringLiteral("/a"))) << "case-sensitive";
    EXPECT_FALSE(InList(QStringLiteral("/A,/B,"), QStringLiteral("/A,/C")));
}

TEST(GetOptTest, SnapshotOfTheCheckBoxes)
{
    TaskPanel p;
    p.chRet[0] = true;
    p.chRet[7] = true;
    const YRt y = GetOpt(p);
    EXPECT_EQ(y, (YRt{1, 0, 0, 0, 0, 0, 0, 1}));
    p.chRet[0] = false;
    EXPECT_EQ(y[0], 1) << "a snapshot, not a view";
}

TEST(InListTest, SetAnswersAsInListDoes)
{
    const QStringList lists = {QString(), QStringLiteral(","), QStringLiteral("0"), QStringLiteral(",/A,/B,"),
                               QStringLiteral("/A,/B"), QStringLiteral("/a,,/A,/B,"), QStringLiteral("/x,/y,/z,")};
    const QStringList items = {QString(),           QStringLiteral("/A"),    QStringLiteral("/a"),
                               QStringLiteral("/B"), QStringLiteral("/A,/B"), QStringLiteral("/B,"),
                               QStringLiteral(","),  QStringLiteral("0"),     QStringLiteral("/y,/z"),
                               QStringLiteral("/x,/z"), QStringLiteral("/A/B")};
    for (const QString& list : lists) {
        const InListSet set(list);
        for (const QString& item : items)
            EXPECT_EQ(set.contains(item), InList(list, item))
                << "list \"" << list.toStdString() << "\" item \"" << item.toStdString() << "\"";
    }
}

// The stored folder lists: plain as they always were unless a name holds a
// ",", and every list reads back as the paths written.
TEST(FolderListTest, StoredTextsHoldExactlyThePathsWritten)
{
    struct Case {
        QStringList paths;
        bool commaNames;
        const char* text;
    };
    const Case cases[] = {
        {{}, false, ""},
        {{"", "/a", "/?", "/**", "/a\\b", "/%", "/%2C"}, false, ",/a,/?,/**,/a\\b,/%,/%2C,"},
        {{"/a,b", "/%", "/%2C", "/,"}, false, "//,/a%2Cb,/%25,/%252C,/%2C,"},
        {{"/x", "/y"}, true, "//,/x,/y,"},
        {{}, true, "//,"},
    };
    const QStringList others = {"/a", "b", "/x,/y", "/%25", "//", ","};
    for (const Case& c : cases) {
        const QString text = FolderListText(c.paths, c.commaNames);
        EXPECT_EQ(text, QString::fromUtf8(c.text));
        const FolderListSet set(text);
        for (const QString& p : c.paths)
            EXPECT_TRUE(set.contains(p)) << c.text << " holds " << p.toStdString();
        for (const QString& p : others) {
            if (!c.paths.contains(p)) {
                EXPECT_FALSE(set.contains(p)) << c.text << " lacks " << p.toStdString();
            }
        }
        EXPECT_TRUE(set.contains(QString())) << "the root's entry, as in every plain list";
    }
    // Escapes in either letter case; any other "%" stands for itself.
    const FolderListSet set(QStringLiteral("//,/a%2cb,/50%,/%41,/%2,"));
    for (const char* p : {"/a,b", "/50%", "/%41", "/%2"})
        EXPECT_TRUE(set.contains(QString::fromUtf8(p))) << p;
}
