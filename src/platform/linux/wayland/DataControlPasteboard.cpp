#include "platform/linux/wayland/DataControlPasteboard.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace sayloft {
namespace {

constexpr const char* mimeTypes[] = {
    "text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT", "STRING",
};

// Version 2 adds the primary selection.
constexpr std::uint32_t wantedManagerVersion = 2;

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {
}

// A write to a pipe whose reader has gone raises SIGPIPE in the writing thread; the Wayland
// thread blocks it and takes back the one a failed write left pending, so the write just
// fails with EPIPE whatever the process does with the signal.
void blockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void consumeSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec zero{0, 0};
    while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
    }
}

}  // namespace

DataControlPasteboard::DataControlPasteboard(const char* displayName)
    : DataControlPasteboard(displayName, Limits{}) {
}

DataControlPasteboard::DataControlPasteboard(const char* displayName, Limits limits)
    : limits_(limits), display_(wl_display_connect(displayName)) {
    if (display_ == nullptr) {
        return;
    }
    static constexpr wl_registry_listener registryListener{&DataControlPasteboard::onGlobal,
                                                           onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    if (wl_display_roundtrip(display_) < 0 || seat_ == nullptr || manager_ == nullptr) {
        return;
    }
    static constexpr zwlr_data_control_device_v1_listener deviceListener{
        &DataControlPasteboard::onDataOffer, &DataControlPasteboard::onSelection,
        &DataControlPasteboard::onFinished, &DataControlPasteboard::onPrimarySelection};
    device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
    zwlr_data_control_device_v1_add_listener(device_, &deviceListener, this);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0 || wl_display_roundtrip(display_) < 0 || device_ == nullptr) {
        return;
    }
    available_ = true;
    thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

DataControlPasteboard::~DataControlPasteboard() {
    if (thread_.joinable()) {
        thread_.request_stop();
        wake();
        thread_.join();
    }
    for (Transfer& transfer : transfers_) {
        closeTransfer(transfer);
    }
    for (auto& [source, text] : sources_) {
        zwlr_data_control_source_v1_destroy(source);
    }
    for (auto& [callback, generation] : syncs_) {
        wl_callback_destroy(callback);
    }
    if (clipboardOffer_ != nullptr) {
        zwlr_data_control_offer_v1_destroy(clipboardOffer_);
    }
    if (primaryOffer_ != nullptr && primaryOffer_ != clipboardOffer_) {
        zwlr_data_control_offer_v1_destroy(primaryOffer_);
    }
    if (device_ != nullptr) {
        zwlr_data_control_device_v1_destroy(device_);
    }
    if (manager_ != nullptr) {
        zwlr_data_control_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    if (display_ != nullptr) {
        wl_display_flush(display_);
        wl_display_disconnect(display_);
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void DataControlPasteboard::setText(std::string_view utf8) {
    if (!available_) {
        return;
    }
    std::unique_lock lock(mutex_);
    pending_ = std::string(utf8);
    const std::uint64_t generation = ++requested_;
    wake();
    confirmed_.wait_for(lock, limits_.setTimeout,
                        [&] { return done_ >= generation || !available_; });
}

void DataControlPasteboard::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void DataControlPasteboard::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                                     const char* interface, std::uint32_t version) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
        self->seat_ =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
               self->manager_ == nullptr) {
        self->managerVersion_ = std::min(version, wantedManagerVersion);
        self->manager_ = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_data_control_manager_v1_interface, self->managerVersion_));
    }
}

void DataControlPasteboard::onDataOffer(void*, zwlr_data_control_device_v1*,
                                        zwlr_data_control_offer_v1*) {
    // Kept until the selection event that names it is replaced (replaceOffer).
}

void DataControlPasteboard::onSelection(void* data, zwlr_data_control_device_v1*,
                                        zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->replaceOffer(self->clipboardOffer_, offer);
}

void DataControlPasteboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                               zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->replaceOffer(self->primaryOffer_, offer);
}

void DataControlPasteboard::replaceOffer(zwlr_data_control_offer_v1*& current,
                                         zwlr_data_control_offer_v1* next) {
    // We never read the selections; an offer is only released once it is no longer current.
    zwlr_data_control_offer_v1* old = current;
    current = next;
    if (old != nullptr && old != next && old != clipboardOffer_ && old != primaryOffer_) {
        zwlr_data_control_offer_v1_destroy(old);
    }
}

void DataControlPasteboard::onFinished(void* data, zwlr_data_control_device_v1* device) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->device_ = nullptr;
    self->fail();
}

void DataControlPasteboard::onSend(void* data, zwlr_data_control_source_v1* source,
                                   const char* /*mimeType*/, std::int32_t fd) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    const auto found = self->sources_.find(source);
    if (found == self->sources_.end() || self->transfers_.size() >= self->limits_.maxTransfers) {
        close(fd);  // the reader gets nothing rather than waiting
        return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Transfer transfer{fd, found->second, 0,
                      std::chrono::steady_clock::now() + self->limits_.transferTimeout};
    if (self->writeSome(transfer)) {
        self->transfers_.push_back(std::move(transfer));
    }
    self->inFlight_ = self->transfers_.size();
}

