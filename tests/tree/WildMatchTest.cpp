#include "tree/WildMatch.h"

#include <gtest/gtest.h>

using velmor::PatternError;
using velmor::WildMatch;

TEST(WildMatch, WildcardsAndCase)
{
    EXPECT_TRUE(WildMatch("BK2", "bk*"));
    EXPECT_TRUE(WildMatch("bk", "bk*"));
    EXPECT_FALSE(WildMatch("abk", "bk*"));
    EXPECT_TRUE(WildMatch("a.txt", "?.txt"));
    EXPECT_FALSE(WildMatch("ab.txt", "?.txt"));
    EXPECT_TRUE(WildMatch("v12", "v##"));
    EXPECT_FALSE(WildMatch("v1a", "v##"));
    EXPECT_TRUE(WildMatch("index.html", "*.htm*"));
    EXPECT_FALSE(WildMatch("logo.gif", "*.htm*"));
    EXPECT_TRUE(WildMatch("", "*"));
    EXPECT_FALSE(WildMatch("", "?"));
    EXPECT_TRUE(WildMatch("aXbXc", "a*b*c"));
    EXPECT_FALSE(WildMatch("aXbXd", "a*b*c"));
}

TEST(WildMatch, BracketListsRangesAndNegation)
{
    EXPECT_TRUE(WildMatch("b", "[a-c]"));
    EXPECT_FALSE(WildMatch("d", "[a-c]"));
    EXPECT_TRUE(WildMatch("d", "[!a-c]"));
    EXPECT_FALSE(WildMatch("b", "[!a-c]"));
    EXPECT_TRUE(WildMatch("x-1", "[xyz]-[0-9]"));
    EXPECT_TRUE(WildMatch("file7.log", "file[5-9].log"));
    EXPECT_TRUE(WildMatch("q", "[!abc]"));
}

TEST(WildMatch, SeparatorsAndDotsAreLiterals)
{
    EXPECT_TRUE(WildMatch("web/img/a.gif", "*img/*.gif"));
    EXPECT_TRUE(WildMatch("makefile.", "makefile."));
    EXPECT_FALSE(WildMatch("makefile.", "makefile"));
    EXPECT_TRUE(WildMatch("a/data/b/c.txt", "*data/*"));
}

TEST(WildMatch, UnclosedBracketIsAnError)
{
    EXPECT_THROW(WildMatch("abc", "ab[c"), PatternError);
    EXPECT_THROW(WildMatch("zzz", "a[b"), PatternError);  // even when the text fails early
}
