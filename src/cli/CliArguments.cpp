#include "cli/CliArguments.h"

#include "engine/VellocSyntax.h"

#include <cstddef>

namespace pagewell {

const char* const CliUsage =
    "Usage: pagewell-cli -o OUT.pdf [options] INPUT...\n"
    "Turns PNG images into one PDF document, one image per page, each page as large as its\n"
    "image at the image's resolution (72 dpi when the file names none).\n"
    "\n"
    "An INPUT is a PNG file or a folder; a folder gives its PNG files (by extension), sorted\n"
    "by name, without its subfolders.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     the PDF file to write (required)\n"
    "      --title TEXT      document title\n"
    "      --author TEXT     document author\n"
    "      --subject TEXT    document subject\n"
    "      --keywords TEXT   document keywords\n"
    "      --background RRGGBB\n"
    "                        colour behind transparent areas (default FFFFFF, white)\n"
    "      --thumbnails      open the document with the thumbnails panel\n"
    "      --quiet           no progress display\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "Exit status: 0 when every input became a page, 1 when the PDF was written but some\n"
    "inputs failed, 2 when nothing was written.\n";

std::optional<uint32_t> ParseBackgroundColor(std::string_view text)
{
    if (!text.empty() && text.front() == '#') {
        text.remove_prefix(1);
    }
    if (text.size() != 6) {
        return std::nullopt;
    }
    uint32_t rgb = 0;
    for (const char c : text) {
        const int value = velloc::HexDigitValue(c);
        if (value < 0) {
            return std::nullopt;
        }
        rgb = (rgb << 4) | static_cast<uint32_t>(value);
    }
    // RRGGBB reads red in the highest byte; the conversion wants it in the lowest.
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

TCliParseResult ParseCliArguments(const std::vector<std::string>& arguments)
{
    TCliParseResult result;
    TCliArguments& parsed = result.Arguments;
    bool outputGiven = false;
    bool optionsEnded = false;

    struct TTextOption
    {
        std::string_view Name;
        std::string TCliArguments::*Field;
    };
    const TTextOption textOptions[] = {
        {"-o", &TCliArguments::Output},
        {"--output", &TCliArguments::Output},
        {"--title", &TCliArguments::Title},
        {"--author", &TCliArguments::Author},
        {"--subject", &TCliArguments::Subject},
        {"--keywords", &TCliArguments::Keywords},
        {"--background", nullptr},
    };

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.Inputs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            parsed.Help = true;
            continue;
        }
        if (argument == "--thumbnails") {
            parsed.Thumbnails = true;
            continue;
        }
        if (argument == "--quiet") {
            parsed.Quiet = true;
            continue;
        }

        const size_t equals = argument.find('=');
        const std::string_view name = std::string_view(argument).substr(0, equals);
        const TTextOption* option = nullptr;
        for (const TTextOption& candidate : textOptions) {
            if (candidate.Name == name && (equals == std::string::npos || name.size() > 2)) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            result.Error = "unknown option '" + argument + "'";
            return result;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            result.Error = "option '" + argument + "' needs a value";
            return result;
        }

        if (option->Field == nullptr) {
            const std::optional<uint32_t> color = ParseBackgroundColor(value);
            if (!color) {
                result.Error =
                    "--background wants six hexadecimal digits RRGGBB, not '" + value + "'";
                return result;
            }
            parsed.BackgroundColor = *color;
        } else {
            parsed.*(option->Field) = value;
            outputGiven = outputGiven || option->Field == &TCliArguments::Output;
        }
    }

    if (parsed.Help) {
        return result;
    }
    if (!outputGiven || parsed.Output.empty()) {
        result.Error = "no output file given (-o OUT.pdf)";
    } else if (parsed.Inputs.empty()) {
        result.Error = "no input given";
    }
    return result;
}

} // namespace pagewell
