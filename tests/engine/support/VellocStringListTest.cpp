#include "engine/support/VellocStringList.h"

#include "engine/support/VellocError.h"

#include <gtest/gtest.h>

using namespace velloc;

namespace {

std::string Items(const TVellocStringList& list)
{
    std::string text;
    for (int32_t i = 0; i < list.Count(); ++i) {
        text += (i > 0 ? "," : "") + list.Get(i);
    }
    return text;
}

} // namespace

TEST(VellocStringList, UnsortedListAppendsAndSearchesFromTheStart)
{
    TVellocStringList list;
    EXPECT_FALSE(list.CaseSensitive());
    EXPECT_EQ(list.Add("beta"), 0);
    EXPECT_EQ(list.Add("Alpha"), 1);
    EXPECT_EQ(list.Add("alpha"), 2); // duplicates are only checked in sorted lists
    EXPECT_EQ(Items(list), "beta,Alpha,alpha");
    EXPECT_EQ(list.IndexOf("ALPHA"), 1);
    EXPECT_EQ(list.IndexOf("gamma"), -1);
    EXPECT_EQ(list.Text(), "beta\r\nAlpha\r\nalpha\r\n");

    TVellocCaseSensitiveStringList exact;
    EXPECT_TRUE(exact.CaseSensitive());
    exact.Add("Alpha");
    exact.Add("alpha");
    EXPECT_EQ(exact.IndexOf("alpha"), 1);
    EXPECT_EQ(exact.IndexOf("ALPHA"), -1);
}

TEST(VellocStringList, SortedListKeepsOrderByDuplicatesMode)
{
    TVellocStringList ignore;
    ignore.SetSorted(true);
    for (const char* text : {"delta", "Bravo", "alpha", "charlie"}) {
        ignore.Add(text);
    }
    EXPECT_EQ(Items(ignore), "alpha,Bravo,charlie,delta");
    EXPECT_EQ(ignore.Add("BRAVO"), 1);
    EXPECT_EQ(ignore.Count(), 4);
    EXPECT_EQ(ignore.IndexOf("CHARLIE"), 2);
    EXPECT_EQ(ignore.IndexOf("echo"), -1);
    int32_t position = -1;
    EXPECT_FALSE(ignore.Find("bz", position));
    EXPECT_EQ(position, 2);

    TVellocStringList accept;
    accept.SetSorted(true);
    accept.SetDuplicates(TDuplicates::Accept);
    int dummy[3];
    accept.Add("b", &dummy[0]);
    accept.Add("a");
    accept.Add("B", &dummy[1]);
    accept.Add("c");
    accept.Add("b", &dummy[2]);
    EXPECT_EQ(accept.Count(), 5);
    EXPECT_TRUE(accept.Find("B", position));
    EXPECT_EQ(position, 1); // the lowest of the equal texts
    EXPECT_EQ(accept.IndexOf("b"), 1);
    EXPECT_EQ(accept.GetObject(1), &dummy[2]); // an equal text goes in front of the others

    TVellocStringList error;
    error.SetSorted(true);
    error.SetDuplicates(TDuplicates::Error);
    error.Add("one");
    error.Add("two");
    EXPECT_THROW(error.Add("TWO"), EVellocError);
    EXPECT_EQ(Items(error), "one,two");
}

TEST(VellocStringList, CaseSensitiveListsSortByByteValue)
{
    TVellocCaseSensitiveStringList list;
    list.SetSorted(true);
    for (const char* text : {"b", "a", "B", "A", "\xC3\xA9", "b"}) {
        list.Add(text);
    }
    EXPECT_EQ(Items(list), "A,B,a,b,\xC3\xA9");
}

TEST(VellocStringList, SortingAnExistingListSortsItsItems)
{
    TVellocStringList list;
    for (const char* text : {"pear", "Apple", "fig", "apple"}) {
        list.Add(text);
    }
    list.SetSorted(true);
    EXPECT_EQ(Items(list), "Apple,apple,fig,pear");
    EXPECT_EQ(list.Add("grape"), 3);
    list.SetSorted(false);
    EXPECT_EQ(list.Add("banana"), 5);
}

TEST(VellocStringList, ItemsAndObjectsByPosition)
{
    TVellocStringList list;
    int first = 0;
    int second = 0;
    list.Add("one", &first);
    list.Add("two");
    list.PutObject(1, &second);
    list.Put(0, "uno");
    EXPECT_EQ(list.Get(0), "uno");
    EXPECT_EQ(list.GetObject(1), &second);
    EXPECT_EQ(list.IndexOfObject(&second), 1);
    EXPECT_EQ(list.IndexOfObject(nullptr), -1);

    // Positions outside the list change nothing and give nothing.
    list.Put(2, "three");
    list.Put(-1, "minus");
    list.PutObject(5, &first);
    list.Delete(2);
    EXPECT_EQ(list.Get(2), "");
    EXPECT_EQ(list.GetObject(-1), nullptr);
    EXPECT_EQ(Items(list), "uno,two");

    list.Delete(0);
    EXPECT_EQ(Items(list), "two");
    EXPECT_EQ(list.IndexOfObject(&second), 0);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Text(), "");

    TVellocStringList sorted;
    sorted.SetSorted(true);
    sorted.Add("a");
    EXPECT_THROW(sorted.Put(0, "z"), EVellocError);
    EXPECT_EQ(sorted.Get(0), "a");
}

TEST(VellocStringList, CapacityGrowsBySmallStepsThenByAQuarter)
{
    TVellocStringList list;
    EXPECT_EQ(list.Capacity(), 0);
    const struct
    {
        int32_t Count;
        int32_t Capacity;
    } rows[] = {{1, 4}, {5, 8}, {9, 12}, {13, 28}, {29, 44}, {45, 60}, {61, 76}, {77, 95}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Count);
        while (list.Count() < row.Count) {
            list.Add("x");
        }
        EXPECT_EQ(list.Capacity(), row.Capacity);
    }
    list.Clear();
    EXPECT_EQ(list.Capacity(), 0);
}
