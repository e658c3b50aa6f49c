#include "tools/gateway/Metrics.h"

#include <cmath>
#include <cstdio>

namespace vesk::gateway {

void Histogram::Observe(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  std::size_t i = 0;
  while (i < kBounds.size() && seconds > kBounds[i]) ++i;
  buckets_[i].fetch_add(1, std::memory_order_relaxed);
  sumMicros_.fetch_add(static_cast<std::uint64_t>(std::llround(seconds * 1e6)), std::memory_order_relaxed);
  count_.fetch_add(1, std::memory_order_relaxed);
}

std::array<std::uint64_t, Histogram::kBounds.size() + 1> Histogram::Cumulative() const {
  std::array<std::uint64_t, kBounds.size() + 1> out{};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    total += buckets_[i].load(std::memory_order_relaxed);
    out[i] = total;
  }
  return out;
}

namespace {

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  char text[40];
  if (v == std::floor(v) && std::fabs(v) < 1e15)
    std::snprintf(text, sizeof text, "%.0f", v);
  else
    std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

std::string Labels(const std::vector<std::pair<std::string, std::string>>& labels) {
  if (labels.empty()) return "";
  std::string out = "{";
  for (std::size_t i = 0; i < labels.size(); ++i)
    out += (i ? "," : "") + labels[i].first + "=\"" + Escaped(labels[i].second) + "\"";
  return out + "}";
}

}  // namespace

void PrometheusText::Family(const std::string& name, const std::string& type, const std::string& help) {
  text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void PrometheusText::Sample(const std::string& name, const std::vector<std::pair<std::string, std::string>>& labels,
                            double value) {
  text_ += name + Labels(labels) + " " + Number(value) + "\n";
}

void PrometheusText::Histogram(const std::string& name, const std::vector<std::pair<std::string, std::string>>& labels,
                               const class Histogram& h) {
  const auto counts = h.Cumulative();
  for (std::size_t i = 0; i < counts.size(); ++i) {
    auto withLe = labels;
    withLe.emplace_back("le", i < Histogram::kBounds.size() ? Number(Histogram::kBounds[i]) : "+Inf");
    Sample(name + "_bucket", withLe, static_cast<double>(counts[i]));
  }
  Sample(name + "_sum", labels, h.Sum());
  Sample(name + "_count", labels, static_cast<double>(counts.back()));
}

}  // namespace vesk::gateway
