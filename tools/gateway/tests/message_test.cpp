// Checking a message before it is queued: numbers, texts, part counts, the
// moments the command line takes, and the JSON a message prints as.
#include <gtest/gtest.h>

#include "tools/gateway/Json.h"
#include "tools/gateway/Message.h"

namespace vesk::gateway {
namespace {

TEST(Numbers, NormalisedToDigitsAndAPlus) {
  EXPECT_EQ(NormaliseNumber("+1 555 0123"), "+15550123");
  EXPECT_EQ(NormaliseNumber("(0171) 123-45.67"), "01711234567");
  EXPECT_EQ(NormaliseNumber(" +49 171"), "+49171");
  EXPECT_EQ(NormaliseNumber(std::string(20, '9')), std::string(20, '9'));
}

TEST(Numbers, InvalidOnesAreRefusedWithTheReason) {
  const struct {
    const char* number;
    const char* reason;
  } cases[] = {{"", "no digits"},       {"+", "no digits"},
               {"12a4", "only digits"}, {"1+2", "only digits"},
               {"++1", "only digits"},  {"\"; AT+CMGD=1,4", "only digits"},
               {"1\r2", "only digits"}, {"123456789012345678901", "more than 20"}};
  for (const auto& c : cases) {
    try {
      NormaliseNumber(c.number);
      ADD_FAILURE() << c.number << " accepted";
    } catch (const InvalidMessage& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.number << ": " << e.what();
    }
  }
}

TEST(Numbers, NationalAndInternationalFormsMatch) {
  EXPECT_TRUE(SameNumber("+491701234567", "01701234567"));
  EXPECT_TRUE(SameNumber("+15550123", "+15550123"));
  EXPECT_TRUE(SameNumber("15550123", "+15550123"));
  EXPECT_FALSE(SameNumber("+491701234567", "01701234568"));
  EXPECT_FALSE(SameNumber("+4912", "012")) << "too few digits to tell";
  EXPECT_FALSE(SameNumber("+15550123", "+15550124"));
}

TEST(Parts, CountedAsTheLibrarySplits) {
  EXPECT_EQ(CountParts(std::string(160, 'a'), "auto"), 1);
  EXPECT_EQ(CountParts(std::string(161, 'a'), "auto"), 2);
  EXPECT_EQ(CountParts(std::string(306, 'a'), "auto"), 2);
  EXPECT_EQ(CountParts(std::string(307, 'a'), "auto"), 3);
  // An extension character takes two septets and is never split.
  EXPECT_EQ(CountParts(std::string(80, '['), "auto"), 1);
  EXPECT_EQ(CountParts(std::string(81, '['), "auto"), 2);
  EXPECT_EQ(CountParts(std::string(152, 'a') + "[", "7bit"), 1);
  EXPECT_EQ(CountParts(std::string(152, 'a') + "[" + std::string(8, 'a'), "7bit"), 2);
  // A character outside the GSM alphabet makes the text UCS2.
  std::string ucs2 = "\xE4\xB8\xAD";  // U+4E2D
  std::string seventy, seventyOne;
  for (int i = 0; i < 70; ++i) seventy += ucs2;
  seventyOne = seventy + ucs2;
  EXPECT_EQ(CountParts(seventy, "auto"), 1);
  EXPECT_EQ(CountParts(seventyOne, "auto"), 2);
  // A surrogate pair stays in one part: 66 units then a pair.
  std::string pairs = std::string(66, 'a') + "\xF0\x9F\x98\x80" + std::string(10, 'a');
  EXPECT_EQ(CountParts(pairs, "ucs2"), 2);
  EXPECT_EQ(CountParts(std::string(140, 'a'), "8bit"), 1);
  EXPECT_EQ(CountParts(std::string(141, 'a'), "8bit"), 2);
}

TEST(NewMessages, AreCheckedBeforeTheyAreStored) {
  NewMessage m;
  m.to = "+1 555 0123";
  m.text = std::string(200, 'x');
  CheckNewMessage(m);
  EXPECT_EQ(m.to, "+15550123");
  EXPECT_EQ(m.parts, 2);

  NewMessage empty = m;
  empty.text = "";
  EXPECT_THROW(CheckNewMessage(empty), InvalidMessage);

  NewMessage tooLong = m;
  tooLong.text = std::string(153 * 255 + 1, 'x');
  try {
    CheckNewMessage(tooLong);
    FAIL();
  } catch (const InvalidMessage& e) {
    EXPECT_NE(std::string(e.what()).find("256 parts"), std::string::npos) << e.what();
  }
  NewMessage longest = m;
  longest.text = std::string(153 * 255, 'x');
  EXPECT_NO_THROW(CheckNewMessage(longest));
  EXPECT_EQ(longest.parts, 255);

  NewMessage badUtf8 = m;
  badUtf8.text = "caf\xE9";
  EXPECT_THROW(CheckNewMessage(badUtf8), InvalidMessage);

  NewMessage encoding = m;
  encoding.encoding = "9bit";
  EXPECT_THROW(CheckNewMessage(encoding), InvalidMessage);

  NewMessage window = m;
  window.notBefore = 2000;
  window.notAfter = 1000;
  EXPECT_THROW(CheckNewMessage(window), InvalidMessage);
}

TEST(Moments, ReadAsTheCommandLineGivesThem) {
  const Millis now = 1714564800000;  // 2024-05-01T12:00:00Z
  EXPECT_EQ(ParseMoment("2024-05-01T12:00:00Z", 0), now);
  EXPECT_EQ(ParseMoment("2024-05-01T14:00:00+02:00", 0), now);
  EXPECT_EQ(ParseMoment("2024-05-01T11:30-00:30", 0), now);
  EXPECT_EQ(ParseMoment("2024-05-01 12:00:00.250", 0), now + 250);
  EXPECT_EQ(ParseMoment("2024-05-01", 0), now - 12 * 3600000LL);
  EXPECT_EQ(ParseMoment("+90s", now), now + 90000);
  EXPECT_EQ(ParseMoment("+1.5h", now), now + 5400000);
  EXPECT_EQ(ParseMoment("@1714564800", 0), now);
  for (const char* bad :
       {"", "tomorrow", "2024-02-30", "2024-05-01T25:00", "+10y", "+", "2024-05-01T12:00:00+2", "@", "2024-05-01X"})
    EXPECT_FALSE(ParseMoment(bad, now)) << bad;
  EXPECT_EQ(IsoUtc(now + 123), "2024-05-01T12:00:00.123Z");
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(IsoUtc(951782400000), "2000-02-29T00:00:00.000Z");
}

TEST(MessageJson, HasTheStableFields) {
  OutboxMessage m;
  m.id = 7;
  m.to = "+15550123";
  m.text = "hi";
  m.state = MessageState::Sent;
  m.attempts = 2;
  m.sentBy = "left";
  m.parts = {{1, 17, "left", 5, "delivered", 0}};
  m.error = SendError{"temporary", 38, "+CMS ERROR: 38"};
  m.created = 1714564800000;
  m.updated = 1714564801000;
  const nlohmann::json j = MessageJson(m);
  for (const char* field : {"id", "to", "text", "state", "attempts", "modem", "parts", "error", "created", "updated"})
    EXPECT_TRUE(j.contains(field)) << field;
  EXPECT_EQ(j["state"], "sent");
  EXPECT_EQ(j["modem"], "left");
  EXPECT_EQ(j["parts"][0]["reference"], 17);
  EXPECT_EQ(j["parts"][0]["state"], "delivered");
  EXPECT_EQ(j["parts"][0]["status"], 0);
  EXPECT_EQ(j["error"]["code"], 38);
  EXPECT_EQ(j["error"]["kind"], "temporary");
  EXPECT_EQ(j["created"], "2024-05-01T12:00:00.000Z");
  m.error.reset();
  EXPECT_TRUE(MessageJson(m)["error"].is_null());

  InboxEntry e;
  e.id = 3;
  e.sender = "+15550123";
  e.text = "yo";
  e.modem = "left";
  const nlohmann::json i = InboxJson(e);
  for (const char* field : {"id", "from", "text", "smsc", "timestamp", "timezone", "modem", "received", "incomplete"})
    EXPECT_TRUE(i.contains(field)) << field;
  EXPECT_TRUE(i["timestamp"].is_null());
}

}  // namespace
}  // namespace vesk::gateway
