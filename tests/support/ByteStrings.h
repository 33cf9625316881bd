#ifndef PAGEWELL_TEST_BYTE_STRINGS_H
#define PAGEWELL_TEST_BYTE_STRINGS_H

#include <initializer_list>
#include <string>

// A byte string from byte values, for expected bytes written as numbers.
inline std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (const int value : values) {
        bytes += static_cast<char>(value);
    }
    return bytes;
}

#endif
