// TDateTime: days since 1899-12-30, and the injectable clock.
#include <gtest/gtest.h>

#include <thread>

#include "component/Framework.h"

namespace vesk {
namespace {

TEST(EncodeDate, CountsDaysFromTheEpoch) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(EncodeDate(2019, 3, 14), 43538);
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 29), -1);
}

TEST(EncodeDate, RaisesOnInvalidDates) {
  EXPECT_THROW(EncodeDate(2019, 2, 29), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2020, 2, 29));
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);  // not a leap year
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));              // a leap year
  EXPECT_THROW(EncodeDate(2019, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2019, 0, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2019, 4, 31), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
}

TEST(EncodeTime, IsAFractionOfADayAndRaisesOutOfRange) {
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_THROW(EncodeDateTime(2019, 3, 14, 25, 0, 0, 0), EConvertError);
}

TEST(DecodeDate, InvertsEncodeDateAcrossCenturiesAndLeapDays) {
  const int dates[][3] = {{1899, 12, 30}, {1900, 2, 28}, {1900, 3, 1}, {1996, 2, 29}, {2000, 2, 29},
                          {2000, 12, 31}, {2019, 3, 14}, {2095, 1, 1}, {2100, 3, 1}, {1, 1, 1}, {9999, 12, 31}};
  for (const auto& d : dates) {
    int y, m, day;
    DecodeDate(EncodeDate(d[0], d[1], d[2]), y, m, day);
    EXPECT_EQ(y, d[0]);
    EXPECT_EQ(m, d[1]);
    EXPECT_EQ(day, d[2]);
  }
}

TEST(DecodeTime, InvertsEncodeDateTime) {
  TDateTime t = EncodeDateTime(2019, 3, 14, 15, 9, 26, 0);
  int h, m, s, ms;
  DecodeTime(t, h, m, s, ms);
  EXPECT_EQ(h, 15);
  EXPECT_EQ(m, 9);
  EXPECT_EQ(s, 26);
  EXPECT_EQ(ms, 0);
  EXPECT_EQ(DateToStr(t), "2019-03-14");
  EXPECT_EQ(TimeToStr(t), "15:09:26");
}

TEST(Clock, ScaledClockShortensSleepsAndAdvancesNowInProportion) {
  auto clock = std::make_shared<ScaledClock>(100);
  SetClock(clock);
  TDateTime before = Now();
  auto realStart = std::chrono::steady_clock::now();
  Sleep(2000);  // 20 ms of real time
  auto realMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realStart).count();
  double clockMs = (Now() - before) * MSecsPerDay;
  SetClock(nullptr);
  EXPECT_LT(realMs, 1000);
  EXPECT_GE(clockMs, 1900);
}

TEST(Clock, ManualClockMovesOnlyWhenToldOrSlept) {
  auto clock = std::make_shared<ManualClock>(EncodeDate(2020, 1, 1));
  SetClock(clock);
  TDateTime a = Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_DOUBLE_EQ(Now(), a);
  Sleep(1000);
  EXPECT_NEAR((Now() - a) * 86400.0, 1.0, 1e-6);
  clock->Advance(60000);
  EXPECT_NEAR((Now() - a) * 86400.0, 61.0, 1e-6);
  SetClock(nullptr);
}

TEST(Random, StaysInRange) {
  Randomize();
  for (int i = 0; i < 1000; ++i) {
    int r = Random(255);
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 254);
  }
  EXPECT_EQ(Random(0), 0);
}

}  // namespace
}  // namespace vesk
