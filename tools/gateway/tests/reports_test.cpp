// Pairing a delivery report with the part it is about: the reference
// wraps after 255, so the recipient and the time decide.
#include <gtest/gtest.h>

#include "tools/gateway/Reports.h"

namespace vesk::gateway {
namespace {

constexpr Millis kT0 = 1714564800000;
constexpr Millis kMinute = 60000;

StatusReport Report(int reference, const std::string& recipient, Millis submitted) {
  StatusReport r;
  r.modem = "m1";
  r.reference = reference;
  r.recipient = recipient;
  r.submitted = submitted;
  r.received = submitted + 5000;
  return r;
}

TEST(PairReport, TheReferenceWrappedTheClosestSendIsTheOne) {
  // Reference 7 was used three times as the modem went round 0..255.
  const std::vector<PartCandidate> candidates = {
      {30, 1, "+15550123", kT0 + 20 * kMinute, "sent"},
      {20, 1, "+15550123", kT0 + 10 * kMinute, "sent"},
      {10, 1, "+15550123", kT0, "sent"},
  };
  EXPECT_EQ(PairReport(Report(7, "+15550123", kT0 + 10 * kMinute + 2000), candidates)->messageId, 20);
  EXPECT_EQ(PairReport(Report(7, "+15550123", kT0 - 3000), candidates)->messageId, 10);
  EXPECT_EQ(PairReport(Report(7, "+15550123", kT0 + 19 * kMinute), candidates)->messageId, 30);
}

TEST(PairReport, TheRecipientMustBeThePartsInAnyForm) {
  const std::vector<PartCandidate> candidates = {
      {1, 1, "+491701234567", kT0, "sent"},
      {2, 2, "+15550123", kT0 + 1000, "sent"},
  };
  EXPECT_EQ(PairReport(Report(9, "01701234567", kT0 + 900), candidates)->messageId, 1) << "national form";
  EXPECT_EQ(PairReport(Report(9, "0015550123", kT0), candidates)->messageId, 2) << "international prefix";
  EXPECT_FALSE(PairReport(Report(9, "+15550999", kT0), candidates));
}

TEST(PairReport, NothingADayAwayOrWithoutCandidates) {
  const std::vector<PartCandidate> candidates = {{1, 1, "+15550123", kT0, "sent"}};
  EXPECT_FALSE(PairReport(Report(9, "+15550123", kT0 + 86400001), candidates));
  EXPECT_TRUE(PairReport(Report(9, "+15550123", kT0 + 86400000), candidates));
  EXPECT_FALSE(PairReport(Report(9, "+15550123", kT0), {}));
}

TEST(PairReport, WithoutACentreTimeTheArrivalTimeCounts) {
  const std::vector<PartCandidate> candidates = {
      {1, 1, "+15550123", kT0, "sent"},
      {2, 1, "+15550123", kT0 + 30 * kMinute, "sent"},
  };
  StatusReport r = Report(4, "+15550123", 0);
  r.received = kT0 + 31 * kMinute;
  EXPECT_EQ(PairReport(r, candidates)->messageId, 2);
}

TEST(PairReport, ACentreClockFarOffFallsBackToTheArrivalTime) {
  const std::vector<PartCandidate> candidates = {
      {1, 1, "+15550123", kT0, "sent"},
      {2, 1, "+15550123", kT0 + 30 * kMinute, "sent"},
  };
  StatusReport r = Report(4, "+15550123", kT0 - 5 * 365 * 86400000LL);  // years behind
  r.received = kT0 + 31 * kMinute;
  EXPECT_EQ(PairReport(r, candidates)->messageId, 2);
  r.received = kT0 + 3 * 86400000LL;
  EXPECT_FALSE(PairReport(r, candidates)) << "neither time is near a send";
}

}  // namespace
}  // namespace vesk::gateway
