#pragma once
// Shared names of the JSON reader, kept light so headers can include it freely.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace json {

// A text is a sequence of 16-bit code units: a lone surrogate from a \u escape
// stays as it is. TextCodec converts to and from UTF-8.
using Text = std::u16string;

// An immutable byte buffer, shared between its owner and the scanners over it.
using Bytes = std::vector<std::uint8_t>;
using SharedBytes = std::shared_ptr<const Bytes>;

class CharacterSet;
class CDataScanner;
class CJSONScanner;
class CJSONDeserializer;
class Dictionary;
class Error;
class List;
class Value;

namespace detail {
class Document;
}

} // namespace json
