#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Pasteboard.h"

struct wl_callback;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace sayloft {

// The Wayland clipboard and primary selection through zwlr_data_control_manager_v1 (sway, KWin,
// Hyprland; GNOME has none), which lets a client without keyboard focus own the selections.
// Version 2 of the manager is needed for the primary selection; with version 1 only the
// clipboard is set. ext_data_control_manager_v1 (the same protocol, standardised and renamed)
// is not used: Debian 12 ships neither its definition nor a compositor offering it.
//
// setText offers the text as both the clipboard and the primary selection (foot pastes the
// primary one on Shift+Insert, GTK the clipboard) under the types text/plain;charset=utf-8,
// text/plain, UTF8_STRING, TEXT and STRING, and keeps serving it to every reader until another
// client (or the next setText) replaces it: a one-shot source often pastes nothing in GTK. The
// bytes are offered as given: invalid UTF-8 is passed through unchanged, under every type.
//
// Threads: setText and the rest of the public interface belong to the main thread. The
// selections are owned and served by a Wayland thread of this object with its own connection,
// so a reader that stalls never blocks the caller: each transfer is written without blocking,
// is closed after `transferTimeout` whatever was written, and at most `maxTransfers` run at once
// (a read beyond that gets nothing, at once).
class DataControlPasteboard final : public Pasteboard {
public:
    struct Limits {
        std::chrono::milliseconds transferTimeout{2000};
        std::size_t maxTransfers = 16;
        // How long setText waits for the compositor to confirm the new selection.
        std::chrono::milliseconds setTimeout{1000};
    };

    // displayName nullptr: $WAYLAND_DISPLAY. Connects and, when data control is offered, starts
    // the Wayland thread.
    explicit DataControlPasteboard(const char* displayName = nullptr);
    DataControlPasteboard(const char* displayName, Limits limits);
    // Stops serving; the selections the compositor held from us become empty.
    ~DataControlPasteboard() override;

    DataControlPasteboard(const DataControlPasteboard&) = delete;
    DataControlPasteboard& operator=(const DataControlPasteboard&) = delete;

    // Whether the compositor offers data control and the connection still works; otherwise
    // setText does nothing.
    bool isAvailable() const { return available_; }
    // Whether setText also sets the primary selection (manager version 2 or later).
    bool hasPrimarySelection() const { return managerVersion_ >= 2; }

    // Hands the text to the Wayland thread and returns once the compositor has taken both
    // selections (so a paste chord posted right after gets this text), or after
    // Limits::setTimeout.
    void setText(std::string_view utf8) override;

    // Reads being written right now. Any thread; for tests and diagnostics.
    std::size_t transfersInFlight() const { return inFlight_; }

private:
    struct Transfer {
        int fd;
        std::shared_ptr<const std::string> text;
        std::size_t written;
        std::chrono::steady_clock::time_point deadline;
    };

    // Wayland event handlers; data is this object.
    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onDataOffer(void* data, zwlr_data_control_device_v1* device,
                            zwlr_data_control_offer_v1* offer);
    static void onSelection(void* data, zwlr_data_control_device_v1* device,
                            zwlr_data_control_offer_v1* offer);
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1* device,
                                   zwlr_data_control_offer_v1* offer);
    static void onFinished(void* data, zwlr_data_control_device_v1* device);
    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* mimeType,
                       std::int32_t fd);
    static void onCancelled(void* data, zwlr_data_control_source_v1* source);
    static void onSynced(void* data, wl_callback* callback, std::uint32_t serial);

    // The Wayland thread.
    void run(std::stop_token stop);
    void offer(std::string text, std::uint64_t generation);
    zwlr_data_control_source_v1* newSource(const std::shared_ptr<const std::string>& text);
    void replaceOffer(zwlr_data_control_offer_v1*& current, zwlr_data_control_offer_v1* next);
    bool writeSome(Transfer& transfer);  // false once the transfer is over
    void closeTransfer(Transfer& transfer);
    void fail();
    void wake();

    Limits limits_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_data_control_manager_v1* manager_ = nullptr;
    std::uint32_t managerVersion_ = 0;
    zwlr_data_control_device_v1* device_ = nullptr;
    int wakeFd_ = -1;
    std::atomic<bool> available_ = false;
    std::atomic<std::size_t> inFlight_ = 0;

    // Shared between setText and the Wayland thread.
    std::mutex mutex_;
    std::condition_variable confirmed_;
    std::optional<std::string> pending_;
    std::uint64_t requested_ = 0;  // generation of the last setText
    std::uint64_t done_ = 0;       // generation the compositor has confirmed

    // The Wayland thread's own.
    std::map<zwlr_data_control_source_v1*, std::shared_ptr<const std::string>> sources_;
    std::map<wl_callback*, std::uint64_t> syncs_;
    zwlr_data_control_offer_v1* clipboardOffer_ = nullptr;
    zwlr_data_control_offer_v1* primaryOffer_ = nullptr;
    std::vector<Transfer> transfers_;

    std::jthread thread_;  // last: stopped and joined before the rest goes
};

}  // namespace sayloft
