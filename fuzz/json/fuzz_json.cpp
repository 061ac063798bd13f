// libFuzzer target for the JSON deserializer. Besides crashes and sanitizer
// findings it checks two properties of every value read:
//   - its canonical form reads back as the same value;
//   - both entry points agree on input that starts with "{".

#include "fuzz/FuzzCheck.h"
#include "json/CJSONDeserializer.h"
#include "json/CJSONScanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto bytes = std::make_shared<const json::Bytes>(data, data + size);
    const auto deserializer = json::CJSONDeserializer::deserializer();

    json::Error error;
    auto value = deserializer.deserialize(bytes, &error);
    check(value || (error.code < 0 && !error.domain.empty() && !error.description().empty()));
    if (value) {
        const std::string canonical = value->canonicalJSON();
        auto again = deserializer.deserialize(canonical);
        check(again && *again == *value);
        check(again->canonicalJSON() == canonical);
    }

    json::Error dictionaryError;
    auto dictionary = deserializer.deserializeAsDictionary(bytes, &dictionaryError);
    check(dictionary || dictionaryError.code < 0);
    if (dictionary && size >= 4 && data[0] == '{' && data[1] && data[2] && data[3]) {
        // Plain UTF-8 input: no white space to skip, so both readers see the same.
        check(value && value->dictionary() && *value->dictionary() == *dictionary);
    }

    // The scanner's own operations over the same bytes, from every early
    // position: none may read outside the data or fail to restore it.
    auto scanner = json::CJSONScanner::scannerWithData(bytes);
    const std::size_t length = scanner->length();
    for (std::size_t at = 0; at < length && at < 16; ++at) {
        scanner->setScanLocation(at);
        json::Text text;
        if (!scanner->scanJSONStringConstant(&text, nullptr))
            check(scanner->scanLocation() == at);
        scanner->setScanLocation(at);
        if (!scanner->scanJSONArray(nullptr, nullptr))
            check(scanner->scanLocation() == at);
        scanner->setScanLocation(at);
        if (!scanner->scanJSONDictionary(nullptr, nullptr))
            check(scanner->scanLocation() == at);
        scanner->setScanLocation(at);
        std::optional<json::Text> run;
        scanner->scanUpToString(u"\"", &run);
        scanner->scanNumber();
        check(scanner->scanLocation() <= length);
    }
    return 0;
}