void DataControlPasteboard::onCancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    // Replaced: by our next text or another client's. Reads already started finish on their
    // own copy of the text.
    self->sources_.erase(source);
    zwlr_data_control_source_v1_destroy(source);
}

void DataControlPasteboard::onSynced(void* data, wl_callback* callback, std::uint32_t) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    const auto found = self->syncs_.find(callback);
    if (found != self->syncs_.end()) {
        {
            std::lock_guard lock(self->mutex_);
            self->done_ = std::max(self->done_, found->second);
        }
        self->confirmed_.notify_all();
        self->syncs_.erase(found);
    }
    wl_callback_destroy(callback);
}

zwlr_data_control_source_v1* DataControlPasteboard::newSource(
    const std::shared_ptr<const std::string>& text) {
    static constexpr zwlr_data_control_source_v1_listener sourceListener{
        &DataControlPasteboard::onSend, &DataControlPasteboard::onCancelled};
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(manager_);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, this);
    for (const char* mimeType : mimeTypes) {
        zwlr_data_control_source_v1_offer(source, mimeType);
    }
    sources_[source] = text;
    return source;
}

void DataControlPasteboard::offer(std::string text, std::uint64_t generation) {
    if (device_ == nullptr) {
        return;
    }
    const auto shared = std::make_shared<const std::string>(std::move(text));
    // A source serves one selection only, so each selection gets its own.
    zwlr_data_control_device_v1_set_selection(device_, newSource(shared));
    if (managerVersion_ >= 2) {
        zwlr_data_control_device_v1_set_primary_selection(device_, newSource(shared));
    }
    // The compositor has applied both once it answers a sync sent after them.
    static constexpr wl_callback_listener syncListener{&DataControlPasteboard::onSynced};
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &syncListener, this);
    syncs_[callback] = generation;
}

bool DataControlPasteboard::writeSome(Transfer& transfer) {
    const std::string& text = *transfer.text;
    while (transfer.written < text.size()) {
        const ssize_t n =
            write(transfer.fd, text.data() + transfer.written, text.size() - transfer.written);
        if (n > 0) {
            transfer.written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;  // the reader is behind: wait until it can take more
        } else {
            if (errno == EPIPE) {
                consumeSigpipe();
            }
            break;  // the reader went away
        }
    }
    closeTransfer(transfer);
    return false;
}

void DataControlPasteboard::closeTransfer(Transfer& transfer) {
    if (transfer.fd >= 0) {
        close(transfer.fd);
        transfer.fd = -1;
    }
}

void DataControlPasteboard::fail() {
    {
        std::lock_guard lock(mutex_);
        available_ = false;
    }
    confirmed_.notify_all();
}

void DataControlPasteboard::run(std::stop_token stop) {
    blockSigpipe();
    const int displayFd = wl_display_get_fd(display_);
    std::vector<pollfd> fds;
    while (!stop.stop_requested() && available_) {
        std::optional<std::string> text;
        std::uint64_t generation = 0;
        {
            std::lock_guard lock(mutex_);
            text.swap(pending_);
            generation = requested_;
        }
        if (text) {
            offer(std::move(*text), generation);
        }

        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                fail();
                return;
            }
        }
        const bool flushed = wl_display_flush(display_) >= 0;
        if (!flushed && errno != EAGAIN) {
            wl_display_cancel_read(display_);
            fail();
            return;
        }

        fds.clear();
        fds.push_back({displayFd, static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        auto nearest = std::chrono::steady_clock::time_point::max();
        for (const Transfer& transfer : transfers_) {
            fds.push_back({transfer.fd, POLLOUT, 0});
            nearest = std::min(nearest, transfer.deadline);
        }
        int timeout = -1;
        if (!transfers_.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                nearest - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            wl_display_cancel_read(display_);
            fail();
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (wl_display_read_events(display_) < 0) {
                fail();
                return;
            }
        } else {
            wl_display_cancel_read(display_);
        }
        if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            fail();
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
        }

        // Transfers polled this round: write what their readers take, drop the ones timed out.
        const auto now = std::chrono::steady_clock::now();
        const std::size_t polled = fds.size() - 2;
        std::vector<Transfer> kept;
        for (std::size_t i = 0; i < transfers_.size(); ++i) {
            Transfer& transfer = transfers_[i];
            const bool ready = i < polled && fds[i + 2].revents != 0;
            if (ready && !writeSome(transfer)) {
                continue;
            }
            if (now >= transfer.deadline) {
                closeTransfer(transfer);
                continue;
            }
            kept.push_back(std::move(transfer));
        }
        transfers_ = std::move(kept);
        inFlight_ = transfers_.size();

        if (wl_display_dispatch_pending(display_) < 0) {
            fail();
            return;
        }
    }
}

}  // namespace sayloft
