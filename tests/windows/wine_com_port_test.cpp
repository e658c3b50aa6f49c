// The Windows backend and the component over a real COM port: under Wine,
// COM5 mapped to the modem simulator's pseudo-terminal (make test-windows
// sets this up). The environment names the port and the simulator's
// console files:
//   VESK_TEST_COM_PORT    the port ("COM5")
//   VESK_TEST_SIM_INPUT   a file whose appended lines the simulator runs
//   VESK_TEST_SIM_OUTPUT  the file the simulator writes its answers to
// Without them the tests are skipped: no test opens a port nobody mapped.
//
// What Wine cannot show: a pseudo-terminal has no modem lines, so
// GetCommModemStatus fails there and a loss is seen only through failing
// calls; the registry's list of ports never changes when the device goes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "port/Win32Serial.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;

AnsiString Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? AnsiString(v) : AnsiString();
}

AnsiString ReadWhole(const AnsiString& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The simulator's console, through two files.
class SimulatorConsole {
 public:
  SimulatorConsole(AnsiString input, AnsiString output) : input_(std::move(input)), output_(std::move(output)) {}

  // Runs one console line and waits for an answer holding `expect`.
  bool Run(const AnsiString& line, const AnsiString& expect, int ms = 5000) {
    std::size_t from = ReadWhole(output_).size();
    {
      std::ofstream in(input_, std::ios::app | std::ios::binary);
      in << line << "\n";
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
      AnsiString out = ReadWhole(output_);
      if (out.size() > from && out.find(expect, from) != AnsiString::npos) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  AnsiString Output() const { return ReadWhole(output_); }

  // The count of messages the modem has taken from the client; -1 when the
  // simulator does not answer.
  int SentCount() {
    if (!Run("state", ", sent ")) return -1;
    AnsiString out = Output();
    std::size_t at = out.rfind(", sent ");
    int n = -1;
    AnsiString digits = out.substr(at + 7);
    // "..., sent 3, SIM ready ..." or "..., sent 3" at the end of the line.
    return TryStrToInt(Trim(digits.substr(0, digits.find_first_of(",\n"))), n) ? n : -1;
  }

 private:
  AnsiString input_;
  AnsiString output_;
};

class MappedComPort : public testing::FastClockTest {
 protected:
  void SetUp() override {
    port = Env("VESK_TEST_COM_PORT");
    if (port.empty() || Env("VESK_TEST_SIM_INPUT").empty() || Env("VESK_TEST_SIM_OUTPUT").empty())
      GTEST_SKIP() << "no COM port mapped to the simulator (make test-windows maps one)";
    console = std::make_unique<SimulatorConsole>(Env("VESK_TEST_SIM_INPUT"), Env("VESK_TEST_SIM_OUTPUT"));
    ASSERT_TRUE(console->Run("plug", "plugged")) << console->Output();
    FastClockTest::SetUp();
  }
  void TearDown() override {
    if (HasFailure() && console) {
      console->Run("transcript", "AT", 2000);
      ADD_FAILURE() << "simulator:\n" << console->Output();
    }
    gsm.reset();
    FastClockTest::TearDown();
  }

  // Reads from the device until `expect` arrives or `ms` pass.
  static AnsiString ReadUntil(SerialDevice& device, const AnsiString& expect, int ms) {
    AnsiString got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.find(expect) == AnsiString::npos && std::chrono::steady_clock::now() < deadline) {
      if (device.Wait(100) == TDeviceEvent::Gone) break;
      std::uint32_t errors = 0, queued = 0;
      if (!device.QueuedInput(errors, queued)) break;
      if (queued == 0) continue;
      AnsiString chunk(queued, '\0');
      std::uint32_t read = 0;
      if (!device.Read(&chunk[0], queued, read)) break;
      got += chunk.substr(0, read);
    }
    return got;
  }

  void OpenComponent(bool autoReconnect) {
    gsm = std::make_unique<testing::TestGSM>();
    gsm->SetCustomPortName(port);
    gsm->SetBaudRate(br115200);
    gsm->SetWaitForPrompt(true);
    gsm->SetAutoReconnect(autoReconnect);
    gsm->SetAutoReconnectCheckInterval(300);
    gsm->OnConnect = [this](TObject*, TCommPort) { ++connects; };
    gsm->OnFault = [this](TObject*, TCommPort) { ++faults; };
    gsm->OnDisconnect = [this](TObject*, TCommPort) { ++disconnects; };
    gsm->OnReceive = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex);
      received += text;
    };
    ASSERT_TRUE(gsm->Open(false));
    // The modem set-up runs on the reader thread; its last command turns on
    // the new-message notices.
    ASSERT_TRUE(testing::WaitUntil([&] { return console->Run("state", "CNMI 2,1", 200); }, 10000))
        << console->Output();
    ASSERT_TRUE(testing::WaitUntil([&] { return !gsm->PauseFlag(); }));
  }

  AnsiString port;
  std::unique_ptr<SimulatorConsole> console;
  std::unique_ptr<testing::TestGSM> gsm;
  std::atomic<int> connects{0}, faults{0}, disconnects{0};
  std::mutex mutex;
  AnsiString received;
};

