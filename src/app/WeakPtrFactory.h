#pragma once

#include <memory>
#include <utility>

namespace sayloft {

template <typename T>
class WeakPtrFactory;

// A reference to an object that reads null once the object is destroyed. It may be copied and
// carried to any thread, and expired() may be asked anywhere; get() and what it returns belong
// to the owner's thread, the only one that can destroy the owner.
template <typename T>
class WeakPtr {
public:
    WeakPtr() = default;

    T* get() const { return ref_.lock().get(); }
    bool expired() const { return ref_.expired(); }

private:
    friend class WeakPtrFactory<T>;
    explicit WeakPtr(std::weak_ptr<T> ref) : ref_(std::move(ref)) {}

    std::weak_ptr<T> ref_;
};

// Hands out WeakPtrs to its owner and callbacks that do nothing once the owner is gone. Make it
// the owner's last member: it is then destroyed first, and no callback can reach a half
// destroyed owner.
template <typename T>
class WeakPtrFactory {
public:
    explicit WeakPtrFactory(T* owner) : anchor_(owner, [](T*) {}) {}
    WeakPtrFactory(const WeakPtrFactory&) = delete;
    WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

    WeakPtr<T> weakPtr() const { return WeakPtr<T>(anchor_); }

    // A callable that runs fn(owner, arguments...) while the owner lives and does nothing after.
    template <typename Fn>
    auto bindWeak(Fn fn) const {
        return [weak = weakPtr(), fn = std::move(fn)](auto&&... arguments) {
            if (T* owner = weak.get()) {
                fn(*owner, std::forward<decltype(arguments)>(arguments)...);
            }
        };
    }

private:
    std::shared_ptr<T> anchor_;  // owns nothing: only its lifetime matters
};

}  // namespace sayloft
