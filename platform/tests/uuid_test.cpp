#include "platform/uuid.h"

#include <gtest/gtest.h>
#include <set>

using platform::UuidBraces;

TEST(Uuid, NewOnesAreVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        GUID id{};
        ASSERT_TRUE(platform::newUuid(id));
        EXPECT_EQ(id.Data3 >> 12, 4);
        EXPECT_EQ(id.Data4[0] & 0xC0, 0x80);
        std::string text = platform::uuidToString(id);
        EXPECT_TRUE(seen.insert(text).second) << text;
        auto back = platform::uuidFromString(text);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == id);
    }
}

TEST(Uuid, RegistryTextForm) {
    const GUID id = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    EXPECT_EQ(platform::uuidToString(id), "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    EXPECT_EQ(platform::uuidToString(id, UuidBraces::Without), "0123ABCD-4567-89EF-FEDC-BA9876543210");
    for (const char* text : {"{0123ABCD-4567-89EF-FEDC-BA9876543210}", "0123abcd-4567-89ef-fedc-ba9876543210"}) {
        SCOPED_TRACE(text);
        auto parsed = platform::uuidFromString(text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_TRUE(*parsed == id);
    }
}

TEST(Uuid, RejectsBadText) {
    const char* bad[] = {
        "",
        "{}",
        "{0123ABCD-4567-89EF-FEDC-BA9876543210",    // one brace
        "0123ABCD-4567-89EF-FEDC-BA9876543210}",
        "(0123ABCD-4567-89EF-FEDC-BA9876543210)",
        "0123ABCD-4567-89EF-FEDC-BA987654321",      // short
        "0123ABCD-4567-89EF-FEDC-BA98765432100",    // long
        "0123ABCD4567-89EF-FEDC-BA9876543210-",     // dash misplaced
        "0123ABCG-4567-89EF-FEDC-BA9876543210",     // not hex
        "0123ABCD-4567-89EF-FEDC-BA98765432 0",
        "+123ABCD-4567-89EF-FEDC-BA9876543210",
        "{0123ABCD-4567-89EF-FEDC-BA9876543210}x",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(platform::uuidFromString(text).has_value());
    }
}
