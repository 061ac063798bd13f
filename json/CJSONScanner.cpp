#include "json/CJSONScanner.h"

#include "json/TextCodec.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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

struct CJSONScanner::Workspace {
    std::vector<Value> values;
    std::vector<DictionaryEntry> entries;
    std::vector<std::uint32_t> order;

    // Gives back memory after an unusually large document.
    void trim()
    {
        values.clear();
        entries.clear();
        if (values.capacity() > 4096)
            std::vector<Value>().swap(values);
        if (entries.capacity() > 4096)
            std::vector<DictionaryEntry>().swap(entries);
        if (order.capacity() > 4096)
            std::vector<std::uint32_t>().swap(order);
    }
};

CJSONScanner::Workspace& CJSONScanner::workspace()
{
    thread_local Workspace work;
    return work;
}

namespace {

template<typename Work>
struct TrimOnExit {
    Work& work;
    ~TrimOnExit() { work.trim(); }
};

} // namespace

bool CJSONScanner::scanJSONObject(Value* outObject, Error* outError)
{
    Workspace& work = workspace();
    TrimOnExit<Workspace> trim { work };
    Value value;
    if (!scanObject(value, outError, 0, work))
        return false;
    if (outObject)
        *outObject = std::move(value);
    return true;
}

bool CJSONScanner::scanJSONDictionary(Dictionary* outDictionary, Error* outError)
{
    Workspace& work = workspace();
    TrimOnExit<Workspace> trim { work };
    Dictionary dictionary;
    if (!scanDictionary(dictionary, outError, 0, work))
        return false;
    if (outDictionary)
        *outDictionary = std::move(dictionary);
    return true;
}

bool CJSONScanner::scanJSONArray(List* outArray, Error* outError)
{
    Workspace& work = workspace();
    TrimOnExit<Workspace> trim { work };
    List list;
    if (!scanArray(list, outError, 0, work))
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

bool CJSONScanner::scanObject(Value& out, Error* outError, int depth, Workspace& work)
{
    skipWhitespace();
    switch (currentCharacter()) {
    case '"':
    case '\'':
        return scanStringConstant(out.m_storage.emplace<Text>(), outError);
    case '-':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': {
        double number = 0;
        if (!scanJSONNumberConstant(&number, outError))
            return false;
        out.m_storage.emplace<double>(number);
        return true;
    }
    case '{':
        return scanDictionary(out.m_storage.emplace<Dictionary>(), outError, depth, work);
    case '[':
        return scanArray(out.m_storage.emplace<List>(), outError, depth, work);
    case 't':
        if (!scanUTF8String("true"))
            return false;
        out.m_storage.emplace<bool>(true);
        return true;
    case 'f':
        if (!scanUTF8String("false"))
            return false;
        out.m_storage.emplace<bool>(false);
        return true;
    case 'n':
        if (!scanUTF8String("null"))
            return false;
        out.m_storage.emplace<std::monostate>();
        return true;
    default:
        return false;
    }
}

bool CJSONScanner::failTooDeep(const std::uint8_t* from, Error* outError, int code, const char* description)
{
    setCurrent(from);
    if (outError)
        *outError = Error(std::string(kJSONScannerErrorDomain), code, std::string(description));
    return false;
}

