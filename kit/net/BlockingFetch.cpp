#include "kit/net/BlockingFetch.h"

#include "kit/net/HostMapping.h"
#include "kit/net/HttpRequest.h"

#include <curl/curl.h>

namespace kit {

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
    size_t limit;
};

size_t writeBody(char* data, size_t size, size_t count, void* user)
{
    auto& sink = *static_cast<Sink*>(user);
    size_t length = size * count;
    if (sink.bytes.size() + length > sink.limit)
        return 0; // curl ends the transfer with a write error
    sink.bytes.insert(sink.bytes.end(), data, data + length);
    return length;
}

} // namespace

std::optional<std::vector<uint8_t>> fetchContentsOfURL(const std::string& url, double timeLimitSeconds, size_t sizeLimit)
{
    if (!HttpRequest::isValidURL(url))
        return std::nullopt;
    static bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    if (!initialised)
        return std::nullopt;
    CURL* easy = curl_easy_init();
    if (!easy)
        return std::nullopt;
    Sink sink { {}, sizeLimit };
    curl_slist* connectTo = nullptr;
    for (auto& mapping : hostMappings())
        connectTo = curl_slist_append(connectTo, mapping.connectToEntry().c_str());

    long limitMs = timeLimitSeconds > 0 ? long(timeLimitSeconds * 1000) : 1;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limitMs);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limitMs);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // An error page is not the resource asked for.
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    if (connectTo) {
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
    CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    curl_slist_free_all(connectTo);
    if (result != CURLE_OK)
        return std::nullopt;
    return std::move(sink.bytes);
}

} // namespace kit
