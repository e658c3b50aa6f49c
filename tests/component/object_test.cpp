// The component object: initial values, property setters and their checks,
// the port and speed conversions, persistence and registration.
#include <gtest/gtest.h>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::TestGSM;

TEST(TVeskGSM, ANewComponentHasItsInitialValues) {
  TestGSM gsm;
  EXPECT_EQ(gsm.GetPort(), spCustom);
  EXPECT_EQ(gsm.GetBaudRate(), br004800);
  EXPECT_EQ(gsm.GetDataWidth(), dw8Bits);
  EXPECT_EQ(gsm.GetStopBits(), sb1Bit);
  EXPECT_EQ(gsm.GetParity(), pbNone);
  EXPECT_TRUE(gsm.GetEnableDTROnOpen());
  EXPECT_TRUE(gsm.GetEnableRTSOnOpen());
  EXPECT_EQ(gsm.GetHwFlowControl(), hfNONE);
  EXPECT_EQ(gsm.GetSwFlowControl(), sfNONE);
  EXPECT_EQ(gsm.GetPriority(), tpNormal);
  EXPECT_EQ(gsm.GetCustomPortName(), "vcom1");
  EXPECT_EQ(gsm.GetCustomBaudRate(), 0);
  EXPECT_TRUE(gsm.GetAutoReadNewMessage());
  EXPECT_EQ(gsm.GetMessageFormat(), mfDefault);
  EXPECT_EQ(gsm.GetDelay(), 600);
  EXPECT_EQ(gsm.GetInterval(), 600);
  EXPECT_FALSE(gsm.GetIsFaulted());
  EXPECT_EQ(gsm.GetPIN(), "");
  EXPECT_FALSE(gsm.GetIsListing());
  EXPECT_DOUBLE_EQ(gsm.GetVersion(), 1.42);
  EXPECT_FALSE(gsm.GetNeedSynchronization());
  EXPECT_DOUBLE_EQ(gsm.GetLastReceived(), 0);
  EXPECT_EQ(gsm.GetLogFile(), u"");
  EXPECT_FALSE(gsm.GetLog());
  EXPECT_EQ(gsm.GetMinCheckDisconnectedInterval(), 50);
  EXPECT_FALSE(gsm.GetAutoReconnect());
  EXPECT_EQ(gsm.GetAutoReconnectCheckInterval(), 4000);
  EXPECT_TRUE(gsm.GetCloseWhenLineStatusIsZero());
  EXPECT_FALSE(gsm.GetSkipSetupFailed());
  EXPECT_EQ(gsm.IsConnected(), spNone);
  EXPECT_FALSE(gsm.OnReceive);
  EXPECT_EQ(gsm.GetConcatenatedSMSMaxAge(), 86400);
}

TEST(TVeskGSM, PortSelection) {
  TestGSM gsm;
  // Already reads spCustom: nothing changes and no name is chosen.
  gsm.SetPort(spCustom);
  EXPECT_EQ(WriteComponentText(gsm), "");
  gsm.SetPort(spCOM3);
  EXPECT_EQ(gsm.GetPort(), spCOM3);
  // Back to custom with a blank custom name gives the name "vcom1".
  gsm.SetCustomPortName("   ");
  gsm.SetPort(spCustom);
  EXPECT_EQ(gsm.GetPort(), spCustom);
  EXPECT_EQ(gsm.CommPortToString(gsm.GetPort()), "vcom1");
  // spNone empties the selection, which reads spCustom again.
  gsm.SetPort(spCOM9);
  gsm.SetPort(spNone);
  EXPECT_EQ(gsm.GetPort(), spCustom);
}

TEST(TVeskGSM, CustomPortNameIsTrimmedAndBecomesThePortWhileCustom) {
  TestGSM gsm;
  gsm.SetCustomPortName("  /dev/ttyUSB0 \t");
  EXPECT_EQ(gsm.GetCustomPortName(), "/dev/ttyUSB0");
  EXPECT_EQ(gsm.GetPort(), spCustom);
  gsm.SetPort(spCOM2);
  gsm.SetCustomPortName("/dev/ttyACM0");
  EXPECT_EQ(gsm.GetPort(), spCOM2);  // a COM port stays selected
}

