#include "json/Document.h"

#include <algorithm>

namespace json::detail {

namespace {

constexpr std::size_t kHeader = (sizeof(Document) + Document::kAlignment - 1) & ~(Document::kAlignment - 1);
// Blocks double up to this size: large enough that a big document needs few
// of them, small enough that the last one wastes little.
constexpr std::size_t kLargestBlock = std::size_t(1) << 20;

// Blocks of documents that went, kept for the next document on the thread.
// Without it a big document hands its blocks back to the system as it goes,
// and the next one pays a page fault for every 4 KB it touches. Bounded, so
// that a thread keeps at most a few megabytes after its largest document.
// Trivially destructible, so that it stays usable while the thread ends.
struct BlockCache {
    static constexpr int kCapacity = 8;
    void* blocks[kCapacity];
    std::size_t sizes[kCapacity];
    int count;
    bool closed;
};
thread_local BlockCache cache {};

struct BlockCacheCloser {
    ~BlockCacheCloser()
    {
        for (int i = 0; i < cache.count; ++i)
            ::operator delete(cache.blocks[i]);
        cache.count = 0;
        cache.closed = true;
    }
};
thread_local BlockCacheCloser closer;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepBlocks = false; // let the sanitizer see every use after a document went
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepBlocks = false;
#else
constexpr bool kKeepBlocks = true;
#endif
#else
constexpr bool kKeepBlocks = true;
#endif

void giveBack(void* block, std::size_t size)
{
    if (kKeepBlocks && !cache.closed && size <= kLargestBlock && cache.count < BlockCache::kCapacity) {
        (void)&closer; // made on first use: frees what is kept when the thread ends
        cache.blocks[cache.count] = block;
        cache.sizes[cache.count] = size;
        ++cache.count;
        return;
    }
    ::operator delete(block);
}

// A kept block of at least size bytes, or nullptr.
void* takeBlock(std::size_t size, std::size_t& actual)
{
    for (int i = cache.count - 1; i >= 0; --i) {
        if (cache.sizes[i] < size)
            continue;
        void* block = cache.blocks[i];
        actual = cache.sizes[i];
        --cache.count;
        cache.blocks[i] = cache.blocks[cache.count];
        cache.sizes[i] = cache.sizes[cache.count];
        return block;
    }
    return nullptr;
}

} // namespace

Document* Document::create(std::size_t inlineBytes, std::size_t nextBlock)
{
    inlineBytes = (inlineBytes + kAlignment - 1) & ~(kAlignment - 1);
    void* memory = ::operator new(kHeader + inlineBytes);
    Document* document = new (memory) Document();
    document->m_next = static_cast<char*>(memory) + kHeader;
    document->m_limit = document->m_next + inlineBytes;
    document->m_nextBlock = std::clamp(nextBlock, std::size_t(4096), kLargestBlock);
    return document;
}

Document::~Document()
{
    for (Text* text : m_texts)
        text->~Text();
    for (Document* other : m_retained)
        unref(other);
    for (const Block& block : m_blocks)
        giveBack(block.memory, block.size);
}

void Document::destroy(Document* document) noexcept
{
    document->~Document();
    ::operator delete(static_cast<void*>(document));
}

void Document::grow(std::size_t bytes)
{
    std::size_t size = std::max(bytes, m_nextBlock);
    m_blocks.reserve(m_blocks.size() + 1);
    char* block = static_cast<char*>(takeBlock(size, size));
    if (!block)
        block = static_cast<char*>(::operator new(size));
    m_blocks.push_back({ block, size });
    m_next = block;
    m_limit = block + size;
    m_nextBlock = std::min(size * 2, kLargestBlock);
}

} // namespace json::detail
