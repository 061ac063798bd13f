#pragma once
// An address, made from a string the way the handheld's URL class makes one:
// the text must consist of characters that may stand in an address (letters,
// digits, the reserved and unreserved marks, and well-formed %-escapes).
// Anything else (a blank, a quote, a bare "%") yields no address. The text is
// kept as given; absoluteString() answers it unchanged.
#include <optional>
#include <string>

namespace kit {

class URL {
public:
    static std::optional<URL> withString(const std::string& text);
    // Resolves a reference (an href) against a base address, as a browser does.
    static std::optional<URL> withStringRelativeTo(const std::string& reference, const URL& base);

    const std::string& absoluteString() const { return m_text; }
    // Lower-case scheme ("http"), empty when the text has none.
    std::string scheme() const;
    std::string host() const;
    // The path ("/" at least for an address with a host) and the query
    // (without its "?"), both still percent-escaped; empty when absent.
    std::string path() const;
    std::string query() const;

    bool operator==(const URL&) const = default;

private:
    explicit URL(std::string text) : m_text(std::move(text)) { }
    std::string m_text;
};

} // namespace kit
