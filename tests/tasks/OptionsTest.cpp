// The option snapshot and the comma-list membership test.
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
