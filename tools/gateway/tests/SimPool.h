// A pool of simulated modems for the gateway's end-to-end tests, its crash
// harness and its benchmarks: each modem with its own IMEI and a path in a
// folder of the test's, and what the pool sent put back together from the
// simulators' own records.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/simulator/ModemSimulator.h"

namespace vesk::gateway::testing {

class SimPool {
 public:
  // `count` modems at `folder`/modem<i>, IMEIs 35000000000000<i>.
  SimPool(int count, const std::string& folder, unsigned pacing = 0, std::size_t capacity = 250) {
    for (int i = 0; i < count; ++i) {
      sim::ModemConfig config;
      config.path = folder + "/modem" + std::to_string(i);
      config.imei = Imei(i);
      config.simCapacity = capacity;
      config.phoneCapacity = capacity;
      config.quirks.pacingBitsPerSecond = pacing;
      sims_.push_back(std::make_unique<sim::ModemSimulator>(config));
    }
  }

  static std::string Imei(int i) {
    std::string digits = std::to_string(i);
    return "35000000000" + std::string(4 - digits.size(), '0') + digits;
  }
  static std::string Name(int i) { return "m" + std::to_string(i); }

  int Size() const { return static_cast<int>(sims_.size()); }
  sim::ModemSimulator& operator[](int i) { return *sims_[static_cast<std::size_t>(i)]; }

  // The [[modem]] tables of a configuration for the pool.
  std::string ModemTables(const std::string& extra = "") const {
    std::string text;
    for (int i = 0; i < Size(); ++i)
      text += "[[modem]]\nname = \"" + Name(i) + "\"\nport = \"" + sims_[static_cast<std::size_t>(i)]->Path() +
              "\"\nreopen = 0.2\n" + extra + "\n";
    return text;
  }

  // What modem `i` sent, as texts: parts of a long message joined in their
  // order (by recipient and reference), each text with how often it went.
  static std::map<std::string, int> SentTexts(const sim::ModemSimulator& modem) {
    std::map<std::string, int> texts;
    std::map<std::string, std::map<int, std::string>> long_;
    std::map<std::string, int> totals;
    for (const sim::SubmittedMessage& m : modem.Submitted()) {
      if (!m.concat) {
        ++texts[m.text];
        continue;
      }
      const std::string key = m.destination + "/" + std::to_string(m.concat->reference);
      auto& parts = long_[key];
      if (parts.count(m.concat->sequence)) {
        // The same part twice: count it as a message of its own.
        ++texts["(part repeated) " + m.text];
        continue;
      }
      parts[m.concat->sequence] = m.text;
      totals[key] = m.concat->total;
      if (static_cast<int>(parts.size()) == m.concat->total) {
        std::string whole;
        for (const auto& [n, text] : parts) whole += text;
        ++texts[whole];
        long_.erase(key);
      }
    }
    for (const auto& [key, parts] : long_) {
      std::string some = "(incomplete) ";
      for (const auto& [n, text] : parts) some += text;
      ++texts[some];
    }
    return texts;
  }

  std::map<std::string, int> AllSentTexts() const {
    std::map<std::string, int> all;
    for (const auto& s : sims_)
      for (const auto& [text, n] : SentTexts(*s)) all[text] += n;
    return all;
  }

 private:
  std::vector<std::unique_ptr<sim::ModemSimulator>> sims_;
};

}  // namespace vesk::gateway::testing
