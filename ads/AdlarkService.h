#pragma once
// Fixed values of the ad service: the servers it talks to, its version string
// and the embedded browser's button images. Tests and the demo reach these
// host names through the host mapping (kit/net/HostMapping.h), never by changing
// them.
#include <array>
#include <string_view>

namespace adlark {

inline constexpr std::string_view adServerHost = "ads.example.test";
inline constexpr std::string_view mediaHostName = "media.example.test";

// The default address of the ad request.
inline constexpr std::string_view adServerURL = "http://ads.example.test/ad_source.php";
// The media host: scheme and name, no path, no final "/".
inline constexpr std::string_view mediaHostURL = "http://media.example.test";

inline constexpr std::string_view browserIconPath = "/static/iphone/browser/";
inline constexpr std::string_view actionIconPath = "/static/iphone/img/";

inline constexpr std::string_view serviceVersion = "20090203-iSDK-3f1986e5ead93fcd";

// The embedded browser's toolbar images, in this order.
inline constexpr std::array<std::string_view, 4> browserIconNames { "back", "back_disable", "forward", "forward_disable" };

} // namespace adlark
