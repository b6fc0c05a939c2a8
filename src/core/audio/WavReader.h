#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/audio/DecodedWav.h"

namespace sayloft {

// Reads RIFF/WAVE files holding uncompressed audio: integer PCM of 8 (unsigned), 16, 24 or 32
// bits, or IEEE float of 32 or 64 bits, in the plain or the WAVE_FORMAT_EXTENSIBLE header.
// Unknown chunks are skipped; the RIFF size field is not trusted (many writers get it wrong),
// the data chunk's size is: a data chunk larger than the bytes present is an error, never a
// silent short read.
struct WavReader {
    // nullopt on failure, with a one-line reason in *error when error is not null.
    static std::optional<DecodedWav> decode(std::span<const std::uint8_t> bytes,
                                            std::string* error);
};

}  // namespace sayloft
