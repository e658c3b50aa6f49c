// Receiving end to end: the component on the modem simulator's
// pseudo-terminal, with the simulator writing at the pace of a 4800 bit/s
// line or in small pieces, so that answers reach the reader thread cut
// across its polls.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using testing::WaitUntil;
using namespace std::chrono_literals;

struct Received {
  std::string text;
  AnsiString phone, centre;
  TDateTime stamp;
  int zone, status;
  bool listing;
  bool onMainThread;
  AnsiString location;
  std::vector<int> indexes;
};

// The fixed pauses run 4 times faster, not more: the dispatcher's bound
// for the rest of an answer (2 s of this clock) must stay well above the
// stalls of a loaded machine. The line's pace is real.
class Receiving : public testing::SimulatorTest {
 protected:
  Receiving() : SimulatorTest(4) {}

  void Start(sim::ModemConfig config, bool synchronized) {
    StartSimulator(std::move(config), br004800);
    gsm->SetNeedSynchronization(synchronized);
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString& centre,
                                TDateTime stamp, int zone, int status) {
      Received r{WideToUtf8(text), phone, centre, stamp, zone, status, gsm->GetIsListing(), IsMainThread(),
                 gsm->GetMessageLocation(), gsm->GetMessageIndexes()};
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(std::move(r));
    };
    gsm->OnError = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex);
      errors.push_back(text);
    };
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return received.size();
  }
  std::vector<Received> All() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }

  std::mutex mutex;
  std::vector<Received> received;
  std::vector<AnsiString> errors;
};

struct Line {
  const char* name;
  unsigned bitsPerSecond;
  unsigned maxWrite;
  bool synchronized;
};
void PrintTo(const Line& l, std::ostream* os) { *os << l.name; }

class TwentyMessages : public Receiving, public ::testing::WithParamInterface<Line> {};

sim::IncomingSms Message(int i) {
  sim::IncomingSms sms;
  // 25 to 120 characters: PDU lines up to 240 hex digits, half a second
  // at 4800 bit/s, so the reader polls them in several pieces.
  sms.text = "Message " + std::to_string(i) + ": the quick brown fox" + std::string(static_cast<std::size_t>(i * i / 4), 'z');
  sms.sender = "+1555012" + std::to_string(1000 + i);
  sms.serviceCentre = "+15550100";
  sms.timestamp.minute = i;
  sms.timestamp.second = 59 - i;
  sms.timestamp.zoneQuarterHours = (i % 5) * 4 - 8;  // west and east
  return sms;
}

// 20 messages, one after another, each raise one OnReadMessage with the
// right values: none lost, none twice.
TEST_P(TwentyMessages, EachRaisesOneReadMessage) {
  const Line line = GetParam();
  sim::ModemConfig config;
  config.quirks.pacingBitsPerSecond = line.bitsPerSecond;
  config.quirks.maxWriteChunk = line.maxWrite;
  Start(config, line.synchronized);
  OpenAndSetUp();

  constexpr int kMessages = 20;
  for (int i = 0; i < kMessages; ++i) {
    auto parts = simulator->DeliverSms(Message(i));
    ASSERT_EQ(parts.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return Count() >= static_cast<std::size_t>(i + 1); }, 10000)) << "message " << i;
  }
  // Nothing more comes.
  WaitUntil([] { return false; }, 300);

  const auto all = All();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kMessages));
  std::set<int> indexes;
  for (int i = 0; i < kMessages; ++i) {
    SCOPED_TRACE(i);
    const sim::IncomingSms sms = Message(i);
    EXPECT_EQ(all[i].text, sms.text);
    EXPECT_EQ(all[i].phone, sms.sender);
    EXPECT_EQ(all[i].centre, "+15550100");
    EXPECT_DOUBLE_EQ(all[i].stamp, EncodeDateTime(2019, 3, 14, 15, i, 59 - i, 0));
    EXPECT_EQ(all[i].zone, sms.timestamp.zoneQuarterHours);
    EXPECT_EQ(all[i].status, 0);  // received unread when read
    EXPECT_FALSE(all[i].listing);
    EXPECT_EQ(all[i].onMainThread, line.synchronized);
    EXPECT_EQ(all[i].location, "SM");
    ASSERT_EQ(all[i].indexes.size(), 1u);
    indexes.insert(all[i].indexes[0]);
  }
  EXPECT_EQ(indexes.size(), static_cast<std::size_t>(kMessages));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

