#pragma once
// CJSONDeserializer: give it bytes, get back a dictionary (or any JSON value)
// or nothing. It holds no state; each call makes its own scanner.
//
// Failures: the scanner's error (kJSONScannerErrorDomain) when the scan fails,
// or one of the deserializer's own (kJSONDeserializerErrorDomain):
//   -1  no bytes or zero bytes (no description detail)
//   -2  UTF-16 or UTF-32 input that cannot be re-encoded as UTF-8
//   -3  deserialize(): no JSON value where the data begins (after white space)
// Bytes after the value are not looked at.

#include "json/CDeserializerProtocol.h"
#include "json/Error.h"
#include "json/Value.h"

#include <optional>
#include <string_view>

namespace json {

inline constexpr std::string_view kJSONDeserializerErrorDomain = "CJSONDeserializerErrorDomain";

enum CJSONDeserializerErrorCode : int {
    kJSONDeserializerErrorCodeNothingToDeserialize = -1,
    kJSONDeserializerErrorCodeEncoding = -2,
    kJSONDeserializerErrorCodeNoValue = -3,
};

class CJSONDeserializer : public CDeserializerProtocol {
public:
    static CJSONDeserializer deserializer() { return {}; }

    // The data must begin with "{" at its first byte.
    std::optional<Dictionary> deserializeAsDictionary(const SharedBytes& data, Error* outError = nullptr) const override;
    std::optional<Dictionary> deserializeAsDictionary(std::string_view data, Error* outError = nullptr) const;

    // The older entry point: white space first, then any JSON value.
    std::optional<Value> deserialize(const SharedBytes& data, Error* outError = nullptr) const;
    std::optional<Value> deserialize(std::string_view data, Error* outError = nullptr) const;
};

} // namespace json
