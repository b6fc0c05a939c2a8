#include "platform/linux/pulse/PulseConnection.h"

#include <stdexcept>
#include <utility>

#include <pulse/pulseaudio.h>

namespace sayloft {
namespace {

void signalLoop(pa_context*, void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

bool isFinal(pa_context_state_t state) {
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

struct SourceQuery {
    pa_threaded_mainloop* loop;
    bool done = false;
    std::optional<PulseConnection::Source> source;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<SourceQuery*>(userdata);
    if (info != nullptr && eol == 0) {
        PulseConnection::Source source;
        source.name = info->name != nullptr ? info->name : "";
        source.format.sampleRate = info->sample_spec.rate;
        source.format.channels = info->sample_spec.channels;
        for (unsigned i = 0; i < info->channel_map.channels; ++i) {
            source.channelPositions.push_back(info->channel_map.map[i]);
        }
        query->source = std::move(source);
        return;
    }
    // eol > 0: the end of the list; eol < 0: an error such as "no such entity".
    query->done = true;
    pa_threaded_mainloop_signal(query->loop, 0);
}

struct Deadline {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<Deadline*>(userdata);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

}  // namespace

PulseConnection::PulseConnection(std::string server) : server_(std::move(server)) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        throw std::runtime_error("PulseAudio: cannot create the audio thread's main loop");
    }
    pa_threaded_mainloop_set_name(loop_, "sayloft-audio");
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        throw std::runtime_error("PulseAudio: cannot start the audio thread");
    }
}

PulseConnection::~PulseConnection() {
    pa_threaded_mainloop_lock(loop_);
    dropContext();
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseConnection::dropContext() {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

PulseConnection::Lock::Lock(const PulseConnection& connection)
    : loop_(connection.loop_), locked_(pa_threaded_mainloop_in_thread(loop_) == 0) {
    if (locked_) {
        pa_threaded_mainloop_lock(loop_);
    }
}

PulseConnection::Lock::~Lock() {
    if (locked_) {
        pa_threaded_mainloop_unlock(loop_);
    }
}

bool PulseConnection::waitUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds limit) const {
    if (done()) {
        return true;
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    Deadline deadline{loop_, false};
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when),
                   static_cast<pa_usec_t>(limit.count()) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(api, &when, onDeadline, &deadline);
    while (!done() && !deadline.expired) {
        pa_threaded_mainloop_wait(loop_);
    }
    api->time_free(timer);
    return done();
}

bool PulseConnection::connect() {
    Lock lock(*this);
    if (context_ != nullptr) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            return true;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            dropContext();  // the server went away: start afresh
        }
    }
    if (context_ == nullptr) {
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Sayloft");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "sayloft");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "audio-input-microphone");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Sayloft",
                                                properties);
        pa_proplist_free(properties);
        if (context_ == nullptr) {
            return false;
        }
        pa_context_set_state_callback(context_, signalLoop, loop_);
        if (pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            return false;
        }
    }
    pa_context* context = context_;
    waitUntil([context] { return isFinal(pa_context_get_state(context)); }, connectTimeout);
    if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
        return true;
    }
    dropContext();  // failed, or no answer in time: the next call tries again
    return false;
}

std::optional<PulseConnection::Source> PulseConnection::defaultSource() {
    if (!connect()) {
        return std::nullopt;
    }
    Lock lock(*this);
    if (context_ == nullptr || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        return std::nullopt;
    }
    SourceQuery query{loop_, false, std::nullopt};
    pa_operation* operation =
        pa_context_get_source_info_by_name(context_, "@DEFAULT_SOURCE@", onSourceInfo, &query);
    if (operation == nullptr) {
        return std::nullopt;
    }
    pa_context* context = context_;
    waitUntil(
        [&query, context] {
            return query.done || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
        },
        requestTimeout);
    const bool answered = query.done;
    if (!answered) {
        pa_operation_cancel(operation);  // the callback no longer runs: `query` may go
    }
    pa_operation_unref(operation);
    return answered ? std::move(query.source) : std::nullopt;
}

}  // namespace sayloft