INSTANTIATE_TEST_SUITE_P(Lines, TwentyMessages,
                         ::testing::Values(Line{"Paced4800", 4800, 0, false}, Line{"Paced4800Synchronized", 4800, 0, true},
                                           Line{"SmallPieces", 0, 7, false}, Line{"SmallPiecesSynchronized", 0, 7, true}),
                         [](const ::testing::TestParamInfo<Line>& p) { return std::string(p.param.name); });

TEST_F(Receiving, AListingOf255StoredMessagesArrivesWhole) {
  sim::ModemConfig config;
  config.simCapacity = 255;
  config.quirks.maxWriteChunk = 61;  // and in pieces that cut the lines
  Start(config, false);
  OpenAndSetUp();
  constexpr int kMessages = 255;
  std::map<int, std::string> byIndex;
  for (int i = 0; i < kMessages; ++i) {
    sim::IncomingSms sms;
    sms.text = "Stored message " + std::to_string(i);
    sms.storage = "SM";
    sms.announce = false;
    auto parts = simulator->DeliverSms(sms);
    ASSERT_EQ(parts.size(), 1u);
    byIndex[parts[0].index] = sms.text;
  }
  gsm->GetAllSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Count() >= kMessages; }, 20000)) << Count();
  WaitUntil([] { return false; }, 300);
  const auto all = All();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kMessages));
  for (const Received& r : all) {
    EXPECT_TRUE(r.listing);
    EXPECT_EQ(r.location, "SM");
    ASSERT_EQ(r.indexes.size(), 1u);
    EXPECT_EQ(r.text, byIndex[r.indexes[0]]);
    byIndex.erase(r.indexes[0]);
  }
  EXPECT_TRUE(byIndex.empty());
  EXPECT_FALSE(gsm->GetIsListing());
}

TEST_F(Receiving, TextModeMessagesKeepTheirCaseAndTheirMarkers) {
  sim::ModemConfig config;
  config.quirks.pacingBitsPerSecond = 4800;
  Start(config, false);
  gsm->SetMessageFormat(mfText);
  std::atomic<int> rings{0};
  gsm->OnRing = [&](TObject*, const AnsiString&) { ++rings; };
  OpenAndSetUp();
  sim::IncomingSms sms;
  sms.text = "Bring the String: no ERROR during Ring";
  simulator->DeliverSms(sms);
  ASSERT_TRUE(WaitUntil([&] { return Count() >= 1; }, 10000));
  WaitUntil([] { return false; }, 200);
  const auto all = All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].text, sms.text);
  EXPECT_EQ(all[0].phone, "+15550123");
  EXPECT_EQ(all[0].centre, "+15550100");
  EXPECT_EQ(all[0].zone, 8);
  EXPECT_EQ(rings, 0);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Receiving, ALongMessageInPiecesIsReportedOnceWithItsParts) {
  sim::ModemConfig config;
  config.quirks.maxWriteChunk = 4;
  Start(config, false);
  OpenAndSetUp();
  sim::IncomingSms sms;
  for (int i = 0; i < 30; ++i) sms.text += "word" + std::to_string(i) + " ";
  sms.text += std::string(200, 'y');  // three parts
  sms.partOrder = {2, 3, 1};
  auto parts = simulator->DeliverSms(sms);
  ASSERT_EQ(parts.size(), 3u);
  ASSERT_TRUE(WaitUntil([&] { return Count() >= 1; }, 10000));
  WaitUntil([] { return false; }, 300);
  const auto all = All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].text, sms.text);
  // Part 1 arrived last, part 2 first.
  EXPECT_EQ(all[0].indexes, (std::vector<int>{parts[2].index, parts[0].index, parts[1].index}));
  // And the application can now delete them.
  for (int index : all[0].indexes) EXPECT_TRUE(gsm->DeleteSMS("SM", index));
  EXPECT_TRUE(simulator->Stored().empty());
}

}  // namespace
}  // namespace vesk
