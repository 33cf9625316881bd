#include "engine/VellocDocument.h"

#include "VellocDocumentFixture.h"
#include "engine/VellocPageTree.h"
#include "engine/VellocXMP.h"
#include "engine/support/VellocStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace velloc;
using namespace velloc::testing;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

struct TCommandResult
{
    int ExitCode = -1;
    std::string Output;
};

// Runs a shell command and collects what it prints on both channels.
TCommandResult RunCommand(const std::string& command)
{
    TCommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.Output.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// Reads the file back the way a viewer does: startxref leads to the table, every line of the
// table is 20 bytes and every offset in use points at "N 0 obj" for its own number.
void CheckCrossReference(const std::string& file, int32_t expectedEntries)
{
    ASSERT_EQ(file.rfind("%PDF-", 0), 0u);
    ASSERT_GE(file.size(), 6u);
    ASSERT_EQ(file.substr(file.size() - 6), "%%EOF\n");

    const size_t startxref = file.rfind("startxref\n");
    ASSERT_NE(startxref, std::string::npos);
    const size_t xref = std::stoul(file.substr(startxref + 10));
    ASSERT_EQ(file.compare(xref, 5, "xref\n"), 0);

    const std::string countLine = "0 " + std::to_string(expectedEntries) + "\n";
    ASSERT_EQ(file.compare(xref + 5, countLine.size(), countLine), 0);
    const size_t table = xref + 5 + countLine.size();
    ASSERT_EQ(file.compare(table, 20, "0000000000 65535 f \n"), 0);

    std::vector<size_t> offsets;
    for (int32_t number = 1; number < expectedEntries; ++number) {
        const std::string line = file.substr(table + 20 * static_cast<size_t>(number), 20);
        SCOPED_TRACE("entry " + std::to_string(number) + ": " + line);
        ASSERT_EQ(line.substr(10), " 00000 n \n");
        const size_t offset = std::stoul(line.substr(0, 10));
        const std::string frame = std::to_string(number) + " 0 obj\n";
        ASSERT_EQ(file.compare(offset, frame.size(), frame), 0);
        if (!offsets.empty()) {
            // Objects follow each other: the previous one ends right before this one.
            ASSERT_EQ(file.compare(offset - 7, 7, "endobj\n"), 0);
            ASSERT_GT(offset, offsets.back());
        }
        offsets.push_back(offset);
    }
    const size_t trailer = table + 20 * static_cast<size_t>(expectedEntries);
    const std::string trailerStart =
        "trailer\n<<\n/Size " + std::to_string(expectedEntries) + "\n/Root ";
    EXPECT_EQ(file.compare(trailer, trailerStart.size(), trailerStart), 0);
    EXPECT_EQ(file.compare(xref - 7, 7, "endobj\n"), 0);
}

class TWriterTest : public TFixedSourcesTest
{
  protected:
    void SetUp() override
    {
        TFixedSourcesTest::SetUp();
        std::string pattern = (fs::temp_directory_path() / "pagewell-writer-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_Folder = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_Folder, ignored);
        TFixedSourcesTest::TearDown();
    }

    fs::path Path(const std::string& name) const { return m_Folder / name; }

    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_Folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static bool Save(TPDFDocument& document, const fs::path& path)
    {
        return document.SaveToFile(Widen(path.string()));
    }

    fs::path m_Folder;
};

TEST_F(TWriterTest, NewDocumentMatchesTheGoldenFileAndPassesQpdf)
{
    TPDFDocument document;
    BuildFacadeDocument(document);
    const fs::path written = Path("new-document.pdf");
    ASSERT_TRUE(Save(document, written)) << document.LastSaveError();
    const std::string bytes = ReadFile(written);

    const fs::path golden = fs::path(PAGEWELL_TEST_DATA) / "golden" / "new-document.pdf";
    const char* update = std::getenv("PAGEWELL_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        fs::create_directories(golden.parent_path());
        WriteFile(golden, bytes);
    }
    EXPECT_EQ(bytes, ReadFile(golden)) << "regenerate with PAGEWELL_UPDATE_GOLDEN=1";

    CheckCrossReference(bytes, 7);
    EXPECT_EQ(bytes.rfind("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", 0), 0u);
    EXPECT_NE(bytes.find("\n0000000015 00000 n \n"), std::string::npos);
    // The metadata stream: dictionary, "stream", data, line feed, "endstream", "endobj".
    EXPECT_NE(bytes.find("</x:xmpmeta>\n"), std::string::npos);
    EXPECT_NE(bytes.find("<?xpacket end=\"w\"?>\nendstream\nendobj\n"), std::string::npos);

    const TCommandResult check = RunCommand("qpdf --check " + Quoted(written));
    EXPECT_EQ(check.ExitCode, 0) << check.Output;
    EXPECT_EQ(check.Output.find("WARNING"), std::string::npos) << check.Output;
    EXPECT_EQ(check.Output.find("ERROR"), std::string::npos) << check.Output;

    const TCommandResult info = RunCommand("pdfinfo " + Quoted(written));
    EXPECT_EQ(info.ExitCode, 0) << info.Output;
    EXPECT_NE(info.Output.find("Pages:           1\n"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("Page size:       612 x 792 pts"), std::string::npos) << info.Output;
    EXPECT_NE(info.Output.find("Producer:        Velloc Library 8.13"), std::string::npos)
        << info.Output;
}

TEST_F(TWriterTest, PageSizeSetThroughThePageTreeReachesTheFile)
{
    TPDFDocument document;
    BuildFacadeDocument(document);
    document.PageTree().SetPageWidth(595.2756);
    document.PageTree().SetPageHeight(841.8898);
    const fs::path written = Path("a4.pdf");
    ASSERT_TRUE(Save(document, written)) << document.LastSaveError();

    const TCommandResult info = RunCommand("pdfinfo " + Quoted(written));
    EXPECT_EQ(info.ExitCode, 0) << info.Output;
    EXPECT_NE(info.Output.find("Page size:       595.276 x 841.89 pts (A4)"), std::string::npos)
        << info.Output;
    const TCommandResult check = RunCommand("qpdf --check " + Quoted(written));
    EXPECT_EQ(check.ExitCode, 0) << check.Output;
}

TEST_F(TWriterTest, HeaderCarriesTheVersionAndOffsetsFollowIt)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    document.SetVersion("1.7");
    TVellocMemoryStream stream;
    ASSERT_TRUE(WriteDocument(document, stream));
    const std::string& bytes = stream.Bytes();
    EXPECT_EQ(bytes.rfind("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n1 0 obj\n", 0), 0u);
    CheckCrossReference(bytes, 6);

    ASSERT_EQ(document.XrefEntries().size(), 6u);
    EXPECT_FALSE(document.XrefEntries()[0].InUse);
    EXPECT_EQ(document.XrefEntries()[0].Generation, 65535);
    EXPECT_EQ(document.XrefEntries()[1].Offset, 15);
    for (const TPDFXrefEntry& entry : document.XrefEntries()) {
        EXPECT_EQ(entry.InUse, entry.Number != 0);
    }

    // A longer version text moves everything after it.
    document.SetVersion("2.0-draft");
    TVellocMemoryStream second;
    ASSERT_TRUE(WriteDocument(document, second));
    EXPECT_EQ(document.XrefEntries()[1].Offset, 21);
    CheckCrossReference(second.Bytes(), 6);
}

TEST_F(TWriterTest, TrailerDropsXRefStmAndEmptyContentStreamIsFramed)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    document.Trailer().Put("XRefStm", document.Structure().NewNumber(1234));
    TVellocMemoryStream stream;
    ASSERT_TRUE(WriteDocument(document, stream));
    const std::string& bytes = stream.Bytes();
    EXPECT_EQ(bytes.find("XRefStm"), std::string::npos);
    EXPECT_EQ(document.Trailer().Get("XRefStm"), nullptr);
    // Object 5 is the first page's empty content stream.
    EXPECT_NE(bytes.find("5 0 obj\n<<\n/Length 0\n/LC /Vlcn\n>>\nstream\n\nendstream\nendobj\n"),
              std::string::npos);
}

TEST_F(TWriterTest, WritingAgainDiffersOnlyInTheModificationDate)
{
    TPDFDocument document;
    BuildFacadeDocument(document);
    ASSERT_TRUE(Save(document, Path("first.pdf")));
    ASSERT_TRUE(Save(document, Path("second.pdf")));
    const std::string first = ReadFile(Path("first.pdf"));
    EXPECT_EQ(first, ReadFile(Path("second.pdf")));

    const std::string before = CurrentDateText();
    TLocalTime later = FixedTime();
    later.Minute += 5;
    SetClock(later);
    const std::string after = CurrentDateText();
    document.SetInfoEntry("ModDate", Widen(after));
    ASSERT_TRUE(Save(document, Path("first.pdf"))) << "writing over an existing file";
    const std::string third = ReadFile(Path("first.pdf"));

    std::string expected = first;
    const auto replace = [&expected](const std::string& from, const std::string& to) {
        const size_t at = expected.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        expected.replace(at, from.size(), to);
    };
    const auto xmp = [](const std::string& pdfDate) { return Bytes(XMPDateText(Widen(pdfDate))); };
    replace("/ModDate (" + before + ")", "/ModDate (" + after + ")");
    replace("<xmp:ModifyDate>" + xmp(before), "<xmp:ModifyDate>" + xmp(after));
    EXPECT_EQ(third, expected);
    CheckCrossReference(third, 7);
}

TEST_F(TWriterTest, WritingRestoresTheCurrentPage)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    document.PageTree().AddPages(2, 2, 300, 400);
    ASSERT_EQ(document.PageCount(), 3);
    document.PageTree().SelectPage(2);
    TVellocMemoryStream stream;
    ASSERT_TRUE(WriteDocument(document, stream));
    EXPECT_EQ(document.PageTree().CurrentPage(), 2);
    CheckCrossReference(stream.Bytes(), 10);

    // Also after a failed write.
    SetWriteLimitForTesting(40);
    TVellocMemoryStream failing;
    std::string reason;
    EXPECT_FALSE(WriteDocument(document, failing, &reason));
    EXPECT_EQ(reason.rfind("wrote 40 of ", 0), 0u) << reason;
    EXPECT_EQ(failing.Bytes().size(), 40u);
    EXPECT_EQ(document.PageTree().CurrentPage(), 2);
}

