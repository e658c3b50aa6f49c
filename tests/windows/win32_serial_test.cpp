// The Windows serial backend against the system itself: the registry's list
// of ports, device names, and what opening a name that is no serial port
// gives. No test here opens one of the machine's serial ports.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "component/VeskGSM.h"
#include "port/Win32Serial.h"

namespace vesk {
namespace {

// A port list of the test's own under HKCU, removed again afterwards.
class RegistryPortList : public ::testing::Test {
 protected:
  void SetUp() override {
    path = "Software\\VeskGSM tests\\SERIALCOMM-" + IntToStr(static_cast<int>(::GetCurrentProcessId()));
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key) ::RegCloseKey(key);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }
  void AddString(const char* name, const AnsiString& data) {
    ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
  }
  std::shared_ptr<SerialPlatform> Platform() { return MakeWin32SerialPlatform("HKCU\\" + path); }

  AnsiString path;
  HKEY key = nullptr;
};

// The value names sort in the order they are created, so the list's order
// is the same whether the registry keeps values in creation or name order.
TEST_F(RegistryPortList, ListsTheDataOfEachStringValue) {
  AddString("\\Device\\Serial0", "COM3");
  AddString("\\Device\\Serial1", "COM1");
  AddString("\\Device\\VSerial0", " cncA0 ");
  DWORD number = 7;
  ASSERT_EQ(::RegSetValueExA(key, "\\Device\\Zz", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  std::vector<AnsiString> expected = {"COM3", "COM1", " cncA0 "};
  EXPECT_EQ(Platform()->PortNames(), expected);
}

TEST_F(RegistryPortList, TheComponentSeesTheListInCapitalsAndAsASet) {
  AddString("\\Device\\Serial0", "COM3");
  AddString("\\Device\\Serial1", "COM1");
  AddString("\\Device\\VSerial0", " cncA0 ");
  TVeskGSM gsm;
  gsm.SetSerialPlatform(Platform());

  TStringList names;
  gsm.GetExistingCommPortNames(names);
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(WideToAnsi(names[0]), "COM3");
  EXPECT_EQ(WideToAnsi(names[1]), "COM1");
  EXPECT_EQ(WideToAnsi(names[2]), "CNCA0");

  TCommPortSet ports = gsm.GetExistingCommPorts();
  EXPECT_TRUE(ports.Contains(spCOM1));
  EXPECT_TRUE(ports.Contains(spCOM3));
  EXPECT_TRUE(ports.Contains(spCustom));
  EXPECT_FALSE(ports.Contains(spCOM2));

  EXPECT_TRUE(gsm.IsExistingCommPort(u"com3"));
  EXPECT_TRUE(gsm.IsExistingCommPort(u"cnca0"));
  EXPECT_FALSE(gsm.IsExistingCommPort(u"COM3 "));
  EXPECT_FALSE(gsm.IsExistingCommPort(u"COM2"));
}

TEST_F(RegistryPortList, AnEmptyKeyListsNothing) { EXPECT_TRUE(Platform()->PortNames().empty()); }

TEST(Win32PortList, AMissingKeyListsNothing) {
  auto platform = MakeWin32SerialPlatform("HKCU\\Software\\VeskGSM tests\\no such key");
  EXPECT_TRUE(platform->PortNames().empty());
  TVeskGSM gsm;
  gsm.SetSerialPlatform(platform);
  EXPECT_TRUE(gsm.GetExistingCommPorts().Empty());
  EXPECT_FALSE(gsm.IsExistingCommPort(u"COM1"));
}

TEST(Win32DeviceNames, PortsOpenUnderTheDevicePrefix) {
  EXPECT_EQ(Win32DeviceName("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(Win32DeviceName("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(Win32DeviceName("CNCA0"), "\\\\.\\CNCA0");
  EXPECT_EQ(Win32DeviceName("\\\\.\\COM7"), "\\\\.\\COM7");
}

TEST(Win32DeviceNames, OneDeviceUnderEachOfItsSpellings) {
  auto platform = MakeWin32SerialPlatform();
  EXPECT_TRUE(platform->SameDevice("COM3", "com3"));
  EXPECT_TRUE(platform->SameDevice("COM3", "\\\\.\\COM3"));
  EXPECT_TRUE(platform->SameDevice(" cnca0", "\\\\.\\CNCA0"));
  EXPECT_FALSE(platform->SameDevice("COM3", "COM13"));
  EXPECT_FALSE(platform->SameDevice("", "\\\\.\\"));
}

TEST(Win32Open, AMissingDeviceGivesTheSystemsCodeAndText) {
  auto platform = MakeWin32SerialPlatform();
  int error = 0;
  EXPECT_EQ(platform->Open("VeskNoSuchDevice", error), nullptr);
  EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
  AnsiString text = platform->ErrorText(error);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(text, SysErrorMessage(error));
  EXPECT_FALSE(platform->IsPresentDevice("VeskNoSuchDevice"));
}

TEST(Win32Open, TheComponentReportsAMissingDeviceWithTheSystemsText) {
  TVeskGSM gsm;
  gsm.SetSerialPlatform(MakeWin32SerialPlatform());
  gsm.SetCustomPortName("VeskNoSuchDevice");
  gsm.SetSkipSetupFailed(true);
  try {
    gsm.Open(true);
    ADD_FAILURE() << "Open did not raise";
  } catch (const EVeskGSMException& e) {
    AnsiString expected = "Cannot connect to VeskNoSuchDevice . ";
    EXPECT_EQ(AnsiString(e.what()).substr(0, expected.size()), expected);
    EXPECT_GT(AnsiString(e.what()).size(), expected.size());
  }
  EXPECT_EQ(gsm.IsConnected(), spNone);
}

TEST(Win32Open, AFileIsNoSerialPort) {
  char cwd[MAX_PATH];
  ASSERT_NE(::GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
  AnsiString file = AnsiString(cwd) + "\\vesk-not-a-port-" + IntToStr(static_cast<int>(::GetCurrentProcessId()));
  { std::ofstream(file) << "AT\r"; }
  auto platform = MakeWin32SerialPlatform();
  int error = 0;
  auto device = platform->Open("\\\\?\\" + file, error);
  ::DeleteFileA(file.c_str());
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(error, 0);
}

TEST(Win32Errors, TextsComeFromTheSystem) {
  AnsiString text = SysErrorMessage(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find("System error"), AnsiString::npos) << text;
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
}

}  // namespace
}  // namespace vesk
