#include "engine/support/VellocNumberText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

using namespace velloc;

namespace {

struct TNumberCase
{
    double Value;
    const char* Text;
};

const TNumberCase NumberCases[] = {
    {612, "612"},
    {0.5, "0.5"},
    {0.1 + 0.2, "0.3"},
    {1.0 / 3.0, "0.3333"},
    {2.0 / 3.0, "0.6667"},
    {-2.0 / 3.0, "-0.6667"},
    {0.99995, "1"},
    {-0.99995, "-1"},
    {9.99995, "10"},
    {-0.00004, "0"},
    {-0.00005, "-0.0001"},
    {0.00005, "0.0001"},
    {-0.0, "0"},
    {0.0, "0"},
    {12.5, "12.5"},
    {12.30, "12.3"},
    {841.88976, "841.8898"},
    {595.27559, "595.2756"},
    {0.00001, "0"},
    {1e-300, "0"},
    {-7, "-7"},
    {100, "100"},
    {1000.00004, "1000"},
    {2147483647, "2147483647"},
    {-2147483648.0, "-2147483648"},
    {9007199254740992.0, "9007199254740992"},
    {123456789012345678.0, "123456789012345680"},
    {1e17, "100000000000000000"},
    {1e20, "100000000000000000000"},
    {-1.5e18, "-1500000000000000000"},
    {123456.78905, "123456.7891"},
    // The exact double is 1846.857349999999996..., whose 18-digit expansion 1846.85735000000000
    // rounds up: the rounding works on that expansion, not on the exact binary value.
    {1846.85735, "1846.8574"},
    {std::numeric_limits<double>::quiet_NaN(), "0"},
    {std::numeric_limits<double>::infinity(), "0"},
};

void ExpectNumberTable()
{
    for (const TNumberCase& row : NumberCases) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(FormatNumber(row.Value), row.Text);
        std::string appended = "x ";
        AppendNumber(appended, row.Value);
        EXPECT_EQ(appended, std::string("x ") + row.Text);
    }
}

// A numeric facet with a decimal comma and dots grouping thousands, as many locales have.
class TCommaNumpunct : public std::numpunct<char>
{
  protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

} // namespace

TEST(VellocNumberText, FormatsTheTable)
{
    ExpectNumberTable();
}

TEST(VellocNumberText, IgnoresADecimalCommaLocale)
{
    const std::locale previous = std::locale::global(
        std::locale(std::locale::classic(), new TCommaNumpunct)); // the locale owns the facet
    const std::string previousC = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (std::setlocale(LC_ALL, name)) {
            break;
        }
    }
    // The facet is in force: the standard streams would write a comma now.
    std::ostringstream probe;
    probe << 1234.5;
    EXPECT_EQ(probe.str(), "1.234,5");

    ExpectNumberTable();

    std::setlocale(LC_ALL, previousC.c_str());
    std::locale::global(previous);
}

TEST(VellocNumberText, HonoursOtherPrecisions)
{
    EXPECT_EQ(FormatNumber(1.0 / 3.0, 2), "0.33");
    EXPECT_EQ(FormatNumber(0.995, 2), "0.99"); // 0.994999999999999995559...: below the half
    EXPECT_EQ(FormatNumber(2.5, 0), "3");
    EXPECT_EQ(FormatNumber(-0.4, 0), "0");
    EXPECT_EQ(FormatNumber(0.125, 6), "0.125");
    EXPECT_EQ(FormatNumber(0.1, 20), "0.100000000000000006"); // all 18 digits show
    EXPECT_EQ(FormatNumber(1.0 / 3.0, -3), "0");
}

TEST(VellocNumberText, RoundsByTheNamedRule)
{
    const struct
    {
        double Value;
        double HalfEven;
        double HalfAway;
    } rows[] = {
        {0.5, 0, 1},    {1.5, 2, 2}, {2.5, 2, 3},    {-0.5, -0, -1},
        {-2.5, -2, -3}, {2.4, 2, 2}, {-2.6, -3, -3}, {7, 7, 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Value);
        EXPECT_EQ(RoundHalfEven(row.Value), row.HalfEven);
        EXPECT_EQ(RoundHalfAwayFromZero(row.Value), row.HalfAway);
    }
}

TEST(VellocNumberText, ClampsOutOfRangeValues)
{
    EXPECT_EQ(ClampToInt32(1e10), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ClampToInt32(-1e10), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ClampToInt32(std::nan("")), 0);
    EXPECT_EQ(ClampToInt32(-7.9), -7);
    EXPECT_EQ(ClampToInt32(2147483647.0), 2147483647);
    EXPECT_EQ(ClampToInt64(1e19), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ClampToInt64(-1e19), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ClampToInt64(9007199254740993.0), 9007199254740992);
    EXPECT_EQ(ClampToInt64(std::numeric_limits<double>::infinity()),
              std::numeric_limits<int64_t>::max());
}