TEST_F(TWriterTest, SaveThatCannotCreateItsFileReportsWhy)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    const fs::path missing = Path("missing") / "out.pdf";
    EXPECT_FALSE(Save(document, missing));
    EXPECT_EQ(document.LastSaveError(),
              "cannot create " + missing.string() + ": No such file or directory");
    EXPECT_FALSE(fs::exists(Path("missing")));
    EXPECT_TRUE(FolderEntries().empty());

    fs::create_directory(Path("folder"));
    EXPECT_FALSE(Save(document, Path("folder")));
    EXPECT_EQ(document.LastSaveError(),
              "cannot create " + Path("folder").string() + ": Is a directory");
    EXPECT_TRUE(fs::is_empty(Path("folder")));

    EXPECT_FALSE(document.SaveToFile(u""));
    EXPECT_EQ(document.LastSaveError(), "cannot create : No such file or directory");

    ASSERT_TRUE(Save(document, Path("fine.pdf")));
    EXPECT_EQ(document.LastSaveError(), "");
}

TEST_F(TWriterTest, FailedWriteLeavesTheExistingFileAndNoTemporaryFile)
{
    TPDFDocument document;
    BuildFacadeDocument(document);
    TVellocMemoryStream reference;
    ASSERT_TRUE(WriteDocument(document, reference));
    const auto size = static_cast<int64_t>(reference.Bytes().size());

    const fs::path target = Path("kept.pdf");
    const std::string previous = "%PDF-1.4\nthe previous file\n";
    WriteFile(target, previous);

    for (const int64_t limit : {int64_t{0}, int64_t{10}, int64_t{15}, int64_t{2000}, size - 1}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        SetWriteLimitForTesting(limit);
        EXPECT_FALSE(Save(document, target));
        EXPECT_EQ(document.LastSaveError().rfind("cannot write " + target.string() + ": wrote ", 0),
                  0u)
            << document.LastSaveError();
        EXPECT_EQ(ReadFile(target), previous);
        EXPECT_EQ(FolderEntries(), std::vector<std::string>{"kept.pdf"});
        EXPECT_EQ(document.PageTree().CurrentPage(), 1);
    }

    // A new file that fails is not left behind either.
    EXPECT_FALSE(Save(document, Path("new.pdf")));
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"kept.pdf"});

    SetWriteLimitForTesting(size);
    ASSERT_TRUE(Save(document, target)) << document.LastSaveError();
    EXPECT_EQ(ReadFile(target), reference.Bytes());
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"kept.pdf"});
}

TEST_F(TWriterTest, ReplacedFileKeepsPermissionsAndSymbolicLinks)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    const fs::path real = Path("real.pdf");
    WriteFile(real, "old");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, Path("link.pdf"));

    ASSERT_TRUE(Save(document, Path("link.pdf"))) << document.LastSaveError();
    EXPECT_TRUE(fs::is_symlink(Path("link.pdf")));
    EXPECT_EQ(ReadFile(real).rfind("%PDF-1.4\n", 0), 0u);
    struct stat status = {};
    ASSERT_EQ(stat(real.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"link.pdf", "real.pdf"}));
}

TEST_F(TWriterTest, LongNamesAndDevicesAreWritten)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    // 255 bytes, the longest name a directory entry holds.
    const std::string longName = std::string(251, 'n') + ".pdf";
    ASSERT_TRUE(Save(document, Path(longName))) << document.LastSaveError();
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{longName});

    // A device is written in place, never replaced by a regular file.
    ASSERT_TRUE(document.SaveToFile(u"/dev/null")) << document.LastSaveError();
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

} // namespace
