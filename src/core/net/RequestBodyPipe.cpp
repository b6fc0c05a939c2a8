#include "core/net/RequestBodyPipe.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sayloft {

void RequestBodyPipe::write(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (closed_ || bytes.empty()) {
        return;
    }
    // Drops what was taken before growing, so the buffer holds only what still waits.
    if (consumed_ > 0) {
        pending_.erase(0, consumed_);
        consumed_ = 0;
    }
    pending_.append(bytes);
    if (wakeup_) {
        wakeup_();
    }
}

void RequestBodyPipe::close() {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    closed_ = true;
    lastProgress_ = Clock::now();
    if (wakeup_) {
        wakeup_();
    }
}

RequestBodyPipe::Take RequestBodyPipe::take(char* out, std::size_t size) {
    std::lock_guard lock(mutex_);
    const std::size_t bytes = std::min(size, pending_.size() - consumed_);
    if (bytes > 0) {
        std::memcpy(out, pending_.data() + consumed_, bytes);
        consumed_ += bytes;
        lastProgress_ = Clock::now();
    }
    return Take{bytes, bytes == 0 && closed_};
}

bool RequestBodyPipe::readable() const {
    std::lock_guard lock(mutex_);
    return closed_ || consumed_ < pending_.size();
}

void RequestBodyPipe::setWakeup(std::function<void()> wakeup) {
    std::lock_guard lock(mutex_);
    wakeup_ = std::move(wakeup);
}

void RequestBodyPipe::noteAnswerProgress() {
    std::lock_guard lock(mutex_);
    lastProgress_ = Clock::now();
}

bool RequestBodyPipe::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

RequestBodyPipe::Clock::time_point RequestBodyPipe::lastProgress() const {
    std::lock_guard lock(mutex_);
    return lastProgress_;
}

}  // namespace sayloft
