#pragma once
// CJSONScanner reads JSON values from bytes with the byte scanner's operations.
//
// Contract:
// - Every scan answers true or false. On false the position is back where the
//   scan began (for a string, in front of the white space it skipped), and,
//   when an error slot is given, the error is stored there, replacing what an
//   inner scan stored before: a caller sees the error of the outermost failing
//   container.
// - Lenient in a few fixed ways: a comma before a closing brace or bracket, a
//   lone minus sign as the number 0, control characters inside strings.
//   Strict in others: keys in double quotes only, no strings in apostrophes.
// - Containers nest at most kMaximumDepth deep; a deeper one fails as a
//   container that cannot start, so input from the network cannot exhaust
//   the stack.

#include "json/CDataScanner.h"
#include "json/Error.h"
#include "json/Value.h"

#include <string_view>

namespace json {

inline constexpr std::string_view kJSONScannerErrorDomain = "CJSONScannerErrorDomain";

// Codes of kJSONScannerErrorDomain.
enum CJSONScannerErrorCode : int {
    kJSONScannerErrorCodeDictionaryStart = -1,
    kJSONScannerErrorCodeDictionaryKey = -2,
    kJSONScannerErrorCodeDictionaryColon = -3,
    kJSONScannerErrorCodeDictionaryValue = -4,
    kJSONScannerErrorCodeDictionaryDelimiter = -5,
    kJSONScannerErrorCodeArrayStart = -7,
    kJSONScannerErrorCodeArrayValue = -8,
    kJSONScannerErrorCodeArrayTerminator = -9,
    kJSONScannerErrorCodeStringStart = -11,
    kJSONScannerErrorCodeStringUnicode = -12,
    kJSONScannerErrorCodeStringEscape = -13,
    kJSONScannerErrorCodeNumber = -14,
    // A string that reaches the end of the data before its closing quote.
    kJSONScannerErrorCodeStringUnterminated = -15,
    // Bytes inside a string that are not valid UTF-8.
    kJSONScannerErrorCodeStringEncoding = -16,
};

class CJSONScanner : public CDataScanner {
public:
    static constexpr int kMaximumDepth = 512;

    static std::unique_ptr<CJSONScanner> scannerWithData(SharedBytes data);

    CJSONScanner() = default;

    // UTF-16 and UTF-32 input (told apart by the zero bytes among the first
    // four) is re-encoded as UTF-8; other input is taken as it is. Input that
    // cannot be re-encoded leaves the scanner without data.
    void setData(SharedBytes data) override;

    bool scanJSONObject(Value* outObject, Error* outError = nullptr);
    bool scanJSONDictionary(Dictionary* outDictionary, Error* outError = nullptr);
    bool scanJSONArray(List* outArray, Error* outError = nullptr);
    bool scanJSONStringConstant(Text* outString, Error* outError = nullptr);
    bool scanJSONNumberConstant(double* outNumber, Error* outError = nullptr);
    // The run up to the next double quote or backslash or the end, as UTF-8.
    bool scanNotQuoteCharactersIntoString(std::optional<Text>* outString);

    // The scanner's error for a code, with its description.
    static Error errorWithCode(int code);

private:
    // Stacks for the elements of the containers being read, reused from one
    // scan to the next on the same thread, so that each finished container
    // is laid out once, at its exact size, in the document being built.
    struct Workspace;
    struct Build;
    static Workspace& workspace();
    bool scanObject(detail::RawValue& out, Error* outError, int depth, Build& build);
    bool scanDictionary(Dictionary& out, Error* outError, int depth, Build& build);
    bool scanArray(List& out, Error* outError, int depth, Build& build);
    bool scanStringConstant(Text& out, Error* outError);
    bool scanPlainNumber(double* outNumber);
    bool fail(const std::uint8_t* from, Error* outError, int code);
    bool failTooDeep(const std::uint8_t* from, Error* outError, int code, const char* description);
};

} // namespace json
