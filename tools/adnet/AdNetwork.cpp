#include "AdNetwork.h"
#include "HostileMedia.h"

#include "kit/gfx/Image.h"

#include <httplib.h>

#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace adnet {

namespace {

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string object(std::initializer_list<std::pair<std::string, std::string>> entries)
{
    std::string out = "{";
    for (auto& [key, value] : entries) {
        if (out.size() > 1)
            out += ",";
        out += jsonString(key) + ":" + jsonString(value);
    }
    return out + "}";
}

// A small picture of one colour, different per name, so that tests can tell
// pictures apart.
std::string picture(const std::string& name, int width, int height)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = uint8_t(hash);
        pixels[i + 1] = uint8_t(hash >> 8);
        pixels[i + 2] = uint8_t(hash >> 16);
        pixels[i + 3] = 255;
    }
    auto image = kit::Image::fromRGBA(width, height, std::move(pixels));
    auto png = image->pngData();
    return std::string(png.begin(), png.end());
}

// The embedded browser's buttons: an arrow on a clear ground, pointing left
// for back and right for forward; white, or light grey in the disabled
// forms (which displays fade further). Edges are smoothed by sampling each pixel 4 x 4 times.
std::string arrowPicture(bool back, bool disabled)
{
    const int size = 24;
    auto inside = [back](float x, float y) {
        if (back)
            x = size - x; // drawn pointing right, mirrored for back
        // The head: a triangle from the tip at (20, 12) back to x = 11.
        if (x >= 11 && x <= 20 && std::abs(y - 12) <= (20 - x) * 0.9f)
            return true;
        // The shaft.
        return x >= 4 && x < 12 && y >= 9.5f && y <= 14.5f;
    };
    const uint8_t level = disabled ? 200 : 255;
    const float opacity = 1.0f;
    std::vector<uint8_t> pixels(size_t(size) * size * 4);
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    hits += inside(px + (sx + 0.5f) / 4, py + (sy + 0.5f) / 4);
            uint8_t* p = &pixels[(size_t(py) * size + px) * 4];
            p[0] = p[1] = p[2] = level;
            p[3] = uint8_t(255 * opacity * hits / 16.0f + 0.5f);
        }
    auto png = kit::Image::fromRGBA(size, size, std::move(pixels))->pngData();
    return std::string(png.begin(), png.end());
}

// The canvas page: a global `adlark` and a function `cb`. What cb received
// goes into the page title as a JSON list [address, title], where a test (or
// a person) can read it; the links talk back through the "adlark" scheme.
std::string canvasPage(const std::string& adBase)
{
    std::string target = adBase + "/landing.html";
    std::string escaped;
    for (unsigned char c : target) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_')
            escaped += char(c);
        else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            escaped += buf;
        }
    }
    return R"(<!DOCTYPE html>
<html><head><meta name="viewport" content="width=320"><title>Canvas</title>
<script>
var adlark = { version: 1 };
function cb(url, title) {
  document.title = "cb " + JSON.stringify([url, title]);
  document.getElementById("title").textContent = title;
  document.getElementById("address").textContent = url;
  return "ok";
}
</script></head>
<body style="margin:0;font-family:sans-serif;background:#fff">
<div style="background:#223;color:#fff;padding:8px"><b id="title">Canvas</b>
<a id="close" href="adlark://closecanvas" style="float:right;color:#fff">Close</a></div>
<p id="address" style="font-size:11px;color:#555;padding:0 8px;word-break:break-all"></p>
<p style="padding:0 8px"><a id="launch" href="adlark://launch?url=)" + escaped + R"(">Visit the advertiser</a></p>
<p style="padding:0 8px"><a id="help" href="adlark://help">Help</a></p>
<p style="padding:0 8px"><a id="shout" href="ADLARK://closecanvas">Close, in capitals</a></p>
</body></html>
)";
}

