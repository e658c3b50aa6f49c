#include "incoming/Reassembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "codec_test_support.h"
#include "codec/Deliver.h"
#include "national_tables_std.h"

namespace vesk {
namespace {

namespace test = codec::test;
using codec::DecodedSMS;
using codec::PDUSMSToString;

constexpr TDateTime kDay0 = 45000.0;
constexpr double kSecond = 1.0 / 86400.0;

// An entry that reports its destruction.
class Tracked : public TConcatenatedSMS {
 public:
  Tracked(int id, int length, bool* destroyed, const AnsiString& sender = "")
      : TConcatenatedSMS(id, length, kDay0, sender), destroyed_(destroyed) {}
  ~Tracked() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

// ------------------------------------------------ the collection's operations

TEST(ConcatenatedSMS, CreateGivesEmptySlots) {
  TConcatenatedSMS e(5, 3, kDay0, "+1");
  EXPECT_EQ(e.ID(), 5);
  EXPECT_EQ(e.Length(), 3);
  EXPECT_EQ(e.Count(), 3);
  EXPECT_FALSE(e.IsComplete());
  EXPECT_EQ(e.GetEntireSMS(), "");
  EXPECT_TRUE(TConcatenatedSMS(1, 0, kDay0, "").IsComplete());
  EXPECT_TRUE(e.SetPart(2, "c\x80"));
  EXPECT_TRUE(e.SetPart(0, std::string("a\0", 2)));
  EXPECT_FALSE(e.SetPart(3, "x"));
  EXPECT_FALSE(e.IsComplete());
  EXPECT_TRUE(e.SetPart(1, "b"));
  EXPECT_TRUE(e.IsComplete());
  EXPECT_EQ(e.GetEntireSMS(), std::string("a\0bc\x80", 5));  // octets survive the string list
}

// An entry keeps what it knows of a few parts in itself and moves to a
// list of its own when a part beyond them arrives: nothing known is lost
// on the way.
TEST(ConcatenatedSMS, PartInformationSurvivesGrowingPastAFewParts) {
  TConcatenatedSMS e(1, 2, kDay0, "+1");
  EXPECT_TRUE(e.SetPart(0, "\x01\x02", 2, stTurkish, stSpanish));
  EXPECT_FALSE(e.SetPart(5, "z", 1));  // not a slot yet
  for (int i = 0; i < 6; ++i) e.Add(UnicodeString());
  EXPECT_TRUE(e.SetPart(7, "z", 1, stUrdu, stHindi));
  EXPECT_EQ(e.GetPart(0), "\x01\x02");
  EXPECT_EQ(e.GetPartSeptets(0), 2);
  EXPECT_EQ(e.GetPartLockingShift(0), stTurkish);
  EXPECT_EQ(e.GetPartSingleShift(0), stSpanish);
  EXPECT_EQ(e.GetPartSeptets(1), -1);
  EXPECT_EQ(e.GetPart(7), "z");
  EXPECT_EQ(e.GetPartSeptets(7), 1);
  EXPECT_EQ(e.GetPartLockingShift(7), stUrdu);
  EXPECT_EQ(e.GetPartSingleShift(7), stHindi);
  EXPECT_EQ(e.GetPartSeptets(8), -1);

  TConcatenatedSMS many(2, 9, kDay0, "+1");
  EXPECT_TRUE(many.SetPart(8, "\x9f", 1, stPortuguese));
  EXPECT_EQ(many.GetPart(8), "\x9f");
  EXPECT_EQ(many.GetPartLockingShift(8), stPortuguese);
  EXPECT_EQ(many.GetPartSeptets(0), -1);
}

TEST(ConcatenatedSMSCollection, AddRefusesNullAndTheSameKey) {
  TConcatenatedSMSCollection c;
  EXPECT_FALSE(c.Add(nullptr));
  EXPECT_TRUE(c.Add(new TConcatenatedSMS(7, 2, kDay0, "+1")));
  TConcatenatedSMS duplicate(7, 2, kDay0, "+1");
  EXPECT_FALSE(c.Add(&duplicate));
  EXPECT_EQ(c.Count(), 1);
  // Another sender, or another part count, is another message.
  EXPECT_TRUE(c.Add(new TConcatenatedSMS(7, 2, kDay0, "+2")));
  EXPECT_TRUE(c.Add(new TConcatenatedSMS(7, 3, kDay0, "+1")));
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.IndexOf(7), 0);
  EXPECT_EQ(c.GetByID(7)->Length(), 3);  // searched from the back
  EXPECT_EQ(c.IndexOf("+2", 7, 2), 1);
  // The same number as a 16-bit reference is another message too.
  EXPECT_TRUE(c.Add(new TConcatenatedSMS(7, 2, kDay0, "+1", 16)));
  EXPECT_EQ(c.IndexOf("+1", 7, 2, 16), 3);
  EXPECT_EQ(c.IndexOf("+1", 7, 2), 0);
  EXPECT_EQ(c.IndexOf(8), -1);
  EXPECT_EQ(c.GetByID(8), nullptr);
}

TEST(ConcatenatedSMSCollection, InsertOnlyInsideTheList) {
  TConcatenatedSMSCollection c;
  TConcatenatedSMS a(1, 1, kDay0, ""), b(2, 1, kDay0, "");
  EXPECT_FALSE(c.Insert(0, &a));  // never at the end, even of an empty list
  c.Add(new TConcatenatedSMS(3, 1, kDay0, ""));
  EXPECT_FALSE(c.Insert(-1, &a));
  EXPECT_FALSE(c.Insert(1, &a));
  EXPECT_TRUE(c.Insert(0, new TConcatenatedSMS(2, 1, kDay0, "")));
  EXPECT_EQ(c.GetItem(0)->ID(), 2);
  EXPECT_EQ(c.GetItem(1)->ID(), 3);
  EXPECT_FALSE(c.Insert(0, &b));  // same key as position 0
}

TEST(ConcatenatedSMSCollection, IndexesOutOfRange) {
  TConcatenatedSMSCollection c;
  c.Add(new TConcatenatedSMS(1, 1, kDay0, ""));
  EXPECT_EQ(c.GetItem(1), nullptr);
  c.Delete(5);
  c.SetItem(5, nullptr);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_THROW(c.GetItem(-1), EListError);
  EXPECT_THROW(c.SetItem(-1, nullptr), EListError);
  EXPECT_THROW(c.Delete(-1), EListError);
}

TEST(ConcatenatedSMSCollection, OwnershipOfRemovedEntries) {
  bool a = false, b = false, d = false;
  auto* kept = new Tracked(1, 1, &a);
  auto* cleared = new Tracked(3, 1, &d);
  {
    TConcatenatedSMSCollection c;
    c.Add(kept);
    c.Add(new Tracked(2, 1, &b));
    c.Delete(0, false);
    EXPECT_FALSE(a);
    c.SetItem(0, cleared);  // frees what it replaces
    EXPECT_TRUE(b);
    c.Clear(false);
    EXPECT_EQ(c.Count(), 0);
    EXPECT_FALSE(d);
    c.Add(kept);
  }  // the destructor frees what it still holds
  EXPECT_TRUE(a);
  delete cleared;
}

// An entry the collection already holds may not be stored at a second
// position: both positions would free it.
TEST(ConcatenatedSMSCollection, SetItemRefusesAnEntryHeldElsewhere) {
  int freedA = 0, freedB = 0;
  class Counted : public TConcatenatedSMS {
   public:
    Counted(int id, int* freed) : TConcatenatedSMS(id, 1, kDay0, ""), freed_(freed) {}
    ~Counted() override { ++*freed_; }

   private:
    int* freed_;
  };
  auto* a = new Counted(1, &freedA);
  auto* b = new Counted(2, &freedB);
  {
    TConcatenatedSMSCollection c;
    c.Add(a);
    c.Add(b);
    EXPECT_FALSE(c.SetItem(1, a));
    EXPECT_EQ(freedB, 0);
    EXPECT_EQ(c.GetItem(0), a);
    EXPECT_EQ(c.GetItem(1), b);
    EXPECT_TRUE(c.SetItem(0, a));  // itself, in its own place: nothing to do
    EXPECT_EQ(freedA, 0);
  }
  EXPECT_EQ(freedA, 1);
  EXPECT_EQ(freedB, 1);
}

TEST(ConcatenatedSMSCollection, SwapExchangesPositions) {
  TConcatenatedSMSCollection c;
  auto* one = new TConcatenatedSMS(1, 1, kDay0, "");
  auto* two = new TConcatenatedSMS(2, 1, kDay0, "");
  c.Add(one);
  c.Add(new TConcatenatedSMS(9, 1, kDay0, ""));
  c.Add(two);
  c.Swap(1, 2);
  EXPECT_EQ(c.GetItem(0), two);
  EXPECT_EQ(c.GetItem(2), one);
  c.Swap(1, 42);
  EXPECT_EQ(c.GetItem(2), one);
  EXPECT_TRUE(one->SetPart(0, "x"));
  c.DeleteByID(9);
  EXPECT_EQ(c.Count(), 2);
}

TEST(ConcatenatedSMSCollection, DisposeClearsThenFrees) {
  TConcatenatedSMSCollection::Dispose(nullptr, true);
  bool destroyed = false;
  auto* entry = new Tracked(1, 1, &destroyed);
  auto* c = new TConcatenatedSMSCollection;
  c->Add(entry);
  TConcatenatedSMSCollection::Dispose(c, false);
  EXPECT_FALSE(destroyed);
  delete entry;
  EXPECT_TRUE(destroyed);
}

TEST(ConcatenatedSMSCollection, ExpiryAndCap) {
  TConcatenatedSMSCollection c;
  c.Add(new TConcatenatedSMS(1, 2, kDay0, ""));
  c.Add(new TConcatenatedSMS(2, 2, kDay0 + 10 * kSecond, ""));
  c.Add(new TConcatenatedSMS(3, 2, kDay0 + 5 * kSecond, ""));
  EXPECT_EQ(c.RemoveExpired(kDay0 + 86399 * kSecond, 86400), 0);
  EXPECT_EQ(c.RemoveExpired(kDay0 + 86401 * kSecond, 86400), 1);
  EXPECT_EQ(c.IndexOf(1), -1);
  EXPECT_EQ(c.RemoveExpired(kDay0 + 1e6, 0), 0);  // no age limit
  EXPECT_EQ(c.RemoveOldest(1), 1);                // the earliest created goes, not the first added
  EXPECT_EQ(c.IndexOf(3), -1);
  EXPECT_EQ(c.IndexOf(2), 0);
  EXPECT_EQ(c.RemoveOldest(-1), 0);
}

// ------------------------------------------------ reassembly through the decoder

// An SMS-DELIVER part: sender field, then header and packed user data.
std::string Part(const std::string& sender, const std::string& udl, const std::string& header, const std::string& data,
                 const std::string& dcs = "00") {
  return "00" "44" + sender + "00" + dcs + "91304151906280" + udl + header + data;
}
const std::string kAlice = "0B91" "4477001122F3";  // +44770011223
const std::string kBob = "0B91" "4477009988F7";    // +44770099887

// Three 7-bit parts of "abcdef@gh", reference 0x0A, each after one fill bit.
std::vector<std::string> ThreeParts(const std::string& sender, const std::string& ref = "0A") {
  return {Part(sender, "0A", "050003" + ref + "0301", "C2E231"),
          Part(sender, "0B", "050003" + ref + "0302", "C8653300"),
          Part(sender, "09", "050003" + ref + "0303", "CE68")};
}

struct Reassembler {
  TConcatenatedSMSCollection parts;
  codec::ReassemblyLimits limits;
  TDateTime now = kDay0;
  DecodedSMS Feed(const std::string& pdu) { return PDUSMSToString(pdu, &parts, now, limits); }
};

TEST(Reassembly, PartsInEveryOrderCompleteOnceWithTheFinalAt) {
  std::vector<int> order = {0, 1, 2};
  do {
    SCOPED_TRACE(testing::Message() << order[0] << order[1] << order[2]);
    Reassembler r;
    const auto pdus = ThreeParts(kAlice);
    for (int i = 0; i < 2; ++i) {
      const DecodedSMS d = r.Feed(pdus[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])]);
      EXPECT_TRUE(d.Skip);
      EXPECT_EQ(d.Error, "");
      EXPECT_TRUE(d.Text.empty());
      EXPECT_EQ(r.parts.Count(), 1);
    }
    const DecodedSMS d = r.Feed(pdus[static_cast<std::size_t>(order[2])]);
    EXPECT_FALSE(d.Skip);
    EXPECT_EQ(test::Utf8(d.Text), "abcdef@gh");
    EXPECT_EQ(d.PhoneNumber, "+44770011223");
    EXPECT_EQ(r.parts.Count(), 0);
  } while (std::next_permutation(order.begin(), order.end()));
}

