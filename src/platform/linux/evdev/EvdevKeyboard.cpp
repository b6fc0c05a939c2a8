#include "platform/linux/evdev/EvdevKeyboard.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sayloft {
namespace {

void setBit(std::vector<unsigned char>& bits, unsigned bit) {
    bits[bit / 8] = static_cast<unsigned char>(bits[bit / 8] | (1u << (bit % 8)));
}

// Asks the kernel to deliver only EV_SYN and the six modifiers' EV_KEY events on this
// descriptor (the type mask is the one set for type 0, EV_SYN): other keys, scan codes (EV_MSC)
// and LEDs never reach this process. Kernels before 4.4 refuse it; read() drops those then.
void restrictToModifiers(int fd) {
    std::vector<unsigned char> types((EV_MAX + 8) / 8, 0);
    setBit(types, EV_SYN);
    setBit(types, EV_KEY);
    std::vector<unsigned char> keys((KEY_MAX + 8) / 8, 0);
    for (const std::uint16_t code : ModifierKeyState::codes()) {
        setBit(keys, code);
    }
    input_mask mask{};
    mask.type = EV_KEY;
    mask.codes_size = static_cast<__u32>(keys.size());
    mask.codes_ptr = reinterpret_cast<__u64>(keys.data());
    ::ioctl(fd, EVIOCSMASK, &mask);
    mask.type = EV_SYN;
    mask.codes_size = static_cast<__u32>(types.size());
    mask.codes_ptr = reinterpret_cast<__u64>(types.data());
    ::ioctl(fd, EVIOCSMASK, &mask);
}

std::set<std::uint16_t> modifiersDown(const libevdev* device) {
    std::set<std::uint16_t> down;
    for (const std::uint16_t code : ModifierKeyState::codes()) {
        if (libevdev_get_event_value(device, EV_KEY, code) != 0) {
            down.insert(code);
        }
    }
    return down;
}

bool hasModifier(const libevdev* device) {
    if (!libevdev_has_event_type(device, EV_KEY)) {
        return false;
    }
    for (const std::uint16_t code : ModifierKeyState::codes()) {
        if (libevdev_has_event_code(device, EV_KEY, code)) {
            return true;
        }
    }
    return false;
}

}  // namespace

EvdevKeyboard::Opening EvdevKeyboard::open(const std::filesystem::path& path,
                                           bool acceptRecordStreams) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {errno == EACCES || errno == EPERM ? Outcome::denied : Outcome::failed, nullptr};
    }
    struct stat status {};
    if (acceptRecordStreams && ::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
        return {Outcome::keyboard, std::unique_ptr<EvdevKeyboard>(new EvdevKeyboard(fd, nullptr))};
    }
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd, &device) != 0) {
        ::close(fd);
        return {Outcome::failed, nullptr};
    }
    if (!hasModifier(device)) {
        libevdev_free(device);
        ::close(fd);
        return {Outcome::notKeyboard, nullptr};
    }
    restrictToModifiers(fd);
    return {Outcome::keyboard, std::unique_ptr<EvdevKeyboard>(new EvdevKeyboard(fd, device))};
}

bool EvdevKeyboard::keyCapabilitiesHaveModifier(std::string_view text) {
    std::vector<unsigned long long> words;  // least significant first
    std::istringstream stream{std::string(text)};
    std::string word;
    while (stream >> word) {
        if (word.size() > 16 || word.find_first_not_of("0123456789abcdefABCDEF") != word.npos) {
            return false;
        }
        words.insert(words.begin(), std::stoull(word, nullptr, 16));
    }
    constexpr unsigned bitsPerWord = 8 * sizeof(long);
    for (const std::uint16_t code : ModifierKeyState::codes()) {
        const std::size_t index = code / bitsPerWord;
        if (index < words.size() && ((words[index] >> (code % bitsPerWord)) & 1u) != 0) {
            return true;
        }
    }
    return false;
}

EvdevKeyboard::EvdevKeyboard(int fd, libevdev* device) : fd_(fd), device_(device) {
    if (device_ != nullptr) {
        downAtOpen_ = modifiersDown(device_);
    }
}

EvdevKeyboard::~EvdevKeyboard() {
    if (device_ != nullptr) {
        libevdev_free(device_);
    }
    ::close(fd_);
}

bool EvdevKeyboard::read(ModifierKeyState& state, ModifierKeyState::DeviceId device,
                         std::vector<ModifierEvent>& events) {
    const auto add = [&events](const std::vector<ModifierEvent>& more) {
        events.insert(events.end(), more.begin(), more.end());
    };
    std::array<unsigned char, 64 * sizeof(input_event)> buffer{};
    for (;;) {
        const std::size_t kept = partial_.size();
        if (kept > 0) {
            std::memcpy(buffer.data(), partial_.data(), kept);
        }
        const ssize_t count = ::read(fd_, buffer.data() + kept, buffer.size() - kept);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (count <= 0) {  // end of stream, or ENODEV: the device was removed
            return false;
        }
        const std::size_t total = kept + static_cast<std::size_t>(count);
        const std::size_t whole = total / sizeof(input_event);
        partial_.assign(buffer.data() + whole * sizeof(input_event), buffer.data() + total);
        for (std::size_t i = 0; i < whole; ++i) {
            input_event record{};
            std::memcpy(&record, buffer.data() + i * sizeof(input_event), sizeof record);
            if (record.type == EV_SYN && record.code == SYN_DROPPED) {
                if (device_ != nullptr) {
                    // libevdev's documented re-sync of its own state from the kernel (it
                    // discards what the kernel still buffers); its delta events are not
                    // needed, only the key values it holds afterwards.
                    partial_.clear();
                    input_event event{};
                    libevdev_next_event(device_, LIBEVDEV_READ_FLAG_FORCE_SYNC, &event);
                    while (libevdev_next_event(device_, LIBEVDEV_READ_FLAG_SYNC, &event) ==
                           LIBEVDEV_READ_STATUS_SYNC) {
                    }
                    add(state.replace(device, modifiersDown(device_)));
                    return true;
                }
                add(state.replace(device, {}));
                skipToReport_ = true;
                continue;
            }
            if (skipToReport_) {
                skipToReport_ = !(record.type == EV_SYN && record.code == SYN_REPORT);
                continue;
            }
            if (record.type == EV_KEY && (record.value == 0 || record.value == 1) &&
                ModifierKeyState::virtualKeyFor(record.code)) {
                add(record.value == 1 ? state.press(device, record.code)
                                      : state.release(device, record.code));
            }
        }
    }
}

}  // namespace sayloft
