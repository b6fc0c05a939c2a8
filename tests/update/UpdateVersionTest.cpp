#include <gtest/gtest.h>

#include "core/update/UpdateVersion.h"

namespace sayloft {
namespace {

TEST(UpdateVersion, ComparesByNumericComponent) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"1.2", "1.2.0", 0}, {"1.10", "1.9", 1},  {"2", "1.99.99", 1}, {"1.2.3.4", "1.2.3", 1},
        {"010", "9", 1},     {"1.0", "bogus", 1}, {"1..0", "1.0", -1}, {"3.1", "3.01", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateVersion::compare(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(UpdateVersion::compare(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(UpdateVersion, AcceptsOnlyDigitsAndDots) {
    for (const char* valid : {"1", "1.2.3.4.5.6.7.8", "123456789"}) {
        EXPECT_TRUE(UpdateVersion::isValid(valid)) << valid;
    }
    for (const char* invalid :
         {"", "1.", ".1", "1..2", "1.2-beta", "1.2.3.4.5.6.7.8.9", "1234567890", "../1"}) {
        EXPECT_FALSE(UpdateVersion::isValid(invalid)) << invalid;
    }
}

}  // namespace
}  // namespace sayloft
