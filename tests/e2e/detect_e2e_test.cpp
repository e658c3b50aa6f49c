// Finding the modem simulator by scanning pseudo-terminals through the real
// POSIX backend, then opening what was found.
//
// A pseudo-terminal is never in the machine's port list, so the tests hand
// the scan a list of their own: the machine's backend opens the devices,
// only the list is the test's.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "support/Fixtures.h"
#include "support/Pty.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

// The machine's serial backend with a port list given by the test.
class ListedPorts : public SerialPlatform {
 public:
  explicit ListedPorts(std::vector<AnsiString> names) : names_(std::move(names)) {}
  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++attempts_[name];
    }
    return real_->Open(name, error);
  }
  // How often Open was asked for exactly this name.
  int Attempts(const AnsiString& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = attempts_.find(name);
    return it == attempts_.end() ? 0 : it->second;
  }
  std::vector<AnsiString> PortNames() noexcept override { return names_; }
  bool IsPresentDevice(const AnsiString& name) noexcept override { return real_->IsPresentDevice(name); }
  bool CaseSensitiveNames() const noexcept override { return real_->CaseSensitiveNames(); }
  bool SameDevice(const AnsiString& a, const AnsiString& b) noexcept override { return real_->SameDevice(a, b); }
  AnsiString ErrorText(int error) noexcept override { return real_->ErrorText(error); }

 private:
  std::shared_ptr<SerialPlatform> real_ = DefaultSerialPlatform();
  std::vector<AnsiString> names_;
  mutable std::mutex mutex_;
  std::map<AnsiString, int> attempts_;
};

class ScanOnPtys : public testing::FastClockTest {
 protected:
  // The list names the modem by its stable path, or by the terminal device
  // behind it.
  void Start(unsigned lineSpeed, bool listDevice = false) {
    ASSERT_TRUE(silent.Ok());
    sim::ModemConfig config;
    config.quirks.lineSpeed = lineSpeed;  // silent at any other speed
    simulator = std::make_unique<sim::ModemSimulator>(std::move(config));
    AnsiString modemName = listDevice ? simulator->DevicePath() : simulator->Path();
    platform = std::make_shared<ListedPorts>(std::vector<AnsiString>{silent.Path(), modemName});
    gsm = std::make_unique<testing::TestGSM>();
    gsm->SetSerialPlatform(platform);
    gsm->OnDetect = [this](TObject*, TCommPort port, TBaudRate speed, bool&) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back({port, speed});
    };
  }
  void TearDown() override {
    if (HasFailure() && simulator) ADD_FAILURE() << "transcript:\n" << simulator->TranscriptText();
    gsm.reset();
    simulator.reset();
    FastClockTest::TearDown();
  }

  testing::Pty silent;  // a line with nothing on the other end
  std::unique_ptr<sim::ModemSimulator> simulator;
  std::shared_ptr<ListedPorts> platform;
  std::unique_ptr<testing::TestGSM> gsm;
  std::mutex mutex;
  std::vector<std::pair<TCommPort, TBaudRate>> events;
};

TEST_F(ScanOnPtys, TheNameScanFindsTheModemAtItsSpeedAfterASilentPort) {
  Start(19200);
  UnicodeString port;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(WideToAnsi(port), simulator->Path());
  EXPECT_EQ(speed, br019200);
  // Every speed on the silent line, then the modem's line from the top
  // down to its speed.
  std::vector<std::pair<TCommPort, TBaudRate>> expected = {
      {spCustom, br115200}, {spCustom, br057600}, {spCustom, br038400}, {spCustom, br019200},
      {spCustom, br014400}, {spCustom, br009600}, {spCustom, br115200}, {spCustom, br057600},
      {spCustom, br038400}, {spCustom, br019200},
  };
  EXPECT_EQ(events, expected);
  // The silent line heard a probe at each speed.
  std::string probes;
  for (int i = 0; i < 6; ++i) probes += "AT+CRC=1\r";
  EXPECT_EQ(silent.Read(200, probes), probes);
  // The modem understood the probe at 19200 bit/s only.
  std::vector<std::string> commands = simulator->Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], "AT+CRC=1");

  // The scan has let go of the port: the component opens it at the speed
  // found and the modem answers.
  gsm->SetCustomPortName(WideToAnsi(port));
  gsm->SetBaudRate(speed);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  EXPECT_EQ(simulator->State().clientLineSpeed, 19200u);
  EXPECT_TRUE(gsm->ExecuteATCommand("AT"));
}

TEST_F(ScanOnPtys, TheModemHeldOpenByTheComponentIsLeftAlone) {
  // The component opens the stable path; the list names the terminal
  // behind it: one device under two names.
  Start(115200, /*listDevice=*/true);
  gsm->SetCustomPortName(simulator->Path());
  gsm->SetBaudRate(br115200);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return !gsm->PauseFlag(); }));
  std::size_t commands = simulator->Commands().size();

  UnicodeString port;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br057600, br115200, port, speed));
  EXPECT_EQ(port, u"");
  // Only the silent line was tried; the modem's line kept its speed and
  // heard nothing from the scan.
  std::vector<std::pair<TCommPort, TBaudRate>> expected = {{spCustom, br115200}, {spCustom, br057600}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(platform->Attempts(simulator->DevicePath()), 0);
  EXPECT_EQ(simulator->Commands().size(), commands);
  EXPECT_EQ(simulator->State().clientLineSpeed, 115200u);
  EXPECT_NE(gsm->IsConnected(), spNone);
  EXPECT_TRUE(gsm->ExecuteATCommand("AT"));
}

}  // namespace
}  // namespace vesk
