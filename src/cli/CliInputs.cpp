#include "cli/CliInputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace pagewell {

namespace {

bool HasPngExtension(const std::string& name)
{
    constexpr std::string_view Extension = ".png";
    if (name.size() <= Extension.size()) {
        return false;
    }
    const std::string_view tail = std::string_view(name).substr(name.size() - Extension.size());
    return std::equal(tail.begin(), tail.end(), Extension.begin(), [](char a, char b) {
        // ASCII only: file names are bytes, and the locale must not decide what matches.
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

void ExpandFolder(const std::string& input, TExpandedInputs& expanded)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(input, error);
    if (error) {
        expanded.Problems.push_back({input, error.message()});
        return;
    }
    std::vector<std::string> names;
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        std::error_code typeError;
        if (entry.is_regular_file(typeError) && HasPngExtension(entry.path().filename().string())) {
            names.push_back(entry.path().filename().string());
        }
    }
    if (error) {
        expanded.Problems.push_back({input, error.message()});
        return;
    }
    if (names.empty()) {
        expanded.Problems.push_back({input, "no PNG files in this folder"});
        return;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        expanded.Files.push_back((std::filesystem::path(input) / name).string());
    }
}

} // namespace

TExpandedInputs ExpandInputs(const std::vector<std::string>& inputs)
{
    TExpandedInputs expanded;
    for (const std::string& input : inputs) {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(input, error);
        if (status.type() == std::filesystem::file_type::not_found) {
            expanded.Problems.push_back({input, "no such file or folder"});
        } else if (error) {
            expanded.Problems.push_back({input, error.message()});
        } else if (status.type() == std::filesystem::file_type::directory) {
            ExpandFolder(input, expanded);
        } else {
            expanded.Files.push_back(input);
        }
    }
    return expanded;
}

} // namespace pagewell
