#include "engine/support/VellocMD5.h"

#include <gtest/gtest.h>

using namespace velloc;

TEST(VellocMD5, DigestsMatchTheReferenceValues)
{
    using namespace std::string_literals;
    const struct
    {
        std::string Input;
        const char* Hex;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
        {"\0"s, "93b885adfe0da089cdf634904fd59f71"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Hex);
        EXPECT_EQ(MD5Hex(MD5Digest(row.Input)), row.Hex);
    }
}

TEST(VellocMD5, HexWritesHighNibbleFirstInLowercase)
{
    TMD5Digest digest{};
    digest[0] = 0xAB;
    digest[1] = 0x0F;
    digest[15] = 0xF0;
    EXPECT_EQ(MD5Hex(digest), "ab0f00000000000000000000000000f0");
}
