// The component's national language tables: the published property, the
// counter a typing application asks for, and what SendSMSAsPDU writes
// with them, as bytes on the fake modem's line.
#include <gtest/gtest.h>

#include "codec/Deliver.h"
#include "incoming/Reassembly.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::ModemTest;
using testing::TestGSM;

TEST(NationalLanguageTables, EmptyByDefaultAndPersistedAsASet) {
  TestGSM a;
  EXPECT_TRUE(a.GetNationalLanguageTables().Empty());
  a.SetNationalLanguageTables({stTurkish, stSpanish});
  const AnsiString text = WriteComponentText(a);
  EXPECT_NE(text.find("NationalLanguageTables = [stSpanish,stTurkish]"), AnsiString::npos) << text;
  TestGSM b;
  ReadComponentText(b, text);
  EXPECT_EQ(b.GetNationalLanguageTables(), (TNationalLanguageShiftTablesSet{stSpanish, stTurkish}));
  ReadComponentText(b, "NationalLanguageTables = []");
  EXPECT_TRUE(b.GetNationalLanguageTables().Empty());
  EXPECT_THROW(ReadComponentText(b, "NationalLanguageTables = [stKlingon]"), EReadError);
  EXPECT_THROW(ReadComponentText(b, "NationalLanguageTables = stTurkish"), EReadError);
}

// The counter follows the property: the same Turkish text takes UCS2
// without the tables, and one message either way with them, so the
// simpler single shift table (its nine Turkish letters escaped).
TEST(NationalLanguageTables, GetSMSInfoFollowsTheProperty) {
  TestGSM gsm;
  const WideString text = Utf8ToWide("Ağaçlı şehirde büyük ışığı; ");
  TSMSInfo info = gsm.GetSMSInfo(text);
  EXPECT_EQ(info.Encoding, meUCS2);
  EXPECT_EQ(info.Remaining, 70 - 28);
  gsm.SetNationalLanguageTables({stTurkish});
  info = gsm.GetSMSInfo(text);
  EXPECT_EQ(info.Encoding, me7bit);
  EXPECT_EQ(info.LockingShift, stDefault);
  EXPECT_EQ(info.SingleShift, stTurkish);
  EXPECT_EQ(info.UnitsPerPart, 155);
  EXPECT_EQ(info.Remaining, 155 - 28 - 9);
  EXPECT_EQ(gsm.GetSMSInfo(text, meUCS2).Encoding, meUCS2);
}

class NationalSending : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    modem->SetHandler([this](FakeModem& m, const std::string& line) {
      if (line.rfind("AT+CMGS=", 0) == 0) {
        m.Push("\r\n> ");
        return true;
      }
      if (!line.empty() && line.back() == '\x1A') {
        bodies.push_back(line.substr(0, line.size() - 1));
        m.Push("\r\n+CMGS: 7\r\n\r\nOK\r\n");
        return true;
      }
      return false;
    });
    OpenQuiet();
  }
  std::vector<std::string> bodies;
};

// Every part of a long Turkish text names the Turkish locking table after
// its concatenation element and reads back whole (through the library's
// own decoder, which reads stored SMS-SUBMITs too).
TEST_F(NationalSending, EveryPartNamesTheTables) {
  gsm->SetNationalLanguageTables({stTurkish});
  std::string utf8;
  for (int i = 0; i < 10; ++i) utf8 += "Ağaçlı şehirde büyük ışığı; ";
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", Utf8ToWide(utf8), meAuto, false)) << gsm->GetLastSendError();
  ASSERT_EQ(bodies.size(), 2u);
  TConcatenatedSMSCollection parts;
  std::string read;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    // "00" (no centre), 51, MR, 08 91 and the digits, PID, DCS 00, VP AA,
    // UDL; then UDHL 8: the concatenation element, the locking shift element.
    const std::string& pdu = bodies[i];
    ASSERT_GT(pdu.size(), 44u);
    EXPECT_EQ(pdu.substr(0, 24), "0051000891515510000000AA");
    EXPECT_EQ(pdu.substr(26, 6), "080003");
    EXPECT_EQ(pdu.substr(34, 10), std::string("020") + static_cast<char>('1' + i) + "250101");
    const codec::DeliverPDU fields = codec::DecodeDeliver(pdu);
    EXPECT_EQ(fields.LockingShift, stTurkish);
    EXPECT_EQ(fields.SingleShift, stDefault);
    EXPECT_EQ(fields.PartNumber, static_cast<int>(i + 1));
    const codec::DecodedSMS d = codec::PDUSMSToString(pdu, &parts, 45000.0);
    EXPECT_EQ(d.Error, "");
    if (!d.Skip) read = WideToUtf8(d.Text);
  }
  EXPECT_EQ(read, utf8);
}

// Without the property, the same text goes as before: UCS2, five parts.
TEST_F(NationalSending, NothingChangesWithoutTheProperty) {
  std::string utf8;
  for (int i = 0; i < 10; ++i) utf8 += "Ağaçlı şehirde büyük ışığı; ";
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", Utf8ToWide(utf8), meAuto, false)) << gsm->GetLastSendError();
  ASSERT_EQ(bodies.size(), 5u);
  for (const auto& pdu : bodies) EXPECT_EQ(pdu.substr(20, 2), "08");  // DCS UCS2
}

}  // namespace
}  // namespace vesk
