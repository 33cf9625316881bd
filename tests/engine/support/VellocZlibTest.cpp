#include "engine/support/VellocZlib.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace velloc;

namespace {

std::string SampleText(size_t size)
{
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    }
    text.resize(size);
    return text;
}

} // namespace

TEST(VellocZlib, DeflateMakesAZlibStreamThatZlibItselfReads)
{
    const std::string text = SampleText(100000);
    const std::string packed = ZlibDeflate(text);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x78); // deflate, 32K window
    std::string back(text.size(), '\0');
    uLongf backSize = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &backSize,
                         reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
              Z_OK);
    EXPECT_EQ(back, text);
}

TEST(VellocZlib, EmptyInputGivesEmptyOutput)
{
    EXPECT_TRUE(ZlibDeflate("").empty());
}

TEST(VellocZlib, InflateReportsHowTheStreamEnded)
{
    const std::string text = SampleText(50000);
    const std::string packed = ZlibDeflate(text);

    const TInflateResult whole = ZlibInflate(packed);
    EXPECT_EQ(whole.Outcome, TInflateOutcome::Complete);
    EXPECT_EQ(whole.Data, text);

    const TInflateResult cut = ZlibInflate(std::string_view(packed).substr(0, packed.size() / 2));
    EXPECT_EQ(cut.Outcome, TInflateOutcome::Truncated);
    EXPECT_FALSE(cut.Data.empty());
    EXPECT_EQ(text.compare(0, cut.Data.size(), cut.Data), 0);

    const TInflateResult garbage = ZlibInflate("this is not a zlib stream");
    EXPECT_EQ(garbage.Outcome, TInflateOutcome::Damaged);
    EXPECT_TRUE(garbage.Data.empty());

    const TInflateResult capped = ZlibInflate(packed, 0, 1000);
    EXPECT_EQ(capped.Outcome, TInflateOutcome::LimitHit);
    EXPECT_EQ(capped.Data, text.substr(0, 1000));
}

TEST(VellocZlib, ParallelDeflateJoinsItsPiecesIntoOneStreamZlibReads)
{
    // Three and a half pieces of text that compresses well, so matches cross the piece
    // boundaries, plus a noisy tail that does not compress.
    std::string data = SampleText(DeflatePieceSize * 3 + DeflatePieceSize / 2);
    uint32_t noise = 12345;
    for (int i = 0; i < 100000; ++i) {
        noise = noise * 1103515245u + 12345u;
        data += static_cast<char>(noise >> 24);
    }
    const std::string packed = ZlibDeflateInParallel(data);
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed.substr(0, 2), "\x78\x9C");
    EXPECT_LT(packed.size(), data.size() / 2);

    std::string back(data.size(), '\0');
    uLongf backSize = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &backSize,
                         reinterpret_cast<const Bytef*>(packed.data()), packed.size()),
              Z_OK);
    ASSERT_EQ(backSize, data.size());
    EXPECT_EQ(back, data);

    // The same data always gives the same bytes, whatever the threads did.
    EXPECT_EQ(ZlibDeflateInParallel(data), packed);
}

TEST(VellocZlib, ParallelDeflateOfSmallDataIsThePlainStream)
{
    const std::string text = SampleText(1000);
    EXPECT_EQ(ZlibDeflateInParallel(text), ZlibDeflate(text));
    EXPECT_TRUE(ZlibDeflateInParallel("").empty());
}
