#include "engine/support/VellocMD5.h"

#include <nettle/md5.h>

namespace velloc {

TMD5Digest MD5Digest(std::string_view bytes)
{
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    TMD5Digest digest{};
    md5_digest(&context, digest.size(), digest.data());
    return digest;
}

std::string MD5Hex(const TMD5Digest& digest)
{
    constexpr char HexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const uint8_t byte : digest) {
        text += HexDigits[byte >> 4];
        text += HexDigits[byte & 0x0F];
    }
    return text;
}

} // namespace velloc