// Six parts (more than an entry keeps in itself), last first and then in
// a shuffled order; "@" at the end of a part is text, not padding.
TEST(Reassembly, SixPartsInAnyOrderJoinWhole) {
  const char* const payloads[][2] = {{"0A", "C2E231"}, {"0B", "C8653300"}, {"09", "CE68"}};
  std::vector<std::string> pdus;
  for (int i = 0; i < 6; ++i)
    pdus.push_back(Part(kAlice, payloads[i % 3][0], "0500030B060" + std::to_string(i + 1), payloads[i % 3][1]));
  for (const std::vector<int>& order : {std::vector<int>{5, 4, 3, 2, 1, 0}, std::vector<int>{2, 5, 0, 4, 1, 3}}) {
    Reassembler r;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) EXPECT_TRUE(r.Feed(pdus[static_cast<std::size_t>(order[i])]).Skip);
    const DecodedSMS d = r.Feed(pdus[static_cast<std::size_t>(order.back())]);
    EXPECT_FALSE(d.Skip);
    EXPECT_EQ(test::Utf8(d.Text), "abcdef@ghabcdef@gh");
    EXPECT_EQ(r.parts.Count(), 0);
  }
}

TEST(Reassembly, DuplicatePartReplacesItsSlot) {
  Reassembler r;
  const auto pdus = ThreeParts(kAlice);
  EXPECT_TRUE(r.Feed(pdus[0]).Skip);
  EXPECT_TRUE(r.Feed(pdus[0]).Skip);
  EXPECT_TRUE(r.Feed(pdus[1]).Skip);
  EXPECT_EQ(test::Utf8(r.Feed(pdus[2]).Text), "abcdef@gh");
}

