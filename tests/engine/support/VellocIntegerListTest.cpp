#include "engine/support/VellocIntegerList.h"

#include <gtest/gtest.h>

using namespace velloc;

TEST(VellocIntegerList, AddAnswersWhetherTheValueIsNew)
{
    TVelSortedUniqueIntegerList list;
    EXPECT_FALSE(list.Contains(42));
    EXPECT_TRUE(list.Add(42));
    EXPECT_FALSE(list.Add(42));
    EXPECT_TRUE(list.Contains(42));
    EXPECT_FALSE(list.Contains(41));
    EXPECT_FALSE(list.Contains(43));
}

TEST(VellocIntegerList, ValuesInDifferentPagesStayApart)
{
    TVelSortedUniqueIntegerList list;
    // Neighbours across page edges, and the same low 16 bits in different pages.
    const uint32_t values[] = {0, 0xFFFF, 0x10000, 0x2FFFF, 0x30005, 0xFFFFFFFF};
    for (const uint32_t value : values) {
        SCOPED_TRACE(value);
        EXPECT_TRUE(list.Add(value));
    }
    for (const uint32_t value : values) {
        SCOPED_TRACE(value);
        EXPECT_TRUE(list.Contains(value));
        EXPECT_FALSE(list.Add(value));
    }
    for (const uint32_t absent : {1u, 0x1FFFFu, 0x20000u, 0x10005u, 0x50005u, 0xFFFFFFFEu, 0x5u}) {
        SCOPED_TRACE(absent);
        EXPECT_FALSE(list.Contains(absent));
    }
}
