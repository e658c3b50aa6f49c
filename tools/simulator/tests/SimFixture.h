// A simulator and a client on its line, for the tests that talk AT.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tools/simulator/ModemSimulator.h"
#include "tools/simulator/tests/SimClient.h"

namespace vesk::sim::test {

class SimTest : public ::testing::Test {
 protected:
  // A simulator with `config` and a client at `speed` (0: as the line is).
  void Start(ModemConfig config = {}, unsigned speed = 0) {
    client_.reset();
    sim_ = std::make_unique<ModemSimulator>(std::move(config));
    client_ = std::make_unique<SimClient>(sim_->Path(), speed);
  }

  ModemSimulator& Sim() {
    if (!sim_) Start();
    return *sim_;
  }
  SimClient& Client() {
    if (!client_) Start();
    return *client_;
  }

  // Echo off, then the command's answer alone.
  void EchoOff() { ASSERT_EQ(Client().Ask("ATE0"), "ATE0\r\r\nOK\r\n"); }

  void TearDown() override {
    if (HasFailure() && sim_) ADD_FAILURE() << "transcript:\n" << sim_->TranscriptText();
  }

  std::unique_ptr<ModemSimulator> sim_;
  std::unique_ptr<SimClient> client_;
};

}  // namespace vesk::sim::test