TEST(Reassembly, InterleavedReferencesCompleteIndependently) {
  Reassembler r;
  const auto a = ThreeParts(kAlice, "0A");
  const auto b = ThreeParts(kAlice, "0B");
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(r.Feed(a[static_cast<std::size_t>(i)]).Skip);
    EXPECT_TRUE(r.Feed(b[static_cast<std::size_t>(i)]).Skip);
  }
  EXPECT_EQ(r.parts.Count(), 2);
  EXPECT_EQ(test::Utf8(r.Feed(b[2]).Text), "abcdef@gh");
  EXPECT_EQ(test::Utf8(r.Feed(a[2]).Text), "abcdef@gh");
  EXPECT_EQ(r.parts.Count(), 0);
}

TEST(Reassembly, SameReferenceFromTwoSendersNeverMixes) {
  Reassembler r;
  const auto alice = ThreeParts(kAlice);
  const std::vector<std::string> bob = {Part(kBob, "0A", "0500030A0301", "F0793D"),
                                        Part(kBob, "09", "0500030A0302", "EA76"), Part(kBob, "08", "0500030A0303", "EE")};
  EXPECT_TRUE(r.Feed(alice[0]).Skip);
  EXPECT_TRUE(r.Feed(bob[0]).Skip);
  EXPECT_TRUE(r.Feed(alice[1]).Skip);
  EXPECT_TRUE(r.Feed(bob[1]).Skip);
  EXPECT_EQ(r.parts.Count(), 2);
  const DecodedSMS fromAlice = r.Feed(alice[2]);
  EXPECT_EQ(test::Utf8(fromAlice.Text), "abcdef@gh");
  EXPECT_EQ(fromAlice.PhoneNumber, "+44770011223");
  const DecodedSMS fromBob = r.Feed(bob[2]);
  EXPECT_EQ(test::Utf8(fromBob.Text), "xyzuvw");
  EXPECT_EQ(fromBob.PhoneNumber, "+44770099887");
}

