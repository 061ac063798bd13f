#pragma once
// Declarations of kit's net layer (URLs, requests, HTTP, host mapping), for headers that
// only name them.

namespace kit {

struct HostMapping;
class HttpRequest;
class LineConnection;
class LineServer;
class URL;
class URLRequest;

} // namespace kit
