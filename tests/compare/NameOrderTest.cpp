// The name order of listings: letter case ignored first, then by code unit,
// the same for every name (the quick path for ASCII names included).
#include "env/FsList.h"

#include <gtest/gtest.h>

#include <random>

using namespace velmor;

namespace {
bool reference(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}
} // namespace

TEST(NameOrderTest, AgreesWithTheCaseFoldingComparisonOnEveryKindOfName)
{
    const char16_t pool[] = {u'a', u'A', u'b', u'B', u'z', u'Z', u'_', u'.', u'0', u'9', u'[', u'`', u'{',
                             u'~', 0x7f, 0xe9, 0xc9, 0x212a, u'k', u'K', 0x3042, 0xff76, 0xd83d, 0xde00};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(0, 5), pick(0, int(std::size(pool)) - 1), coin(0, 3);
    std::vector<QString> names;
    for (int i = 0; i < 3000; ++i) {
        QString s;
        const int n = len(rng);
        for (int k = 0; k < n; ++k)
            s += QChar(coin(rng) == 0 ? pool[size_t(pick(rng))] : pool[size_t(pick(rng) % 14)]);
        names.push_back(s);
    }
    names.push_back(QStringLiteral("Kelvin"));
    names.push_back(QString(QChar(0x212a)) + QStringLiteral("elvin"));
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = i; j < names.size() && j < i + 40; ++j) {
            ASSERT_EQ(nameLess(names[i], names[j]), reference(names[i], names[j]))
                << names[i].toStdString() << " | " << names[j].toStdString();
            ASSERT_EQ(nameLess(names[j], names[i]), reference(names[j], names[i]))
                << names[j].toStdString() << " | " << names[i].toStdString();
        }
    EXPECT_TRUE(nameLess(QStringLiteral("B.txt"), QStringLiteral("a.txt")) == false);
    EXPECT_TRUE(nameLess(QStringLiteral("A.txt"), QStringLiteral("a.txt")));
    EXPECT_TRUE(nameLess(QStringLiteral("ab"), QStringLiteral("ABC")));
}
