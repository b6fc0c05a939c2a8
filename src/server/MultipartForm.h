#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sayloft {

// A multipart/form-data body (RFC 7578) as the service receives it, already whole in memory.
// Pure: no I/O, no allocation beyond the list of parts, whose names, file names and contents are
// views into the parsed body (which must outlive the form). Bounded: at most `maxParts` parts,
// each with at most `maxPartHeaderBytes` of header lines. Anything malformed is refused with a
// one-line reason fit for a 400 answer.
class MultipartForm {
public:
    struct Limits {
        std::size_t maxParts = 16;
        std::size_t maxPartHeaderBytes = 2048;
    };
    struct Part {
        std::string_view name;
        std::string_view filename;  // empty when the part names none
        std::string_view content;
    };

    // The boundary parameter of a Content-Type value ("multipart/form-data; boundary=x"), or
    // nullopt with *error when there is none or it is not 1 to 70 characters.
    static std::optional<std::string> boundaryOf(std::string_view contentType, std::string* error);

    // The parts of body, or nullopt with *error.
    static std::optional<MultipartForm> parse(std::string_view body, std::string_view boundary,
                                              const Limits& limits, std::string* error);

    // The first part with this name, or nullptr.
    const Part* find(std::string_view name) const;
    const std::vector<Part>& parts() const { return parts_; }

private:
    std::vector<Part> parts_;
};

}  // namespace sayloft
