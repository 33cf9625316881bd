#ifndef PAGEWELL_TESTS_PNG_SUITE_FILES_H
#define PAGEWELL_TESTS_PNG_SUITE_FILES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace velloc::testing {

// The path of a PngSuite fixture, by its name without ".png".
inline std::string SuitePath(const std::string& name)
{
    return std::string(PAGEWELL_TEST_DATA) + "/pngsuite/" + name + ".png";
}

inline std::string SuiteFile(const std::string& name)
{
    std::ifstream file(SuitePath(name), std::ios::binary);
    EXPECT_TRUE(file.good()) << SuitePath(name);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline uint32_t ReadBigEndian32(const std::string& bytes, size_t at)
{
    return (uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
           (uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
           (uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
           uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

// The data of every IDAT chunk of a well-formed file, in file order.
inline std::string ConcatenatedIdat(const std::string& png)
{
    std::string data;
    for (size_t at = 8; at + 8 <= png.size();) {
        const uint32_t length = ReadBigEndian32(png, at);
        if (png.compare(at + 4, 4, "IDAT") == 0) {
            data += png.substr(at + 8, length);
        }
        at += 12 + length;
    }
    return data;
}

} // namespace velloc::testing

#endif
