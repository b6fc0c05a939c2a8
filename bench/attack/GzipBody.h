#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sayloft::bench {

// A gzip stream (as for Content-Encoding: gzip) of `prefix` followed by `zeros` zero bytes,
// deflated piece by piece so that the inflated size never sits in memory: about a thousandth of
// the inflated size.
struct GzipBody {
    static std::string of(std::string_view prefix, std::uint64_t zeros);
};

}  // namespace sayloft::bench
