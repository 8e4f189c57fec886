#include "common/fixed_text.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(FixedText, ReadStopsAtTheTerminatorOrAtTheFieldsEnd) {
    const char terminated[8] = {'a', 'b', '\0', 'x', 'x', 'x', 'x', 'x'};
    const char full[4] = {'w', 'x', 'y', 'z'};  // a peer's field with no terminator
    EXPECT_EQ(fixed_text::Read(terminated), "ab");
    EXPECT_EQ(fixed_text::Read(full), "wxyz");
    EXPECT_EQ(fixed_text::Read(full, 2), "wx");
    EXPECT_EQ(fixed_text::Read(nullptr, 4), "");
}

TEST(FixedText, WriteCutsToLeaveATerminatorAndZeroesTheRest) {
    struct Case {
        std::string text;
        std::string kept;
    };
    for (const Case& c : {Case{"", ""}, Case{"abc", "abc"}, Case{"abcdefg", "abcdefg"}, Case{"abcdefgh", "abcdefg"},
                          Case{"abcdefghijk", "abcdefg"}}) {
        char field[8];
        std::memset(field, 'Q', sizeof field);  // stale bytes of an earlier text
        fixed_text::Write(field, c.text);
        EXPECT_EQ(std::string(field), c.kept) << c.text;
        for (std::size_t i = c.kept.size(); i < sizeof field; ++i) EXPECT_EQ(field[i], '\0') << c.text << " at " << i;
    }
    char untouched = 'Q';
    fixed_text::Write(&untouched, 0, "abc");  // no room at all: nothing written
    EXPECT_EQ(untouched, 'Q');
}

}  // namespace
