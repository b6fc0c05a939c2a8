#include "server/ConnectionDeadlines.h"

namespace sayloft {

ConnectionDeadlines::Verdict ConnectionDeadlines::judge(const Observation& connection,
                                                        Clock::time_point now, const Limits& limits,
                                                        bool busy, bool stopping) {
    const auto elapsed = now - connection.since;
    switch (connection.stage) {
        case Stage::waiting:
            if (stopping) {
                return Verdict::stopping;
            }
            return elapsed > (busy ? limits.busyIdle : limits.idle) ? Verdict::idle : Verdict::keep;
        case Stage::head:
            return elapsed > limits.head ? Verdict::headTooSlow : Verdict::keep;
        case Stage::body: {
            if (connection.requestDeadline.count() > 0 && elapsed > connection.requestDeadline) {
                return Verdict::requestTooLong;
            }
            if (elapsed <= limits.bodyGrace) {
                return Verdict::keep;
            }
            const double seconds = std::chrono::duration<double>(elapsed).count();
            return static_cast<double>(connection.bodyBytes) <
                           limits.minBodyBytesPerSecond * seconds
                       ? Verdict::bodyTooSlow
                       : Verdict::keep;
        }
        case Stage::working:
            return Verdict::keep;
    }
    return Verdict::keep;
}

const char* ConnectionDeadlines::describe(Verdict verdict) {
    switch (verdict) {
        case Verdict::keep:
            return "kept";
        case Verdict::idle:
            return "idle too long";
        case Verdict::headTooSlow:
            return "headers too slow";
        case Verdict::bodyTooSlow:
            return "body too slow";
        case Verdict::requestTooLong:
            return "request too long";
        case Verdict::stopping:
            return "idle at stop";
    }
    return "?";
}

}  // namespace sayloft