// Landing pages of web ads: a second page (for back and forward), and links
// that the embedded browser hands to the system or refuses.
const char* landingPage = R"(<!DOCTYPE html>
<html><head><title>Quorvane ad landing page</title></head>
<body><h1>Thanks for looking</h1><p>This is the landing page of the test ad network.</p>
<ul>
<li><a href="/landing2.html">Next page</a></li>
<li><a href="http://www.clipstream.example/watch?v=quorvane">Watch the video</a></li>
<li><a href="http://clipstream.example/">Video site start page</a></li>
<li><a href="mailto:ads@example.test?subject=Hello">Write to us</a></li>
<li><a href="tel:+15550100">Call us</a></li>
<li><a href="itms://store.tunevault.test/album/quorvane">Buy the album</a></li>
<li><a href="file:///etc/hostname">A local file</a></li>
<li><a href="/landing-fail.html">A page that fails</a></li>
</ul></body></html>
)";

// A page laid out wider than the handheld's screen, for "scales pages to fit".
const char* wideLandingPage = R"(<!DOCTYPE html>
<html><head><title>Wide landing page</title></head>
<body style="margin:0"><div style="width:960px;background:#dde">A page of 960 pixels: the browser shows all of it.</div></body></html>
)";

const char* secondLandingPage = R"(<!DOCTYPE html>
<html><head><title>Second landing page</title></head>
<body><h1>More to see</h1><p><a href="/landing.html">Back to the first page</a></p></body></html>
)";

// The classic 1x1 transparent GIF.
const std::string pixelGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02" "D\x01\x00;", 43);

std::string param(const httplib::Request& req, const char* key)
{
    return req.has_param(key) ? req.get_param_value(key) : std::string();
}

} // namespace

// Every name the ad answer knows; a publisher identifier that is none of
// these names no scenario.
bool AdNetwork::knowsScenario(const std::string& name)
{
    static const char* names[] = { "text", "other", "canvas", "app", "app-file", "click-noredirect", "click-empty", "click-notjson",
        "click-404", "no-jsonp", "banner", "banner-nopixel", "banner-badpixel", "banner-slowpictures", "banner-slowpixel", "both",
        "status404", "status500", "reset", "slow", "notjson", "empty", "huge", "no-url", "no-action", "no-text", "no-picture",
        "badimage", "badicon", "empty-banner", "gzip-bomb", "banner-badurl", "text-pixel", "trickle", "redirect-loop", "die" };
    for (auto* n : names)
        if (name == n)
            return true;
    // A hostile picture as a banner or as an action icon, by the picture's name.
    return name.rfind("hostile-", 0) == 0 || name.rfind("icon-", 0) == 0;
}

std::string AdNetwork::scenarioFor(const void* requestPtr)
{
    auto& req = *static_cast<const httplib::Request*>(requestPtr);
    if (req.has_param("scenario"))
        return param(req, "scenario");
    std::string publisher = param(req, "s");
    if (m_options.scenarios.empty() || knowsScenario(publisher))
        return publisher;
    return m_options.scenarios[m_turn++ % m_options.scenarios.size()];
}

AdNetwork::AdNetwork(Options options, std::FILE* log)
    : m_options(std::move(options))
    , m_log(log)
{
}

void AdNetwork::shutdown()
{
    std::lock_guard lock(m_stopLock);
    m_stopping = true;
    m_stopSignal.notify_all();
}

bool AdNetwork::waitOrStop(double seconds)
{
    std::unique_lock lock(m_stopLock);
    return !m_stopSignal.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_stopping; });
}

void AdNetwork::logRequest(const std::string& role, const void* requestPtr)
{
    auto& req = *static_cast<const httplib::Request*>(requestPtr);
    auto q = req.target.find('?');
    std::string query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
    std::string line = "{\"server\":" + jsonString(role) + ",\"method\":" + jsonString(req.method) + ",\"path\":" + jsonString(req.path)
        + ",\"query\":" + jsonString(query) + ",\"params\":{";
    bool first = true;
    for (auto& [key, value] : req.params) {
        line += (first ? "" : ",") + jsonString(key) + ":" + jsonString(value);
        first = false;
    }
    line += "},\"headers\":{";
    first = true;
    for (auto& [key, value] : req.headers) {
        if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" || key == "LOCAL_PORT")
            continue;
        line += (first ? "" : ",") + jsonString(key) + ":" + jsonString(value);
        first = false;
    }
    line += "}}\n";
    std::lock_guard lock(m_logLock);
    if (m_log) {
        std::fputs(line.c_str(), m_log);
        std::fflush(m_log);
    }
}

