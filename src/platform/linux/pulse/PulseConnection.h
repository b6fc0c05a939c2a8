#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/audio/AudioFormat.h"

struct pa_threaded_mainloop;
struct pa_context;

namespace sayloft {

// One connection to the PulseAudio server (or PipeWire's PulseAudio service), kept open for the
// life of the application so that a recording does not pay for connecting: the audio engines
// share it and open only a new record stream each. It owns the audio thread (libpulse's threaded
// main loop), on which every stream callback runs.
//
// A connection that the server dropped (restart, crash) is made again by the next connect().
// Thread-safe; must not be destroyed on the audio thread.
class PulseConnection {
public:
    // The default input as the server reports it at the moment of asking.
    struct Source {
        std::string name;                   // the source's own name, never "@DEFAULT_SOURCE@"
        AudioFormat format;                 // native rate and channel count
        std::vector<int> channelPositions;  // pa_channel_position_t per channel
    };

    // server: a PulseAudio server address ("unix:/run/user/1000/pulse/native"); empty means the
    // default one (PULSE_SERVER, client.conf, the per-user socket). Never spawns a server.
    // Starts the audio thread; does not connect yet.
    explicit PulseConnection(std::string server = {});
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects unless connected; false when the server cannot be reached within connectTimeout.
    // Not on the audio thread.
    bool connect();

    // The current default source (`@DEFAULT_SOURCE@`), or nothing when there is no server or no
    // source, or the server did not answer within requestTimeout. Not on the audio thread.
    std::optional<Source> defaultSource();

    // The pieces an engine works with. loop() is valid for the whole life of the connection;
    // context() only while the main loop is locked, and may be null or failed.
    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Holds the main loop lock, unless the calling thread is the audio thread (which already
    // holds it inside every callback).
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
        bool locked_;
    };

    // With the lock held and not on the audio thread: waits until done() is true, woken by every
    // pa_threaded_mainloop_signal, for at most limit. Returns done().
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) const;

    static constexpr std::chrono::milliseconds connectTimeout{3000};
    static constexpr std::chrono::milliseconds requestTimeout{3000};

private:
    void dropContext();  // lock held

    std::string server_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;  // guarded by the main loop lock
};

}  // namespace sayloft
