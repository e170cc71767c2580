#include "playback/metadata.h"

#include <gtest/gtest.h>

namespace vornel::playback {
namespace {

struct TitleCase {
  const char* metadata;
  const char* title;  // null: not a title at all
};

class StreamTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(StreamTitleTest, CleansTheTitle) {
  const auto title = StreamTitleOf(GetParam().metadata);
  if (GetParam().title == nullptr) {
    EXPECT_FALSE(title.has_value()) << GetParam().metadata;
  } else {
    ASSERT_TRUE(title.has_value()) << GetParam().metadata;
    EXPECT_EQ(*title, GetParam().title) << GetParam().metadata;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StreamTitleTest,
    ::testing::Values(TitleCase{"StreamTitle='Artist - Song';StreamUrl='';", "Artist - Song"},
                      TitleCase{"StreamTitle='';StreamUrl='';", ""},
                      TitleCase{"StreamTitle='AC/DC: Back? In*Black';", "ACDC Back InBlack"},
                      TitleCase{"StreamTitle='  Spaced out  ';", "Spaced out"},
                      TitleCase{"StreamTitle='Semi; colon';", "Semi; colon"},  // cut no more
                      TitleCase{"StreamTitle='No closing;quote", "No closin"},   // two before the ";"
                      TitleCase{"StreamTitle='x;", ""},
                      TitleCase{"StreamTitle=';rest", ";rest"},  // no valid length: the whole rest
                      TitleCase{"StreamTitle='Unterminated", "Unterminated"},
                      TitleCase{"StreamTitle='Кино - Группа крови';", "Кино - Группа крови"},
                      TitleCase{"streamtitle='lower';", nullptr}, TitleCase{"StreamUrl='x';", nullptr},
                      TitleCase{"", nullptr}));

TEST(CStringToText, Utf8WhenItIsUtf8AndWindows1251Otherwise) {
  EXPECT_EQ(CStringToText(nullptr), "");
  EXPECT_EQ(CStringToText(""), "");
  EXPECT_EQ(CStringToText("plain ascii"), "plain ascii");
  EXPECT_EQ(CStringToText("\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE"), "Кино");          // UTF-8
  EXPECT_EQ(CStringToText("\xCA\xE8\xED\xEE"), "Кино");                          // Windows-1251
  EXPECT_EQ(CStringToText("\xC0\xE1\xE2 \xD0\x9A"), "Абв Рљ");  // one valid pair is not enough
  EXPECT_EQ(CStringToText("\xE0\x80\x80"), "аЂЂ");                 // overlong: not UTF-8
}

TEST(StripFileNameChars, TakesOutExactlyTheNineCharacters) {
  EXPECT_EQ(StripFileNameChars("a\"b:c/d\\e?f*g|h<i>j"), "abcdefghij");
  EXPECT_EQ(StripFileNameChars("keep - these ()[]'!"), "keep - these ()[]'!");
}

}  // namespace
}  // namespace vornel::playback
