#include <gtest/gtest.h>

#include <climits>

#include "UnitSupport.h"
#include "core/Number.h"

TEST(Number, ParsesLikeAtoiAndClampsOverflow) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"0", 0},
        {"42", 42},
        {"  \t\n42", 42},
        {"+5", 5},
        {"-7", -7},
        {"4000abc", 4000},
        {"12 34", 12},
        {"0x10", 0},
        {"007", 7},
        {"- 5", 0},
        {"--5", 0},
        {"+-5", 0},
        {" -0", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999", INT_MIN},
        {"00000000000000000000012", 12},
        {"4294967296", INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIntClamped(c.text), c.value);
    }
}

class NumberInConf : public CoreTest {};

TEST_F(NumberInConf, ConfigurationIntegersUseTheClampedParse) {
    setConf("Huge", "99999999999");
    setConf("Tiny", "-99999999999");
    EXPECT_EQ(Conf::getInstance()->getConfEntryValueAsInt("Huge"), INT_MAX);
    EXPECT_EQ(Conf::getInstance()->getConfEntryValueAsInt("Tiny"), INT_MIN);
}

TEST(Number, ParsesWholeIntegersInARange) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    };
    const Case cases[] = {
        {"5", true, 5},
        {"1", true, 1},
        {"65535", true, 65535},
        {"-3", false, 0},
        {"0", false, 0},
        {"65536", false, 0},
        {"5x", false, 0},
        {" 5", false, 0},
        {"", false, 0},
        {"x", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(parseIntInRange(c.text, 1, 65535, &value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    int value = 7;
    EXPECT_FALSE(parseIntInRange(nullptr, 0, 10, &value));
    EXPECT_EQ(value, 7);
}
