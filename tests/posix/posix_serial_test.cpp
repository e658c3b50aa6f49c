// The POSIX serial backend on real pseudo-terminals, and its port list over
// a made-up /sys/class/tty. Never a real serial port: on these machines
// /dev/ttyS0 is the system console.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "port/PosixSerial.h"
#include "support/Pty.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace vesk {
namespace {

using testing::Pty;

// The slave's settings as the kernel holds them, read through a second
// descriptor that the test opened before the backend took the port.
struct termios2 SlaveSettings(int fd) {
  struct termios2 t {};
  ::ioctl(fd, TCGETS2, &t);
  return t;
}

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    observer = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(observer, 0);
    platform = MakePosixSerialPlatform();
    int error = 0;
    device = platform->Open(pty.Path(), error);
    ASSERT_NE(device, nullptr) << SysErrorMessage(error);
  }
  void TearDown() override {
    device.reset();
    if (observer >= 0) ::close(observer);
  }
  std::uint32_t Queued() {
    std::uint32_t errors = 0, count = 0;
    EXPECT_TRUE(device->QueuedInput(errors, count));
    EXPECT_EQ(errors, 0u);
    return count;
  }

  Pty pty;
  int observer = -1;
  std::shared_ptr<SerialPlatform> platform;
  std::unique_ptr<SerialDevice> device;
};

TEST_F(PosixSerial, ASecondOpenIsRefusedWhileTheFirstHoldsThePort) {
  int error = 0;
  EXPECT_EQ(platform->Open(pty.Path(), error), nullptr);
  EXPECT_EQ(error, EBUSY);  // refused by the lock even for root
  device->Close();
  auto again = platform->Open(pty.Path(), error);
  EXPECT_NE(again, nullptr) << SysErrorMessage(error);
}

