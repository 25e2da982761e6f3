#include "support/date_time.h"

#include <gtest/gtest.h>

namespace tly {
namespace {

TEST(DateTime, DayZeroAndNeighbours) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2026, 12, 7), 46363.0);
  const CivilDate d = DecodeDate(0.75);
  EXPECT_EQ(d.Year, 1899);
  EXPECT_EQ(d.Month, 12);
  EXPECT_EQ(d.Day, 30);
  const CivilDate back = DecodeDate(46363.999);
  EXPECT_EQ(back.Year, 2026);
  EXPECT_EQ(back.Month, 12);
  EXPECT_EQ(back.Day, 7);
}

TEST(DateTime, LeapYearsAndValidation) {
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_FALSE(IsValidDate(2100, 2, 29));
  EXPECT_TRUE(IsValidDate(2024, 2, 29));
  EXPECT_FALSE(IsValidDate(2026, 13, 1));
  EXPECT_FALSE(IsValidDate(2026, 4, 31));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_THROW(EncodeDate(2026, 2, 29), std::invalid_argument);
  TDateTime out = 5;
  EXPECT_FALSE(TryEncodeDate(2026, 0, 1, out));
  EXPECT_EQ(out, 5);
  // Every valid day of four centuries round-trips through its day number.
  TDateTime previous = EncodeDate(1899, 12, 31);
  for (int y = 1900; y <= 2300; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int dd = 1; dd <= 31; ++dd) {
        if (!IsValidDate(y, m, dd)) continue;
        const TDateTime v = EncodeDate(y, m, dd);
        ASSERT_EQ(v, previous + 1) << y << "-" << m << "-" << dd;
        const CivilDate c = DecodeDate(v);
        ASSERT_TRUE(c.Year == y && c.Month == m && c.Day == dd);
        previous = v;
      }
}

TEST(DateTime, TimeOfDayNeverReachesMidnight) {
  const TDateTime last = EncodeDate(2026, 12, 7) + EncodeTime(23, 59, 59, 999);
  const TimeOfDay t = DecodeTime(last);
  EXPECT_EQ(t.Hour, 23);
  EXPECT_EQ(t.Minute, 59);
  EXPECT_EQ(t.Second, 59);
  EXPECT_EQ(t.Millisecond, 999);
  EXPECT_EQ(QuarterHourSlot(last), 95);
  // A fraction a hair below the next day must not round up to hour 24.
  EXPECT_EQ(QuarterHourSlot(46363.0 + 0.99999999999), 95);
  EXPECT_EQ(DecodeTime(46363.0 + 0.99999999999).Hour, 23);
  EXPECT_EQ(QuarterHourSlot(46363.0), 0);
  EXPECT_EQ(QuarterHourSlot(46363.0 + EncodeTime(10, 14, 59, 999)), 40);
  EXPECT_EQ(QuarterHourSlot(46363.0 + EncodeTime(10, 15, 0, 0)), 41);
  // Every even second of a day decodes to itself.
  for (int s = 0; s < 86400; s += 2) {
    const TimeOfDay d = DecodeTime(46363.0 + s / 86400.0);
    ASSERT_EQ(d.Hour * 3600 + d.Minute * 60 + d.Second, s);
    ASSERT_EQ(d.Millisecond, 0);
  }
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), std::invalid_argument);
}

TEST(DateTime, NamingAndNow) {
  EXPECT_EQ(FormatYyMmDd(EncodeDate(2026, 12, 7) + 0.5), "261207");
  EXPECT_EQ(FormatYyMmDd(EncodeDate(1991, 1, 2)), "910102");
  EXPECT_EQ(FormatYyMmDd(EncodeDate(2000, 2, 29)), "000229");
  const TDateTime now = SystemNow();
  EXPECT_GT(now, EncodeDate(2020, 1, 1));
  EXPECT_LT(now, EncodeDate(2200, 1, 1));
}

}  // namespace
}  // namespace tly