TEST(TVeskGSM, DataWidthAndStopBitsAreCheckedAgainstEachOther) {
  TestGSM gsm;
  gsm.SetStopBits(sb2Bits);
  EXPECT_THROW(gsm.SetDataWidth(dw5Bits), EVeskGSMException);
  EXPECT_EQ(gsm.GetDataWidth(), dw8Bits);
  try {
    gsm.SetDataWidth(dw5Bits);
  } catch (const EVeskGSMException& e) {
    EXPECT_STREQ(e.what(), "Invalid data-width and stop-bits combination.");
  }
  gsm.SetStopBits(sb1Bit);
  gsm.SetDataWidth(dw5Bits);
  gsm.SetStopBits(sb1_5Bits);  // one and a half needs five data bits
  EXPECT_EQ(gsm.GetStopBits(), sb1_5Bits);
  EXPECT_THROW(gsm.SetDataWidth(dw6Bits), EVeskGSMException);
  EXPECT_THROW(gsm.SetDataWidth(dw7Bits), EVeskGSMException);
  EXPECT_THROW(gsm.SetDataWidth(dw8Bits), EVeskGSMException);
  EXPECT_THROW(gsm.SetStopBits(sb2Bits), EVeskGSMException);
  EXPECT_EQ(gsm.GetStopBits(), sb1_5Bits);
  gsm.SetStopBits(sb1Bit);
  gsm.SetDataWidth(dw7Bits);
  EXPECT_THROW(gsm.SetStopBits(sb1_5Bits), EVeskGSMException);
  EXPECT_EQ(gsm.GetStopBits(), sb1Bit);
}

TEST(TVeskGSM, CustomSpeedAppliesOnlyWhileTheSpeedIsCustom) {
  TestGSM gsm;
  gsm.SetBaudRate(br009600);
  gsm.SetCustomBaudRate(250000);
  EXPECT_EQ(gsm.GetBaudRate(), br009600);
  gsm.SetBaudRate(brCustom);
  EXPECT_EQ(gsm.GetBaudRate(), brCustom);
  EXPECT_EQ(gsm.BaudRateToInt(gsm.GetBaudRate()), 250000);
  // A custom speed equal to a table speed reads back as that table value.
  gsm.SetCustomBaudRate(9600);
  EXPECT_EQ(gsm.GetBaudRate(), br009600);
}

TEST(TVeskGSM, DelayAndIntervalAreOneField) {
  TestGSM gsm;
  gsm.SetInterval(250);
  EXPECT_EQ(gsm.GetDelay(), 250);
  gsm.SetDelay(40);
  EXPECT_EQ(gsm.GetInterval(), 40);
}

// ---------------------------------------------------------------- conversions

TEST(Conversions, EveryComPortRoundTrips) {
  TestGSM gsm;
  for (int n = 1; n <= 254; ++n) {
    auto port = static_cast<TCommPort>(n);
    AnsiString name = gsm.CommPortToString(port);
    EXPECT_EQ(name, "COM" + IntToStr(n));
    EXPECT_EQ(gsm.StringToCommPort(name), port) << name;
    EXPECT_EQ(gsm.StringToCommPort(" \t" + UpperCase(name) + "\r\n"), port);
  }
}

struct PortCase {
  const char* text;
  TCommPort port;
};

class StringToCommPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(StringToCommPortTest, ReadsOnlyComOneTo254WithoutLeadingZeros) {
  TestGSM gsm;
  EXPECT_EQ(gsm.StringToCommPort(GetParam().text), GetParam().port) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Names, StringToCommPortTest,
                         ::testing::Values(PortCase{"  com7 ", spCOM7}, PortCase{"COM254", spCOM254},
                                           PortCase{"COM255", spCustom}, PortCase{"COM007", spCustom},
                                           PortCase{"COM0", spCustom}, PortCase{"", spCustom},
                                           PortCase{"vcom1", spCustom}, PortCase{"COM", spCustom},
                                           PortCase{"COM1000", spCustom}, PortCase{"COM-1", spCustom},
                                           PortCase{"COM 1", spCustom}, PortCase{"/dev/ttyS0", spCustom}));

TEST(Conversions, SpecialPortsToString) {
  TestGSM gsm;
  EXPECT_EQ(gsm.CommPortToString(spNone), "");
  EXPECT_EQ(gsm.CommPortToString(spCustom), "vcom1");
  gsm.SetCustomPortName("ttyUSB0");
  EXPECT_EQ(gsm.CommPortToString(spCustom), "ttyUSB0");
}

