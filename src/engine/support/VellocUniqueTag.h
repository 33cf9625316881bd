#ifndef VELLOC_UNIQUE_TAG_H
#define VELLOC_UNIQUE_TAG_H

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace velloc {

using TGuidBytes = std::array<uint8_t, 16>;
using TGuidSource = std::function<TGuidBytes()>;

// Replaces the system's GUID generator, so tests can fix the GUIDs the engine makes.
void SetGuidSource(TGuidSource source);
void ResetGuidSource();

// A fresh GUID from the current source.
TGuidBytes NewGuid();

// Eight lowercase hexadecimal characters: the start of the MD5 digest of a fresh GUID's 16
// bytes followed by the current local time as days since 30 December 1899 (DaysText).
std::string NewUniqueTag();

} // namespace velloc

#endif
