// The gateway's store in SQLite on this machine's disk: what one queued
// message costs (one transaction), one received message (one transaction,
// its duplicate key looked up first), one part of a long message, and the
// whole life of a sent message (queue, claim, prompt, outcome: four
// transactions). Target: under 1 ms per queued and per received message.
//
// Each is measured with synchronous=NORMAL (the default: every commit
// survives a crash of the process) and FULL (a flush to the disk per
// commit: survives a loss of power too). The store lives in the build
// folder, on the disk a store would use, not in a memory file system.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/gateway/Store.h"

namespace {

using namespace vesk::gateway;

constexpr Millis kT0 = 1714564800000;

std::unique_ptr<Store> FreshStore(const std::string& name, bool full) {
  const std::filesystem::path dir = std::filesystem::current_path() / "bench-gateway-store";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / (name + "-" + std::to_string(::getpid()) + ".db")).string();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  StoreOptions o;
  o.path = path;
  o.synchronous = full ? "full" : "normal";
  return OpenSqliteStore(o);
}

const char* Mode(const benchmark::State& state) { return state.range(0) ? "synchronous=FULL" : "synchronous=NORMAL"; }

void QueueMessage(benchmark::State& state) {
  auto store = FreshStore("queue", state.range(0) != 0);
  NewMessage m;
  m.to = "+15550123";
  m.text = "A message of an ordinary length, some fifty characters.";
  std::int64_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(store->Queue(m, kT0 + ++n));
  state.SetLabel(Mode(state));
}
BENCHMARK(QueueMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3);

void ReceiveMessage(benchmark::State& state) {
  auto store = FreshStore("receive", state.range(0) != 0);
  IncomingMessage m;
  m.modem = "m1";
  m.imei = "350000000000001";
  m.sender = "+15550123";
  m.smsc = "+15550100";
  m.timestamp = "2019-03-14T15:09:26";
  m.timezone = 8;
  std::int64_t n = 0;
  for (auto _ : state) {
    m.text = "Received message number " + std::to_string(++n);
    m.received = kT0 + n;
    benchmark::DoNotOptimize(store->AddMessage(m));
  }
  state.SetLabel(Mode(state));
}
BENCHMARK(ReceiveMessage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3);

void ReceiveDuplicate(benchmark::State& state) {
  auto store = FreshStore("duplicate", state.range(0) != 0);
  IncomingMessage m;
  m.modem = "m1";
  m.imei = "350000000000001";
  m.sender = "+15550123";
  m.text = "read again after a restart";
  store->AddMessage(m);
  for (auto _ : state) benchmark::DoNotOptimize(store->AddMessage(m));
  state.SetLabel(Mode(state));
}
BENCHMARK(ReceiveDuplicate)->Arg(0)->Unit(benchmark::kMicrosecond)->MinTime(1);

// A two-part message: two calls, the second puts the message together.
void ReceiveTwoParts(benchmark::State& state) {
  auto store = FreshStore("parts", state.range(0) != 0);
  IncomingPart p;
  p.modem = "m1";
  p.imei = "350000000000001";
  p.storage = "SM";
  p.sender = "+15550123";
  p.total = 2;
  const Assembler join = [](const std::vector<IncomingPart>& parts, bool) {
    std::string text;
    for (const IncomingPart& q : parts) text += q.text;
    return text;
  };
  std::int64_t n = 0;
  for (auto _ : state) {
    ++n;
    p.reference = static_cast<int>(n % 256);
    for (int part = 1; part <= 2; ++part) {
      p.number = part;
      p.pdu = "PDU" + std::to_string(n) + "-" + std::to_string(part) + std::string(280, '0');
      p.text = std::string(153, part == 1 ? 'a' : 'b') + std::to_string(n);
      p.received = kT0 + n;
      benchmark::DoNotOptimize(store->AddPart(p, join));
    }
  }
  state.SetLabel(std::string(Mode(state)) + ", per message of two parts");
}
BENCHMARK(ReceiveTwoParts)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3);

// Queued, claimed, marked before its body, recorded sent.
void SendLife(benchmark::State& state) {
  auto store = FreshStore("life", state.range(0) != 0);
  NewMessage m;
  m.to = "+15550123";
  m.text = "A message of an ordinary length, some fifty characters.";
  ClaimRequest r;
  r.modem = "m1";
  r.claimer = "bench";
  std::int64_t n = 0;
  for (auto _ : state) {
    r.now = kT0 + ++n;
    const std::int64_t id = store->Queue(m, r.now);
    store->Claim(r);
    store->MarkWriting(id, "bench", r.now);
    store->RecordSent(id, "bench", {static_cast<int>(n % 256)}, r.now);
  }
  state.SetLabel(std::string(Mode(state)) + ", four transactions");
}
BENCHMARK(SendLife)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
