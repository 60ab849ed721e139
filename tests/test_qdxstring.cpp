#include "qdsexception.h"
#include "qdxstring.h"

#include <gtest/gtest.h>

TEST(CsString, FindAndCut)
{
    const CsString s = "job/deck.dyn.bak";
    EXPECT_EQ(s.Find(".dyn"), 8);
    EXPECT_EQ(s.Find('/'), 3);
    EXPECT_EQ(s.Find("zzz"), -1);
    EXPECT_EQ(s.RFind('.'), 12);
    EXPECT_EQ(s.RFind('#'), -1);
    EXPECT_EQ(s.Left(3), "job");
    EXPECT_EQ(s.Left(100), s);
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Right(3), "bak");
    EXPECT_EQ(s.Right(100), s);
    EXPECT_EQ(s.Mid(4, 4), "deck");
}

TEST(CsString, TrimAndCase)
{
    CsString s = "==  Deck.DYN \t\r";
    s.TrimLeft('=');
    EXPECT_EQ(s, "  Deck.DYN \t\r");
    s.TrimLeftSpace().TrimRightSpace();
    EXPECT_EQ(s, "Deck.DYN");
    EXPECT_EQ(CsString(s).MakeLower(), "deck.dyn");
    EXPECT_EQ(CsString(s).MakeUpper(), "DECK.DYN");
    CsString blank = "   ";
    EXPECT_TRUE(blank.Trim().IsEmpty());
}

TEST(CsString, FormatGrowsBeyondSmallBuffer)
{
    CsString s;
    s.Format("%d-%s", 42, "x");
    EXPECT_EQ(s, "42-x");
    const std::string long_text(1000, 'a');
    s.Format("<%s>", long_text.c_str());
    EXPECT_EQ(s.GetLength(), 1002);
    EXPECT_EQ(s[1001], '>');
}

TEST(CsString, CharacterAccessIsChecked)
{
    const CsString empty;
    EXPECT_EQ(empty[0], '\0');  // readers test the first character of an empty line
    EXPECT_THROW(empty[1], CsErrorIndex);
    const CsString s = "ab";
    EXPECT_EQ(s[1], 'b');
    EXPECT_THROW(s[2], CsErrorIndex);
    EXPECT_THROW(s[-1], CsErrorIndex);
    try {
        (void)s[5];
        FAIL();
    } catch (const CsException& e) {
        EXPECT_EQ(e.GetText(), "Exception: Character Index Access Error");
        EXPECT_EQ(e.GetFile(), "source/qdxstring");
    }
    CsMessage::Free();
}

TEST(CsString, HoldsBytesUnchanged)
{
    const std::string latin1 = "Ti\xFFtle\xE9";
    CsString s(latin1);
    EXPECT_EQ(s.GetLength(), 7);
    EXPECT_EQ(s[2], '\xFF');
    EXPECT_EQ(s + "!", CsString(latin1 + "!"));
}
