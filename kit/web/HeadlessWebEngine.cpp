#include "kit/web/HeadlessWebEngine.h"

#include "kit/core/RunLoop.h"
#include "kit/core/Utf8.h"
#include "kit/web/WebView.h"
#include "kit/web/WebViewErrors.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kit {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Character references of plain text; unknown ones stay as written.
std::string decodeEntities(std::string_view s)
{
    static const std::pair<const char*, const char*> named[] = {
        { "amp", "&" }, { "lt", "<" }, { "gt", ">" }, { "quot", "\"" }, { "apos", "'" }, { "nbsp", " " },
    };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        auto semi = s.find(';', i);
        if (semi == std::string_view::npos || semi - i > 10) {
            out += '&';
            continue;
        }
        auto name = s.substr(i + 1, semi - i - 1);
        bool done = false;
        if (!name.empty() && name[0] == '#') {
            unsigned long cp = 0;
            bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
            auto digits = name.substr(hex ? 2 : 1);
            auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (!digits.empty() && ec == std::errc() && p == digits.data() + digits.size()) {
                // NUL and what lies past Unicode read as U+FFFD, as in a browser.
                appendUtf8(out, cp == 0 || cp > 0x10FFFF ? U'\uFFFD' : char32_t(cp));
                done = true;
            }
        } else {
            for (auto& [n, v] : named)
                if (name == n) {
                    out += v;
                    done = true;
                    break;
                }
        }
        if (done)
            i = semi;
        else
            out += '&';
    }
    return out;
}

std::string collapseBlanks(std::string_view s)
{
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !out.empty())
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

std::string stripTags(std::string_view s)
{
    std::string out;
    bool inTag = false;
    for (char c : s) {
        if (c == '<')
            inTag = true;
        else if (c == '>' && inTag)
            inTag = false;
        else if (!inTag)
            out += c;
    }
    return out;
}

// The value of an attribute in the text of a start tag ("a href=... class=...").
std::optional<std::string> attribute(std::string_view tag, std::string_view name)
{
    std::string low = lower(tag);
    size_t pos = 0;
    while ((pos = low.find(name, pos)) != std::string::npos) {
        bool startsWord = pos > 0 && std::isspace(static_cast<unsigned char>(low[pos - 1]));
        size_t i = pos + name.size();
        pos = i;
        if (!startsWord)
            continue;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size())
            return std::string();
        if (tag[i] == '"' || tag[i] == '\'') {
            char quote = tag[i];
            auto end = tag.find(quote, i + 1);
            return std::string(tag.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
        }
        auto end = i;
        while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end])) && tag[end] != '>')
            ++end;
        return std::string(tag.substr(i, end - i));
    }
    return std::nullopt;
}

std::string trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

} // namespace

WebEngineFactory HeadlessWebEngine::factory()
{
    return [](WebView& view) { return std::make_unique<HeadlessWebEngine>(view); };
}

HeadlessWebEngine::~HeadlessWebEngine()
{
    if (m_http)
        m_http->cancel();
}

std::string HeadlessWebEngine::titleOf(const std::string& html)
{
    std::string low = lower(html);
    auto open = low.find("<title");
    if (open == std::string::npos)
        return {};
    auto start = low.find('>', open);
    if (start == std::string::npos)
        return {};
    ++start;
    auto end = low.find("</title", start);
    if (end == std::string::npos)
        end = low.size();
    return collapseBlanks(decodeEntities(std::string_view(html).substr(start, end - start)));
}

std::vector<WebLink> HeadlessWebEngine::linksOf(const std::string& html, const URL& base)
{
    std::vector<WebLink> out;
    std::string low = lower(html);
    size_t pos = 0;
    while ((pos = low.find("<a", pos)) != std::string::npos) {
        size_t after = pos + 2;
        if (after >= low.size() || !std::isspace(static_cast<unsigned char>(low[after]))) {
            pos = after;
            continue;
        }
        auto tagEnd = low.find('>', after);
        if (tagEnd == std::string::npos)
            break;
        auto href = attribute(std::string_view(html).substr(pos + 2, tagEnd - pos - 2), "href");
        auto close = low.find("</a", tagEnd);
        if (close == std::string::npos)
            close = low.size();
        pos = close;
        if (!href)
            continue;
        auto reference = trimmed(decodeEntities(*href));
        if (reference.empty() || reference[0] == '#' || lower(reference).rfind("javascript:", 0) == 0)
            continue;
        // An address with a scheme of its own stands as written ("mailto:", "tel:").
        auto url = URL::withString(reference);
        if (!url || url->scheme().empty())
            url = URL::withStringRelativeTo(reference, base);
        if (!url)
            continue;
        auto text = collapseBlanks(decodeEntities(stripTags(std::string_view(html).substr(tagEnd + 1, close - tagEnd - 1))));
        out.push_back({ std::move(text), *url });
    }
    return out;
}