TEST(Reassembly, ReusedReferenceWithAnotherCountStartsANewEntry) {
  Reassembler r;
  EXPECT_TRUE(r.Feed(ThreeParts(kAlice)[2]).Skip);  // part 3 of 3, never finished
  // The same reference, now a message of two parts: part 2 first.
  EXPECT_TRUE(r.Feed(Part(kAlice, "09", "0500030A0202", "CE68")).Skip);
  const DecodedSMS d = r.Feed(Part(kAlice, "0A", "0500030A0201", "C2E231"));
  EXPECT_EQ(d.Error, "");
  EXPECT_EQ(test::Utf8(d.Text), "abcgh");
  EXPECT_EQ(r.parts.Count(), 1);
  EXPECT_EQ(r.parts.GetItem(0)->Length(), 3);
}

TEST(Reassembly, StaleEntriesExpireWithTheClockPassedIn) {
  Reassembler r;
  const auto pdus = ThreeParts(kAlice);
  r.Feed(pdus[0]);
  r.now = kDay0 + 86399 * kSecond;
  r.Feed(pdus[1]);
  EXPECT_EQ(r.parts.Count(), 1);
  r.now = kDay0 + 86401 * kSecond;  // the entry, made at kDay0, is now too old
  const DecodedSMS d = r.Feed(pdus[2]);
  EXPECT_TRUE(d.Skip);
  EXPECT_EQ(r.parts.Count(), 1);
  EXPECT_EQ(r.parts.GetItem(0)->TimeStamp(), r.now);
}

TEST(Reassembly, EntryCapDropsTheOldest) {
  Reassembler r;
  r.limits.MaxEntries = 3;
  for (int ref = 1; ref <= 5; ++ref) {
    r.now = kDay0 + ref * kSecond;
    const char refHex[3] = {'0', static_cast<char>('0' + ref), 0};
    r.Feed(ThreeParts(kAlice, refHex)[0]);
    EXPECT_LE(r.parts.Count(), 3);
  }
  EXPECT_EQ(r.parts.IndexOf(1), -1);
  EXPECT_EQ(r.parts.IndexOf(2), -1);
  EXPECT_GE(r.parts.IndexOf(5), 0);
}

