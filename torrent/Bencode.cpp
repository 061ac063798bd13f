#include "torrent/Bencode.h"

#include <limits>

namespace torrent {

const Value* Value::find(std::string_view key) const
{
    if (kind != Kind::Dictionary)
        return nullptr;
    for (size_t i = keys.size(); i-- > 0;)
        if (keys[i] == key)
            return &items[i];
    return nullptr;
}

namespace {

class Reader {
public:
    Reader(std::string_view bytes, int expandBelow)
        : m_bytes(bytes)
        , m_expandBelow(expandBelow)
    {
    }

    size_t position() const { return m_pos; }

    bool read(Value& out, int depth)
    {
        const size_t start = m_pos;
        const bool whole = readValue(out, depth);
        out.raw = m_bytes.substr(start, m_pos - start);
        return whole;
    }

    bool atEnd() const { return m_pos == m_bytes.size(); }
    bool take(char c)
    {
        if (atEnd() || m_bytes[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }
    bool peek(char c) const { return !atEnd() && m_bytes[m_pos] == c; }

private:
    bool readValue(Value& out, int depth)
    {
        if (depth > maxDepth || atEnd())
            return false;
        char c = m_bytes[m_pos];
        if ((c == 'l' || c == 'd') && depth >= m_expandBelow) {
            out.kind = c == 'l' ? Value::Kind::List : Value::Kind::Dictionary;
            out.expanded = false;
            return skip(depth);
        }
        if (c == 'i')
            return readInteger(out);
        if (c >= '0' && c <= '9') {
            out.kind = Value::Kind::String;
            return readString(out.string);
        }
        if (c == 'l') {
            ++m_pos;
            out.kind = Value::Kind::List;
            while (!atEnd() && m_bytes[m_pos] != 'e') {
                out.items.emplace_back();
                if (!read(out.items.back(), depth + 1))
                    return false;
            }
            return take('e');
        }
        if (c == 'd') {
            ++m_pos;
            out.kind = Value::Kind::Dictionary;
            while (!atEnd() && m_bytes[m_pos] != 'e') {
                std::string_view key;
                if (!readString(key))
                    return false;
                out.keys.push_back(key);
                out.items.emplace_back();
                if (!read(out.items.back(), depth + 1))
                    return false;
            }
            return take('e');
        }
        return false;
    }

    // Goes past one value, checking it as read() would, keeping nothing.
    bool skip(int depth)
    {
        if (depth > maxDepth || atEnd())
            return false;
        char c = m_bytes[m_pos];
        if (c == 'i') {
            Value ignored;
            return readInteger(ignored);
        }
        std::string_view ignored;
        if (c >= '0' && c <= '9')
            return readString(ignored);
        if (c != 'l' && c != 'd')
            return false;
        ++m_pos;
        while (!atEnd() && m_bytes[m_pos] != 'e') {
            if (c == 'd' && !readString(ignored))
                return false;
            if (!skip(depth + 1))
                return false;
        }
        return take('e');
    }

    bool readInteger(Value& out)
    {
        out.kind = Value::Kind::Integer;
        ++m_pos; // 'i'
        const bool negative = take('-');
        size_t digits = 0;
        unsigned long long magnitude = 0;
        const auto limit = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
        while (!atEnd() && m_bytes[m_pos] >= '0' && m_bytes[m_pos] <= '9') {
            unsigned digit = unsigned(m_bytes[m_pos] - '0');
            if (magnitude > (limit - digit) / 10)
                out.integerFits = false;
            else
                magnitude = magnitude * 10 + digit;
            ++m_pos, ++digits;
        }
        out.integer = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
        return digits > 0 && take('e');
    }

    bool readString(std::string_view& out)
    {
        size_t length = 0, digits = 0;
        while (!atEnd() && m_bytes[m_pos] >= '0' && m_bytes[m_pos] <= '9') {
            if (++digits > 10)
                return false;
            length = length * 10 + size_t(m_bytes[m_pos] - '0');
            ++m_pos;
        }
        if (digits == 0 || !take(':') || length > m_bytes.size() - m_pos)
            return false;
        out = m_bytes.substr(m_pos, length);
        m_pos += length;
        return true;
    }

    std::string_view m_bytes;
    size_t m_pos { 0 };
    int m_expandBelow;
};

} // namespace

ParseResult parse(std::string_view bytes, int expandDepth)
{
    Reader reader(bytes, expandDepth);
    Value value;
    if (!reader.read(value, 0))
        return { std::nullopt, reader.position() };
    return { std::move(value), reader.position() };
}

} // namespace torrent

namespace torrent {

bool forEachItem(std::string_view bytes, int expandDepth, const std::function<bool(const Value&)>& each)
{
    Reader reader(bytes, 1 + expandDepth);
    if (!reader.take('l'))
        return false;
    while (!reader.atEnd() && !reader.peek('e')) {
        Value item;
        if (!reader.read(item, 1) || !each(item))
            return false;
    }
    return reader.take('e');
}

} // namespace torrent
