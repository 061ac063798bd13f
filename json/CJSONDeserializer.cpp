#include "json/CJSONDeserializer.h"

#include "json/CJSONScanner.h"

namespace json {

namespace {

SharedBytes copyOf(std::string_view data)
{
    return std::make_shared<const Bytes>(data.begin(), data.end());
}

// Sets the scanner over the data; false with the error stored when there is
// nothing to scan.
bool prepare(CJSONScanner& scanner, const SharedBytes& data, Error* outError)
{
    if (!data || data->empty()) {
        if (outError)
            *outError = Error(std::string(kJSONDeserializerErrorDomain), kJSONDeserializerErrorCodeNothingToDeserialize);
        return false;
    }
    scanner.setData(data);
    if (!scanner.data()) {
        if (outError)
            *outError = Error(std::string(kJSONDeserializerErrorDomain), kJSONDeserializerErrorCodeEncoding,
                "Could not deserialize. The data could not be re-encoded as UTF-8.");
        return false;
    }
    return true;
}

} // namespace

std::optional<Dictionary> CJSONDeserializer::deserializeAsDictionary(const SharedBytes& data, Error* outError) const
{
    CJSONScanner scanner;
    if (!prepare(scanner, data, outError))
        return std::nullopt;
    Dictionary dictionary;
    if (!scanner.scanJSONDictionary(&dictionary, outError))
        return std::nullopt;
    return dictionary;
}

std::optional<Dictionary> CJSONDeserializer::deserializeAsDictionary(std::string_view data, Error* outError) const
{
    return deserializeAsDictionary(data.empty() ? SharedBytes() : copyOf(data), outError);
}

std::optional<Value> CJSONDeserializer::deserialize(const SharedBytes& data, Error* outError) const
{
    CJSONScanner scanner;
    if (!prepare(scanner, data, outError))
        return std::nullopt;
    Value value;
    // A failed literal or an unknown character stores no scanner error; give
    // the caller a reason all the same. A marker code tells whether the scan
    // stored one of its own.
    Error error(std::string(), 0);
    if (!scanner.scanJSONObject(&value, outError ? &error : nullptr)) {
        if (outError) {
            if (error.code == 0)
                error = Error(std::string(kJSONDeserializerErrorDomain), kJSONDeserializerErrorCodeNoValue,
                    "Could not deserialize. No JSON value at the start of the data.");
            *outError = std::move(error);
        }
        return std::nullopt;
    }
    return value;
}

std::optional<Value> CJSONDeserializer::deserialize(std::string_view data, Error* outError) const
{
    return deserialize(data.empty() ? SharedBytes() : copyOf(data), outError);
}

} // namespace json
