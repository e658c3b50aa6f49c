// What the gateway counts for /metrics: histograms of durations (a send,
// a store call, an HTTP request) and counters, all updated from any
// thread without a lock, and the Prometheus text format (version 0.0.4)
// they are shown in.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vesk::gateway {

// Seconds, in fixed buckets.
class Histogram {
 public:
  static constexpr std::array<double, 14> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                     0.1,    0.25,  0.5,    1,     2.5,  5,     10};
  void Observe(double seconds);
  // Cumulative counts per bound, then the count of all.
  std::array<std::uint64_t, kBounds.size() + 1> Cumulative() const;
  double Sum() const { return static_cast<double>(sumMicros_.load()) / 1e6; }
  std::uint64_t Count() const { return count_.load(); }

 private:
  std::array<std::atomic<std::uint64_t>, kBounds.size() + 1> buckets_{};
  std::atomic<std::uint64_t> sumMicros_{0}, count_{0};
};

struct Metrics {
  Histogram send;  // a claimed message until its outcome is recorded
  Histogram http;  // an API request, from its arrival to its answer
  std::atomic<std::uint64_t> hookFailures{0}, webhookFailures{0}, webhookDelivered{0};
  // Store calls by operation; the names are fixed when the store is wrapped.
  std::map<std::string, Histogram> store;
  std::array<std::atomic<std::uint64_t>, 6> httpByClass{};  // 1xx .. 5xx, [0] unused
};

// Writes the Prometheus text format: one family at a time, with HELP and
// TYPE lines, label values escaped.
class PrometheusText {
 public:
  // A family; its samples follow.
  void Family(const std::string& name, const std::string& type, const std::string& help);
  void Sample(const std::string& name, const std::vector<std::pair<std::string, std::string>>& labels, double value);
  void Histogram(const std::string& name, const std::vector<std::pair<std::string, std::string>>& labels,
                 const class Histogram& h);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace vesk::gateway
