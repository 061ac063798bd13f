#include "json/CJSONScanner.h"

#include "json/TextCodec.h"

#include <cstring>

namespace json {

namespace {

const char* descriptionOf(int code)
{
    switch (code) {
    case kJSONScannerErrorCodeDictionaryStart:
        return "Could not scan dictionary. Dictionary that does not start with '{' character.";
    case kJSONScannerErrorCodeDictionaryKey:
        return "Could not scan dictionary. Failed to scan a key.";
    case kJSONScannerErrorCodeDictionaryColon:
        return "Could not scan dictionary. Key was not terminated with a ':' character.";
    case kJSONScannerErrorCodeDictionaryValue:
        return "Could not scan dictionary. Failed to scan a value.";
    case kJSONScannerErrorCodeDictionaryDelimiter:
        return "Could not scan dictionary. Key value pairs not delimited with a ',' character.";
    case kJSONScannerErrorCodeArrayStart:
        return "Could not scan array. Array that does not start with '[' character.";
    case kJSONScannerErrorCodeArrayValue:
        return "Could not scan array. Could not scan a value.";
    case kJSONScannerErrorCodeArrayTerminator:
        return "Could not scan array. Array not terminated by a ']' character.";
    case kJSONScannerErrorCodeStringStart:
        return "Could not scan string constant. String not started by a '\"' character.";
    case kJSONScannerErrorCodeStringUnicode:
        return "Could not scan string constant. Unicode character could not be decoded.";
    case kJSONScannerErrorCodeStringEscape:
        return "Could not scan string constant. Unknown escape code.";
    case kJSONScannerErrorCodeNumber:
        return "Could not scan number constant.";
    case kJSONScannerErrorCodeStringUnterminated:
        return "Could not scan string constant. String not terminated by a '\"' character.";
    case kJSONScannerErrorCodeStringEncoding:
        return "Could not scan string constant. String is not valid UTF-8.";
    }
    return "Could not scan JSON.";
}

int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Error CJSONScanner::errorWithCode(int code)
{
    return Error(std::string(kJSONScannerErrorDomain), code, std::string(descriptionOf(code)));
}

std::unique_ptr<CJSONScanner> CJSONScanner::scannerWithData(SharedBytes data)
{
    auto scanner = std::make_unique<CJSONScanner>();
    scanner->setData(std::move(data));
    return scanner;
}

void CJSONScanner::setData(SharedBytes data)
{
    if (data && data != this->data()) {
        auto encoding = TextCodec::detectEncoding(data->data(), data->size());
        if (encoding != TextCodec::Encoding::UTF8) {
            auto utf8 = TextCodec::reencodeToUTF8(data->data(), data->size(), encoding);
            data = utf8 ? std::make_shared<const Bytes>(std::move(*utf8)) : nullptr;
        }
    }
    CDataScanner::setData(std::move(data));
}

bool CJSONScanner::fail(const std::uint8_t* from, Error* outError, int code)
{
    setCurrent(from);
    if (outError)
        *outError = errorWithCode(code);
    return false;
}

bool CJSONScanner::scanJSONObject(Value* outObject, Error* outError)
{
    Value value;
    if (!scanObject(value, outError, 0))
        return false;
    if (outObject)
        *outObject = std::move(value);
    return true;
}

bool CJSONScanner::scanJSONDictionary(Dictionary* outDictionary, Error* outError)
{
    Dictionary dictionary;
    if (!scanDictionary(dictionary, outError, 0))
        return false;
    if (outDictionary)
        *outDictionary = std::move(dictionary);
    return true;
}

bool CJSONScanner::scanJSONArray(List* outArray, Error* outError)
{
    List list;
    if (!scanArray(list, outError, 0))
        return false;
    if (outArray)
        *outArray = std::move(list);
    return true;
}

bool CJSONScanner::scanJSONStringConstant(Text* outString, Error* outError)
{
    Text text;
    if (!scanStringConstant(text, outError))
        return false;
    if (outString)
        *outString = std::move(text);
    return true;
}

bool CJSONScanner::scanJSONNumberConstant(double* outNumber, Error* outError)
{
    if (!scanNumber(outNumber)) {
        if (outError)
            *outError = errorWithCode(kJSONScannerErrorCodeNumber);
        return false;
    }
    return true;
}

bool CJSONScanner::scanNotQuoteCharactersIntoString(std::optional<Text>* outString)
{
    const std::uint8_t* from = current();
    const std::uint8_t* p = from;
    while (p < end() && *p != '"' && *p != '\\')
        ++p;
    if (p == from)
        return false;
    if (outString)
        *outString = TextCodec::fromUTF8(from, std::size_t(p - from));
    setCurrent(p);
    return true;
}

bool CJSONScanner::scanObject(Value& out, Error* outError, int depth)
{
    skipWhitespace();
    switch (currentCharacter()) {
    case '"':
    case '\'': {
        Text text;
        if (!scanStringConstant(text, outError))
            return false;
        out = Value(std::move(text));
        return true;
    }
    case '-':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': {
        double number = 0;
        if (!scanJSONNumberConstant(&number, outError))
            return false;
        out = Value(number);
        return true;
    }
    case '{': {
        Dictionary dictionary;
        if (!scanDictionary(dictionary, outError, depth))
            return false;
        out = Value(std::move(dictionary));
        return true;
    }
    case '[': {
        List list;
        if (!scanArray(list, outError, depth))
            return false;
        out = Value(std::move(list));
        return true;
    }
    case 't':
        if (!scanUTF8String("true"))
            return false;
        out = Value(true);
        return true;
    case 'f':
        if (!scanUTF8String("false"))
            return false;
        out = Value(false);
        return true;
    case 'n':
        if (!scanUTF8String("null"))
            return false;
        out = Value(nullptr);
        return true;
    default:
        return false;
    }
}

bool CJSONScanner::scanDictionary(Dictionary& out, Error* outError, int depth)
{
    const std::uint8_t* from = current();
    if (currentCharacter() != '{')
        return fail(from, outError, kJSONScannerErrorCodeDictionaryStart);
    if (depth >= kMaximumDepth) {
        setCurrent(from);
        if (outError)
            *outError = Error(std::string(kJSONScannerErrorDomain), kJSONScannerErrorCodeDictionaryStart,
                "Could not scan dictionary. Dictionary nested too deeply.");
        return false;
    }
    scanCharacter();
    std::vector<DictionaryEntry> entries;
    while (currentCharacter() != '}') {
        skipWhitespace();
        if (currentCharacter() == '}')
            break;
        DictionaryEntry entry;
        if (!scanStringConstant(entry.key, outError))
            return fail(from, outError, kJSONScannerErrorCodeDictionaryKey);
        skipWhitespace();
        if (!scanCharacter(':'))
            return fail(from, outError, kJSONScannerErrorCodeDictionaryColon);
        if (!scanObject(entry.value, outError, depth + 1))
            return fail(from, outError, kJSONScannerErrorCodeDictionaryValue);
        entries.push_back(std::move(entry));
        skipWhitespace();
        if (scanCharacter(',')) {
            skipWhitespace();
            if (currentCharacter() == '}')
                break;
        } else if (currentCharacter() != '}') {
            return fail(from, outError, kJSONScannerErrorCodeDictionaryDelimiter);
        }
    }
    scanCharacter();
    out = Dictionary::fromEntries(std::move(entries));
    return true;
}

bool CJSONScanner::scanArray(List& out, Error* outError, int depth)
{
    const std::uint8_t* from = current();
    if (currentCharacter() != '[')
        return fail(from, outError, kJSONScannerErrorCodeArrayStart);
    if (depth >= kMaximumDepth) {
        setCurrent(from);
        if (outError)
            *outError = Error(std::string(kJSONScannerErrorDomain), kJSONScannerErrorCodeArrayStart,
                "Could not scan array. Array nested too deeply.");
        return false;
    }
    scanCharacter();
    List list;
    skipWhitespace();
    while (currentCharacter() != ']') {
        Value value;
        if (!scanObject(value, outError, depth + 1))
            return fail(from, outError, kJSONScannerErrorCodeArrayValue);
        list.push_back(std::move(value));
        skipWhitespace();
        if (scanCharacter(',')) {
            skipWhitespace();
        } else {
            skipWhitespace();
            if (currentCharacter() == ']')
                break;
            return fail(from, outError, kJSONScannerErrorCodeArrayTerminator);
        }
    }
    skipWhitespace();
    scanCharacter();
    out = std::move(list);
    return true;
}

bool CJSONScanner::scanStringConstant(Text& out, Error* outError)
{
    const std::uint8_t* from = current();
    skipWhitespace();
    if (!scanCharacter('"'))
        return fail(from, outError, kJSONScannerErrorCodeStringStart);
    Text text;
    for (;;) {
        if (scanCharacter('"'))
            break;
        // The run up to the next quote or backslash, decoded straight into the
        // text. A UTF-8 sequence never holds either byte, so runs split cleanly.
        const std::uint8_t* run = current();
        const std::uint8_t* p = run;
        while (p < end() && *p != '"' && *p != '\\')
            ++p;
        if (p != run) {
            if (!TextCodec::appendUTF8(run, std::size_t(p - run), text))
                return fail(from, outError, kJSONScannerErrorCodeStringEncoding);
            setCurrent(p);
        }
        if (scanCharacter('\\')) {
            switch (scanCharacter()) {
            case '"': text.push_back(u'"'); break;
            case '/': text.push_back(u'/'); break;
            case '\\': text.push_back(u'\\'); break;
            case 'b': text.push_back(0x08); break;
            case 'f': text.push_back(0x0C); break;
            case 'n': text.push_back(0x0A); break;
            case 'r': text.push_back(0x0D); break;
            case 't': text.push_back(0x09); break;
            case 'u': {
                unsigned unit = 0;
                for (int i = 0; i < 4; ++i) {
                    int digit = hexValue(scanCharacter());
                    if (digit < 0)
                        return fail(from, outError, kJSONScannerErrorCodeStringUnicode);
                    unit = unit << 4 | unsigned(digit);
                }
                text.push_back(char16_t(unit));
                break;
            }
            default:
                return fail(from, outError, kJSONScannerErrorCodeStringEscape);
            }
        } else if (isAtEnd()) {
            return fail(from, outError, kJSONScannerErrorCodeStringUnterminated);
        }
    }
    out = std::move(text);
    return true;
}

} // namespace json
