#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "WaylandSession.h"
#include "platform/linux/wayland/DataControlPasteboard.h"

namespace sayloft {
namespace {

using test::ChildProcess;
using test::runProgram;

std::optional<std::string> paste(bool primary = false) {
    return primary ? runProgram({"wl-paste", "--primary", "--no-newline"})
                   : runProgram({"wl-paste", "--no-newline"});
}

TEST(DataControlPasteboardTest, BothSelectionsServeTheTextUntilReplaced) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    DataControlPasteboard pasteboard;
    ASSERT_TRUE(pasteboard.isAvailable()) << "the compositor has no zwlr_data_control_manager_v1";
    ASSERT_TRUE(pasteboard.hasPrimarySelection());
    const std::string texts[] = {"first 第一", std::string("\xff not UTF-8 \xc3"), ""};
    for (const std::string& text : texts) {
        pasteboard.setText(text);
        // Every read gets it, not only the first one.
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(paste(), text);
            EXPECT_EQ(paste(true), text);
        }
        const auto types = runProgram({"wl-paste", "--list-types"});
        ASSERT_TRUE(types.has_value());
        for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "STRING"}) {
            EXPECT_NE(types->find(type), std::string::npos) << type;
        }
    }
    // Another client's copy replaces ours.
    ASSERT_TRUE(runProgram({"wl-copy", "from another client"}).has_value());
    EXPECT_EQ(paste(), "from another client");
    pasteboard.setText("ours again");
    EXPECT_EQ(paste(), "ours again");
}

// A reader that opens a paste of a text far larger than the pipes hold and never reads it
// (wl-paste writing into a pipe nobody reads) stalls one transfer for the whole test (a long
// time-out). A new text still replaces it at once; later reads get it while the transfers in
// flight are below the cap, and nothing at once beyond it.
TEST(DataControlPasteboardTest, StalledReaderBlocksNeitherSetTextNorLaterPastesBelowTheCap) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    const std::pair<std::size_t, std::string> rows[] = {{16, "after the stall"}, {1, ""}};
    for (const auto& [cap, pasted] : rows) {
        SCOPED_TRACE(cap);
        DataControlPasteboard pasteboard(nullptr, {std::chrono::minutes(5), cap});
        ASSERT_TRUE(pasteboard.isAvailable());
        pasteboard.setText(std::string(4 << 20, 'x'));
        const ChildProcess reader({"sh", "-c", "wl-paste --no-newline | sleep 3600"});
        ASSERT_TRUE(test::waitFor([&] { return pasteboard.transfersInFlight() == 1; }));

        pasteboard.setText("after the stall");  // returns: a blocked one would hang the test
        EXPECT_EQ(paste(), pasted);
        EXPECT_EQ(paste(true), pasted);
        EXPECT_EQ(pasteboard.transfersInFlight(), 1u) << "the stalled read is still going";
    }
}

}  // namespace
}  // namespace sayloft
