// Both key filters against the documented examples.
#include "qdb/key_filter.h"

#include <gtest/gtest.h>

using namespace qdb;

TEST(QdbFilter, SimpleFilterAnchors)
{
    EXPECT_TRUE(SimpleMatch("ab", "ab", true));
    EXPECT_TRUE(SimpleMatch("abxab", "ab", true));
    EXPECT_FALSE(SimpleMatch("abc", "ab", true));
    EXPECT_TRUE(SimpleMatch("abc", "ab>", true));
    EXPECT_FALSE(SimpleMatch("xabc", "ab>", true));
    EXPECT_TRUE(SimpleMatch("xab", "<ab", true));
    EXPECT_FALSE(SimpleMatch("xabc", "<ab", true));
    EXPECT_TRUE(SimpleMatch("xabc", "<ab>", true));
    EXPECT_TRUE(SimpleMatch("anything", "<", true));
    EXPECT_TRUE(SimpleMatch("anything", ">", true));
    EXPECT_TRUE(SimpleMatch("anything", "<>", true));
    EXPECT_FALSE(SimpleMatch("ABC", "ab>", true));
    EXPECT_TRUE(SimpleMatch("abc", "AB>", false));
    // A marker elsewhere is an ordinary character and switches its anchor off.
    EXPECT_TRUE(SimpleMatch("a>bx", "a>b", true));
    EXPECT_FALSE(SimpleMatch("xab", "a>b", true));
    // Overlapping occurrences: the last one decides the end anchor.
    EXPECT_TRUE(SimpleMatch("aaa", "aa", true));
}

TEST(QdbFilter, PatternFilter)
{
    EXPECT_TRUE(PatternMatch("xabcx", "a.c", true));
    EXPECT_FALSE(PatternMatch("xabcx", "^a.c", true));
    EXPECT_TRUE(PatternMatch("abcx", "^a.c", true));
    EXPECT_TRUE(PatternMatch("bab", "b$", true));
    EXPECT_FALSE(PatternMatch("bba", "b$", true));
    EXPECT_TRUE(PatternMatch("123q", "[a-z]", true));
    EXPECT_FALSE(PatternMatch("123Q", "[a-z]", true));
    EXPECT_TRUE(PatternMatch("123Q", "[a-z]", false));
    EXPECT_TRUE(PatternMatch("anything", "a:x", true));
    EXPECT_TRUE(PatternMatch("anything", "[abc", true));
    EXPECT_TRUE(PatternMatch("anything", "ab:", true));
    EXPECT_FALSE(PatternMatch("a", "a[^b]", true));
    EXPECT_TRUE(PatternMatch("ac", "a[^b]", true));
    EXPECT_FALSE(PatternMatch("a^", "a[^b]", true));
    EXPECT_TRUE(PatternMatch("a b", "%b", true));
    EXPECT_TRUE(PatternMatch("a-b", "%b", true));
    EXPECT_FALSE(PatternMatch("ab", "%b", true));
    EXPECT_FALSE(PatternMatch("", "a", true));
    EXPECT_FALSE(PatternMatch("abc", "^", true));
    EXPECT_TRUE(PatternMatch("x7y", ":a:d:a", true));
    EXPECT_TRUE(PatternMatch("a,b", "a: b", true));
    EXPECT_FALSE(PatternMatch("a b", "a: b", true));
    EXPECT_TRUE(PatternMatch("7-", ":n:n", true));
    EXPECT_TRUE(PatternMatch("fax.apf", "fax&", true));
    EXPECT_FALSE(PatternMatch("faxes", "fax&", true));
    EXPECT_TRUE(PatternMatch("a.b", "a\\\\.b", true));
    EXPECT_FALSE(PatternMatch("axb", "a\\\\.b", true));
    EXPECT_TRUE(PatternMatch("a\r", "a[\r]", true));
    EXPECT_FALSE(PatternMatch("a\r", "a.", true));
    // "$" or "^" in the middle make the pattern invalid: it accepts everything.
    EXPECT_TRUE(PatternMatch("zzz", "a$b", true));
    EXPECT_TRUE(PatternMatch("zzz", "a^b", true));
    // Members next to a range keep their meaning.
    EXPECT_TRUE(PatternMatch("x", "[xa-c]", true));
    EXPECT_TRUE(PatternMatch("b", "[xa-c]", true));
    EXPECT_FALSE(PatternMatch("d", "[xa-c]", true));
    EXPECT_TRUE(PatternMatch("-", "[a-]", true));
}
