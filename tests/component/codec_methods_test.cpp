// The component's codec methods: the decoder's reassembly state, its
// limits and its error report live in the component.
#include <gtest/gtest.h>

#include "incoming/Reassembly.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::TestGSM;

// A three-part 7-bit SMS-DELIVER from +15550123 with the 8-bit reference
// 0x2A, each part carrying one letter; built here from the TS 23.040 layout
// (first octet 0x44: deliver with header; 05 00 03 ref count index; one
// fill bit, then the septet).
AnsiString Part(int index, char letter) {
  static const char* kHeader = "00" "44" "0B915155501032F0" "00" "00" "91304151906280";
  // User data length: 7 septets of header and fill, plus one letter.
  int packed = (letter & 0x7F) << 1;  // behind the one fill bit
  char tail[32];
  std::snprintf(tail, sizeof tail, "08" "0500032A03%02X%02X", index, packed & 0xFF);
  return AnsiString(kHeader) + tail;
}

TEST(CodecMethods, TheWorkedDeliverExampleDecodesThroughTheComponent) {
  TestGSM gsm;
  AnsiString phone, centre;
  TDateTime stamp = -1;
  int zone = -1;
  bool skip = true;
  WideString text = gsm.PDUSMSToString("0591515510000408915155103200009130415190628005E8329BFD06", phone, centre,
                                       stamp, zone, skip);
  EXPECT_EQ(text, u"hello");
  EXPECT_EQ(phone, "+15550123");
  EXPECT_EQ(centre, "+15550100");
  EXPECT_DOUBLE_EQ(stamp, EncodeDateTime(2019, 3, 14, 15, 9, 26, 0));
  EXPECT_EQ(zone, 8);
  EXPECT_FALSE(skip);
  EXPECT_EQ(gsm.GetLastDecodeError(), "");
}

TEST(CodecMethods, AMalformedPduIsSkippedAndNamedNeverThrown) {
  TestGSM gsm;
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  // The worked example with its last hex digit cut off.
  EXPECT_NO_THROW({
    WideString text = gsm.PDUSMSToString("0591515510000408915155103200009130415190628005E8329BFD0", phone, centre,
                                         stamp, zone, skip);
    EXPECT_TRUE(text.empty());
  });
  EXPECT_TRUE(skip);
  EXPECT_EQ(gsm.GetLastDecodeError(), "user data has an odd number of hex digits");
  gsm.PDUSMSToString("0591515510000408915155103200009130415190628005E8329BFD06", phone, centre, stamp, zone, skip);
  EXPECT_EQ(gsm.GetLastDecodeError(), "");
}

TEST(CodecMethods, PartsAreHeldUntilTheMessageIsWhole) {
  TestGSM gsm;
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  EXPECT_EQ(gsm.PDUSMSToString(Part(3, 'c'), phone, centre, stamp, zone, skip), u"");
  EXPECT_TRUE(skip);
  EXPECT_EQ(gsm.PDUSMSToString(Part(1, 'a'), phone, centre, stamp, zone, skip), u"");
  EXPECT_EQ(gsm.SMSContainer().Count(), 1);
  EXPECT_EQ(gsm.PDUSMSToString(Part(2, 'b'), phone, centre, stamp, zone, skip), u"abc");
  EXPECT_FALSE(skip);
  EXPECT_EQ(phone, "+15550501230");
  EXPECT_EQ(gsm.SMSContainer().Count(), 0);
}

TEST(CodecMethods, UnfinishedMessagesExpireAfterTheComponentsBound) {
  auto clock = std::make_shared<ManualClock>(EncodeDate(2024, 1, 1));
  SetClock(clock);
  TestGSM gsm;
  gsm.SetConcatenatedSMSMaxAge(3600);
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  gsm.PDUSMSToString(Part(1, 'a'), phone, centre, stamp, zone, skip);
  clock->Advance(3601 * 1000.0);
  gsm.PDUSMSToString(Part(2, 'b'), phone, centre, stamp, zone, skip);
  EXPECT_EQ(gsm.SMSContainer().Count(), 1);  // the first part's entry went
  EXPECT_EQ(gsm.PDUSMSToString(Part(3, 'c'), phone, centre, stamp, zone, skip), u"");
  EXPECT_TRUE(skip);  // part 1 is gone, so the message cannot complete
  SetClock(nullptr);
}

TEST(CodecMethods, TheEncoderWorkedExamples) {
  TestGSM gsm;
  TPDUSMS plain = gsm.StringToPDUSMS(u"+15550100", u"", u"hellohello", meAuto, false, nullptr);
  EXPECT_EQ(plain.Data, "0011000891515510000000AA0AE8329BFD4697D9EC37");
  EXPECT_EQ(plain.Length, "21");
  TUDH header(0x2A, 1, 2);
  TPDUSMS part = gsm.StringToPDUSMS(u"+15550100", u"", u"hi", meAuto, false, &header);
  EXPECT_EQ(part.Data, "0051000891515510000000AA090500032A0201D069");
  EXPECT_EQ(part.Length, "20");
  TPDUSMS flash = gsm.StringToPDUSMS(u"+15550100", u"", u"hi", meUCS2, true, nullptr);
  EXPECT_EQ(flash.Data, "00110008915155100000F8AA0400680069");
  EXPECT_EQ(flash.Length, "16");
}

}  // namespace
}  // namespace vesk
