// The window's location source on Qt Positioning, with a stand-in Qt source:
// fixes reach kit's listener on the main loop, invalid ones and those after
// stop do not, a refusal turns it off; without a system source, or with a
// fixed position asked for, kit's own source stays.
#include "QtTestSupport.h"

#include "shells/qt/QtLocationSource.h"

#include "kit/core/Platform.h"

#include <QGeoPositionInfoSource>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace qtshell;

namespace {

// deleteLater's work needs an event loop the tests do not run: send it.
template<typename T>
bool deleted(const QPointer<T>& object)
{
    return processUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return object.isNull();
    });
}

class StandInSource : public QGeoPositionInfoSource {
public:
    StandInSource() : QGeoPositionInfoSource(nullptr) { }
    bool running { false };
    PositioningMethods methods { AllPositioningMethods };

    void fix(double latitude, double longitude) { emit positionUpdated(QGeoPositionInfo(QGeoCoordinate(latitude, longitude), QDateTime::currentDateTime())); }
    void fail(Error e) { emit errorOccurred(e); }

    QGeoPositionInfo lastKnownPosition(bool) const override { return {}; }
    PositioningMethods supportedPositioningMethods() const override { return methods; }
    int minimumUpdateInterval() const override { return 0; }
    Error error() const override { return NoError; }
    void startUpdates() override { running = true; }
    void stopUpdates() override { running = false; }
    void requestUpdate(int) override { }
};

class QtLocationSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* v = std::getenv("QUORVANE_FIXED_LOCATION"))
            saved = v;
        ::unsetenv("QUORVANE_FIXED_LOCATION");
        kit::Platform::current().setLocationSource(nullptr);
    }
    void TearDown() override
    {
        kit::Platform::current().setLocationSource(nullptr);
        if (saved.empty())
            ::unsetenv("QUORVANE_FIXED_LOCATION");
        else
            ::setenv("QUORVANE_FIXED_LOCATION", saved.c_str(), 1);
    }
    std::string saved;
};

TEST_F(QtLocationSourceTest, FixesReachTheListenerWhileStarted)
{
    QPointer<StandInSource> qt = new StandInSource;
    ASSERT_TRUE(installSystemLocationSource([&] { return qt.data(); }));
    auto& source = kit::LocationSource::current();
    ASSERT_NE(dynamic_cast<QtLocationSource*>(&source), nullptr);
    EXPECT_TRUE(source.enabled());
    std::vector<kit::Location> fixes;
    source.onLocation = [&](kit::LocationSource&, const kit::Location& fix) { fixes.push_back(fix); };

    qt->fix(48.2, 16.4); // not started yet
    source.start();
    EXPECT_TRUE(qt->running);
    qt->fix(91, 0); // no valid coordinate
    qt->fix(-33.9, 151.2);
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_DOUBLE_EQ(fixes[0].latitude, -33.9);
    EXPECT_DOUBLE_EQ(fixes[0].longitude, 151.2);

    source.stop();
    EXPECT_FALSE(qt->running);
    qt->fix(1, 2);
    EXPECT_EQ(fixes.size(), 1u);

    // Replaced, the Qt source goes with the application's next turn.
    kit::Platform::current().setLocationSource(nullptr);
    EXPECT_TRUE(deleted(qt));
}

TEST_F(QtLocationSourceTest, RefusalTurnsItOff)
{
    auto* qt = new StandInSource;
    ASSERT_TRUE(installSystemLocationSource([&] { return qt; }));
    auto& source = kit::LocationSource::current();
    source.start();
    qt->fail(QGeoPositionInfoSource::UpdateTimeoutError); // a missed fix only
    EXPECT_TRUE(source.enabled());
    EXPECT_TRUE(qt->running);
    qt->fail(QGeoPositionInfoSource::AccessError);
    EXPECT_FALSE(source.enabled());
    EXPECT_FALSE(qt->running);
    source.start();
    EXPECT_FALSE(qt->running);
}

TEST_F(QtLocationSourceTest, WithoutASystemSourceKitsOwnStays)
{
    ::setenv("QUORVANE_FIXED_LOCATION", "10,20", 1);
    auto& before = kit::LocationSource::current();
    EXPECT_FALSE(installSystemLocationSource([] { return nullptr; }));
    EXPECT_EQ(&kit::LocationSource::current(), &before);
    EXPECT_TRUE(kit::LocationSource::current().enabled());

    // A source that can position nothing counts as none.
    ::unsetenv("QUORVANE_FIXED_LOCATION");
    QPointer<StandInSource> qt = new StandInSource;
    qt->methods = QGeoPositionInfoSource::NoPositioningMethods;
    EXPECT_FALSE(installSystemLocationSource([&] { return qt.data(); }));
    EXPECT_EQ(&kit::LocationSource::current(), &before);
    EXPECT_TRUE(qt.isNull());
}

TEST_F(QtLocationSourceTest, AFixedPositionWinsOverTheSystemSource)
{
    ::setenv("QUORVANE_FIXED_LOCATION", "10,20", 1);
    bool asked = false;
    EXPECT_FALSE(installSystemLocationSource([&]() -> QGeoPositionInfoSource* {
        asked = true;
        return new StandInSource;
    }));
    EXPECT_FALSE(asked);
    EXPECT_EQ(dynamic_cast<QtLocationSource*>(&kit::LocationSource::current()), nullptr);
}

} // namespace