TEST_F(MappedComPort, TheDeviceTakesItsSettingsAndCarriesCommands) {
  auto platform = MakeWin32SerialPlatform();
  int error = 0;
  auto device = platform->Open(port, error);
  ASSERT_NE(device, nullptr) << platform->ErrorText(error);
  TLineSettings settings;
  settings.BaudRate = 115200;
  settings.Flags = dcb::Binary | dcb::DtrEnable | dcb::RtsEnable;
  ASSERT_TRUE(device->SetLineSettings(settings)) << platform->ErrorText(device->LastError());
  ASSERT_TRUE(device->SetTimeOuts(TTimeOuts{})) << platform->ErrorText(device->LastError());
  ASSERT_TRUE(device->SetQueueSizes(4096, 4096)) << platform->ErrorText(device->LastError());
  ASSERT_TRUE(device->Purge(kPurgeRxClear | kPurgeTxClear | kPurgeRxAbort | kPurgeTxAbort));
  // The simulator answers only at the speed it was started with.
  EXPECT_TRUE(console->Run("state", "client speed 115200")) << console->Output();

  std::uint32_t written = 0;
  ASSERT_TRUE(device->Write("AT+CGSN\r", 8, written));
  EXPECT_EQ(written, 8u);
  AnsiString answer = ReadUntil(*device, "OK\r\n", 5000);
  EXPECT_NE(answer.find("AT+CGSN"), AnsiString::npos) << answer;  // the echo
  EXPECT_NE(answer.find("OK"), AnsiString::npos) << answer;

  // A read with nothing queued returns at once, empty.
  std::uint32_t errors = 0, queued = 0;
  ASSERT_TRUE(device->QueuedInput(errors, queued));
  EXPECT_EQ(queued, 0u);
  char byte = 0;
  std::uint32_t read = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(device->Read(&byte, 1, read));
  EXPECT_EQ(read, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);

  // Waiting for input that does not come neither spins nor hangs.
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->Wait(200), TDeviceEvent::TimedOut);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 190ms);
  EXPECT_LT(waited, 2000ms);

  // Closing the device ends a wait at once.
  std::atomic<int> waitResult{-1};
  start = std::chrono::steady_clock::now();
  std::thread waiter([&] { waitResult = static_cast<int>(device->Wait(10000)); });
  std::this_thread::sleep_for(100ms);
  device->Close();
  waiter.join();
  EXPECT_EQ(waitResult.load(), static_cast<int>(TDeviceEvent::Woken));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_FALSE(device->QueuedInput(errors, queued));
  // The port opens again once it has been closed.
  auto again = platform->Open(port, error);
  EXPECT_NE(again, nullptr) << platform->ErrorText(error);
}

TEST_F(MappedComPort, TheComponentReceivesAndSendsMessages) {
  OpenComponent(false);
  TStringList answer;
  ASSERT_GT(gsm->ExecuteATCommand("AT+CGSN", &answer, 15, '\r'), 0);

  ASSERT_TRUE(console->Run("sms +15550123 Hello from the simulator", "part 1: SM ")) << console->Output();
  // The reader thread hands the notice over in capitals.
  ASSERT_TRUE(testing::WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return received.find("+CMTI: \"SM\",") != AnsiString::npos;
      },
      10000));
  AnsiString notice;
  {
    std::lock_guard<std::mutex> lock(mutex);
    notice = received.substr(received.find("+CMTI: \"SM\",") + 12);
  }
  int index = -1;
  ASSERT_TRUE(TryStrToInt(Trim(notice.substr(0, notice.find('\r'))), index)) << notice;
  ASSERT_GT(index, 0) << notice;
  TStringList lines;
  gsm->ExecuteATCommand("AT+CMGR=" + IntToStr(index), &lines, 15, '\r');
  // "+CMGR: <stat>,,<length>", the PDU, "OK"
  ASSERT_EQ(lines.Count(), 3) << WideToAnsi(lines.Count() ? lines[0] : u"");
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = true;
  EXPECT_EQ(gsm->PDUSMSToString(WideToAnsi(lines[1]), phone, centre, stamp, zone, skip),
            u"Hello from the simulator");
  EXPECT_FALSE(skip);
  EXPECT_EQ(phone, "+15550123");

  int sentBefore = console->SentCount();
  ASSERT_GE(sentBefore, 0) << console->Output();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550199", "", u"Greetings over COM5")) << gsm->GetLastSendError();
  EXPECT_EQ(console->SentCount(), sentBefore + 1) << console->Output();
  gsm->Close();
  EXPECT_TRUE(testing::WaitUntil([&] { return disconnects.load() == 1; }));
}

TEST_F(MappedComPort, AnUnpluggedPortIsReportedAndReconnected) {
  OpenComponent(true);
  ASSERT_EQ(connects.load(), 1);
  ASSERT_TRUE(console->Run("unplug", "unplugged")) << console->Output();
  // The registry's list still holds the port: the loss shows through the
  // failing calls alone.
  ASSERT_TRUE(testing::WaitUntil([&] { return faults.load() == 1; }, 10000));
  EXPECT_TRUE(testing::WaitUntil([&] { return disconnects.load() == 1; }, 10000));
  EXPECT_TRUE(gsm->GetIsFaulted());

  ASSERT_TRUE(console->Run("plug", "plugged")) << console->Output();
  ASSERT_TRUE(testing::WaitUntil([&] { return connects.load() == 2; }, 20000));
  EXPECT_NE(gsm->IsConnected(), spNone);
  ASSERT_TRUE(testing::WaitUntil([&] { return !gsm->PauseFlag(); }));
  TStringList answer;
  EXPECT_GT(gsm->ExecuteATCommand("AT", &answer, 15, '\r'), 0);
}

}  // namespace
}  // namespace vesk