void AdNetwork::install(httplib::Server& server, const std::string& role)
{
    const bool ads = role != "media";
    const bool media = role != "ad";
    const std::string adBase = "http://" + m_options.adHost;
    const std::string mediaBase = "http://" + m_options.mediaHost;

    server.set_pre_routing_handler([this, role](const httplib::Request& req, httplib::Response&) {
        logRequest(role, &req);
        return httplib::Server::HandlerResponse::Unhandled;
    });

    if (ads) {
        server.Get("/ad_source.php", [this, adBase, mediaBase](const httplib::Request& req, httplib::Response& res) {
            std::string scenario = scenarioFor(&req);
            const std::string click = adBase + "/click.php?kind=";
            const std::string clickUrl = adBase + "/clicks/record?ad=1";
            auto json = [&](const std::string& body) { res.set_content(body, "application/json"); };

            if (scenario == "status404" || scenario == "status500") {
                res.status = scenario == "status404" ? 404 : 500;
                res.set_content("{\"error\":\"no ad\"}", "application/json");
            } else if (scenario == "reset") {
                // Promise a body, send a little of it and drop the connection.
                res.set_content_provider(4096, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
                    sink.write("{\"te", 4);
                    return false;
                });
            } else if (scenario == "trickle") {
                // A whole ad, one byte a second, for as long as the client listens.
                auto body = std::make_shared<std::string>(object({ { "text", "Trickled ad" }, { "6", "url" }, { "url", clickUrl },
                    { "204", "/static/iphone/img/small.png" } }));
                res.set_content_provider(body->size(), "application/json", [this, body](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset > 0 && !waitOrStop(1))
                        return false;
                    return sink.write(body->data() + offset, 1);
                });
            } else if (scenario == "redirect-loop") {
                res.set_redirect("/ad_source.php?scenario=redirect-loop");
            } else if (scenario == "die") {
                // The server itself ends in the middle of its answer: half a
                // body is out, then nothing listens on the port any more.
                res.set_content_provider(4096, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
                    sink.write("{\"text\":\"Half", 12);
                    std::_Exit(3);
                    return false;
                });
            } else if (scenario == "slow") {
                double seconds = req.has_param("delay") ? std::atof(param(req, "delay").c_str()) : m_options.slowSeconds;
                if (!waitOrStop(seconds))
                    return;
                json(object({ { "text", "Slow ad" }, { "6", "url" }, { "url", clickUrl }, { "204", "/static/iphone/img/small.png" } }));
            } else if (scenario == "notjson") {
                res.set_content("this is no JSON", "text/plain");
            } else if (scenario == "empty") {
                res.set_content("", "application/json");
            } else if (scenario == "huge") {
                std::string body = "{\"text\":\"" + std::string(5 * 1024 * 1024, 'x') + "\"}";
                json(body);
            } else if (scenario == "no-url") {
                json(object({ { "text", "No click address" }, { "6", "url" }, { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/small.png" } }));
            } else if (scenario == "no-action") {
                json(object({ { "text", "No action" }, { "url", clickUrl }, { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/small.png" } }));
            } else if (scenario == "no-text") {
                json(object({ { "6", "url" }, { "url", clickUrl }, { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/small.png" } }));
            } else if (scenario == "no-picture") {
                json(object({ { "text", "No picture" }, { "6", "url" }, { "url", clickUrl }, { "jsonp_url", click + "ok" } }));
            } else if (scenario == "badimage") {
                json(object({ { "text", "Broken picture" }, { "6", "url" }, { "url", clickUrl }, { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/notimage.png" } }));
            } else if (scenario == "badicon") {
                json(object({ { "text", "Broken icon" }, { "6", "notimage" }, { "url", clickUrl }, { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/small.png" } }));
            } else if (scenario == "gzip-bomb") {
                // About 1 MB on the wire, 1 GiB once inflated.
                res.set_header("Content-Encoding", "gzip");
                res.set_content(HostileMedia::shared().gzipBomb, "application/octet-stream");
            } else if (scenario.rfind("hostile-", 0) == 0 || scenario.rfind("icon-", 0) == 0) {
                // A banner whose picture, or a text ad whose action icon, is
                // one of the hostile pictures.
                const bool icon = scenario[0] == 'i';
                const std::string name = scenario.substr(icon ? 5 : 8);
                if (icon)
                    json(object({ { "text", "Hostile icon" }, { "6", name }, { "url", clickUrl }, { "jsonp_url", click + "ok" },
                        { "204", "/static/iphone/img/small.png" } }));
                else
                    json(object({ { "banner", mediaBase + "/static/iphone/img/" + name + ".png" }, { "6", "url" }, { "url", clickUrl },
                        { "jsonp_url", click + "ok" }, { "cpm_url", adBase + "/pixel.gif" } }));
            } else if (scenario == "banner-badurl") {
                json(object({ { "banner", mediaBase + "/static/iphone/img/banner.png" }, { "6", "url" }, { "url", clickUrl },
                    { "jsonp_url", click + "ok" }, { "cpm_url", "not a url" } }));
            } else if (scenario == "text-pixel") {
                json(object({ { "text", "A text ad with a pixel" }, { "6", "url" }, { "url", clickUrl }, { "jsonp_url", click + "ok" },
                    { "204", "/static/iphone/img/small.png" }, { "cpm_url", adBase + "/pixel.gif" } }));
            } else if (scenario == "empty-banner") {
                json(object({ { "banner", "" }, { "6", "url" }, { "url", clickUrl }, { "jsonp_url", click + "ok" } }));
            } else if (scenario.rfind("banner", 0) == 0 || scenario == "both") {
                std::string pixel = adBase + "/pixel.gif";
                std::string banner = mediaBase + "/static/iphone/img/banner.png";
                if (scenario == "banner-nopixel")
                    pixel = "";
                else if (scenario == "banner-badpixel")
                    pixel += "?fail=1";
                else if (scenario == "banner-slowpictures") {
                    pixel += "?fail=1";
                    banner += "?delay=0.3";
                } else if (scenario == "banner-slowpixel")
                    pixel += "?fail=1&delay=0.3";
                std::string body = "{\"banner\":" + jsonString(banner) + ",\"6\":\"url\",\"url\":" + jsonString(clickUrl)
                    + ",\"jsonp_url\":" + jsonString(click + "ok") + ",\"cpm_url\":" + jsonString(pixel);
                if (scenario == "both")
                    body += ",\"204\":\"/static/iphone/img/small.png\",\"text\":\"Both\"";
                json(body + "}");
            } else if (scenario == "other") {
                // A second text ad, so that a refresh visibly brings another one.
                json(object({ { "text", "Another ad, fresh from the Quorvane network" }, { "6", "url" }, { "8", "Another ad" }, { "url", clickUrl },
                    { "jsonp_url", click + "ok" }, { "204", "/static/iphone/img/icon.png" } }));
            } else {
                // Text ads: the default. Variants choose the action and the click answer.
                std::string action = "url", kind = "ok", title = "Quorvane test ad";
                if (scenario == "canvas")
                    action = "canvas", title = "Canvas ad";
                else if (scenario == "app" || scenario == "app-file")
                    action = "app";
                else if (scenario.rfind("click-", 0) == 0)
                    kind = scenario.substr(6);
                std::string body = "{\"text\":\"Try the Quorvane test ad\",\"6\":" + jsonString(action) + ",\"8\":" + jsonString(title)
                    + ",\"url\":" + jsonString(clickUrl) + ",\"204\":\"/static/iphone/img/small.png\"";
                if (scenario != "no-jsonp")
                    body += ",\"jsonp_url\":" + jsonString(click + kind + (action == "app" ? (scenario == "app-file" ? "&app=file" : "&app=1") : "") + (action == "canvas" ? "&canvas=1" : ""));
                json(body + "}");
            }
        });

        server.Get("/click.php", [mediaBase, adBase](const httplib::Request& req, httplib::Response& res) {
            std::string kind = param(req, "kind");
            std::string target = adBase + "/landing.html";
            if (req.has_param("canvas"))
                target = mediaBase + "/static/iphone/canvas.html";
            else if (req.has_param("app"))
                target = param(req, "app") == "file" ? "file:///etc/hostname" : "quorvane-app://open/ad";
            if (kind == "noredirect")
                res.set_content("{\"status\":\"ok\"}", "application/json");
            else if (kind == "empty")
                res.set_content("{\"redirect_url\":\"\"}", "application/json");
            else if (kind == "notjson")
                res.set_content("not json", "text/plain");
            else if (kind == "404") {
                res.status = 404;
                res.set_content("gone", "text/plain");
            } else
                res.set_content("{\"redirect_url\":" + jsonString(target) + "}", "application/json");
        });

        server.Get("/pixel.gif", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.has_param("delay"))
                waitOrStop(std::atof(param(req, "delay").c_str()));
            if (req.has_param("fail")) {
                res.status = 404;
                res.set_content("no pixel", "text/plain");
                return;
            }
            res.set_content(pixelGif, "image/gif");
        });

        server.Get("/landing.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(landingPage, "text/html");
        });
        server.Get("/landing-wide.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(wideLandingPage, "text/html");
        });
        server.Get("/landing2.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(secondLandingPage, "text/html");
        });
        // Promises a page and drops the connection after a few bytes.
        server.Get("/landing-fail.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(4096, "text/html", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("<htm", 4);
                return false;
            });
        });

        // A page that never ends, as fast as the client takes it (the site
        // browser's bounds); "/endless.torrent" is the same for a kept torrent.
        server.Get(R"(/endless(\.html|\.torrent)?)", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/html", [](size_t offset, httplib::DataSink& sink) {
                static const std::string filler = [] {
                    std::string text = "<html><head><title>Endless</title></head><body>";
                    while (text.size() < 65536)
                        text += "<p>and on and on</p>";
                    return text;
                }();
                (void)offset;
                return sink.write(filler.data(), filler.size());
            });
        });

        // Helpers for the URL download's own tests.
        server.Get("/status", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::atoi(param(req, "code").c_str());
            res.set_content(param(req, "body"), "text/plain");
        });
        server.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect(param(req, "to"));
        });
        server.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(param(req, "body"), "text/plain");
        });
    }

    if (media) {
        server.Get(R"(/static/iphone/(img|browser)/([A-Za-z0-9_.,-]+)\.png)", [this](const httplib::Request& req, httplib::Response& res) {
            std::string folder = req.matches[1];
            std::string name = req.matches[2];
            if (req.has_param("delay"))
                waitOrStop(std::atof(param(req, "delay").c_str()));
            if (name == "notimage") {
                res.set_content("this is not a picture", "image/png");
                return;
            }
            if (name == "missing") {
                res.status = 404;
                return;
            }
            auto& hostile = HostileMedia::shared().pictures;
            if (auto found = hostile.find(name); found != hostile.end()) {
                res.set_content(found->second, "application/octet-stream");
                return;
            }
            if (folder == "img" && name == "banner")
                res.set_content(picture(name, 320, 48), "image/png");
            else if (folder == "img" && name == "icon")
                res.set_content(picture(name, 38, 38), "image/png");
            else if (folder == "browser" && (name == "back" || name == "back_disable" || name == "forward" || name == "forward_disable"))
                res.set_content(arrowPicture(name.starts_with("back"), name.ends_with("_disable")), "image/png");
            else
                res.set_content(picture(folder + "/" + name, 16, 16), "image/png");
        });
        server.Get("/static/iphone/canvas.html", [adBase](const httplib::Request&, httplib::Response& res) {
            res.set_content(canvasPage(adBase), "text/html");
        });
    }
}

} // namespace adnet
