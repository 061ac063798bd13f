#include "json/Value.h"

#include "json/TextCodec.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace json {

Dictionary::Dictionary() = default;
Dictionary::~Dictionary() = default;
Dictionary::Dictionary(const Dictionary&) = default;
Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(const Dictionary&) = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;

Dictionary Dictionary::fromEntries(std::vector<DictionaryEntry> entries)
{
    auto byKey = [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.key < b.key; };
    // Stable, so that among equal keys the one read last stays last.
    if (entries.size() <= 16) {
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (!byKey(entries[i], entries[i - 1]))
                continue;
            DictionaryEntry moving = std::move(entries[i]);
            std::size_t j = i;
            for (; j > 0 && byKey(moving, entries[j - 1]); --j)
                entries[j] = std::move(entries[j - 1]);
            entries[j] = std::move(moving);
        }
    } else if (!std::is_sorted(entries.begin(), entries.end(), byKey)) {
        std::stable_sort(entries.begin(), entries.end(), byKey);
    }
    // Keep the last of every run of equal keys.
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].key == entries[i].key)
            continue;
        if (out != i)
            entries[out] = std::move(entries[i]);
        ++out;
    }
    entries.resize(out);
    Dictionary dictionary;
    dictionary.m_entries = std::move(entries);
    return dictionary;
}

std::size_t Dictionary::size() const { return m_entries.size(); }
bool Dictionary::empty() const { return m_entries.empty(); }
Dictionary::const_iterator Dictionary::begin() const { return m_entries.begin(); }
Dictionary::const_iterator Dictionary::end() const { return m_entries.end(); }

const Value* Dictionary::find(const Text& key) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key,
        [](const DictionaryEntry& e, const Text& k) { return e.key < k; });
    if (it == m_entries.end() || it->key != key)
        return nullptr;
    return &it->value;
}

const Value* Dictionary::find(std::string_view utf8Key) const
{
    auto key = TextCodec::fromUTF8(utf8Key);
    return key ? find(*key) : nullptr;
}

std::optional<std::string> Dictionary::utf8(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->utf8() : std::nullopt;
}

std::optional<double> Dictionary::number(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->number() : std::nullopt;
}

const Dictionary* Dictionary::dictionary(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->dictionary() : nullptr;
}

const List* Dictionary::list(std::string_view key) const
{
    const Value* v = find(key);
    return v ? v->list() : nullptr;
}

bool Dictionary::operator==(const Dictionary& other) const { return m_entries == other.m_entries; }

std::optional<bool> Value::boolean() const
{
    if (auto b = std::get_if<bool>(&m_storage))
        return *b;
    return std::nullopt;
}

std::optional<double> Value::number() const
{
    if (auto d = std::get_if<double>(&m_storage))
        return *d;
    return std::nullopt;
}

std::optional<std::string> Value::utf8() const
{
    if (auto t = text())
        return TextCodec::toUTF8(*t);
    return std::nullopt;
}

namespace {

void appendNumber(double d, std::string& out)
{
    if (std::isinf(d)) {
        // Past the largest double; reads back as the same infinity.
        out += d < 0 ? "-1e309" : "1e309";
        return;
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    // A plus sign in the exponent would not read back, and leading zeros of
    // the exponent only lengthen it: leave both out.
    bool inExponent = false;
    bool exponentDigitSeen = false;
    for (char* p = buffer; p < end; ++p) {
        if (*p == 'e') {
            inExponent = true;
        } else if (inExponent && (*p == '+' || (*p == '0' && !exponentDigitSeen && p + 1 < end))) {
            continue;
        } else if (inExponent && *p != '-') {
            exponentDigitSeen = true;
        }
        out.push_back(*p);
    }
}

void appendText(const Text& text, std::string& out)
{
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char16_t c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(char(c));
        } else {
            out += "\\u";
            out.push_back(hex[(c >> 12) & 15]);
            out.push_back(hex[(c >> 8) & 15]);
            out.push_back(hex[(c >> 4) & 15]);
            out.push_back(hex[c & 15]);
        }
    }
    out.push_back('"');
}

} // namespace

void Value::appendCanonicalJSON(std::string& out) const
{
    switch (type()) {
    case Type::Null:
        out += "null";
        break;
    case Type::Boolean:
        out += std::get<bool>(m_storage) ? "true" : "false";
        break;
    case Type::Number:
        appendNumber(std::get<double>(m_storage), out);
        break;
    case Type::Text:
        appendText(std::get<Text>(m_storage), out);
        break;
    case Type::List: {
        out.push_back('[');
        bool first = true;
        for (const Value& v : std::get<List>(m_storage)) {
            if (!first)
                out.push_back(',');
            first = false;
            v.appendCanonicalJSON(out);
        }
        out.push_back(']');
        break;
    }
    case Type::Dictionary: {
        out.push_back('{');
        bool first = true;
        for (const DictionaryEntry& e : std::get<Dictionary>(m_storage)) {
            if (!first)
                out.push_back(',');
            first = false;
            appendText(e.key, out);
            out.push_back(':');
            e.value.appendCanonicalJSON(out);
        }
        out.push_back('}');
        break;
    }
    }
}

std::string Value::canonicalJSON() const
{
    std::string out;
    appendCanonicalJSON(out);
    return out;
}

} // namespace json
