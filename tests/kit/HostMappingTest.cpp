#include "kit/net/HostMapping.h"

#include <gtest/gtest.h>

TEST(HostMapping, ParsesEntriesAndSkipsBadOnes)
{
    auto m = kit::parseHostMappings(" ads.example.test:80:127.0.0.1:8631 ; media.example.test:80:127.0.0.1:8632;"
                                    "bad:80:x;noport:x:127.0.0.1:1;v6:443:[::1]:9000;zero:0:h:1");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].host, "ads.example.test");
    EXPECT_EQ(m[0].port, 80);
    EXPECT_EQ(m[0].connectHost, "127.0.0.1");
    EXPECT_EQ(m[0].connectPort, 8631);
    EXPECT_EQ(m[1].connectToEntry(), "media.example.test:80:127.0.0.1:8632");
    EXPECT_EQ(m[2].connectHost, "[::1]");
    EXPECT_TRUE(kit::parseHostMappings("").empty());
}
