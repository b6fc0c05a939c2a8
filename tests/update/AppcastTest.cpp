#include <gtest/gtest.h>

#include "core/update/Appcast.h"
#include "core/update/UpdateError.h"
#include "core/update/UpdateVersion.h"

namespace sayloft {
namespace {

std::string feed(const std::string& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Sayloft</title>)" +
           items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& extra = "") {
    return "<item><title>" + version + "</title>" + extra +
           R"(<enclosure url="https://example.org/sayloft_)" + version +
           R"(.deb" length="1234" type="application/vnd.debian.binary-package" sparkle:version=")" +
           version + R"(" sparkle:edSignature="c2ln"/></item>)";
}

TEST(Appcast, ReadsTheEnclosureAndTheSparkleFields) {
    const auto items = Appcast::parse(
        feed(item("1.2.0",
                  "<sparkle:releaseNotesLink> https://example.org/notes "
                  "</sparkle:releaseNotesLink><link>https://example.org/ignored</link>") +
             R"(<item><link>https://example.org/n2</link><sparkle:version>1.3</sparkle:version>
           <sparkle:shortVersionString>1.3 final</sparkle:shortVersionString>
           <enclosure url="https://e.org/p" length="7" sparkle:edSignature="eA=="/></item>)"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].version, "1.2.0");
    EXPECT_EQ(items[0].displayVersion, "1.2.0");
    EXPECT_EQ(items[0].packageUrl, "https://example.org/sayloft_1.2.0.deb");
    EXPECT_EQ(items[0].length, 1234u);
    EXPECT_EQ(items[0].signature, "c2ln");
    EXPECT_EQ(items[0].notesUrl, "https://example.org/notes");
    EXPECT_EQ(items[1].version, "1.3");
    EXPECT_EQ(items[1].displayVersion, "1.3 final");
    EXPECT_EQ(items[1].notesUrl, "https://example.org/n2");
}

TEST(Appcast, SkipsItemsThatCannotBeInstalled) {
    const auto items = Appcast::parse(
        feed("<item><enclosure url='https://e.org/p' length='1' "
             "sparkle:version='1.0'/></item>"  // unsigned
             "<item><enclosure url='https://e.org/p' length='x' sparkle:version='1.0' "
             "sparkle:edSignature='s'/></item>"
             "<item><enclosure url='https://e.org/p' length='1' sparkle:version='1.0/../x' "
             "sparkle:edSignature='s'/></item>"
             "<item><enclosure length='1' sparkle:version='1.0' "
             "sparkle:edSignature='s'/></item>" +
             item("2.0")));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "2.0");
}

TEST(Appcast, RefusesWhatIsNotAFeed) {
    for (const std::string& text : {std::string("not xml"), feed(item("1.0")).substr(0, 200),
                                    std::string("<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY a "
                                                "'aaaa'>]><rss><channel>&a;</channel></rss>")}) {
        try {
            Appcast::parse(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.code(), UpdateError::Code::badFeed) << text;
        }
    }
}

TEST(Appcast, OffersOnlyTheNewestVersionAboveTheRunningOne) {
    const auto items = Appcast::parse(feed(item("1.9") + item("1.10") + item("1.2")));
    EXPECT_EQ(Appcast::newest(items, "1.2")->version, "1.10");
    EXPECT_EQ(Appcast::newest(items, "1.9.5")->version, "1.10");
    EXPECT_FALSE(Appcast::newest(items, "1.10"));
}

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
