#pragma once
// A platform for tests: records the addresses handed to the system and the
// requests to end; runs nothing.
#include "kit/ui/Application.h"

#include <string>
#include <vector>

namespace testsupport {

struct RecordingPlatform : kit::Platform {
    std::vector<std::string> opened;
    int terminated { 0 };
    int run(kit::Application&) override { return 0; }
    bool openURL(const std::string& url) override
    {
        opened.push_back(url);
        return true;
    }
    void terminate(kit::Application&) override { ++terminated; }
};

} // namespace testsupport
