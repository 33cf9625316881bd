#include "cli/CliArguments.h"
#include "cli/CliInputs.h"
#include "cli/CliProgress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace pagewell;

TEST(CliArgumentsTest, ReadsOptionsAndInputs)
{
    const TCliParseResult result =
        ParseCliArguments({"-o", "out.pdf", "--title", "Trip", "--author=Ann", "a.png", "--subject",
                           "S", "--keywords", "k1 k2", "--background", "28507f", "--thumbnails",
                           "--quiet", "dir", "--", "--odd.png"});
    ASSERT_EQ(result.Error, "");
    const TCliArguments& arguments = result.Arguments;
    EXPECT_EQ(arguments.Output, "out.pdf");
    EXPECT_EQ(arguments.Title, "Trip");
    EXPECT_EQ(arguments.Author, "Ann");
    EXPECT_EQ(arguments.Subject, "S");
    EXPECT_EQ(arguments.Keywords, "k1 k2");
    EXPECT_EQ(arguments.BackgroundColor, 0x7F5028u);
    EXPECT_TRUE(arguments.Thumbnails);
    EXPECT_TRUE(arguments.Quiet);
    EXPECT_FALSE(arguments.Help);
    EXPECT_EQ(arguments.Inputs, (std::vector<std::string>{"a.png", "dir", "--odd.png"}));

    const TCliParseResult defaults = ParseCliArguments({"--output", "x.pdf", "-"});
    ASSERT_EQ(defaults.Error, "");
    EXPECT_EQ(defaults.Arguments.BackgroundColor, 0xFFFFFFu);
    EXPECT_FALSE(defaults.Arguments.Thumbnails);
    EXPECT_EQ(defaults.Arguments.Inputs, std::vector<std::string>{"-"});

    EXPECT_TRUE(ParseCliArguments({"--help"}).Arguments.Help);
    EXPECT_EQ(ParseCliArguments({"a.png", "-h"}).Error, "");
}

TEST(CliArgumentsTest, UsageErrors)
{
    struct TCase
    {
        std::vector<std::string> Arguments;
        std::string Error;
    };
    const TCase cases[] = {
        {{"a.png"}, "no output file given (-o OUT.pdf)"},
        {{"-o", "", "a.png"}, "no output file given (-o OUT.pdf)"},
        {{"-o", "out.pdf"}, "no input given"},
        {{"-o"}, "option '-o' needs a value"},
        {{"-o", "out.pdf", "a.png", "--title"}, "option '--title' needs a value"},
        {{"-o", "out.pdf", "--colour", "a.png"}, "unknown option '--colour'"},
        {{"-o=out.pdf", "a.png"}, "unknown option '-o=out.pdf'"},
        {{"-o", "out.pdf", "--quiet=yes", "a.png"}, "unknown option '--quiet=yes'"},
        {{"-o", "out.pdf", "--background", "fff", "a.png"},
         "--background wants six hexadecimal digits RRGGBB, not 'fff'"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Error);
        EXPECT_EQ(ParseCliArguments(c.Arguments).Error, c.Error);
    }
}

TEST(CliArgumentsTest, BackgroundColourPutsRedInTheLowestByte)
{
    EXPECT_EQ(ParseBackgroundColor("FF0000"), 0x0000FFu);
    EXPECT_EQ(ParseBackgroundColor("00ff00"), 0x00FF00u);
    EXPECT_EQ(ParseBackgroundColor("#0000Ff"), 0xFF0000u);
    EXPECT_EQ(ParseBackgroundColor("285080"), 0x805028u);
    for (const char* bad : {"", "#", "12345", "1234567", "12345g", "+12345", " 12345"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseBackgroundColor(bad).has_value());
    }
}

TEST(CliInputsTest, FoldersGiveTheirPngFilesSortedByName)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / "pagewell-cli-inputs";
    fs::remove_all(root);
    fs::create_directories(root / "pictures" / "nested");
    fs::create_directories(root / "empty");
    for (const char* name :
         {"b.png", "A.PNG", "c.Png", "notes.txt", "png", ".png", "a.png.bak", "nested/deep.png"}) {
        std::ofstream(root / "pictures" / name) << "x";
    }
    fs::create_directories(root / "pictures" / "folder.png");
    std::ofstream(root / "single.txt") << "x";

    const TExpandedInputs expanded =
        ExpandInputs({(root / "single.txt").string(), (root / "pictures").string(),
                      (root / "missing.png").string(), (root / "empty").string()});
    const std::string pictures = (root / "pictures").string() + "/";
    EXPECT_EQ(expanded.Files,
              (std::vector<std::string>{(root / "single.txt").string(), pictures + "A.PNG",
                                        pictures + "b.png", pictures + "c.Png"}));
    ASSERT_EQ(expanded.Problems.size(), 2u);
    EXPECT_EQ(expanded.Problems[0].Input, (root / "missing.png").string());
    EXPECT_EQ(expanded.Problems[0].Reason, "no such file or folder");
    EXPECT_EQ(expanded.Problems[1].Input, (root / "empty").string());
    EXPECT_EQ(expanded.Problems[1].Reason, "no PNG files in this folder");
    fs::remove_all(root);
}

TEST(CliProgressTest, BarFitsTheTerminal)
{
    EXPECT_EQ(TCliProgress::BarLine(1, 4, "a.png", 80),
              "[########                      ]  25% 1/4 a.png");
    EXPECT_EQ(TCliProgress::BarLine(4, 4, "a.png", 80),
              "[##############################] 100% 4/4 a.png");
    // Too long a name shows its end; the last column stays free.
    const std::string line = TCliProgress::BarLine(1, 2, "/some/long/folder/image-0001.png", 60);
    EXPECT_EQ(line, "[###############               ]  50% 1/2 ...image-0001.png");
    EXPECT_EQ(line.size(), 59u);
    // Cut by characters, not bytes: "/x/\u00e9t\u00e9.png" keeps its last six characters.
    EXPECT_EQ(TCliProgress::BarLine(1, 2, "/x/\xC3\xA9t\xC3\xA9.png", 52),
              "[###############               ]  50% 1/2 ...t\xC3\xA9.png");
}