bool CJSONScanner::scanDictionary(Dictionary& out, Error* outError, int depth, Workspace& work)
{
    const std::uint8_t* from = current();
    if (currentCharacter() != '{')
        return fail(from, outError, kJSONScannerErrorCodeDictionaryStart);
    if (depth >= kMaximumDepth)
        return failTooDeep(from, outError, kJSONScannerErrorCodeDictionaryStart,
            "Could not scan dictionary. Dictionary nested too deeply.");
    scanCharacter();
    const std::size_t base = work.entries.size();
    auto failHere = [&](int code) {
        work.entries.erase(work.entries.begin() + std::ptrdiff_t(base), work.entries.end());
        return fail(from, outError, code);
    };
    while (currentCharacter() != '}') {
        skipWhitespace();
        if (currentCharacter() == '}')
            break;
        DictionaryEntry entry;
        if (!scanStringConstant(entry.key, outError))
            return failHere(kJSONScannerErrorCodeDictionaryKey);
        skipWhitespace();
        if (!scanCharacter(':'))
            return failHere(kJSONScannerErrorCodeDictionaryColon);
        if (!scanObject(entry.value, outError, depth + 1, work))
            return failHere(kJSONScannerErrorCodeDictionaryValue);
        work.entries.push_back(std::move(entry));
        skipWhitespace();
        if (scanCharacter(',')) {
            skipWhitespace();
            if (currentCharacter() == '}')
                break;
        } else if (currentCharacter() != '}') {
            return failHere(kJSONScannerErrorCodeDictionaryDelimiter);
        }
    }
    scanCharacter();

    // Order the pairs by key (stable, so that of a key given twice the last
    // stays last), then move each kept pair once into the dictionary.
    DictionaryEntry* pairs = work.entries.data() + base;
    const std::uint32_t n = std::uint32_t(work.entries.size() - base);
    auto& order = work.order;
    order.resize(n);
    for (std::uint32_t i = 0; i < n; ++i)
        order[i] = i;
    auto byKey = [pairs](std::uint32_t a, std::uint32_t b) { return pairs[a].key < pairs[b].key; };
    if (n <= 32) {
        for (std::uint32_t i = 1; i < n; ++i) {
            std::uint32_t moving = order[i];
            std::uint32_t j = i;
            for (; j > 0 && byKey(moving, order[j - 1]); --j)
                order[j] = order[j - 1];
            order[j] = moving;
        }
    } else {
        std::stable_sort(order.begin(), order.end(), byKey);
    }
    out.m_entries.clear();
    out.m_entries.reserve(n);
    for (std::uint32_t k = 0; k < n; ++k) {
        if (k + 1 < n && pairs[order[k + 1]].key == pairs[order[k]].key)
            continue;
        out.m_entries.push_back(std::move(pairs[order[k]]));
    }
    work.entries.erase(work.entries.begin() + std::ptrdiff_t(base), work.entries.end());
    return true;
}

bool CJSONScanner::scanArray(List& out, Error* outError, int depth, Workspace& work)
{
    const std::uint8_t* from = current();
    if (currentCharacter() != '[')
        return fail(from, outError, kJSONScannerErrorCodeArrayStart);
    if (depth >= kMaximumDepth)
        return failTooDeep(from, outError, kJSONScannerErrorCodeArrayStart, "Could not scan array. Array nested too deeply.");
    scanCharacter();
    const std::size_t base = work.values.size();
    auto failHere = [&](int code) {
        work.values.erase(work.values.begin() + std::ptrdiff_t(base), work.values.end());
        return fail(from, outError, code);
    };
    skipWhitespace();
    while (currentCharacter() != ']') {
        // Read into a local: the stack may grow (and move) while the value
        // itself holds containers.
        Value value;
        if (!scanObject(value, outError, depth + 1, work))
            return failHere(kJSONScannerErrorCodeArrayValue);
        work.values.push_back(std::move(value));
        skipWhitespace();
        if (scanCharacter(',')) {
            skipWhitespace();
        } else {
            skipWhitespace();
            if (currentCharacter() == ']')
                break;
            return failHere(kJSONScannerErrorCodeArrayTerminator);
        }
    }
    skipWhitespace();
    scanCharacter();
    auto first = work.values.begin() + std::ptrdiff_t(base);
    out.assign(std::make_move_iterator(first), std::make_move_iterator(work.values.end()));
    work.values.erase(first, work.values.end());
    return true;
}

bool CJSONScanner::scanStringConstant(Text& out, Error* outError)
{
    const std::uint8_t* from = current();
    skipWhitespace();
    if (!scanCharacter('"'))
        return fail(from, outError, kJSONScannerErrorCodeStringStart);
    Text& text = out;
    text.clear();
    for (;;) {
        if (scanCharacter('"'))
            break;
        // The run up to the next quote or backslash, decoded straight into the
        // text. A UTF-8 sequence never holds either byte, so runs split cleanly.
        const std::uint8_t* run = current();
        const std::uint8_t* p = run;
        const std::uint8_t* stop = end();
        // Eight bytes at a time while none is a quote or a backslash.
        while (stop - p >= 8) {
            std::uint64_t v;
            std::memcpy(&v, p, 8);
            const std::uint64_t q = v ^ 0x2222222222222222ull;
            const std::uint64_t b = v ^ 0x5C5C5C5C5C5C5C5Cull;
            const std::uint64_t zero = ((q - 0x0101010101010101ull) & ~q) | ((b - 0x0101010101010101ull) & ~b);
            if (zero & 0x8080808080808080ull)
                break;
            p += 8;
        }
        while (p < stop && *p != '"' && *p != '\\')
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
    return true;
}

} // namespace json