TEST(Conversions, EverySpeedRoundTrips) {
  TestGSM gsm;
  const int speeds[] = {75,    110,   134,   150,   300,    600,    1200,   1800,   2400,   4800,  7200,
                        9600,  14400, 19200, 38400, 57600,  115200, 128000, 230400, 256000, 460800, 921600};
  for (int i = 0; i < brCustom; ++i) {
    auto rate = static_cast<TBaudRate>(i);
    EXPECT_EQ(gsm.BaudRateToInt(rate), speeds[i]);
    EXPECT_EQ(gsm.IntToBaudRate(speeds[i]), rate);
  }
  for (int other : {0, -9600, 1, 9601, 250000}) EXPECT_EQ(gsm.IntToBaudRate(other), brCustom);
  EXPECT_EQ(gsm.BaudRateToInt(brCustom), 0);
  gsm.SetCustomBaudRate(9600);
  EXPECT_EQ(gsm.IntToBaudRate(gsm.BaudRateToInt(brCustom)), br009600);
}

TEST(Conversions, EnumerationNamesRoundTrip) {
  for (int i = 0; i <= spCustom; ++i) {
    TCommPort p;
    ASSERT_TRUE(EnumFromName(EnumName(static_cast<TCommPort>(i)), p));
    EXPECT_EQ(p, i);
  }
  EXPECT_EQ(EnumName(br000134), "br000134");
  EXPECT_EQ(EnumName(br921600), "br921600");
  TBaudRate b;
  EXPECT_FALSE(EnumFromName("br9600", b));
}

// ---------------------------------------------------------------- persistence

TEST(Persistence, ANewComponentWritesNothing) {
  TestGSM gsm;
  EXPECT_EQ(WriteComponentText(gsm), "");
}

TEST(Persistence, AChangedComponentRoundTrips) {
  TestGSM a;
  a.SetCustomPortName("/dev/serial/by-id/usb-modem");
  a.SetBaudRate(brCustom);
  a.SetCustomBaudRate(250000);
  a.SetDataWidth(dw7Bits);
  a.SetParity(pbMark);
  a.SetStopBits(sb2Bits);
  a.SetEnableRTSOnOpen(false);
  a.SetHwFlowControl(hfRTSCTS);
  a.SetSwFlowControl(sfXONXOFF);
  a.SetPriority(tpHigher);
  a.SetAutoReadNewMessage(false);
  a.SetMessageFormat(mfText);  // closed: only recorded
  a.SetDelay(250);
  a.SetPIN("1234");
  AnsiString text = WriteComponentText(a);
  EXPECT_NE(text.find("CustomPortName = '/dev/serial/by-id/usb-modem'"), AnsiString::npos);

  TestGSM b;
  ReadComponentText(b, text);
  EXPECT_EQ(WriteComponentText(b), text);
  EXPECT_EQ(b.GetPort(), spCustom);
  EXPECT_EQ(b.CommPortToString(b.GetPort()), "/dev/serial/by-id/usb-modem");
  EXPECT_EQ(b.GetBaudRate(), brCustom);
  EXPECT_EQ(b.BaudRateToInt(b.GetBaudRate()), 250000);
  EXPECT_EQ(b.GetDataWidth(), dw7Bits);
  EXPECT_EQ(b.GetParity(), pbMark);
  EXPECT_EQ(b.GetStopBits(), sb2Bits);
  EXPECT_FALSE(b.GetEnableRTSOnOpen());
  EXPECT_EQ(b.GetHwFlowControl(), hfRTSCTS);
  EXPECT_EQ(b.GetSwFlowControl(), sfXONXOFF);
  EXPECT_EQ(b.GetPriority(), tpHigher);
  EXPECT_FALSE(b.GetAutoReadNewMessage());
  EXPECT_EQ(b.GetMessageFormat(), mfText);
  EXPECT_EQ(b.GetDelay(), 250);
  EXPECT_EQ(b.GetPIN(), "1234");
}

TEST(Persistence, AComPortIsStoredByName) {
  TestGSM a;
  a.SetPort(spCOM12);
  EXPECT_EQ(WriteComponentText(a), "Port = spCOM12\r\n");
  TestGSM b;
  ReadComponentText(b, "Port = spCOM12");
  EXPECT_EQ(b.GetPort(), spCOM12);
}

TEST(Registration, TheComponentIsOnTheVeskSoftPage) {
  Register();
  auto classes = RegisteredComponents("Vesk Soft");
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].Name, "TVeskGSM");
  TComponent owner(nullptr);
  TComponent* made = classes[0].Create(&owner);
  EXPECT_EQ(made->ClassName(), "TVeskGSM");
  EXPECT_EQ(owner.ComponentCount(), 1);  // the owner frees it
}

}  // namespace
}  // namespace vesk
