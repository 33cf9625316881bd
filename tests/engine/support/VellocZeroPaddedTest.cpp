#include "engine/support/VellocZeroPadded.h"

#include <gtest/gtest.h>

#include <limits>

using namespace velloc;

TEST(VellocZeroPadded, PadsToTheWidth)
{
    const struct
    {
        int32_t Value;
        int Width;
        const char* Text;
    } rows[] = {
        {15, 10, "0000000015"},
        {65535, 5, "65535"},
        {-1, 5, "00000"},
        {0, 5, "00000"},
        {123456, 3, "123456"},
        {7, 0, "7"},
        {-7, 0, ""},
        {7, -3, "7"},
        {std::numeric_limits<int32_t>::max(), 12, "002147483647"},
        {std::numeric_limits<int32_t>::min(), 2, "00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(ZeroPadded(row.Value, row.Width), row.Text);
    }
}
