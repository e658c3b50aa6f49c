// The pending set of sent messages and the pairing of reports with their
// parts, with the time given by the test.
#include "incoming/Pairing.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

constexpr TDateTime kSent = 45000.0;
constexpr TDateTime kSecond = 1.0 / 86400;

TEST(Pairing, EveryPartFinalCompletesTheMessageOnce) {
  TPendingMessages pending;
  pending.Add("+15550100", {7, 8}, kSent);
  TPairing first = pending.Report(8, "+15550100", 0x00, kSent + kSecond);
  EXPECT_TRUE(first.Paired);
  EXPECT_FALSE(first.Completed);
  TPairing second = pending.Report(7, "+15550100", 0x01, kSent + 2 * kSecond);
  EXPECT_TRUE(second.Completed);
  EXPECT_EQ(second.Recipient, "+15550100");
  EXPECT_EQ(second.References, (std::vector<int>{7, 8}));
  EXPECT_EQ(second.Outcome, moDelivered);
  EXPECT_EQ(second.DecidingStatus, 0x01);  // the last report's
  EXPECT_EQ(pending.Count(), 0u);
  EXPECT_FALSE(pending.Report(7, "+15550100", 0x00, kSent + 3 * kSecond).Paired);
}

TEST(Pairing, OutcomesOfMixedParts) {
  EXPECT_EQ(OutcomeOf({0x00, 0x02, 0x10}), moDelivered);
  EXPECT_EQ(OutcomeOf({0x00, 0x46}), moExpired);
  EXPECT_EQ(OutcomeOf({0x46, 0x41}), moFailed);  // a failure beats an expiry
  EXPECT_EQ(OutcomeOf({0x00, 0x65}), moFailed);  // the SC gave up
  EXPECT_EQ(OutcomeOf({0xC0}), moFailed);        // reserved: service rejected
}

TEST(Pairing, TheDecidingStatusIsTheFailedPartsOne) {
  TPendingMessages pending;
  pending.Add("+15550100", {1, 2, 3}, kSent);
  pending.Report(1, "+15550100", 0x46, kSent);
  pending.Report(2, "+15550100", 0x43, kSent);
  const TPairing last = pending.Report(3, "+15550100", 0x00, kSent);
  EXPECT_EQ(last.Outcome, moFailed);
  EXPECT_EQ(last.DecidingStatus, 0x43);
}

TEST(Pairing, ATemporaryStatusKeepsThePartOpen) {
  TPendingMessages pending;
  pending.Add("+15550100", {9}, kSent);
  EXPECT_FALSE(pending.Report(9, "+15550100", 0x20, kSent).Completed);
  EXPECT_FALSE(pending.Report(9, "+15550100", 0x3F, kSent).Completed);
  EXPECT_TRUE(pending.Report(9, "+15550100", 0x00, kSent).Completed);
}

TEST(Pairing, TheNewestOpenPartFirstWhenAReferenceComesRoundAgain) {
  TPendingMessages pending;
  pending.Add("+15550100", {0}, kSent);                // A
  pending.Add("+15550100", {255}, kSent + kSecond);    // B
  pending.Add("+15550100", {0}, kSent + 2 * kSecond);  // C, after the wrap
  TPairing r = pending.Report(0, "+15550100", 0x00, kSent + 3 * kSecond);
  ASSERT_TRUE(r.Completed);
  EXPECT_EQ(pending.Count(), 2u);  // C went; A and B wait
  r = pending.Report(0, "+15550100", 0x41, kSent + 4 * kSecond);
  ASSERT_TRUE(r.Completed);
  EXPECT_EQ(r.Outcome, moFailed);  // A's
  EXPECT_TRUE(pending.Report(255, "+15550100", 0x00, kSent + 5 * kSecond).Completed);
}

TEST(Pairing, AMessageSentAfterTheReportArrivedIsNotItsMessage) {
  TPendingMessages pending;
  pending.Add("+15550100", {4}, kSent + 10 * kSecond);
  EXPECT_FALSE(pending.Report(4, "+15550100", 0x00, kSent).Paired);
}

TEST(Pairing, RecipientsInAnotherForm) {
  TPendingMessages pending;
  pending.Add("+4915259911630", {4, 5}, kSent);
  EXPECT_FALSE(pending.Report(4, "+4915259911631", 0x00, kSent).Paired);
  EXPECT_TRUE(pending.Report(4, "9911630", 0x00, kSent).Paired);  // national
  EXPECT_TRUE(pending.Report(5, "004915259911630", 0x00, kSent).Completed);
}

TEST(Pairing, TheLimitDropsTheOldest) {
  TPendingMessages pending(2);
  pending.Add("+1555", {1}, kSent);
  pending.Add("+1555", {2}, kSent);
  pending.Add("+1555", {3}, kSent);
  EXPECT_EQ(pending.Count(), 2u);
  EXPECT_FALSE(pending.Report(1, "+1555", 0, kSent).Paired);
  pending.SetLimit(0);
  EXPECT_EQ(pending.Count(), 0u);
  pending.Add("+1555", {4}, kSent);
  EXPECT_EQ(pending.Count(), 0u);
}

TEST(Pairing, MessagesThatCannotBePairedAreNotKept) {
  TPendingMessages pending;
  pending.Add("+15550100", {}, kSent);
  pending.Add("+15550100", {3, -1}, kSent);  // a part accepted without a reference
  pending.Add("+15550100", {256}, kSent);
  EXPECT_EQ(pending.Count(), 0u);
}

}  // namespace
}  // namespace vesk
