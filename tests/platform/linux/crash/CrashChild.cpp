// crash_child <folder> <mode>: installs the crash handler with the report folder given, then ends
// the way the mode says. The crash handler tests run it as a child process.

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <sys/prctl.h>

#include "platform/linux/crash/CrashHandler.h"

namespace {

// Opaque to the optimiser, so that the faulting store is not proven undefined and dropped. Not
// null itself: a member a few bytes into a null object, as a null pointer bug usually writes.
volatile int* volatile nearNull = reinterpret_cast<int*>(16);

// Deeper than any stack: the limit is only there so that the compiler sees an end.
volatile int depthLimit = 1 << 30;

int recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return depth < depthLimit ? recurse(depth + 1) + frame[0] : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 ||
        !sayloft::CrashHandler::install(argv[1], {"Sayloft", "9.8.7", "TestOS \"1\"\n"})) {
        return 2;
    }
    // No core dump of a crash made on purpose (a machine's core dump collector would keep it).
    ::prctl(PR_SET_DUMPABLE, 0);
    const char* mode = argv[2];
    if (std::strcmp(mode, "null-write") == 0) {
        *nearNull = 1;
    }
    if (std::strcmp(mode, "abort") == 0) {
        std::abort();
    }
    if (std::strcmp(mode, "runtime-error") == 0) {
        throw std::runtime_error("transcript: meet me by the old mill at nine");
    }
    if (std::strcmp(mode, "stack-overflow") == 0) {
        return recurse(0);
    }
    return 3;
}
