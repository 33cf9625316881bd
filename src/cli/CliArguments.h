#ifndef PAGEWELL_CLI_ARGUMENTS_H
#define PAGEWELL_CLI_ARGUMENTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pagewell {

// The command line of pagewell-cli, texts still as the UTF-8 bytes they came in.
struct TCliArguments
{
    std::string Output;
    std::string Title;
    std::string Author;
    std::string Subject;
    std::string Keywords;
    // 24-bit colour with red in the lowest byte, as the conversion takes it.
    uint32_t BackgroundColor = 0xFFFFFF;
    bool Thumbnails = false;
    bool Quiet = false;
    bool Help = false;
    std::vector<std::string> Inputs;
};

struct TCliParseResult
{
    TCliArguments Arguments;
    // Empty when the command line is usable.
    std::string Error;
};

// Options take their value as the next argument or after "=" ("--title=T"); "--" ends the
// options. With --help nothing else is required.
TCliParseResult ParseCliArguments(const std::vector<std::string>& arguments);

// "RRGGBB" (hexadecimal, either case, an optional leading '#') as a colour with red in the
// lowest byte; empty for anything else.
std::optional<uint32_t> ParseBackgroundColor(std::string_view text);

extern const char* const CliUsage;

} // namespace pagewell

#endif
