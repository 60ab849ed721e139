#include "qdsexception.h"
#include "qdxstring.h"

#include <gtest/gtest.h>

// Out-of-range counts are clamped, not errors: the readers cut names with them.
TEST(CsString, FindAndCut)
{
    const CsString s = "job/deck.dyn.bak";
    EXPECT_EQ(s.Find(".dyn"), 8);
    EXPECT_EQ(s.Find("zzz"), -1);
    EXPECT_EQ(s.RFind('.'), 12);
    EXPECT_EQ(s.Left(100), s);
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Right(3), "bak");
    EXPECT_EQ(s.Mid(4, 4), "deck");
}

TEST(CsString, TrimAndCase)
{
    CsString s = "==  Deck.DYN \t\r";
    s.TrimLeft('=');
    EXPECT_EQ(s, "  Deck.DYN \t\r");
    s.TrimLeftSpace().TrimRightSpace();
    EXPECT_EQ(s, "Deck.DYN");
    EXPECT_EQ(CsString(s).MakeUpper(), "DECK.DYN");
    CsString blank = "   ";
    EXPECT_TRUE(blank.Trim().IsEmpty());
}

TEST(CsString, FormatGrowsBeyondSmallBuffer)
{
    CsString s;
    const std::string long_text(1000, 'a');
    s.Format("<%s>", long_text.c_str());
    EXPECT_EQ(s.GetLength(), 1002);
    EXPECT_EQ(s[1001], '>');
}

// Bytes above 127 (Latin-1 titles) are kept as they are.
TEST(CsString, CharacterAccessIsCheckedAndBytesKept)
{
    const CsString empty;
    EXPECT_EQ(empty[0], '\0');  // readers test the first character of an empty line
    EXPECT_THROW(empty[1], CsErrorIndex);
    const CsString s = "a\xFF";
    EXPECT_EQ(s[1], '\xFF');
    EXPECT_THROW(s[-1], CsErrorIndex);
    try {
        (void)s[2];
        FAIL();
    } catch (const CsException& e) {
        EXPECT_EQ(e.GetText(), "Exception: Character Index Access Error");
    }
    CsMessage::Free();
}
