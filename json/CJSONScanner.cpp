#include "json/CJSONScanner.h"

#include "json/Document.h"
#include "json/TextCodec.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first byte at or after p that is a quote or a backslash (or, with
// asciiOnly, any byte past ASCII), or stop. Sixteen bytes at a time where the
// processor offers it, eight otherwise.
template<bool asciiOnly>
const std::uint8_t* findStringStop(const std::uint8_t* p, const std::uint8_t* stop)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (stop - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
        if (asciiOnly)
            hit = _mm_or_si128(hit, v);
        if (const int mask = _mm_movemask_epi8(hit))
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#else
    while (stop - p >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        const std::uint64_t q = v ^ 0x2222222222222222ull;
        const std::uint64_t b = v ^ 0x5C5C5C5C5C5C5C5Cull;
        std::uint64_t hit = ((q - 0x0101010101010101ull) & ~q) | ((b - 0x0101010101010101ull) & ~b);
        if (asciiOnly)
            hit |= v;
        if (hit & 0x8080808080808080ull)
            break;
        p += 8;
    }
#endif
    while (p < stop && *p != '"' && *p != '\\' && (!asciiOnly || *p < 0x80))
        ++p;
    return p;
}

// ASCII bytes to code units.
void widen(const std::uint8_t* from, std::size_t n, char16_t* to)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i)
        to[i] = from[i];
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

namespace {

using detail::Document;
using detail::RawValue;

// A pair read but not yet placed: its dictionary is laid out in key order
// once its closing brace is read.
struct Pending {
    Text key;
    RawValue value;
};

} // namespace

struct CJSONScanner::Workspace {
    std::vector<RawValue> values;
    std::vector<Pending> entries;
    std::vector<std::uint32_t> order;

    // Gives back memory after an unusually large document.
    void trim()
    {
        values.clear();
        entries.clear();
        if (values.capacity() > 4096)
            std::vector<RawValue>().swap(values);
        if (entries.capacity() > 4096)
            std::vector<Pending>().swap(entries);
        if (order.capacity() > 4096)
            std::vector<std::uint32_t>().swap(order);
    }
};

// The document that one top-level scan fills, made when first needed and
// sized from the bytes left to read. It goes with the scan unless the result
// takes it over.
struct CJSONScanner::Build {
    Workspace& work;
    std::size_t remaining;
    Document* document = nullptr;

    Build(Workspace& work, std::size_t remaining) : work(work), remaining(remaining) {}
    ~Build() { Document::unref(document); }
    Build(const Build&) = delete;
    Build& operator=(const Build&) = delete;

