#pragma once
// A bencoded value read from bytes, as .torrent files hold them: integers,
// byte strings, lists and dictionaries. Strings are views into the bytes
// read, which must outlive the value. The reader is strict where a damaged
// or hostile file could hurt: lengths past the end, nesting deeper than any
// torrent needs, and integers too large for 64 bits (kept, but marked) are
// caught; bytes after the value are left to the caller.
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace torrent {

struct Value {
    enum class Kind { Integer, String, List, Dictionary };
    Kind kind { Kind::Integer };
    long long integer { 0 };
    bool integerFits { true };   // false: the digits run past 64 bits
    std::string_view string;     // Kind::String
    std::vector<Value> items;    // Kind::List, and a dictionary's values
    std::vector<std::string_view> keys; // Kind::Dictionary: keys[i] names items[i]
    std::string_view raw;        // the value's own bytes, whole
    bool expanded { true };      // false: a list or dictionary read past, its items left in raw

    bool isString() const { return kind == Kind::String; }
    bool isList() const { return kind == Kind::List; }
    bool isDictionary() const { return kind == Kind::Dictionary; }
    // A usable integer: one that fits.
    std::optional<long long> asInteger() const
    {
        return kind == Kind::Integer && integerFits ? std::optional(integer) : std::nullopt;
    }
    // The value under `key` in a dictionary (the last, where a damaged file
    // repeats a key), or null.
    const Value* find(std::string_view key) const;
};

// A torrent description nests four or five levels; this is far past that and
// far short of what would exhaust the stack.
inline constexpr int maxDepth = 64;

struct ParseResult {
    std::optional<Value> value; // empty when the bytes hold no whole value
    size_t position { 0 };      // where reading stopped: after the value, or at the damage
};

// Reads the value at the start of `bytes`. Lists and dictionaries nested
// `expandDepth` levels down (the value itself is level 0) are checked but not
// expanded: a description of a million files is read a part at a time, never
// held as a tree.
ParseResult parse(std::string_view bytes, int expandDepth = maxDepth + 1);

// Calls `each` with every item of the list at the start of `bytes`, each read
// with `expandDepth`, until it answers false. False when the bytes hold no
// whole list or `each` stopped.
bool forEachItem(std::string_view bytes, int expandDepth, const std::function<bool(const Value&)>& each);

} // namespace torrent
