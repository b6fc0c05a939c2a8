#include <memory>

#include <gtest/gtest.h>

#include "app/WeakPtrFactory.h"

namespace sayloft {
namespace {

struct Owner {
    int calls = 0;
    WeakPtrFactory<Owner> weak{this};
};

TEST(WeakPtrFactory, PointersAndBoundCallbacksGoQuietOnceTheOwnerIsGone) {
    auto owner = std::make_unique<Owner>();
    const auto add = owner->weak.bindWeak([](Owner& self, int n) { self.calls += n; });
    const WeakPtr<Owner> pointer = owner->weak.weakPtr();
    add(2);
    EXPECT_EQ(owner->calls, 2);
    EXPECT_EQ(pointer.get(), owner.get());
    EXPECT_FALSE(pointer.expired());

    owner.reset();
    add(3);  // nothing: with the sanitizers on, a call through a dangling owner fails here
    EXPECT_TRUE(pointer.expired());
    EXPECT_EQ(pointer.get(), nullptr);
    EXPECT_EQ(WeakPtr<Owner>().get(), nullptr);
}

}  // namespace
}  // namespace sayloft
