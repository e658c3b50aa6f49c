// The traffic log and the list of ports present.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeSerialPlatform;
using testing::TestGSM;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TrafficLog, TheFirstEntryCreatesTheFile) {
  std::string path = ::testing::TempDir() + "vesk_traffic.log";
  std::remove(path.c_str());
  SetClock(std::make_shared<ManualClock>(EncodeDateTime(2024, 5, 6, 7, 8, 9, 0)));
  TestGSM gsm;
  gsm.SetLogFile(Utf8ToWide(path));
  gsm.WriteLog("\r\nRING\r\n", true);
  gsm.WriteLog("AT\r", false);
  SetClock(nullptr);
  // The word stands on a line of its own below the date, time and
  // direction; the text goes in as it came.
  EXPECT_EQ(ReadAll(path), "2024-05-06 07:08:09 Received: \r\nRING\r\n\r\n2024-05-06 07:08:09 Sent: AT\r\r\n");
  std::remove(path.c_str());
}

TEST(TrafficLog, ABadNameRaisesTheLogException) {
  TestGSM gsm;
  for (const char* name : {"", "/no/such/folder/traffic.log", "/proc"}) {
    gsm.SetLogFile(Utf8ToWide(name));
    try {
      gsm.WriteLog("OK", true);
      ADD_FAILURE() << "no exception for '" << name << "'";
    } catch (const EVeskGSMException& e) {
      EXPECT_STREQ(e.what(), "Invalid log file name or access denied.");
    }
  }
}

// ---------------------------------------------------------------- port list

TEST(PortList, ComNamesGiveTheirPortsAndOthersGiveCustom) {
  auto platform = std::make_shared<FakeSerialPlatform>();
  platform->SetExtraNames({"COM1", "COM3", "CNCA0", " com9 ", "\t"});
  TestGSM gsm;
  gsm.SetSerialPlatform(platform);
  TCommPortSet ports = gsm.GetExistingCommPorts();
  EXPECT_EQ(ports, TCommPortSet({spCOM1, spCOM3, spCOM9, spCustom}));
  EXPECT_FALSE(ports.Contains(spNone));

  TStringList names;
  names.Add(u"stale");
  gsm.GetExistingCommPortNames(names);
  // In the source's order, upper case, trimmed, blanks dropped.
  ASSERT_EQ(names.Count(), 4);
  EXPECT_EQ(names[0], u"COM1");
  EXPECT_EQ(names[1], u"COM3");
  EXPECT_EQ(names[2], u"CNCA0");
  EXPECT_EQ(names[3], u"COM9");
}

TEST(PortList, IsExistingCommPortIgnoresCaseButNotBlanksWhereNamesIgnoreCase) {
  auto platform = std::make_shared<FakeSerialPlatform>();
  platform->SetExtraNames({"COM3"});
  TestGSM gsm;
  gsm.SetSerialPlatform(platform);
  EXPECT_TRUE(gsm.IsExistingCommPort(UnicodeString(u"com3")));
  EXPECT_FALSE(gsm.IsExistingCommPort(UnicodeString(u"COM3 ")));
  EXPECT_FALSE(gsm.IsExistingCommPort(UnicodeString(u"COM4")));
}

TEST(PortList, DevicePathsAreComparedExactlyWhereNamesAreCaseSensitive) {
  auto platform = std::make_shared<FakeSerialPlatform>();
  platform->SetCaseSensitive(true);
  platform->SetExtraNames({"/dev/ttyUSB0"});
  TestGSM gsm;
  gsm.SetSerialPlatform(platform);
  TStringList names;
  gsm.GetExistingCommPortNames(names);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names[0], u"/dev/ttyUSB0");  // not upper-cased: it must stay openable
  EXPECT_TRUE(gsm.IsExistingCommPort(UnicodeString(u"/dev/ttyUSB0")));
  EXPECT_FALSE(gsm.IsExistingCommPort(UnicodeString(u"/DEV/TTYUSB0")));
}

TEST(PortList, AMachineWithoutPortsGivesEmptyAnswers) {
  auto platform = std::make_shared<FakeSerialPlatform>();
  TestGSM gsm;
  gsm.SetSerialPlatform(platform);
  EXPECT_TRUE(gsm.GetExistingCommPorts().Empty());
  TStringList names;
  gsm.GetExistingCommPortNames(names);
  EXPECT_EQ(names.Count(), 0);
  EXPECT_FALSE(gsm.IsExistingCommPort(UnicodeString(u"COM1")));
}

}  // namespace
}  // namespace vesk