    Document& doc()
    {
        // Nodes take a few times the bytes they were read from.
        if (!document)
            document = Document::create(std::clamp<std::size_t>(remaining * 4, 256, 16384), remaining * 4);
        return *document;
    }
    Document* release()
    {
        Document* taken = document;
        document = nullptr;
        return taken;
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
    Build build(work, std::size_t(end() - current()));
    RawValue raw;
    if (!scanObject(raw, outError, 0, build))
        return false;
    // Texts and containers point into the document: the value takes it over.
    if (raw.document)
        raw.document = build.release();
    Value value(raw, Value::Borrowed {});
    if (outObject)
        *outObject = std::move(value);
    return true;
}

bool CJSONScanner::scanJSONDictionary(Dictionary* outDictionary, Error* outError)
{
    Workspace& work = workspace();
    TrimOnExit<Workspace> trim { work };
    Build build(work, std::size_t(end() - current()));
    Dictionary dictionary;
    if (!scanDictionary(dictionary, outError, 0, build))
        return false;
    dictionary.m_span.document = build.release();
    if (outDictionary)
        *outDictionary = std::move(dictionary);
    return true;
}

bool CJSONScanner::scanJSONArray(List* outArray, Error* outError)
{
    Workspace& work = workspace();
    TrimOnExit<Workspace> trim { work };
    Build build(work, std::size_t(end() - current()));
    List list;
    if (!scanArray(list, outError, 0, build))
        return false;
    list.m_span.document = build.release();
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
    static const CharacterSet* const defaultSet = defaultDoubleCharacters().get();
    if (doubleCharacters().get() == defaultSet && scanPlainNumber(outNumber))
        return true;
    if (!scanNumber(outNumber)) {
        if (outError)
            *outError = errorWithCode(kJSONScannerErrorCodeNumber);
        return false;
    }
    return true;
}

// The common number in one pass: -?digits(.digits)?([eE]-?digits)? with at
// most 15 significant digits and a small power of ten, ending where the run of
// number characters ends. Such a number is exact as one multiply or divide,
// as in numberValue(). Anything else answers false without moving, for the
// general path.
bool CJSONScanner::scanPlainNumber(double* outNumber)
{
    static constexpr double powers[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13,
        1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };
    auto isDigit = [](std::uint8_t c) { return unsigned(c - '0') < 10; };
    const std::uint8_t* p = current();
    const std::uint8_t* const stop = end();
    const bool negative = p < stop && *p == '-';
    if (negative)
        ++p;
    std::uint64_t mantissa = 0;
    int significant = 0;
    long long scale = 0;
    const std::uint8_t* digitsStart = p;
    for (; p < stop && isDigit(*p); ++p) {
        if (mantissa == 0 && *p == '0')
            continue;
        if (++significant > 15)
            return false;
        mantissa = mantissa * 10 + std::uint64_t(*p - '0');
    }
    if (p == digitsStart)
        return false;
    if (p < stop && *p == '.') {
        const std::uint8_t* fractionStart = ++p;
        for (; p < stop && isDigit(*p); ++p) {
            --scale;
            if (mantissa == 0 && *p == '0')
                continue;
            if (++significant > 15)
                return false;
            mantissa = mantissa * 10 + std::uint64_t(*p - '0');
        }
        if (p == fractionStart)
            return false;
    }
    if (p < stop && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negativeExponent = p < stop && *p == '-';
        if (negativeExponent)
            ++p;
        const std::uint8_t* exponentStart = p;
        long long exponent = 0;
        for (; p < stop && isDigit(*p); ++p) {
            if (exponent < 100000000)
                exponent = exponent * 10 + (*p - '0');
        }
        if (p == exponentStart)
            return false;
        scale += negativeExponent ? -exponent : exponent;
    }
    if (p < stop && (*p == '.' || *p == '-' || *p == 'e' || *p == 'E'))
        return false;
    if (scale < -22 || scale > 22)
        return false;
    double value = double(mantissa);
    value = scale >= 0 ? value * powers[scale] : value / powers[-scale];
    if (outNumber)
        *outNumber = negative ? -value : value;
    setCurrent(p);
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

bool CJSONScanner::scanObject(RawValue& out, Error* outError, int depth, Build& build)
{
    skipWhitespace();
    switch (currentCharacter()) {
    case '"':
    case '\'': {
        Document& document = build.doc();
        Text* text = new (document.allocateArray<Text>(1)) Text();
        const bool scanned = scanStringConstant(*text, outError);
        document.keepText(text);
        if (!scanned)
            return false;
        out.type = int(Value::Type::Text);
        out.pointer = text;
        out.document = &document;
        return true;
    }
    case '-':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': {
        double number = 0;
        if (!scanJSONNumberConstant(&number, outError))
            return false;
        out.type = int(Value::Type::Number);
        out.number = number;
        return true;
    }
    case '{': {
        // Laid out before its entries: the arena never moves what it holds.
        Document& document = build.doc();
        Dictionary* dictionary = new (document.allocateArray<Dictionary>(1)) Dictionary();
        if (!scanDictionary(*dictionary, outError, depth, build))
            return false;
        out.type = int(Value::Type::Dictionary);
        out.pointer = dictionary;
        out.document = &document;
        return true;
    }
    case '[': {
        Document& document = build.doc();
        List* list = new (document.allocateArray<List>(1)) List();
        if (!scanArray(*list, outError, depth, build))
            return false;
        out.type = int(Value::Type::List);
        out.pointer = list;
        out.document = &document;
        return true;
    }
    case 't':
        if (!scanUTF8String("true"))
            return false;
        out.type = int(Value::Type::Boolean);
        out.boolean = true;
        return true;
    case 'f':
        if (!scanUTF8String("false"))
            return false;
        out.type = int(Value::Type::Boolean);
        out.boolean = false;
        return true;
    case 'n':
        if (!scanUTF8String("null"))
            return false;
        out.type = int(Value::Type::Null);
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

// On success out points into the build's document without holding it; the
// caller decides who holds it.
bool CJSONScanner::scanDictionary(Dictionary& out, Error* outError, int depth, Build& build)
{
    Workspace& work = build.work;
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
        // The key is read in place; the value is read first into a local,
        // since reading it may grow (and move) the stack.
        const std::size_t index = work.entries.size();
        if (!scanStringConstant(work.entries.emplace_back().key, outError))
            return failHere(kJSONScannerErrorCodeDictionaryKey);
        skipWhitespace();
        if (!scanCharacter(':'))
            return failHere(kJSONScannerErrorCodeDictionaryColon);
        RawValue value;
        if (!scanObject(value, outError, depth + 1, build))
            return failHere(kJSONScannerErrorCodeDictionaryValue);
        work.entries[index].value = value;
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
    // stays last), then move each kept pair once into the document.
    Pending* pairs = work.entries.data() + base;
    const std::uint32_t n = std::uint32_t(work.entries.size() - base);
    DictionaryEntry* placed = nullptr;
    std::size_t kept = 0;
    if (n > 0) {
        // Only grown, never shrunk: most dictionaries are small and alike.
        if (work.order.size() < n)
            work.order.resize(n);
        std::uint32_t* order = work.order.data();
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
            std::stable_sort(order, order + n, byKey);
        }
        Document& document = build.doc();
        placed = document.allocateArray<DictionaryEntry>(n);
        for (std::uint32_t k = 0; k < n; ++k) {
            Pending& pair = pairs[order[k]];
            if (k + 1 < n && pairs[order[k + 1]].key == pair.key)
                continue;
            DictionaryEntry* entry =
                new (placed + kept) DictionaryEntry { std::move(pair.key), Value(pair.value, Value::Borrowed {}) };
            document.keepText(&entry->key);
            ++kept;
        }
    }
    work.entries.erase(work.entries.begin() + std::ptrdiff_t(base), work.entries.end());
    out.m_span.items = placed;
    out.m_span.size = kept;
    out.m_span.document = build.document;
    return true;
}

// On success out points into the build's document without holding it.
bool CJSONScanner::scanArray(List& out, Error* outError, int depth, Build& build)
{
    Workspace& work = build.work;
    const std::uint8_t* from = current();
    if (currentCharacter() != '[')
        return fail(from, outError, kJSONScannerErrorCodeArrayStart);
    if (depth >= kMaximumDepth)
        return failTooDeep(from, outError, kJSONScannerErrorCodeArrayStart, "Could not scan array. Array nested too deeply.");
    scanCharacter();
    const std::size_t base = work.values.size();
    auto failHere = [&](int code) {
        work.values.resize(base);
        return fail(from, outError, code);
    };
    skipWhitespace();
    while (currentCharacter() != ']') {
        RawValue value;
        if (!scanObject(value, outError, depth + 1, build))
            return failHere(kJSONScannerErrorCodeArrayValue);
        work.values.push_back(value);
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
    const std::size_t n = work.values.size() - base;
    Value* items = nullptr;
    if (n > 0) {
        items = build.doc().allocateArray<Value>(n);
        for (std::size_t i = 0; i < n; ++i)
            new (items + i) Value(work.values[base + i], Value::Borrowed {});
    }
    work.values.resize(base);
    out.m_span.items = items;
    out.m_span.size = n;
    out.m_span.document = build.document;
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
    const std::uint8_t* const stop = end();
    // Most strings are plain ASCII without escapes: copy them in one go.
    const std::uint8_t* plainEnd = findStringStop<true>(current(), stop);
    if (plainEnd < stop && *plainEnd == '"') {
        text.resize(std::size_t(plainEnd - current()));
        widen(current(), text.size(), text.data());
        setCurrent(plainEnd + 1);
        return true;
    }
    // Otherwise find the closing quote first: the bytes up to it, less what
    // escapes save, bound the code units, so the text is allocated once.
    // Without a closing quote the loop below reports what is wrong.
    {
        const std::uint8_t* p = plainEnd;
        std::size_t saved = 0;
        for (;;) {
            p = findStringStop<false>(p, stop);
            if (p >= stop)
                break;
            if (*p == '"') {
                text.reserve(std::size_t(p - current()) - saved);
                break;
            }
            // Past the backslash and what it escapes.
            const std::size_t length = stop - p >= 2 && p[1] == 'u' ? 6 : 2;
            if (std::size_t(stop - p) < length)
                break;
            p += length;
            saved += length - 1;
        }
    }
    for (;;) {
        if (scanCharacter('"'))
            break;
        // The run up to the next quote or backslash, decoded straight into the
        // text. A UTF-8 sequence never holds either byte, so runs split cleanly.
        const std::uint8_t* run = current();
        const std::uint8_t* p = findStringStop<false>(run, stop);
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
