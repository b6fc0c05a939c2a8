#pragma once

#include <stdexcept>
#include <string>

namespace sayloft {

// A streamed recognition (TranscriptionStream) ended without a transcript. The caller then sends
// the whole recording the usual way; notOffered says the service does not stream at all (it
// answered 404, 405, 415 or 501 to the stream), so there is no point trying again in this run.
struct StreamFailed : std::runtime_error {
    StreamFailed(const std::string& what, bool notOffered_)
        : std::runtime_error(what), notOffered(notOffered_) {}

    bool notOffered = false;
};

}  // namespace sayloft
