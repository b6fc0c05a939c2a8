// Fuzzes MultipartForm as the service uses it: the input's first line is the Content-Type header
// value, the rest the request body. Beyond the sanitizers it checks the parser's contract: at
// most maxParts parts, each named, every view inside the body.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/MultipartForm.h"

namespace {

bool inside(std::string_view view, std::string_view body) {
    return view.empty() ||
           (view.data() >= body.data() && view.data() + view.size() <= body.data() + body.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string_view contentType = input.substr(0, newline);
    // A copy of exactly the body's bytes, so that a read past it is an overflow ASan reports.
    const std::string body(newline == std::string_view::npos ? "" : input.substr(newline + 1));
    std::string error;
    const auto boundary = sayloft::MultipartForm::boundaryOf(contentType, &error);
    if (!boundary) {
        return error.empty() ? (std::abort(), 0) : 0;
    }
    const sayloft::MultipartForm::Limits limits;
    const auto form = sayloft::MultipartForm::parse(body, *boundary, limits, &error);
    if (!form) {
        return error.empty() ? (std::abort(), 0) : 0;
    }
    if (form->parts().size() > limits.maxParts) {
        std::abort();
    }
    for (const auto& part : form->parts()) {
        if (part.name.empty() || !inside(part.name, body) || !inside(part.filename, body) ||
            !inside(part.content, body) || form->find(part.name) == nullptr) {
            std::abort();
        }
    }
    return 0;
}