void HeadlessWebEngine::cancelRunning()
{
    if (!m_http && !m_localPending)
        return;
    m_localPending = false;
    if (auto http = std::move(m_http))
        http->cancel();
    m_view.engineDidFailLoad({ WebErrorCancelled, "cancelled" });
}

void HeadlessWebEngine::load(const URLRequest& request)
{
    start(request, -1);
}

void HeadlessWebEngine::navigate(const URLRequest& request, WebViewNavigationType type)
{
    if (!request.url() || !m_view.engineShouldStartLoad(request, type))
        return;
    start(request, -1);
}

void HeadlessWebEngine::failLater(int code, std::string description)
{
    std::weak_ptr<View> weak = m_view.weak_from_this();
    std::weak_ptr<bool> alive = m_alive;
    RunLoop::main().post([weak, alive, code, description = std::move(description)] {
        if (alive.expired())
            return;
        if (auto view = std::dynamic_pointer_cast<WebView>(weak.lock()))
            view->engineDidFailLoad({ code, description });
    });
}

void HeadlessWebEngine::finishLocally(const URLRequest& request, int historyIndex, std::string document)
{
    m_pending = request;
    m_pendingIndex = historyIndex;
    m_localPending = true;
    uint64_t serial = ++m_localSerial;
    m_view.engineDidStartLoad(request);
    std::weak_ptr<bool> alive = m_alive;
    RunLoop::main().post([this, alive, serial, document = std::move(document)]() mutable {
        // A newer load, a stop or the engine's end overtook this one.
        if (alive.expired() || !m_localPending || serial != m_localSerial)
            return;
        m_localPending = false;
        show(std::move(document));
    });
}

void HeadlessWebEngine::start(const URLRequest& request, int historyIndex)
{
    cancelRunning();
    m_redirects = 0;
    auto scheme = request.url() ? request.url()->scheme() : std::string();
    if (scheme == "about") {
        finishLocally(request, historyIndex, {});
        return;
    }
    if (scheme == "file") {
        std::string path = request.url()->path();
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            failLater(WebErrorFileIsDirectory, "the address is a folder");
            return;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            failLater(WebErrorFileDoesNotExist, "no such file");
            return;
        }
        std::ostringstream text;
        text << in.rdbuf();
        finishLocally(request, historyIndex, text.str());
        return;
    }
    auto url = request.absoluteString();
    if (!HttpRequest::isValidURL(url)) {
        failLater(WebErrorUnsupportedURL, "unsupported URL");
        return;
    }
    m_pending = request;
    m_pendingIndex = historyIndex;
    m_body.clear();
    m_view.engineDidStartLoad(request);
    // The delegate may have started another load meanwhile; that one won.
    if (m_http || m_pending.absoluteString() != url || !m_view.isLoading())
        return;
    fetch(url);
}

void HeadlessWebEngine::fetch(const std::string& url)
{
    auto http = HttpRequest::create(url);
    http->setTimeout(m_pending.timeoutInterval());
    http->setFollowsRedirects(false);
    http->setMaximumBodyLength(pageSizeLimit);
    if (m_pending.cachePolicy() != URLRequestCachePolicy::UseProtocolCachePolicy)
        http->setHeader("Cache-Control", "no-cache");
    // The engine outlives nothing it registers: the request dies with it.
    http->onResponse = [this, raw = http.get()](int) {
        if (!raw->redirectLocation().empty())
            redirected(raw->redirectLocation());
    };
    http->onData = [this](const uint8_t* bytes, size_t length) { m_body.append(reinterpret_cast<const char*>(bytes), length); };
    http->onFinish = [this] { finished(); };
    http->onFailure = [this, raw = http.get()] {
        int code = webErrorForCurlCode(raw->failureCode());
        m_http.reset();
        m_view.engineDidFailLoad({ code, "the page could not be loaded" });
    };
    m_http = http;
    if (!http->start()) {
        m_http.reset();
        m_view.engineDidFailLoad({ WebErrorUnsupportedURL, "unsupported URL" });
    }
}

void HeadlessWebEngine::loadHTMLString(const std::string& html, const URLRequest& request)
{
    // As a fetched page would: started now, finished on the loop.
    cancelRunning();
    finishLocally(request, -1, html);
}

