#include <string>

#include <gtest/gtest.h>

#include "core/net/RequestBodyPipe.h"

namespace sayloft {
namespace {

std::string takeAll(RequestBodyPipe& pipe, std::size_t step, bool& ended) {
    std::string taken;
    char buffer[8];
    for (;;) {
        const auto take = pipe.take(buffer, step);
        taken.append(buffer, take.bytes);
        ended = take.ended;
        if (take.bytes == 0) {
            return taken;
        }
    }
}

TEST(RequestBodyPipe, GivesWhatWasWrittenInOrderThenTheEndAndWakesItsReader) {
    RequestBodyPipe pipe;
    int wakeups = 0;
    pipe.setWakeup([&] { ++wakeups; });
    bool ended = true;
    EXPECT_FALSE(pipe.readable());
    EXPECT_EQ(takeAll(pipe, 8, ended), "");
    EXPECT_FALSE(ended);  // empty for now, not the end

    pipe.write("abcde");
    pipe.write("");
    EXPECT_TRUE(pipe.readable());
    EXPECT_EQ(takeAll(pipe, 2, ended), "abcde");
    pipe.write("fg");
    EXPECT_EQ(takeAll(pipe, 8, ended), "fg");
    EXPECT_FALSE(ended);
    EXPECT_EQ(wakeups, 2);

    pipe.write("h");
    pipe.close();
    pipe.close();
    pipe.write("ignored");
    EXPECT_TRUE(pipe.closed());
    EXPECT_EQ(wakeups, 4);
    pipe.setWakeup({});
    EXPECT_EQ(takeAll(pipe, 8, ended), "h");
    EXPECT_TRUE(ended);
    EXPECT_TRUE(pipe.readable());  // the end is still there to take
}

}  // namespace
}  // namespace sayloft
