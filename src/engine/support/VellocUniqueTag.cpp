#include "engine/support/VellocUniqueTag.h"

#include "engine/support/VellocDate.h"
#include "engine/support/VellocMD5.h"
#include "engine/support/VellocReplaceableSource.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <uuid/uuid.h>

namespace velloc {

namespace {

TGuidBytes SystemGuid()
{
    uuid_t uuid;
    uuid_generate(uuid);
    TGuidBytes bytes{};
    std::copy(std::begin(uuid), std::end(uuid), bytes.begin());
    return bytes;
}

TReplaceableSource<TGuidBytes>& Guids()
{
    static TReplaceableSource<TGuidBytes> guids(SystemGuid);
    return guids;
}

} // namespace

void SetGuidSource(TGuidSource source)
{
    Guids().Replace(std::move(source));
}

void ResetGuidSource()
{
    Guids().Replace(nullptr);
}

TGuidBytes NewGuid()
{
    return Guids().Read();
}

std::string NewUniqueTag()
{
    const TGuidBytes guid = NewGuid();
    std::string input(reinterpret_cast<const char*>(guid.data()), guid.size());
    input += CurrentDaysText();
    return MD5Hex(MD5Digest(input)).substr(0, 8);
}

} // namespace velloc
