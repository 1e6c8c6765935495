#include <gtest/gtest.h>

#include <string>

#include "runtime/format/dates.hpp"
#include "runtime/format/intl_settings.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/conversions.hpp"

namespace vtn {
namespace {

std::string serial_text(int32_t serial) {
  return std::to_string(serial);
}
int32_t time_serial(int h, int m, int s = 0) {
  return h * 360000 + m * 6000 + s * 100 + 1;
}

class PictureDeformat : public ::testing::Test {
 protected:
  void SetUp() override { set_century_window_year(2026); }
  void TearDown() override {
    set_century_window_year(0);
    intl_settings() = IntlSettings{};
    build_locale_pictures();
  }
};

TEST_F(PictureDeformat, Numbers) {
  const struct {
    const char* picture;
    const char* text;
    const char* expected;
  } cases[] = {
      // A blank digit cell reads as "0"; the sign may stand in any sign, digit or grouping cell.
      {"@N(12.2)", "  (1,234.50)", "-01234.50"},
      {"@N-12.2", "   -1,234.50", "-01234.50"},
      {"@N12.2-", "   1,234.50-", "-001234.50"},
      {"@N12.2", "    1,234.50", "0001234.50"},
      {"@N12.2", "   +1,234.50", "001234.50"},
      {"@N$12.2", "   $1,234.50", "01234.50"},
      {"@N010", "0000000042", "0000000042"},
      {"@N6v2", " 12345", "123.45"},
      {"@N12.2", "12", "12"},  // shorter than the picture: read as far as it goes
      {"@N12.2", "", ""},
      {"@N6", "ab,c-d", "-"},
      {"@E12.1", " 1.2345E+003", "1.2345e+003"},
      {"@E12.1", "-1.2345E-004", "-1.2345e-004"},
      {"@P(###)###-####P", "(555)123-4567", "5551234567"},
      {"@P<<#P", "  5", "005"},
      {"@K##-@@K", "12-ab", "12ab"},
      {"@K##-@@K", "-2-ab", "2ab"},
      {"@N255", "123", ""},
      // @S keeps a number's characters only.
      {"@S20", " -1.5e+3x", "-1.5e+3"},
      {"@S20", "12 345.6.7", "12345.67"},
      {"@S20", "1-2", "12"},
      {"@S20", "2E-3e4", "2E-34"},
      {"@S3", "12345", "123"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(deformat_picture(c.text, c.picture), c.expected);
  }
}

TEST_F(PictureDeformat, NumbersRoundTrip) {
  const struct {
    const char* picture;
    double value;
    double shown;  // the value as the picture rounds it
  } cases[] = {
      {"@N(12.2)", -1234.5, -1234.5}, {"@N-12.2", 1234.567, 1234.57},
      {"@N12.2-", -0.5, -0.5},        {"@N$-15.3", -98765.4321, -98765.432},
      {"@N*12.2", 1234.5, 1234.5},    {"@N_12`2", 1234.5, 1234.5},
      {"@N6v2", 123.45, 123.45},      {"@N-6v2", -0.05, -0.05},
      {"@E12.1", -1234.5, -1234.5},   {"@E15_.4", 0.000125, 0.000125},
      {"@N~EUR~-10.2", -12.5, -12.5}, {"@P<<<#P", 42, 42},
      {"@E12.0", -1234.5, -1234.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    const std::string shown = format_picture(c.value, c.picture);
    const std::string plain = deformat_picture(shown, c.picture);
    SCOPED_TRACE(shown + " -> " + plain);
    EXPECT_DOUBLE_EQ(text_to_real(plain), c.shown);
  }
}

TEST_F(PictureDeformat, Dates) {
  const struct {
    const char* picture;
    const char* text;
    int32_t expected;
  } cases[] = {
      {"@D1", " 1/05/30", DATE(1, 5, 2030)},
      {"@D1>2", " 1/05/30", DATE(1, 5, 1930)},
      {"@D1<20", " 1/05/05", DATE(1, 5, 2105)},
      {"@D1", " 1/05/46", DATE(1, 5, 1946)},
      {"@D1", "1/5/24", DATE(1, 5, 2024)},
      {"@D1.", " 1.05.24", DATE(1, 5, 2024)},
      {"@D2", "12/31/1999", DATE(12, 31, 1999)},
      {"@D3", "OCT 31,1959", DATE(10, 31, 1959)},
      {"@D3", "oct 31,1959", DATE(10, 31, 1959)},
      {"@D4", "October 31, 1959     ", DATE(10, 31, 1959)},
      {"@D4", "May  5, 2024", DATE(5, 5, 2024)},
      {"@D6", "31/02/2024", DATE(3, 2, 2024)},  // the day carries into March
      {"@D7", "31 OCT 59", DATE(10, 31, 1959)},
      {"@D12", "19591031", DATE(10, 31, 1959)},
      {"@D13", "10/59", DATE(10, 1, 1959)},
      {"@D16", "1959/10", DATE(10, 1, 1959)},
      {"@D13", "  /  ", 0},
      {"@D1", "", 0},
      {"@D1", "  /  /  ", 0},
      {"@D3", "XYZ 31,1959", DATE(0, 31, 1959)},  // no month: no date
      {"@D1", "13/45/24", DATE(13, 45, 2024)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(deformat_picture(c.text, c.picture), serial_text(c.expected));
  }
}

TEST_F(PictureDeformat, Times) {
  const struct {
    const char* picture;
    const char* text;
    int32_t expected;
  } cases[] = {
      {"@T1", "13:05", time_serial(13, 5)},
      {"@T1", " 1:05", time_serial(1, 5)},
      {"@T3", " 1:05PM", time_serial(13, 5)},
      {"@T3", " 1:05pm", time_serial(13, 5)},
      {"@T3", "12:30AM", time_serial(0, 30)},
      {"@T3", "12:00PM", time_serial(12, 0)},
      {"@T3", "11:59AM", time_serial(11, 59)},
      {"@T4", "13:05:09", time_serial(13, 5, 9)},
      {"@T5", "130509", time_serial(13, 5, 9)},
      {"@T6", "11:59:59PM", time_serial(23, 59, 59)},
      {"@T4", "1:5:9", time_serial(1, 5, 9)},
      {"@T4", "24:00:00", -1},
      {"@T4", "13:60:00", -1},
      {"@T4", "13:00:60", -1},
      {"@T4", "00:00:00", 0},
      {"@T1", "", 0},
      {"@T3", "12:00AM", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.picture);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(deformat_picture(c.text, c.picture), serial_text(c.expected));
  }
}

TEST_F(PictureDeformat, LocalePicturesReadTheirOwnMarks) {
  intl_settings().s_short_date = "dd.MM.yyyy";
  intl_settings().s1159 = "a";
  intl_settings().s2359 = "p";
  build_locale_pictures();
  EXPECT_EQ(deformat_picture("05.01.2024", "@D17"), serial_text(DATE(1, 5, 2024)));
  EXPECT_EQ(deformat_picture("01:05 p ", "@T7"), serial_text(time_serial(13, 5)));
  EXPECT_EQ(deformat_picture("October 31, 1959", "@D18"), serial_text(DATE(10, 31, 1959)));
}

// Whatever FORMAT shows, DEFORMAT reads back.
TEST_F(PictureDeformat, DatesAndTimesRoundTrip) {
  const char* date_pictures[] = {"@D1",  "@D2",   "@D3",  "@D4",  "@D5",  "@D6",
                                 "@D7",  "@D8",   "@D9",  "@D10", "@D11", "@D12",
                                 "@D2-", "@D017", "@D18", "@D6_", "@D8`"};
  const int32_t dates[] = {DATE(1, 1, 1990), DATE(10, 31, 2031), DATE(2, 29, 2000),
                           DATE(12, 9, 1981)};
  for (const char* picture : date_pictures) {
    for (int32_t serial : dates) {
      SCOPED_TRACE(testing::Message() << picture << " " << serial);
      EXPECT_EQ(deformat_picture(format_picture(serial, picture), picture), serial_text(serial));
    }
  }
  const char* time_pictures[] = {"@T4", "@T5", "@T6", "@T8", "@T06.", "@T4-"};
  const int32_t times[] = {time_serial(0, 0, 1), time_serial(12, 0), time_serial(23, 59, 59),
                           time_serial(9, 30, 15)};
  for (const char* picture : time_pictures) {
    for (int32_t serial : times) {
      SCOPED_TRACE(testing::Message() << picture << " " << serial);
      EXPECT_EQ(deformat_picture(format_picture(serial, picture), picture), serial_text(serial));
    }
  }
}

}  // namespace
}  // namespace vtn
