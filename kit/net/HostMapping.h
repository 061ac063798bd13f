#pragma once
// Host mapping: lets the fixed host names of the program reach servers on
// loopback (tests, the demo) without changing the names. The environment
// variable QUORVANE_CONNECT_TO holds entries in curl's connect-to syntax,
// separated by ";":
//   HOST:PORT:CONNECT-HOST:CONNECT-PORT
// e.g. "ads.example.test:80:127.0.0.1:8631;media.example.test:80:127.0.0.1:8632".
// An entry that does not have four fields with numeric ports is skipped.
// The web view reuses the same entries for the web engine's resolver rules.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

struct HostMapping {
    std::string host;
    int port { 0 };
    std::string connectHost;
    int connectPort { 0 };

    // Back in connect-to syntax, as curl takes it.
    std::string connectToEntry() const;
};

inline constexpr const char* hostMappingVariable = "QUORVANE_CONNECT_TO";

std::vector<HostMapping> parseHostMappings(std::string_view text);
// The mappings of the environment (read each time; cheap).
std::vector<HostMapping> hostMappings();

} // namespace kit
