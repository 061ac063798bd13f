#include "kit/core/NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

TEST(NotificationCenterTest, NameAndObjectFiltersAndEndingObservations)
{
    kit::NotificationCenter center;
    int a = 0, b = 0, c = 0;
    int objectA, objectB;
    auto pingAny = center.addObserver([&](const kit::Notification&) { ++a; }, "ping", nullptr);
    auto pingB = center.addObserver([&](const kit::Notification&) { ++b; }, "ping", &objectB);
    auto everything = center.addObserver([&](const kit::Notification&) { ++c; }, "", nullptr);

    center.postNotification("ping", &objectA);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 0, 1));
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(2, 1, 2));
    center.postNotification("other", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(2, 1, 3));

    pingB.reset();
    EXPECT_FALSE(pingB.isActive());
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(3, 1, 4));

    { auto dropped = std::move(pingAny); } // the token's end is the observation's end
    EXPECT_FALSE(pingAny.isActive());
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(3, 1, 5));
    EXPECT_EQ(center.observationCount(), 1u);

    // Moving a token over a live one ends the live one.
    auto replaced = center.addObserver([&](const kit::Notification&) { ++a; }, "ping", nullptr);
    replaced = std::move(everything);
    center.postNotification("ping", &objectA);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(3, 1, 6));
    EXPECT_EQ(center.observationCount(), 1u);
}

TEST(NotificationCenterTest, AnObservationEndedDuringDeliveryIsNotCalled)
{
    kit::NotificationCenter center;
    int first = 0, second = 0;
    kit::Observation o1, o2;
    o1 = center.addObserver([&](const kit::Notification&) {
        ++first;
        o2.reset();
        o1.reset(); // ends itself from inside its own call
    }, "n", nullptr);
    o2 = center.addObserver([&](const kit::Notification&) { ++second; }, "n", nullptr);
    center.postNotification("n", nullptr);
    center.postNotification("n", nullptr);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(NotificationCenterTest, TokensOutlivingTheirCenterAndOwnersDyingBeforeIt)
{
    struct Owner {
        int heard = 0;
        kit::Observation observation;
    };
    kit::Observation outlives;
    {
        kit::NotificationCenter center;
        auto owner = std::make_unique<Owner>();
        owner->observation = center.addObserver([o = owner.get()](const kit::Notification&) { ++o->heard; }, "n", nullptr);
        center.postNotification("n", nullptr);
        EXPECT_EQ(owner->heard, 1);
        owner.reset(); // under the sanitizers a call into it would be a use after free
        center.postNotification("n", nullptr);
        EXPECT_EQ(center.observationCount(), 0u);
        outlives = center.addObserver([](const kit::Notification&) { }, "", nullptr);
        center.removeAllObservers();
        EXPECT_FALSE(outlives.isActive());
        outlives = center.addObserver([](const kit::Notification&) { }, "", nullptr);
    }
    outlives.reset(); // its center has gone: nothing to do, nothing touched
    EXPECT_FALSE(outlives.isActive());
}

} // namespace
