#pragma once
// A registration's lifetime as an object: a move-only token that runs its
// ending once, when it is reset or destroyed. Whatever registers a callback
// hands one back, so a holder that keeps the token as a member can never be
// called after it died. The ending must not throw, and must cope with the
// registry having gone first (hold it weakly).
#include <functional>
#include <utility>

namespace kit {

class Token {
public:
    Token() = default;
    explicit Token(std::function<void()> ending)
        : m_ending(std::move(ending))
    {
    }
    ~Token() { reset(); }
    Token(Token&& other) noexcept
        : m_ending(std::exchange(other.m_ending, nullptr))
    {
    }
    Token& operator=(Token&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_ending = std::exchange(other.m_ending, nullptr);
        }
        return *this;
    }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;

    // Ends the registration now; nothing happens if it has ended.
    void reset()
    {
        if (auto ending = std::exchange(m_ending, nullptr))
            ending();
    }
    bool isActive() const { return bool(m_ending); }

private:
    std::function<void()> m_ending;
};

} // namespace kit
