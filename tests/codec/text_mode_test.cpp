#include "codec/TextMode.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace vesk::codec {
namespace {

std::string Stamp(const std::optional<TDateTime>& t) {
  if (!t) return "unset";
  if (*t == 0) return "0";
  return DateToStr(*t) + " " + TimeToStr(*t);
}

struct TextCase {
  const char* name;
  const char* answer;
  int status;
  const char* phone;
  const char* center;
  const char* stamp;  // "unset", "0" or date and time ("1899-12-30" is day 0)
  const char* zone;   // "unset" or the number
  const char* text;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class TextModeAnswers : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextModeAnswers, ParsesEveryField) {
  const auto& p = GetParam();
  const TextSMS r = TextSMSToString(p.answer);
  EXPECT_EQ(r.Status, p.status);
  EXPECT_EQ(r.PhoneNumber, p.phone);
  EXPECT_EQ(r.CenterNumber, p.center);
  EXPECT_EQ(Stamp(r.TimeStamp), p.stamp);
  EXPECT_EQ(r.TimeZone ? std::to_string(*r.TimeZone) : "unset", p.zone);
  EXPECT_EQ(test::Utf8(r.Text), p.text);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Answers, TextModeAnswers,
    ::testing::Values(
        // Reference message: the same "hello" the PDU decoder tests read.
        TextCase{"ReferenceMessage",
                 "\"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5\r\nhello\r\n",
                 1, "+15550123", "+15550100", "2019-03-14 15:09:26", "8", "hello"},
        TextCase{"ShortHeader", "\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26-20\"\r\nhello\r\n",
                 0, "+15550123", "", "2019-03-14 15:09:26", "-20", "hello"},
        TextCase{"StoredUnsent",
                 "\"STO UNSENT\",\"+15550123\",,129,17,0,0,167,\"+15550100\",145,5\r\nhello\r\n",
                 2, "+15550123", "+15550100", "0", "0", "hello"},
        TextCase{"StoredSent", "\"STO SENT\",\"+15550123\",,129,17,0,0,167,\"+15550100\",145,5\r\nhi\r\n",
                 3, "+15550123", "+15550100", "0", "0", "hi"},
        // Case counts: read as a stored message, with no centre from it.
        TextCase{"LowerCaseStatus",
                 "\"rec read\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5\r\nhello\r\n",
                 -1, "+15550123", "", "0", "0", "hello"},
        // CR and LF are characters of the alphabet: the text keeps them.
        TextCase{"TextOverSeveralLines", "\"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"\r\nline one\r\nline two\nthree\r\n",
                 1, "+1", "", "2019-03-14 15:09:26", "8", "line one\r\nline two\nthree"},
        TextCase{"EmptyNumber", "\"REC READ\",,,\"19/03/14,15:09:26+08\"\r\nx\r\n",
                 1, "", "", "2019-03-14 15:09:26", "8", "x"},
        // A comma inside a quoted field is part of it.
        TextCase{"CommaInName", "\"REC READ\",\"+1\",\"A,B\",\"19/03/14,15:09:26+08\",145,4,0,0,\"+2\",145,1\r\nx\r\n",
                 1, "+1", "+2", "2019-03-14 15:09:26", "8", "x"},
        TextCase{"TimeWithoutZone", "\"REC READ\",\"+1\",,\"19/03/14,15:09:26\"\r\nx\r\n",
                 1, "+1", "", "2019-03-14 15:09:26", "0", "x"},
        TextCase{"PlusOnlyFirst", "\"REC READ\",\"+1\",,\"19/03/14,+15:09:26\"\r\nx\r\n",
                 1, "+1", "", "2019-03-14 15:09:26", "0", "x"},
        // The month 13 does not read: the time of day alone.
        TextCase{"BadDateKeepsTheTime", "\"REC READ\",\"+1\",,\"19/13/01,15:09:26+08\"\r\nx\r\n",
                 1, "+1", "", "1899-12-30 15:09:26", "8", "x"},
        TextCase{"GsmCodesInTheText", "\"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"\r\n\x1B\x3C" "1\x1B\x3E \x01\x05\r\n",
                 1, "+1", "", "2019-03-14 15:09:26", "8", "[1] £é"},
        // Captured from phones (published with gammu's test suite,
        // tests/at-sms-txt and tests/at-sms-txt-detail): blanks after the
        // commas, no name field and a four-digit year with a one-digit
        // month; a zone of eight hours; a stored unsent message.
        TextCase{"CapturedBlanksAndFourDigitYear", "\"REC READ\", \"+4123456789132\", \"2009/8/18,19:11:45\"\nHoewfliepl\n",
                 1, "+4123456789132", "", "2009-08-18 19:11:45", "0", "Hoewfliepl"},
        TextCase{"CapturedDetailedHeader",
                 "\"REC READ\",\"+85291234567\",,\"07/02/18,00:05:10+32\",145,4,0,0,\"+85290000000\",145,49\n"
                 "It is easy to read text messages via AT commands.\n",
                 1, "+85291234567", "+85290000000", "2007-02-18 00:05:10", "32",
                 "It is easy to read text messages via AT commands."},
        TextCase{"CapturedUnsent", "\"STO UNSENT\",\"+10011\",,145,17,0,0,167,\"+8613800100500\",145,4\nHello World\n",
                 2, "+10011", "+8613800100500", "0", "0", "Hello World"},
        TextCase{"NoLineBreak", "\"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"", -1, "", "", "unset", "unset", ""},
        TextCase{"Empty", "", -1, "", "", "unset", "unset", ""}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(ExtractTextDate, YearsAndFailures) {
  EXPECT_EQ(ExtractTextDate("19/03/14"), EncodeDate(2019, 3, 14));
  EXPECT_EQ(ExtractTextDate("95/12/31"), EncodeDate(2095, 12, 31));
  EXPECT_EQ(ExtractTextDate("96/01/01"), EncodeDate(1996, 1, 1));
  EXPECT_EQ(ExtractTextDate("03/14"), EncodeDate(2001, 3, 14));  // no year
  EXPECT_EQ(ExtractTextDate("4"), 0);                            // day 96
  EXPECT_EQ(ExtractTextDate("19/02/30"), 0);
  EXPECT_EQ(ExtractTextDate("19/0x/14"), 0);
  // Four-digit years and one-digit months and days, as phones write them.
  EXPECT_EQ(ExtractTextDate("2009/8/18"), EncodeDate(2009, 8, 18));
  EXPECT_EQ(ExtractTextDate("19/3/1"), EncodeDate(2019, 3, 1));
  EXPECT_EQ(ExtractTextDate("1/2/3/4"), 0);
  EXPECT_EQ(ExtractTextDate(""), 0);
}

TEST(ExtractTextTime, ZoneIsKeptAsSoonAsItIsRead) {
  int zone = 99;
  EXPECT_EQ(ExtractTextTime("15:09:26+08", zone), EncodeTime(15, 9, 26, 0));
  EXPECT_EQ(zone, 8);
  EXPECT_EQ(ExtractTextTime("23:59:59-48", zone), EncodeTime(23, 59, 59, 0));
  EXPECT_EQ(zone, -48);
  zone = 99;
  EXPECT_EQ(ExtractTextTime("25:00:00+04", zone), 0);
  EXPECT_EQ(zone, 4);
  zone = 99;
  EXPECT_EQ(ExtractTextTime("15:09:26+x", zone), 0);
  EXPECT_EQ(zone, 99);
  EXPECT_EQ(ExtractTextTime("9:05:01", zone), EncodeTime(9, 5, 1, 0));
  EXPECT_EQ(zone, 0);
  EXPECT_EQ(ExtractTextTime("", zone), 0);
}

}  // namespace
}  // namespace vesk::codec
