#include "kit/net/URL.h"

#include <curl/curl.h>

#include <cctype>

namespace kit {

namespace {

bool isAddressCharacter(unsigned char c)
{
    if (std::isalnum(c))
        return true;
    switch (c) {
    // unreserved
    case '-': case '.': case '_': case '~':
    // reserved
    case ':': case '/': case '?': case '#': case '[': case ']': case '@':
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
        return true;
    default:
        return false;
    }
}

std::string component(const std::string& text, CURLUPart which)
{
    std::string out;
    CURLU* u = curl_url();
    if (curl_url_set(u, CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* value = nullptr;
        if (curl_url_get(u, which, &value, 0) == CURLUE_OK && value)
            out = value;
        curl_free(value);
    }
    curl_url_cleanup(u);
    return out;
}

} // namespace

std::optional<URL> URL::withString(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1]))
                || !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                return std::nullopt;
            i += 2;
            continue;
        }
        if (!isAddressCharacter(c))
            return std::nullopt;
    }
    return URL(text);
}

std::optional<URL> URL::withStringRelativeTo(const std::string& reference, const URL& base)
{
    CURLU* u = curl_url();
    std::optional<URL> out;
    if (curl_url_set(u, CURLUPART_URL, base.m_text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK
        && curl_url_set(u, CURLUPART_URL, reference.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK) {
        char* value = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &value, 0) == CURLUE_OK && value)
            out = withString(value);
        curl_free(value);
    }
    curl_url_cleanup(u);
    return out;
}

std::string URL::scheme() const
{
    auto colon = m_text.find(':');
    if (colon == std::string::npos || colon == 0)
        return {};
    std::string s = m_text.substr(0, colon);
    if (!std::isalpha(static_cast<unsigned char>(s[0])))
        return {};
    for (char& c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return {};
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string URL::host() const
{
    return component(m_text, CURLUPART_HOST);
}

std::string URL::path() const
{
    return component(m_text, CURLUPART_PATH);
}

std::string URL::query() const
{
    return component(m_text, CURLUPART_QUERY);
}

} // namespace kit
