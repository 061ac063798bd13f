#include "kit/NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

TEST(NotificationCenterTest, NameAndObjectFiltersAndRemoval)
{
    kit::NotificationCenter center;
    int a = 0, b = 0, c = 0;
    int objectA = 0, objectB = 0;
    int observer1 = 0, observer2 = 0;
    center.addObserver(&observer1, [&](const kit::Notification&) { ++a; }, "ping", nullptr);
    center.addObserver(&observer1, [&](const kit::Notification&) { ++b; }, "ping", &objectB);
    center.addObserver(&observer2, [&](const kit::Notification&) { ++c; }, "", nullptr);

    center.postNotification("ping", &objectA);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(1, 0, 1));
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(2, 1, 2));
    center.postNotification("other", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(2, 1, 3));

    center.removeObserver(&observer1, "ping", &objectB);
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(3, 1, 4));

    center.removeObserver(&observer1);
    center.postNotification("ping", &objectB);
    EXPECT_EQ(std::tie(a, b, c), std::make_tuple(3, 1, 5));
    EXPECT_EQ(center.observationCount(), 1u);
}

TEST(NotificationCenterTest, AnObserverRemovedDuringDeliveryIsNotCalled)
{
    kit::NotificationCenter center;
    int first = 0, second = 0;
    int o1, o2;
    center.addObserver(&o1, [&](const kit::Notification&) {
        ++first;
        center.removeObserver(&o2);
        center.removeObserver(&o1);
    }, "n", nullptr);
    center.addObserver(&o2, [&](const kit::Notification&) { ++second; }, "n", nullptr);
    center.postNotification("n", nullptr);
    center.postNotification("n", nullptr);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

} // namespace
