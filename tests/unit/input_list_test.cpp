#include "app/input_list.h"

#include <gtest/gtest.h>

#include <cstring>

namespace korvane {
namespace {

TEST(InputList, IndicesLengthsAndCopies) {
    InputList list;
    EXPECT_EQ(list.add("first"), 0);
    EXPECT_EQ(list.add("second path"), 1);
    EXPECT_EQ(list.add("first"), 2);  // duplicates are kept
    EXPECT_EQ(list.count(), 3);

    EXPECT_EQ(list.get(0), 5);  // length only, no buffer
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(list.get(1, buffer), 11);
    EXPECT_STREQ(buffer, "second path");  // copied with its terminator
    EXPECT_EQ(list.get(0, buffer), 5);
    EXPECT_STREQ(buffer, "first");
    EXPECT_STREQ(list.at(2), "first");
}

TEST(InputList, OutOfRangeAndNull) {
    InputList list;
    EXPECT_EQ(list.add(nullptr), -1);
    EXPECT_EQ(list.count(), 0);
    list.add("a");
    char buffer[8] = "unset";
    for (int index : {-1, 1, 100}) {
        EXPECT_EQ(list.get(index), -1) << index;
        EXPECT_EQ(list.get(index, buffer), -1) << index;
        EXPECT_EQ(list.at(index), nullptr) << index;
    }
    EXPECT_STREQ(buffer, "unset");
}

TEST(InputList, ClearEmptiesAndAllowsReuse) {
    InputList list;
    list.clear();  // clearing an empty list does nothing
    list.add("a");
    list.add("");
    EXPECT_EQ(list.get(1), 0);  // an empty entry is an entry
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.get(0), -1);
    EXPECT_EQ(list.add("b"), 0);
}

TEST(InputList, ManyEntriesKeepOrder) {
    InputList list;
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(list.add(std::to_string(i).c_str()), i);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(std::string(list.at(i)), std::to_string(i));
}

}  // namespace
}  // namespace korvane
