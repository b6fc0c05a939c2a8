#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sayloft {

// Text built in a fixed buffer, for code that may not allocate (a signal handler). What does not
// fit is cut off; the text is always NUL-terminated.
template <std::size_t Capacity>
class FixedText {
public:
    FixedText& append(std::string_view text) noexcept {
        for (const char c : text) {
            if (size_ + 1 >= Capacity) {
                break;
            }
            data_[size_++] = c;
        }
        data_[size_] = '\0';
        return *this;
    }

    // The decimal digits of value, padded with zeros on the left to at least width digits.
    FixedText& appendDecimal(std::uint64_t value, int width = 1) noexcept {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int i = count; i < width; ++i) {
            append("0");
        }
        while (count > 0) {
            append(std::string_view(&digits[--count], 1));
        }
        return *this;
    }

    void clear() noexcept {
        size_ = 0;
        data_[0] = '\0';
    }

    const char* c_str() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {data_, size_}; }

private:
    char data_[Capacity] = {};
    std::size_t size_ = 0;
};

}  // namespace sayloft
