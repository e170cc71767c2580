#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace vornel::platform {
namespace {

TEST(Cp1251, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, CyrillicAndPunctuationMapToTheirCodePoints) {
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8"), "АяЁё");
  EXPECT_EQ(Cp1251ToUtf8("\x88\xB9\x96\x85"), "€№–…");
  EXPECT_EQ(Cp1251ToCodePoint(0x98), U'\u0098');
  EXPECT_EQ(Cp1251ToCodePoint(0x41), U'A');
}

TEST(Cp1251, CharactersOutsideTheCodePageAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("Привет"), "\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf8ToCp1251("a\xC3"), "a?");       // truncated sequence
  EXPECT_EQ(Utf8ToCp1251("\x80z"), "?z");       // stray continuation byte
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x8E\xB5"), "?");  // outside the BMP
}

}  // namespace
}  // namespace vornel::platform
