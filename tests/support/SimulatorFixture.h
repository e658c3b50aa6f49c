// Shared set-up for the end-to-end tests: the modem simulator on a
// pseudo-terminal, a component on its line, the component's clock sped up,
// and the end of the line's transcript shown when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "support/Fixtures.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk::testing {

class SimulatorTest : public ::testing::Test {
 protected:
  // The component's fixed pauses run `clockSpeed` times faster; the
  // simulator's pacing stays real.
  explicit SimulatorTest(double clockSpeed = kClockSpeed) : clockSpeed_(clockSpeed) {}

  void SetUp() override { SetClock(std::make_shared<ScaledClock>(clockSpeed_)); }
  void TearDown() override {
    if (HasFailure() && simulator) ADD_FAILURE() << "transcript (last 200 entries):\n" << TranscriptTail(200);
    gsm.reset();
    simulator.reset();
    SetClock(nullptr);
  }

  // A simulator configured by `config`, and a component on its line at
  // `speed`, not yet open.
  void StartSimulator(sim::ModemConfig config = {}, TBaudRate speed = br115200) {
    simulator = std::make_unique<sim::ModemSimulator>(std::move(config));
    gsm = std::make_unique<TestGSM>();
    gsm->SetCustomPortName(simulator->Path());
    gsm->SetBaudRate(speed);
  }

  // Collects everything OnReceive hands over, for ReceivedText().
  void RecordReceived() {
    gsm->OnReceive = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(receivedLock_);
      received_ += text;
    };
  }
  AnsiString ReceivedText() {
    std::lock_guard<std::mutex> lock(receivedLock_);
    return received_;
  }
  void ForgetReceivedText() {
    std::lock_guard<std::mutex> lock(receivedLock_);
    received_.clear();
  }

  // Opens with the modem set-up and waits until it is done.
  void OpenAndSetUp() {
    ASSERT_TRUE(gsm->Open(false));
    ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return !gsm->PauseFlag(); }));
  }

  // The last `count` entries of what went over the line, one a line.
  std::string TranscriptTail(std::size_t count) const {
    auto all = simulator->Transcript();
    std::string out;
    for (std::size_t i = all.size() > count ? all.size() - count : 0; i < all.size(); ++i)
      out += std::string(all[i].direction == sim::Direction::Sent ? "-> " : "<- ") + sim::Printable(all[i].bytes) + "\n";
    return out;
  }

  std::unique_ptr<sim::ModemSimulator> simulator;
  std::unique_ptr<TestGSM> gsm;

 private:
  double clockSpeed_;
  std::mutex receivedLock_;
  AnsiString received_;
};

}  // namespace vesk::testing
