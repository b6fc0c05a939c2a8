#include <chrono>
#include <string>

#include <gtest/gtest.h>
#include <poll.h>

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

// A reader that opens a paste and never reads it: wl-paste writing into a pipe nobody reads.
// Once the pipes are full our side of the transfer cannot write any more.
std::unique_ptr<ChildProcess> stalledReader() {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"sh", "-c", "wl-paste --no-newline | sleep 3600"});
}

bool waitForTransfers(const DataControlPasteboard& pasteboard, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pasteboard.transfersInFlight() != count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        pollfd none{-1, 0, 0};
        poll(&none, 0, 10);  // waiting for wl-paste to start reading
    }
    return true;
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

TEST(DataControlPasteboardTest, StalledReaderBlocksNeitherSetTextNorLaterPastes) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    // A long time-out, so the stall lasts the whole test.
    DataControlPasteboard pasteboard(nullptr, {std::chrono::minutes(5), 16});
    ASSERT_TRUE(pasteboard.isAvailable());
    pasteboard.setText(std::string(4 << 20, 'x'));  // far more than the pipes hold
    const auto reader = stalledReader();
    ASSERT_TRUE(waitForTransfers(pasteboard, 1));

    pasteboard.setText("after the stall");  // returns: a blocked one would hang the test
    EXPECT_EQ(paste(), "after the stall");
    EXPECT_EQ(paste(true), "after the stall");
    EXPECT_EQ(pasteboard.transfersInFlight(), 1u) << "the stalled read is still going";
}

TEST(DataControlPasteboardTest, ReadsBeyondTheCapGetNothingAtOnce) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    DataControlPasteboard pasteboard(nullptr, {std::chrono::minutes(5), 1});
    ASSERT_TRUE(pasteboard.isAvailable());
    pasteboard.setText(std::string(4 << 20, 'y'));
    const auto reader = stalledReader();
    ASSERT_TRUE(waitForTransfers(pasteboard, 1));
    EXPECT_EQ(paste(), "");
}

}  // namespace
}  // namespace sayloft
