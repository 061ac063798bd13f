#pragma once
// The storage that the values read from one document share: a bump arena for
// containers, their elements and texts, freed at once when the last value
// referring to it goes. Values are immutable once built, so sharing a document
// is as good as a deep copy, and far cheaper than one heap block per node.
// Internal to the JSON reader.

#include "json/Forward.h"

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace json::detail {

class Document {
public:
    // A document with one reference, whose first block holds inlineBytes;
    // later blocks grow from nextBlock.
    static Document* create(std::size_t inlineBytes, std::size_t nextBlock = 0);

    void ref() noexcept { m_references.fetch_add(1, std::memory_order_relaxed); }
    static void unref(Document* document) noexcept
    {
        if (document && document->m_references.fetch_sub(1, std::memory_order_acq_rel) == 1)
            destroy(document);
    }

    // Storage aligned for any of the reader's types; never freed one by one.
    void* allocate(std::size_t bytes)
    {
        bytes = (bytes + kAlignment - 1) & ~(kAlignment - 1);
        if (std::size_t(m_limit - m_next) < bytes)
            grow(bytes);
        void* p = m_next;
        m_next += bytes;
        return p;
    }
    template<typename T>
    T* allocateArray(std::size_t n)
    {
        static_assert(alignof(T) <= kAlignment);
        return static_cast<T*>(allocate(n * sizeof(T)));
    }

    // A text placed in the arena whose characters live on the heap is freed
    // with the document; short texts live inside the object and need nothing.
    void keepText(Text* text)
    {
        const void* characters = text->data();
        if (characters < static_cast<const void*>(text) || characters >= static_cast<const void*>(text + 1))
            m_texts.push_back(text);
    }
    Text* makeText(Text&& text)
    {
        Text* placed = new (allocateArray<Text>(1)) Text(std::move(text));
        keepText(placed);
        return placed;
    }

    // Takes over one reference to another document that values placed here
    // point into.
    void retain(Document* other)
    {
        if (other)
            m_retained.push_back(other);
    }

    static constexpr std::size_t kAlignment = 8;

private:
    Document() = default;
    ~Document();
    static void destroy(Document* document) noexcept;
    void grow(std::size_t bytes);

    std::atomic<std::size_t> m_references { 1 };
    char* m_next = nullptr;
    char* m_limit = nullptr;
    std::size_t m_nextBlock = 0;
    struct Block {
        void* memory;
        std::size_t size;
    };
    std::vector<Block> m_blocks;
    std::vector<Text*> m_texts;
    std::vector<Document*> m_retained;
};

} // namespace json::detail