// Sequences of parts from one sender (+44770011223): what each call
// reports, and how many entries are left at the end.
struct Step {
  const char* userData;  // TP-UDL, header and packed text, hex
  bool skip;
  const char* text;
};
struct SequenceCase {
  const char* name;
  std::vector<Step> steps;
  int entriesLeft;
};
void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class ReassemblySequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(ReassemblySequence, ReportsEachMessageOnce) {
  const auto& p = GetParam();
  Reassembler r;
  for (std::size_t i = 0; i < p.steps.size(); ++i) {
    SCOPED_TRACE(i);
    const DecodedSMS d = r.Feed(std::string("00" "44") + kAlice + "00" "00" "91304151906280" + p.steps[i].userData);
    EXPECT_EQ(d.Error, "");
    EXPECT_EQ(d.Skip, p.steps[i].skip);
    EXPECT_EQ(test::Utf8(d.Text), p.steps[i].text);
  }
  EXPECT_EQ(r.parts.Count(), p.entriesLeft);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ts23040, ReassemblySequence,
    ::testing::Values(
        // A part delivered twice (a network's retry) fills its slot once; the
        // message is reported once. A copy of the last part arriving after
        // that opens an entry of its own, which reports nothing.
        SequenceCase{"DuplicatePartDeliveredOnce",
            {{"0A" "0500030A0301" "C2E231", true, ""}, {"0A" "0500030A0301" "C2E231", true, ""},
             {"0B" "0500030A0302" "C8653300", true, ""}, {"09" "0500030A0303" "CE68", false, "abcdef@gh"},
             {"09" "0500030A0303" "CE68", true, ""}},
            1},
        // 9.2.3.24.1 and .8: an 8-bit and a 16-bit reference of the same
        // number are two messages.
        SequenceCase{"EightAndSixteenBitReferencesNeverMix",
            {{"0A" "0500032A0201" "C2E231", true, ""}, {"0B" "060804002A0202" "F8BC1E", true, ""},
             {"0A" "0500032A0202" "C86533", false, "abcdef"}, {"0B" "060804002A0201" "75FB1D", false, "uvwxyz"}},
            0},
        // 9.2.3.24: the concatenation element after a port addressing element.
        SequenceCase{"ConcatenationAfterPortAddressing",
            {{"11" "0B05040B8423F00003AA0202" "90CB66", true, ""},
             {"11" "0B05040B8423F00003AA0201" "84C563", false, "abcdef"}},
            0},
        // A part whose user data holds its header alone has arrived all the same.
        SequenceCase{"PartWithEmptyUserDataCompletes",
            {{"0A" "0500030A0301" "C2E231", true, ""}, {"07" "0500030A0302", true, ""},
             {"09" "0500030A0303" "CE68", false, "abcgh"}},
            0},
        // 9.2.3.24.15: each part is read with the shift table its own header names.
        SequenceCase{"EachPartKeepsItsShiftTable",
            {{"0D" "0800032B0202240101" "607306", true, ""},
             {"0F" "0800032B0201240101" "6093DECC01", false, "ışğ"}},
            0}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(Reassembly, SixteenBitReferenceNeedsNoFillBits) {
  Reassembler r;
  EXPECT_TRUE(r.Feed(Part(kAlice, "0F", "0608041234" "0202", "61371944BFBF01")).Skip);
  EXPECT_EQ(r.parts.GetItem(0)->ID(), 0x1234);
  EXPECT_EQ(test::Utf8(r.Feed(Part(kAlice, "11", "0608041234" "0201", "D0B09C0E7ABBCB20")).Text), "Part one and two");
}

TEST(Reassembly, APartStoredWithoutItsSeptetCountLosesOnlyItsPadding) {
  Reassembler r;
  EXPECT_TRUE(r.Feed(Part(kAlice, "0F", "0608041234" "0202", "61371944BFBF01")).Skip);
  // As an application restoring its pending parts would store them: the
  // octets alone. Seven septets fill seven octets less seven bits, which
  // read as one more code 0 ("@") unless dropped.
  TConcatenatedSMS* entry = r.parts.GetItem(0);
  ASSERT_TRUE(entry->SetPart(1, entry->GetPart(1)));
  EXPECT_EQ(entry->GetPartSeptets(1), -1);
  EXPECT_EQ(test::Utf8(r.Feed(Part(kAlice, "11", "0608041234" "0201", "D0B09C0E7ABBCB20")).Text), "Part one and two");
}

TEST(Reassembly, EightBitPartsJoinBeforeConversion) {
  Reassembler r;
  r.Feed(Part(kAlice, "09", "050003070202", "646566", "04"));
  EXPECT_EQ(test::Utf8(r.Feed(Part(kAlice, "09", "050003070201", "616280", "04")).Text), "ab€def");
}

// ModemManager src/tests/test-sms-part-3gpp.c test_pdu_multipart, last part first.
TEST(Reassembly, ModemManagerTwoParts) {
  Reassembler r;
  EXPECT_TRUE(r.Feed("07912160130320F6" "44" "0B916171056429F5" "00" "00" "21405291651569" "32" "0500034C0202"
                     "E9E8301D44479741F0B09C3E0785E56590BCCC0ED3CB6410FD0D7ABBCBA0B0FB4D4797E52E10")
                  .Skip);
  const DecodedSMS d = r.Feed(
      "07912160130320F5" "44" "0B916171056429F5" "00" "00" "21405291650569" "A0" "0500034C0201"
      "A9E8F41C949E83C2207B599E07B1DFEE33885E9ED341E4F23C7D7697C920FA1B54C697E5E3F4BC0C6AD7D9F434081E96D341E3303C2C4EB3"
      "D3F4BC0B94A483E6E8779D4D06CDD1EF3BA80E0785E7A0B7BB0C6A97E7F3F0B9CC02B9DF7450780EA2DFDF2C50780EA2A3CBA0BA9B5C96B3"
      "F369F71954768FDFE4B4FB0C9297E1F2F2BCECA6CF41");
  EXPECT_EQ(test::Utf8(d.Text),
            "This is a very long test designed to exercise multi part capability. It should show up as one message, not as "
            "two, as the underlying encoding represents that the parts are related to one another. ");
  EXPECT_EQ(d.CenterNumber, "+12063130025");  // the fields of the last PDU
  EXPECT_EQ(*d.TimeZone, -16);
}

// oFono unit/test-sms.c assembly_pdu1-3: three UCS2 parts (DCS 19, class 1).
TEST(Reassembly, OfonoThreeUcs2Parts) {
  Reassembler r;
  const std::string head = "038121F3" "50" "04815555" "01" "19" "90604100122204";
  EXPECT_TRUE(r.Feed(head + "8C" "0500031E0301"
                     "041804420430043A002C00200410043B0435043A04410430043D04340440002000200441043B044304480430043B0020"
                     "0437043000200434043204350440044C044E0020002004380020002004320441043500200431043E043B044C04480435"
                     "0020043F0440043504380441043F043E043B043D044F043B0441044F002000200433043D0435")
                  .Skip);
  EXPECT_TRUE(r.Feed(head + "4A" "0500031E0303"
                     "043C043D043004420443002C0020043F043E043704300431044B0432000A0434043004360435002C00200447044204"
                     "3E002000200431044B043B0020043D04300433002E")
                  .Skip);
  const DecodedSMS d = r.Feed(head + "8C" "0500031E0302"
                              "0432043E043C002E000A041D0430043A043E043D04350446002C0020043D043500200432002004410438043B"
                              "04300445002004340430043B043504350020044204350440043F04350442044C002C0020043E043D00200441"
                              "044204400435043C043804420435043B044C043D043E002004320431043504360430043B002004320020043A043E");
  EXPECT_EQ(test::Utf8(d.Text),
            "Итак, Александр  слушал за дверью  и  все больше преисполнялся  гневом.\n"
            "Наконец, не в силах далее терпеть, он стремительно вбежал в комнату, позабыв\n"
            "даже, что  был наг.");
  EXPECT_EQ(d.PhoneNumber, "5555");
  EXPECT_EQ(d.CenterNumber, "123");
}

// ------------------------------------------------ parts with their own coding schemes

// Parts of one message that carry different data coding schemes (TS 23.040
// 9.2.2.1: TP-DCS belongs to each PDU): each part is decoded with its own,
// in whatever order they arrive. Built here from the TS 23.040 and 23.038
// layouts; the first is what a sender that chooses an encoding per part
// writes (7-bit letters, then a UCS2 rest).
struct MixedCase {
  const char* name;
  std::vector<std::string> parts;  // in part order
  const char* text;
};
void PrintTo(const MixedCase& c, std::ostream* os) { *os << c.name; }

class MixedCodingSchemes : public ::testing::TestWithParam<MixedCase> {};

TEST_P(MixedCodingSchemes, EachPartInItsOwnAlphabetInAnyOrder) {
  const auto& p = GetParam();
  std::vector<std::size_t> order(p.parts.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  do {
    SCOPED_TRACE(testing::PrintToString(order));
    Reassembler r;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      const DecodedSMS d = r.Feed(p.parts[order[i]]);
      EXPECT_EQ(d.Error, "");
      EXPECT_TRUE(d.Skip);
    }
    const DecodedSMS d = r.Feed(p.parts[order.back()]);
    EXPECT_EQ(d.Error, "");
    EXPECT_FALSE(d.Skip);
    EXPECT_EQ(test::Utf8(d.Text), p.text);
    EXPECT_EQ(r.parts.Count(), 0);
  } while (std::next_permutation(order.begin(), order.end()));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ts23040, MixedCodingSchemes,
    ::testing::Values(
        MixedCase{"SevenBitThenUcs2",
            {"00" "44" "0B914477001122F3" "00" "00" "91304151906280" "0D" "0500033C0201" "906536FB0D02",
             "00" "44" "0B914477001122F3" "00" "08" "91304151906280" "0C" "0500033C0202" "043C04380440"},
            "Hello мир"},
        MixedCase{"Ucs2ThenSevenBit",
            {"00" "44" "0B914477001122F3" "00" "08" "91304151906280" "16" "0500033D0201" "041F04400438043204350442002C0020",
             "00" "44" "0B914477001122F3" "00" "00" "91304151906280" "0C" "0500033D0202" "EE6F399B0C"},
            "Привет, world"},
        // A 16-bit reference; 8-bit data between 7-bit parts, the last read
        // with the Turkish locking shift table its own header names.
        MixedCase{"EightBitAmongSevenBit",
            {"00" "44" "0B914477001122F3" "00" "00" "91304151906280" "0B" "06080412340301" "61F118",
             "00" "44" "0B914477001122F3" "00" "04" "91304151906280" "0A" "06080412340302" "64E966",
             "00" "44" "0B914477001122F3" "00" "00" "91304151906280" "0E" "09080412340303250101" "706000"},
            "abcdéfığ"},
        // Coding group 1111 (class 0, 7-bit), then UCS2 with a class.
        MixedCase{"ClassZeroSevenBitThenUcs2",
            {"00" "44" "0B914477001122F3" "00" "F0" "91304151906280" "0A" "050003070201" "906910",
             "00" "44" "0B914477001122F3" "00" "18" "91304151906280" "0A" "050003070202" "4F60597D"},
            "Hi 你好"},
        // A surrogate pair cut between two UCS2 parts stays one character.
        MixedCase{"SurrogatePairCutBetweenUcs2Parts",
            {"00" "44" "0B914477001122F3" "00" "08" "91304151906280" "0A" "050003080201" "0041D83D",
             "00" "44" "0B914477001122F3" "00" "08" "91304151906280" "0A" "050003080202" "DE000042"},
            "A\U0001F600B"},
        // ...but a half pair before a 7-bit part has no partner.
        MixedCase{"HalfPairBeforeASevenBitPart",
            {"00" "44" "0B914477001122F3" "00" "08" "91304151906280" "0A" "050003090201" "0041D83D",
             "00" "44" "0B914477001122F3" "00" "00" "91304151906280" "08" "050003090202" "84"},
            "A\uFFFDB"}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// What each part of an entry carries besides its octets survives until the
// text is built: a part restored by an application without its coding
// scheme takes that of the PDU that completes the message.
TEST(Reassembly, APartStoredWithoutItsCodingSchemeTakesTheLastPdusOne) {
  Reassembler r;
  EXPECT_TRUE(r.Feed(Part(kAlice, "0C", "0500033C0202", "043C04380440", "08")).Skip);
  TConcatenatedSMS* entry = r.parts.GetItem(0);
  EXPECT_EQ(entry->GetPartDataCoding(1), 0x08);
  ASSERT_TRUE(entry->SetPart(1, entry->GetPart(1)));  // octets alone
  EXPECT_EQ(entry->GetPartDataCoding(1), -1);
  // The completing part is UCS2 too: the restored part reads as UCS2.
  EXPECT_EQ(test::Utf8(r.Feed(Part(kAlice, "0A", "0500033C0201", "00480069", "08")).Text), "Hiмир");
}

// ------------------------------------------------ property: random mixed messages

// An encoder of the test's own, from TS 23.038 and TS 23.040 and the
// hand-typed tables, for random long messages whose parts each choose a
// coding scheme: the default alphabet (class-less or class 1), the Turkish
// locking and single shift tables, 8-bit data, UCS2 (with surrogate pairs).
class MixedMessageWriter {
 public:
  explicit MixedMessageWriter(unsigned seed) : random_(seed) {
    for (std::size_t code = 0; code < 128; ++code)
      if (code != 0x1B) defaultMain_.push_back(test::kStdDefaultAlphabet[code]);
    for (const auto& e : test::kStdExtension)
      if (e.code != 0x0D) defaultShift_.push_back({e.code, Utf8ToWide(e.utf8)[0]});
    for (const auto& l : test::StdNationalLanguages())
      if (l.table == stTurkish) {
        for (const char* row : l.locking) turkishMain_ += Utf8ToWide(row);
        for (const char* row : l.single) turkishShift_ += Utf8ToWide(row);
      }
  }

  struct Message {
    std::vector<std::string> pdus;  // in part order
    WideString text;
    std::string sender;
  };

  Message Write(int reference, bool sixteenBit, int count, const char* sender, const std::string& senderField) {
    Message m;
    m.sender = sender;
    for (int k = 1; k <= count; ++k) {
      std::string concat = sixteenBit ? std::string{'\x08', '\x04', static_cast<char>(reference >> 8),
                                                    static_cast<char>(reference & 0xFF)}
                                      : std::string{'\x00', '\x03', static_cast<char>(reference)};
      concat += {static_cast<char>(count), static_cast<char>(k)};
      const std::size_t length = Pick(31);
      WideString text;
      std::string dcs, userData;
      int udl = 0;
      switch (Pick(5)) {
        case 0:
        case 1: {  // 7-bit, default alphabet; a class 1 DCS now and then
          dcs = Pick(2) ? "00" : "F1";
          std::vector<int> codes;
          while (text.size() < length) {
            if (Pick(8) == 0) {
              const auto& e = defaultShift_[Pick(defaultShift_.size())];
              codes.push_back(0x1B);
              codes.push_back(e.first);
              text.push_back(e.second);
            } else {
              const std::size_t code = Pick(defaultMain_.size());
              codes.push_back(static_cast<int>(code >= 0x1B ? code + 1 : code));
              text.push_back(defaultMain_[code]);
            }
          }
          SevenBit(concat, codes, userData, udl);
          break;
        }
        case 2: {  // 7-bit, Turkish locking and single shift, elements in either order
          dcs = "00";
          const std::string shifts = {'\x25', '\x01', '\x01', '\x24', '\x01', '\x01'};
          concat = Pick(2) ? concat + shifts : shifts + concat;
          std::vector<int> codes;
          while (text.size() < length) {
            const bool single = Pick(6) == 0;
            const WideString& table = single ? turkishShift_ : turkishMain_;
            const std::size_t code = Pick(128);
            if (code == 0x1B || code == 0x0D || table[code] == test::kNoCharacter) continue;
            if (single && turkishMain_.find(table[code]) != WideString::npos) continue;
            if (single) codes.push_back(0x1B);
            codes.push_back(static_cast<int>(code));
            text.push_back(table[code]);
          }
          SevenBit(concat, codes, userData, udl);
          break;
        }
        case 3: {  // 8-bit data, the octets as Latin-1 characters
          dcs = Pick(2) ? "04" : "F5";
          while (text.size() < length) {
            const auto octet = static_cast<unsigned char>(0x20 + Pick(0xE0));
            if (octet >= 0x7F && octet < 0xA0) continue;
            userData.push_back(static_cast<char>(octet));
            text.push_back(octet);
          }
          udl = static_cast<int>(concat.size() + 1 + userData.size());
          break;
        }
        default: {  // UCS2, a pair from the astral planes now and then
          dcs = Pick(2) ? "08" : "18";
          while (text.size() < length) {
            char16_t units[2] = {static_cast<char16_t>(0x20 + Pick(0xD7E0)), 0};
            if (Pick(8) == 0) {
              units[0] = static_cast<char16_t>(0xD800 + Pick(0x400));
              units[1] = static_cast<char16_t>(0xDC00 + Pick(0x400));
            }
            for (char16_t u : units)
              if (u != 0) {
                text.push_back(u);
                userData.push_back(static_cast<char>(u >> 8));
                userData.push_back(static_cast<char>(u & 0xFF));
              }
          }
          udl = static_cast<int>(concat.size() + 1 + userData.size());
          break;
        }
      }
      m.text += text;
      const std::string header = std::string(1, static_cast<char>(concat.size())) + concat;
      m.pdus.push_back("00" "44" + senderField + "00" + dcs + "91304151906280" +
                       test::ToHex(std::string(1, static_cast<char>(udl))) + test::ToHex(header) + test::ToHex(userData));
    }
    return m;
  }

  std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  std::mt19937& Random() { return random_; }

 private:
  // TS 23.038 6.1.2.1.1 bit by bit, after the header's fill bits.
  static void SevenBit(const std::string& elements, const std::vector<int>& codes, std::string& userData, int& udl) {
    const std::size_t headerBits = (elements.size() + 1) * 8;
    const std::size_t fill = (7 - headerBits % 7) % 7;
    userData.assign((fill + 7 * codes.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < codes.size(); ++i)
      for (std::size_t b = 0; b < 7; ++b)
        if (codes[i] & (1 << b)) {
          const std::size_t at = fill + 7 * i + b;
          userData[at / 8] = static_cast<char>(userData[at / 8] | (1 << (at % 8)));
        }
    udl = static_cast<int>((headerBits + fill) / 7 + codes.size());
  }

  std::mt19937 random_;
  WideString defaultMain_;
  std::vector<std::pair<int, char16_t>> defaultShift_;
  WideString turkishMain_, turkishShift_;
};

// Random long messages, 2 to 5 parts each choosing its coding scheme, from
// two senders that pick the same references, 8- and 16-bit alike, three at
// a time, their parts shuffled together: each message is reported once,
// whole, when its last part arrives, and nothing is left behind.
TEST(ReassemblyProperty, MixedCodingSchemesInRandomOrder) {
  MixedMessageWriter writer(20261210);
  const std::pair<const char*, std::string> senders[] = {{"+44770011223", kAlice}, {"+44770099887", kBob}};
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::vector<MixedMessageWriter::Message> messages;
    std::vector<std::pair<std::size_t, std::size_t>> arrivals;  // message, part
    for (std::size_t m = 0; m < 3; ++m) {
      const auto& sender = senders[writer.Pick(2)];
      // References 7 (8-bit), 8 (8-bit) and 7 (16-bit): the first and the
      // last differ only in the reference's size.
      messages.push_back(writer.Write(static_cast<int>(m % 2 + 7), m == 2, static_cast<int>(2 + writer.Pick(4)),
                                      sender.first, sender.second));
      for (std::size_t k = 0; k < messages.back().pdus.size(); ++k) arrivals.push_back({m, k});
    }
    std::shuffle(arrivals.begin(), arrivals.end(), writer.Random());
    Reassembler r;
    std::vector<std::size_t> left;
    for (const auto& m : messages) left.push_back(m.pdus.size());
    std::vector<int> reported(messages.size(), 0);
    for (const auto& [m, k] : arrivals) {
      const DecodedSMS d = r.Feed(messages[m].pdus[k]);
      ASSERT_EQ(d.Error, "") << messages[m].pdus[k];
      --left[m];
      if (left[m] > 0) {
        EXPECT_TRUE(d.Skip);
        continue;
      }
      ASSERT_FALSE(d.Skip);
      EXPECT_EQ(d.PhoneNumber, messages[m].sender);
      EXPECT_EQ(test::Utf8(d.Text), test::Utf8(messages[m].text));
      ++reported[m];
    }
    EXPECT_EQ(reported, std::vector<int>(messages.size(), 1));
    EXPECT_EQ(r.parts.Count(), 0);
  }
}

}  // namespace
}  // namespace vesk