void HeadlessWebEngine::redirected(const std::string& location)
{
    auto http = std::move(m_http);
    http->cancel();
    auto target = URLRequest::requestWithURL(URL::withString(location), m_pending.cachePolicy(), m_pending.timeoutInterval());
    if (++m_redirects > 16) {
        m_view.engineDidFailLoad({ WebErrorHTTPTooManyRedirects, "too many redirects" });
        return;
    }
    if (!target.url() || !m_view.engineShouldStartLoad(target, WebViewNavigationType::Other)) {
        m_view.engineDidFailLoad({ WebErrorCancelled, "redirect refused" });
        return;
    }
    // The delegate may have started another load while it was asked.
    if (m_http)
        return;
    m_pending = target;
    m_body.clear();
    fetch(target.absoluteString());
}

void HeadlessWebEngine::finished()
{
    m_http.reset();
    auto body = std::move(m_body);
    m_body.clear();
    show(std::move(body));
}

void HeadlessWebEngine::show(std::string document)
{
    m_document = std::move(document);
    m_title = titleOf(m_document);
    m_links = linksOf(m_document, *m_pending.url());
    if (m_pendingIndex >= 0 && m_pendingIndex < int(m_history.size())) {
        m_index = m_pendingIndex;
    } else {
        m_history.resize(size_t(m_index + 1));
        m_history.push_back(m_pending);
        m_index = int(m_history.size()) - 1;
    }
    m_view.engineHistoryChanged();
    m_view.engineDidFinishLoad(m_pending, m_title);
}

void HeadlessWebEngine::stopLoading()
{
    cancelRunning();
}

void HeadlessWebEngine::reload()
{
    if (m_index < 0)
        return;
    auto request = m_history[size_t(m_index)];
    if (m_view.engineShouldStartLoad(request, WebViewNavigationType::Reload))
        start(request, m_index);
}

void HeadlessWebEngine::goBack()
{
    if (!canGoBack())
        return;
    int target = m_index - 1;
    auto request = m_history[size_t(target)];
    if (m_view.engineShouldStartLoad(request, WebViewNavigationType::BackForward))
        start(request, target);
}

void HeadlessWebEngine::goForward()
{
    if (!canGoForward())
        return;
    int target = m_index + 1;
    auto request = m_history[size_t(target)];
    if (m_view.engineShouldStartLoad(request, WebViewNavigationType::BackForward))
        start(request, target);
}

namespace {

// "typeof(NAME)" or "typeof NAME": NAME, else empty.
std::string typeofOperand(const std::string& script)
{
    if (script.rfind("typeof", 0) != 0)
        return {};
    std::string rest = trimmed(std::string_view(script).substr(6));
    if (!rest.empty() && rest.front() == '(' && rest.back() == ')')
        rest = trimmed(std::string_view(rest).substr(1, rest.size() - 2));
    if (rest.empty())
        return {};
    for (char c : rest)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$')
            return {};
    return rest;
}

// What "typeof NAME" gives for a global that a script of the page declares.
std::string typeOfGlobal(const std::string& html, const std::string& name)
{
    std::string low = lower(html);
    size_t pos = 0;
    while ((pos = low.find("<script", pos)) != std::string::npos) {
        auto start = low.find('>', pos);
        if (start == std::string::npos)
            break;
        auto end = low.find("</script", start);
        std::string_view code = std::string_view(html).substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        pos = end == std::string::npos ? low.size() : end;
        for (auto [keyword, type] : { std::pair { "function", "function" }, { "var", "object" }, { "let", "object" }, { "const", "object" } }) {
            std::string needle = std::string(keyword) + " " + name;
            for (size_t at = code.find(needle); at != std::string_view::npos; at = code.find(needle, at + 1)) {
                bool wordStart = at == 0 || !(std::isalnum(static_cast<unsigned char>(code[at - 1])) || code[at - 1] == '_');
                size_t after = at + needle.size();
                bool wordEnd = after >= code.size() || !(std::isalnum(static_cast<unsigned char>(code[after])) || code[after] == '_' || code[after] == '$');
                if (wordStart && wordEnd)
                    return type;
            }
        }
    }
    return "undefined";
}

} // namespace

void HeadlessWebEngine::evaluateJavaScript(const std::string& script, std::function<void(std::string)> completion)
{
    m_scripts.push_back(script);
    if (!completion)
        return;
    std::string s = trimmed(script);
    if (!s.empty() && s.back() == ';')
        s.pop_back();
    s = trimmed(s);
    std::string result;
    if (s == "document.title")
        result = m_title;
    else if (auto name = typeofOperand(s); !name.empty())
        result = typeOfGlobal(m_document, name);
    std::weak_ptr<bool> alive = m_alive;
    RunLoop::main().post([alive, completion = std::move(completion), result = std::move(result)] {
        if (!alive.expired())
            completion(result);
    });
}

} // namespace kit
