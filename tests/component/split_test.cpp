// Cutting long texts into the parts of a concatenated message.
#include <gtest/gtest.h>

#include "sending/Split.h"

namespace vesk::sending {
namespace {

std::vector<WideString> Split(const WideString& text, TMessageEncoding encoding) {
  std::vector<WideString> parts;
  AnsiString error;
  EXPECT_TRUE(SplitMessage(text, encoding, parts, error)) << error;
  return parts;
}

WideString Join(const std::vector<WideString>& parts) {
  WideString all;
  for (const auto& p : parts) all += p;
  return all;
}

std::vector<std::size_t> Sizes(const std::vector<WideString>& parts) {
  std::vector<std::size_t> sizes;
  for (const auto& p : parts) sizes.push_back(p.size());
  return sizes;
}

TEST(Split, SevenBitFitsUpTo160AndThenGoesIn153s) {
  EXPECT_EQ(Sizes(Split(WideString(160, u'a'), meAuto)), (std::vector<std::size_t>{160}));
  EXPECT_EQ(Sizes(Split(WideString(161, u'a'), me7bit)), (std::vector<std::size_t>{153, 8}));
  EXPECT_EQ(Sizes(Split(WideString(307, u'a'), meAuto)), (std::vector<std::size_t>{153, 153, 1}));
}

TEST(Split, EightBitAndUcs2UseTheirOwnSizes) {
  EXPECT_EQ(Sizes(Split(WideString(140, u'a'), me8bit)), (std::vector<std::size_t>{140}));
  EXPECT_EQ(Sizes(Split(WideString(141, u'a'), me8bit)), (std::vector<std::size_t>{134, 7}));
  EXPECT_EQ(Sizes(Split(WideString(70, u'\u0436'), meAuto)), (std::vector<std::size_t>{70}));
  EXPECT_EQ(Sizes(Split(WideString(71, u'\u0436'), meAuto)), (std::vector<std::size_t>{67, 4}));
}

// 150 characters with 20 euro signs take 170 septets: two parts, and not
// a character lost.
TEST(Split, ExtensionCharactersCountTwoSeptets) {
  WideString text;
  for (int i = 0; i < 150; ++i) text += (i % 15 >= 13) ? u'\u20AC' : u'x';
  ASSERT_EQ(MessageUnits(text, me7bit), 170);
  const auto parts = Split(text, meAuto);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(Join(parts), text);
  for (const auto& p : parts) EXPECT_LE(MessageUnits(p, me7bit), kPartSeptets);
  EXPECT_EQ(MessageUnits(parts[0], me7bit), 153);
}

TEST(Split, AnEscapePairNeverStraddlesTwoParts) {
  const WideString text = WideString(152, u'a') + u"\u20ACb" + WideString(10, u'c');
  const auto parts = Split(text, me7bit);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], WideString(152, u'a'));
  EXPECT_EQ(parts[1], u"\u20ACb" + WideString(10, u'c'));
}

TEST(Split, ASurrogatePairStaysInOnePart) {
  const WideString text = WideString(66, u'\u0436') + u"\U0001F600" + WideString(5, u'\u0436');
  const auto parts = Split(text, meUCS2);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], WideString(66, u'\u0436'));
  EXPECT_EQ(parts[1].substr(0, 2), u"\U0001F600");
  EXPECT_EQ(Join(parts), text);
}

// One message, one encoding: a UCS2 text whose first part is plain letters
// still goes as UCS2 in every part (a receiver reads the parts of one
// message alike), cut at the UCS2 part size.
TEST(Split, EveryPartTakesTheWholeTextsEncoding) {
  const WideString text = WideString(67, u'A') + u"\u041F\u0440\u0438\u0432\u0435\u0442";
  ASSERT_EQ(ResolveEncoding(text, meAuto), meUCS2);
  const auto parts = Split(text, meAuto);
  EXPECT_EQ(Sizes(parts), (std::vector<std::size_t>{67, 6}));
  EXPECT_EQ(parts[0], WideString(67, u'A'));
  for (const auto& p : parts) EXPECT_TRUE(FitsOneMessage(p, meUCS2, true));
  // A 7-bit text is cut by septets, even where a part would fit as UCS2.
  EXPECT_EQ(Sizes(Split(WideString(81, u'\u20AC'), meAuto)), (std::vector<std::size_t>{76, 5}));
}

TEST(Split, MoreThan255PartsAreRefused) {
  std::vector<WideString> parts;
  AnsiString error;
  EXPECT_TRUE(SplitMessage(WideString(153 * 255, u'a'), me7bit, parts, error));
  EXPECT_EQ(parts.size(), 255u);
  EXPECT_FALSE(SplitMessage(WideString(153 * 255 + 1, u'a'), me7bit, parts, error));
  EXPECT_TRUE(parts.empty());
  EXPECT_NE(error.find("256 parts"), AnsiString::npos) << error;
}

TEST(Split, AnEmptyTextIsOneEmptyMessage) {
  EXPECT_EQ(Sizes(Split(WideString(), meAuto)), (std::vector<std::size_t>{0}));
}

}  // namespace
}  // namespace vesk::sending
