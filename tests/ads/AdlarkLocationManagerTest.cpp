#include "TestSupport.h"

#include "ads/AdlarkLocationManager.h"
#include "kit/core/FileInfo.h"

#include <cstdio>

using namespace adtest;

namespace adtest {

// Stands in for the system's location service.
class StandInSource : public kit::LocationSource {
public:
    bool enabled() const override { return on; }
    void start() override { ++starts; running = true; }
    void stop() override { ++stops; running = false; }
    void deliver(double latitude, double longitude) { report({ latitude, longitude }); }

    bool on = true;
    bool running = false;
    int starts = 0;
    int stops = 0;
};

} // namespace adtest

namespace {

class AdlarkLocationManagerTest : public LoopTest {
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        kit::Platform::current().setLocationSource(source);
        std::remove(AdlarkLocationManager::cacheFilePath().c_str());
        manager().setLocationString(std::nullopt);
        manager().setLastUpdated(std::nullopt);
    }
    void TearDown() override
    {
        kit::Platform::current().setLocationSource(nullptr);
        LoopTest::TearDown();
    }
    static AdlarkLocationManager& manager() { return AdlarkLocationManager::sharedManager(); }
    std::shared_ptr<StandInSource> source = std::make_shared<StandInSource>();
};

} // namespace

TEST_F(AdlarkLocationManagerTest, FreshInstallationAsksForAFixAndStoresIt)
{
    EXPECT_EQ(&manager(), &AdlarkLocationManager::sharedManager());
    EXPECT_EQ(AdlarkLocationManager::cacheFilePath(), kit::documentFolder() + "/adlark/location_cache/location.txt");
    EXPECT_FALSE(manager().locationString());
    EXPECT_FALSE(manager().lastUpdated());
    manager().updateIfAppropriate();
    EXPECT_EQ(source->starts, 1);

    source->deliver(10.5, 20.25);
    EXPECT_EQ(source->stops, 1);
    EXPECT_EQ(manager().locationString(), "10.500000,20.250000");
    ASSERT_TRUE(manager().lastUpdated());
    EXPECT_NEAR(*manager().lastUpdated(), kit::wallClockNow(), 5);
    auto bytes = kit::readWholeFile(AdlarkLocationManager::cacheFilePath());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "10.500000,20.250000");

    // A new process reads both from the file.
    manager().setLocationString(std::nullopt);
    manager().setLastUpdated(std::nullopt);
    EXPECT_EQ(manager().locationString(), "10.500000,20.250000");
    EXPECT_TRUE(manager().lastUpdated());
}

TEST_F(AdlarkLocationManagerTest, FixesNearZeroZeroAreDropped)
{
    struct Case {
        double lat, lon;
        std::optional<std::string> stored;
    } cases[] = {
        { -33.8, 151.2, "-33.800000,151.200000" },
        { 0.0005, -0.0009, std::nullopt },
        { 0.0005, 0.002, "0.000500,0.002000" },
        { 0.001, -0.001, std::nullopt },
    };
    for (auto& c : cases) {
        manager().setLocationString(std::nullopt);
        std::remove(AdlarkLocationManager::cacheFilePath().c_str());
        manager().setLastUpdated(std::nullopt);
        manager().updateIfAppropriate();
        source->deliver(c.lat, c.lon);
        EXPECT_FALSE(source->running);
        EXPECT_EQ(manager().locationString(), c.stored) << c.lat << "," << c.lon;
        EXPECT_EQ(manager().lastUpdated().has_value(), c.stored.has_value());
    }
}

TEST_F(AdlarkLocationManagerTest, AgeDecidesWhetherToAskAgain)
{
    ASSERT_TRUE(kit::writeWholeFile(AdlarkLocationManager::cacheFilePath(), { '1', ',', '2' }));
    struct Case {
        double age;
        bool on;
        int starts;
    } cases[] = { { 299, true, 0 }, { 301, true, 1 }, { 301, false, 0 }, { 10000, true, 1 } };
    for (auto& c : cases) {
        source->starts = 0;
        source->on = c.on;
        manager().setLastUpdated(std::nullopt);
        ASSERT_TRUE(kit::setFileModificationTime(AdlarkLocationManager::cacheFilePath(), kit::wallClockNow() - c.age));
        manager().updateIfAppropriate();
        EXPECT_EQ(source->starts, c.starts) << c.age << " " << c.on;
    }
    // The rule at its exact boundary: a fix exactly 300 s old is still good.
    const double now = 1.8e9;
    EXPECT_FALSE(AdlarkLocationManager::isStale(now - 300, now));
    EXPECT_TRUE(AdlarkLocationManager::isStale(now - 300.001, now));
    EXPECT_TRUE(AdlarkLocationManager::isStale(std::nullopt, now));
    EXPECT_FALSE(AdlarkLocationManager::isStale(now + 10, now));
}

TEST(LocationSource, EnvironmentSourceIsOffUnlessAPositionIsGiven)
{
    EXPECT_TRUE(kit::parseLocation("51.5,-0.12"));
    for (std::string bad : { "", "1", "1,", "a,b", "91,0", "0,181", "1,2,3" })
        EXPECT_FALSE(kit::parseLocation(bad)) << bad;
    kit::Platform::current().setLocationSource(nullptr);
    unsetenv("QUORVANE_FIXED_LOCATION");
    EXPECT_FALSE(kit::LocationSource::current().enabled());
    setenv("QUORVANE_FIXED_LOCATION", "48.85,2.35", 1);
    EXPECT_TRUE(kit::LocationSource::current().enabled());
    unsetenv("QUORVANE_FIXED_LOCATION");
}
