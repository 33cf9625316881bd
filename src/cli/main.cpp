#include "cli/CliArguments.h"
#include "cli/CliInputs.h"
#include "cli/CliProgress.h"
#include "engine/support/VellocUnicode.h"
#include "workers/ConversionCore.h"
#include "workers/PagewellIdentity.h"

#include <FreeImage.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace pagewell;

constexpr int ExitAllConverted = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitNothingWritten = 2;

constexpr const char* ProgramName = "pagewell-cli";

std::atomic<bool> g_StopRequested{false};

extern "C" void RequestStop(int)
{
    g_StopRequested.store(true);
}

// Lets the FreeImage library set itself up before the first file and tear down at the end.
class TFreeImageSession
{
  public:
    TFreeImageSession() { FreeImage_Initialise(FALSE); }
    ~TFreeImageSession() { FreeImage_DeInitialise(); }
    TFreeImageSession(const TFreeImageSession&) = delete;
    TFreeImageSession& operator=(const TFreeImageSession&) = delete;
};

std::string ErrorLine(const std::string& subject, const std::string& reason)
{
    return std::string(ProgramName) + ": " + subject + ": " + reason;
}

// The reason an output file could certainly not be written, checked before any work is done;
// empty when writing may succeed.
std::string OutputProblem(const std::string& output)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(output, error)) {
        return "is a folder";
    }
    fs::path folder = fs::path(output).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (!fs::is_directory(folder, error)) {
        return "the folder " + folder.string() + " does not exist";
    }
    return {};
}

// UTF-8 bytes as wide text; false when the bytes are not valid UTF-8, since the engine opens
// files by the UTF-8 form of their wide name and could not reach such a file.
bool ToWide(const std::string& bytes, std::u16string& wide)
{
    wide = velloc::Utf8ToUtf16(bytes);
    return velloc::Utf16ToUtf8(wide) == bytes;
}

int Run(const std::vector<std::string>& arguments)
{
    const TCliParseResult parsed = ParseCliArguments(arguments);
    if (!parsed.Error.empty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", ProgramName,
                     parsed.Error.c_str(), ProgramName);
        return ExitNothingWritten;
    }
    const TCliArguments& cli = parsed.Arguments;
    if (cli.Help) {
        std::fputs(CliUsage, stdout);
        return ExitAllConverted;
    }

    TCliProgress progress(stderr, !cli.Quiet && isatty(fileno(stderr)) != 0);
    if (const std::string problem = OutputProblem(cli.Output); !problem.empty()) {
        progress.Message(ErrorLine(cli.Output, problem));
        return ExitNothingWritten;
    }

    const TExpandedInputs expanded = ExpandInputs(cli.Inputs);
    for (const TInputProblem& problem : expanded.Problems) {
        progress.Message(ErrorLine(problem.Input, problem.Reason));
    }
    bool anyFailed = !expanded.Problems.empty();

    std::vector<TConversionInput> inputs;
    for (const std::string& file : expanded.Files) {
        TConversionInput input;
        if (!ToWide(file, input.FileName)) {
            progress.Message(ErrorLine(file, "the file name is not valid UTF-8"));
            anyFailed = true;
            continue;
        }
        input.ImageNumber = static_cast<int32_t>(inputs.size() + 1);
        inputs.push_back(std::move(input));
    }

    TConversionOptions options;
    options.Author = velloc::Utf8ToUtf16(cli.Author);
    options.Title = velloc::Utf8ToUtf16(cli.Title);
    options.Subject = velloc::Utf8ToUtf16(cli.Subject);
    options.Keywords = velloc::Utf8ToUtf16(cli.Keywords);
    options.Thumbnails = cli.Thumbnails;
    options.BackgroundColor = cli.BackgroundColor;
    if (!ToWide(cli.Output, options.OutputFileName)) {
        progress.Message(ErrorLine(cli.Output, "the file name is not valid UTF-8"));
        return ExitNothingWritten;
    }
    options.AppVersion = AppVersion();

    TConversionCallbacks callbacks;
    callbacks.OnProgress = [&](const TConversionProgress& step) {
        progress.Update(step.PageNumber, step.PageCount, velloc::Utf16ToUtf8(*step.FileName));
    };
    callbacks.StopRequested = [] { return g_StopRequested.load(); };
    callbacks.OnFileFailed = [&](const TConversionInput& input, const std::string& reason) {
        progress.Message(ErrorLine(velloc::Utf16ToUtf8(input.FileName), reason));
    };
    callbacks.OnWriting = [&] { progress.Writing(); };

    TConversionResult result;
    if (!inputs.empty()) {
        result = TConversionCore().Run(inputs, options, callbacks);
    }
    progress.Finish();

    switch (result.Outcome) {
    case TConversionOutcome::Written:
        if (progress.Enabled()) {
            std::fprintf(stderr, "Wrote %s: %d page%s\n", cli.Output.c_str(), result.PageCount,
                         result.PageCount == 1 ? "" : "s");
        }
        return anyFailed || result.FailedCount > 0 ? ExitSomeFailed : ExitAllConverted;
    case TConversionOutcome::Stopped:
        progress.Message(std::string(ProgramName) + ": stopped; nothing was written");
        return ExitNothingWritten;
    case TConversionOutcome::NothingToWrite:
        progress.Message(std::string(ProgramName) + ": no usable input; nothing was written");
        return ExitNothingWritten;
    case TConversionOutcome::WriteFailed:
        progress.Message(ErrorLine(cli.Output, result.WriteError));
        return ExitNothingWritten;
    }
    return ExitNothingWritten;
}

} // namespace

int main(int argc, char** argv)
{
    // The first interrupt stops the run between files, leaving any existing output alone; the
    // handler then resets, so a second one ends the program at once.
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    try {
        const TFreeImageSession freeImage;
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, error.what());
    }
    return ExitNothingWritten;
}
