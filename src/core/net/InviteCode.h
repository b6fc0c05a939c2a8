#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sayloft {

// The invitation code a service's operator hands to teammates so that their computers may
// register from the network. The client sends it in the `Sayloft-Invite` header of
// POST /v1/register; the service reads its own copy from a file at start.
//
// A code is 1 to maxLength visible ASCII characters (0x21-0x7E): no spaces or control
// characters, so that it travels unchanged in an HTTP header and cannot end or inject one.
struct InviteCode {
    static constexpr std::string_view headerName = "Sayloft-Invite";
    static constexpr std::size_t maxLength = 256;
    // A code in a file must be at least this long: it is the only thing between the network and
    // a token, and guesses are only slowed, not stopped.
    static constexpr std::size_t minLength = 16;

    static bool isValid(std::string_view code);

    // The code held in the file: its content less one trailing line break. nullopt, with *error
    // naming the file and what to do, when it cannot be read, is not a regular file, can be read
    // by every user (others' read bit), is empty, longer than maxLength, shorter than minLength,
    // or holds anything but a valid code.
    static std::optional<std::string> load(const std::filesystem::path& file, std::string* error);
};

}  // namespace sayloft
