#ifndef PAGEWELL_CLI_INPUTS_H
#define PAGEWELL_CLI_INPUTS_H

#include <string>
#include <vector>

namespace pagewell {

// A command-line input that gives no file, and why.
struct TInputProblem
{
    std::string Input;
    std::string Reason;
};

struct TExpandedInputs
{
    // In command-line order, a folder's files in its place.
    std::vector<std::string> Files;
    std::vector<TInputProblem> Problems;
};

// A file stays as given (the engine decides by content whether it is a PNG). A folder gives
// the files directly in it whose names end in ".png" in any case, sorted by name byte by byte.
// A missing input, one that cannot be read as a folder and a folder without PNG files are
// problems.
TExpandedInputs ExpandInputs(const std::vector<std::string>& inputs);

} // namespace pagewell

#endif