TEST_F(PosixSerial, OpeningWhatIsNotATerminalFails) {
  int error = 0;
  EXPECT_EQ(platform->Open("/dev/null", error), nullptr);
  EXPECT_EQ(error, ENOTTY);
  EXPECT_EQ(platform->Open("/no/such/device", error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(platform->ErrorText(ENOENT).empty());
}

// A pseudo-terminal forces eight data bits and no parity (the kernel's
// pty driver rewrites CSIZE and PARENB), so those two are checked through
// the refusals below; everything else it keeps.
TEST_F(PosixSerial, LineSettingsReachTheKernel) {
  TLineSettings s;
  s.BaudRate = 115200;
  s.ByteSize = 7;
  s.Parity = 1;  // odd
  s.StopBits = 2;
  s.Flags = dcb::Binary | dcb::DtrEnable | dcb::RtsHandshake | dcb::OutxCtsFlow | dcb::OutX | dcb::InX;
  ASSERT_TRUE(device->SetLineSettings(s));
  struct termios2 t = SlaveSettings(observer);
  EXPECT_EQ(t.c_ospeed, 115200u);
  EXPECT_TRUE(t.c_cflag & PARODD);
  EXPECT_FALSE(t.c_cflag & CMSPAR);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_FALSE(t.c_iflag & INPCK);  // parity is never checked
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);

  s.Flags = dcb::Binary;
  s.StopBits = 0;
  s.Parity = 0;
  ASSERT_TRUE(device->SetLineSettings(s));
  t = SlaveSettings(observer);
  EXPECT_FALSE(t.c_cflag & (CRTSCTS | CSTOPB | PARODD));
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
}

TEST_F(PosixSerial, AnySpeedCanBeSetNotOnlyTheStandardOnes) {
  TLineSettings s;
  s.BaudRate = 250000;
  ASSERT_TRUE(device->SetLineSettings(s));
  EXPECT_EQ(SlaveSettings(observer).c_ospeed, 250000u);
  s.BaudRate = 0;
  EXPECT_FALSE(device->SetLineSettings(s));
  EXPECT_EQ(device->LastError(), EINVAL);
}

TEST_F(PosixSerial, MarkAndSpaceParityAndOneAndAHalfStopBits) {
  TLineSettings s;
  s.BaudRate = 9600;
  s.Parity = 3;  // mark: parity fixed at 1
  ASSERT_TRUE(device->SetLineSettings(s));
  struct termios2 t = SlaveSettings(observer);
  EXPECT_TRUE((t.c_cflag & (CMSPAR | PARODD)) == (CMSPAR | PARODD));
  s.Parity = 4;  // space: parity fixed at 0
  ASSERT_TRUE(device->SetLineSettings(s));
  t = SlaveSettings(observer);
  EXPECT_TRUE(t.c_cflag & CMSPAR);
  EXPECT_FALSE(t.c_cflag & PARODD);
  s.Parity = 5;
  EXPECT_FALSE(device->SetLineSettings(s));
  // One and a half stop bits (CSTOPB at five data bits) exist only with
  // five data bits, two only with more.
  s.Parity = 0;
  s.ByteSize = 5;
  s.StopBits = 1;
  ASSERT_TRUE(device->SetLineSettings(s));
  EXPECT_TRUE(SlaveSettings(observer).c_cflag & CSTOPB);
  s.ByteSize = 8;
  EXPECT_FALSE(device->SetLineSettings(s));
  s.ByteSize = 5;
  s.StopBits = 2;
  EXPECT_FALSE(device->SetLineSettings(s));
  s.ByteSize = 9;
  s.StopBits = 0;
  EXPECT_FALSE(device->SetLineSettings(s));
  EXPECT_EQ(device->LastError(), EINVAL);
}

TEST_F(PosixSerial, DtrDsrHandshakeLeavesThePortUsable) {
  TLineSettings s;
  s.BaudRate = 9600;
  s.Flags = dcb::Binary | dcb::DtrEnable | dcb::DtrHandshake | dcb::OutxDsrFlow;
  EXPECT_TRUE(device->SetLineSettings(s));
  std::uint32_t written = 0;
  EXPECT_TRUE(device->Write("AT\r", 3, written));
  EXPECT_EQ(pty.Read(500, "\r"), "AT\r");
}

TEST_F(PosixSerial, QueuedCountReadWriteAndPurge) {
  ASSERT_TRUE(device->SetTimeOuts(TTimeOuts{}));
  EXPECT_EQ(Queued(), 0u);
  char buf[64];
  std::uint32_t got = 99;
  EXPECT_TRUE(device->Read(buf, sizeof buf, got));  // returns at once with nothing
  EXPECT_EQ(got, 0u);

  pty.Write("\r\nOK\r\n");
  ASSERT_EQ(device->Wait(1000), TDeviceEvent::Input);
  EXPECT_EQ(Queued(), 6u);
  ASSERT_TRUE(device->Read(buf, 6, got));
  EXPECT_EQ(std::string(buf, got), "\r\nOK\r\n");

  std::uint32_t written = 0;
  ASSERT_TRUE(device->Write("AT+CSQ\r", 7, written));
  EXPECT_EQ(written, 7u);
  EXPECT_EQ(pty.Read(1000, "\r"), "AT+CSQ\r");

  pty.Write("stale");
  ASSERT_EQ(device->Wait(1000), TDeviceEvent::Input);
  EXPECT_TRUE(device->Purge(kPurgeRxClear));
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(PosixSerial, WaitingForInputBlocksWithoutSpinning) {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  EXPECT_EQ(device->Wait(200), TDeviceEvent::TimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
  EXPECT_LT(static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, 0.05);
  // Input already queued ends a wait at once, however long it was to be.
  pty.Write("x");
  ASSERT_EQ(device->Wait(1000), TDeviceEvent::Input);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->Wait(10000), TDeviceEvent::Input);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(PosixSerial, WakeEndsAWaitAtOnceAndEveryLaterOne) {
  std::atomic<int> event{-1};
  auto start = std::chrono::steady_clock::now();
  std::thread waiter([&] { event = static_cast<int>(device->Wait(10000)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  device->Wake();
  waiter.join();
  EXPECT_EQ(event.load(), static_cast<int>(TDeviceEvent::Woken));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // Woken for good: the connection it served has ended.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->Wait(10000), TDeviceEvent::Woken);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  // The device itself still works.
  std::uint32_t written = 0;
  EXPECT_TRUE(device->Write("AT\r", 3, written));
}

TEST_F(PosixSerial, CloseEndsAWaitUnderWay) {
  std::atomic<int> event{-1};
  auto start = std::chrono::steady_clock::now();
  std::thread waiter([&] { event = static_cast<int>(device->Wait(10000)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  device->Close();
  waiter.join();
  EXPECT_EQ(event.load(), static_cast<int>(TDeviceEvent::Woken));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(PosixSerial, PseudoTerminalsHaveNoModemLines) {
  std::uint32_t lines = 0xFF;
  EXPECT_FALSE(device->ModemStatus(lines));
  EXPECT_EQ(lines, 0u);
}

TEST_F(PosixSerial, WhenTheOtherSideGoesAwayEveryCallFailsAndThePathIsGone) {
  ::close(observer);
  observer = -1;
  EXPECT_TRUE(platform->IsPresentDevice(pty.Path()));
  pty.CloseMaster();
  std::uint32_t errors = 0, count = 0;
  EXPECT_FALSE(device->QueuedInput(errors, count));
  char c;
  std::uint32_t got = 0;
  EXPECT_FALSE(device->Read(&c, 1, got));
  // A hung-up port ends a wait at once, saying so: nothing more will come.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->Wait(10000), TDeviceEvent::Gone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(platform->IsPresentDevice(pty.Path()));
  device->Close();
  device->Close();  // twice is harmless
  std::uint32_t written = 0;
  EXPECT_FALSE(device->Write("x", 1, written));
  EXPECT_EQ(device->LastError(), EBADF);
}

// ---------------------------------------------------------------- names and the port list

TEST(PosixNames, ComNamesStandForTtySAndBareNamesForDevices) {
  EXPECT_EQ(PosixDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PosixDevicePath(" com12 "), "/dev/ttyS11");
  EXPECT_EQ(PosixDevicePath("COM255"), "/dev/COM255");
  EXPECT_EQ(PosixDevicePath("COM01"), "/dev/COM01");
  EXPECT_EQ(PosixDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(PosixDevicePath("/dev/serial/by-id/usb-Modem"), "/dev/serial/by-id/usb-Modem");
}

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vesk-sysfs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root = tmpl;
    Mkdir("/class");
    Mkdir("/devices");
    Mkdir("/dev");
  }
  void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }
  void Mkdir(const std::string& rel) { ::mkdir((root + rel).c_str(), 0755); }
  void Write(const std::string& rel, const std::string& text) { std::ofstream(root + rel) << text << "\n"; }
  // A tty entry; `withDevice` gives it the device link real ports have.
  void Tty(const std::string& name, bool withDevice, const char* type = nullptr) {
    Mkdir("/class/" + name);
    if (withDevice) {
      Mkdir("/devices/" + name);
      ASSERT_EQ(::symlink((root + "/devices/" + name).c_str(), (root + "/class/" + name + "/device").c_str()), 0);
    }
    if (type) Write("/class/" + name + "/type", type);
  }
  std::string root;
};

TEST_F(FakeSysfs, ListsRealPortsInNaturalOrderButNeitherConsolesNorEmptySlots) {
  Tty("ttyS0", true, "4");   // a UART that is the console
  Tty("ttyS1", true, "0");   // a slot without a UART
  Tty("ttyS10", true, "4");
  Tty("ttyS2", true, "4");
  Tty("ttyUSB0", true);
  Tty("ttyACM0", true);
  Tty("tty1", false);        // a virtual console: no device
  Tty("ptmx", false);
  Mkdir("/class/console");
  Write("/class/console/active", "ttyS0 tty0");
  auto platform = MakePosixSerialPlatform(root + "/class", root + "/dev");
  std::vector<AnsiString> expected = {root + "/dev/ttyACM0", "COM3", "COM11", root + "/dev/ttyUSB0"};
  EXPECT_EQ(platform->PortNames(), expected);
  EXPECT_TRUE(platform->CaseSensitiveNames());
}

TEST_F(FakeSysfs, ANameCountsWhenTheListHoldsItsDevice) {
  Tty("ttyUSB0", true);
  Tty("ttyS2", true, "4");
  auto platform = MakePosixSerialPlatform(root + "/class", root + "/dev");
  EXPECT_TRUE(platform->IsPresentDevice("ttyUSB0"));
  EXPECT_TRUE(platform->IsPresentDevice("com3"));
  EXPECT_FALSE(platform->IsPresentDevice("ttyUSB1"));
  EXPECT_FALSE(platform->IsPresentDevice("TTYUSB0"));  // names are case-sensitive
  EXPECT_FALSE(platform->IsPresentDevice(""));
  // A path must lead to a terminal device.
  EXPECT_FALSE(platform->IsPresentDevice("/dev/null"));
  EXPECT_FALSE(platform->IsPresentDevice(root + "/dev/nothing"));
}

TEST_F(FakeSysfs, AMissingTreeListsNothing) {
  auto platform = MakePosixSerialPlatform(root + "/none", root + "/dev");
  EXPECT_TRUE(platform->PortNames().empty());
}

TEST(PosixPlatform, PseudoTerminalsAreNeverListed) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  auto platform = DefaultSerialPlatform();
  for (const AnsiString& name : platform->PortNames()) EXPECT_EQ(name.find("/dev/pts/"), AnsiString::npos) << name;
  EXPECT_TRUE(platform->IsPresentDevice(pty.Path()));
}

TEST(PosixPlatform, TwoNamesOfOneDeviceAreTheSameDevice) {
  Pty pty, other;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(other.Ok());
  auto platform = DefaultSerialPlatform();
  // A stable link to the terminal, as a modem's by-id path would be.
  std::string link = ::testing::TempDir() + "same_device_link_" + std::to_string(::getpid());
  std::remove(link.c_str());
  ASSERT_EQ(::symlink(pty.Path().c_str(), link.c_str()), 0);
  EXPECT_TRUE(platform->SameDevice(link, pty.Path()));
  EXPECT_TRUE(platform->SameDevice(pty.Path(), pty.Path()));
  EXPECT_FALSE(platform->SameDevice(link, other.Path()));
  // Spellings of one port compare without anything being looked up.
  EXPECT_TRUE(platform->SameDevice("COM3", "/dev/ttyS2"));
  EXPECT_TRUE(platform->SameDevice("ttyUSB7", "/dev/ttyUSB7"));
  EXPECT_FALSE(platform->SameDevice("COM3", "COM4"));
  EXPECT_FALSE(platform->SameDevice("", ""));
  EXPECT_FALSE(platform->SameDevice("/nonexistent/a", "/nonexistent/b"));
  std::remove(link.c_str());
}

}  // namespace
}  // namespace vesk
