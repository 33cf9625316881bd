// Builds documents of 1,000, 5,000 and 10,000 pages the way a conversion does (insert the
// pages, then per page: select it, size it, fill a box over it) and writes each to a file.
// Prints the times and how they grow; building and writing must stay linear in the page count.
#include "engine/VellocDocument.h"
#include "engine/VellocPageTree.h"
#include "engine/VellocPainter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace velloc;

namespace {

constexpr double MaxGrowth = 12.0; // time(10,000 pages) / time(1,000 pages)
constexpr int Runs = 5;

struct TTimes
{
    double BuildMs = 0;
    double WriteMs = 0;
    double TotalMs() const { return BuildMs + WriteMs; }
};

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

TTimes BuildAndWrite(int32_t pages, const std::filesystem::path& file)
{
    TTimes times;
    auto start = std::chrono::steady_clock::now();
    TPDFDocument document;
    document.SetUpNewDocument();
    document.SetInfoEntry("Producer", u"Velloc Library 8.13 (http://www.velloc.example/)");
    document.SetInfoEntry("Title", u"Document benchmark");
    TPDFPageTree& tree = document.PageTree();
    tree.AddPages(2, pages - 1, 612, 792);
    for (int32_t page = 1; page <= pages; ++page) {
        tree.SelectPage(page);
        const double width = 400 + page % 200;
        const double height = 500 + page % 300;
        tree.SetPageWidth(width);
        tree.SetPageHeight(height);
        tree.Painter().SetFillColor(0.5, 0.25, 1);
        tree.Painter().DrawBox(true, false, 0, height, width, height);
    }
    times.BuildMs = MillisecondsSince(start);
    if (document.PageCount() != pages) {
        std::fprintf(stderr, "expected %d pages, got %d\n", pages, document.PageCount());
    }

    start = std::chrono::steady_clock::now();
    if (!document.SaveToFile(Widen(file.string()))) {
        std::fprintf(stderr, "%s\n", document.LastSaveError().c_str());
    }
    times.WriteMs = MillisecondsSince(start);
    return times;
}

// The fastest of a few runs, to keep other load on the machine out of the figures.
TTimes Measure(int32_t pages, const std::filesystem::path& file)
{
    TTimes best = BuildAndWrite(pages, file);
    for (int run = 1; run < Runs; ++run) {
        const TTimes next = BuildAndWrite(pages, file);
        best.BuildMs = std::min(best.BuildMs, next.BuildMs);
        best.WriteMs = std::min(best.WriteMs, next.WriteMs);
    }
    return best;
}

} // namespace

int main()
{
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("pagewell-document-bench-" + std::to_string(getpid()) + ".pdf");
    const int32_t sizes[] = {1000, 5000, 10000};
    TTimes results[3];
    std::printf("%8s %12s %12s %12s %12s\n", "pages", "build ms", "write ms", "total ms",
                "file KiB");
    for (int i = 0; i < 3; ++i) {
        results[i] = Measure(sizes[i], file);
        std::error_code error;
        const auto bytes = std::filesystem::file_size(file, error);
        std::printf("%8d %12.1f %12.1f %12.1f %12.0f\n", sizes[i], results[i].BuildMs,
                    results[i].WriteMs, results[i].TotalMs(),
                    error ? 0.0 : static_cast<double>(bytes) / 1024);
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);

    const double buildGrowth = results[2].BuildMs / results[0].BuildMs;
    const double writeGrowth = results[2].WriteMs / results[0].WriteMs;
    const double totalGrowth = results[2].TotalMs() / results[0].TotalMs();
    std::printf("time(10000)/time(1000): build %.2f, write %.2f, total %.2f (limit %.0f)\n",
                buildGrowth, writeGrowth, totalGrowth, MaxGrowth);
    if (totalGrowth > MaxGrowth) {
        std::printf("FAIL: the time grows faster than the page count\n");
        return 1;
    }
    return 0;
}
