#include "GzipBody.h"

#include <stdexcept>
#include <vector>

#include <zlib.h>

namespace sayloft::bench {

std::string GzipBody::of(std::string_view prefix, std::uint64_t zeros) {
    z_stream stream{};
    // 15 window bits + 16: a gzip header and trailer rather than zlib's.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out;
    std::vector<unsigned char> buffer(1 << 16);
    auto feed = [&](const unsigned char* data, std::size_t size, int flush) {
        stream.next_in = const_cast<unsigned char*>(data);
        stream.avail_in = static_cast<uInt>(size);
        do {
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            out.append(reinterpret_cast<const char*>(buffer.data()),
                       buffer.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    feed(reinterpret_cast<const unsigned char*>(prefix.data()), prefix.size(), Z_NO_FLUSH);
    const std::vector<unsigned char> zeroBlock(1 << 20, 0);
    for (std::uint64_t left = zeros; left > 0;) {
        const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 20));
        feed(zeroBlock.data(), now, Z_NO_FLUSH);
        left -= now;
    }
    feed(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    return out;
}

}  // namespace sayloft::bench
