#pragma once
// A result that is either a value or the error that kept it from being made,
// so a caller sees at the call site that something can fail and why.
// ErrorOr<void> is a bare success or an error. The error type may be one
// derived from Error that says more (which step failed).
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

namespace kit {

struct Error {
    std::string message;
    int code { 0 }; // an errno value where the system said why, else 0

    // "what: <the system's reason>" for the errno now set.
    static Error fromErrno(const std::string& what, int err = errno) { return { what + ": " + std::strerror(err), err }; }
};

template<typename T, typename E = Error>
class [[nodiscard]] ErrorOr {
public:
    ErrorOr(T value) : m_value(std::in_place_index<0>, std::move(value)) { }
    ErrorOr(E error) : m_value(std::in_place_index<1>, std::move(error)) { }

    bool isError() const { return m_value.index() == 1; }
    explicit operator bool() const { return !isError(); }
    T& value() & { return std::get<0>(m_value); }
    const T& value() const& { return std::get<0>(m_value); }
    T release() { return std::move(std::get<0>(m_value)); }
    const E& error() const { return std::get<1>(m_value); }

private:
    std::variant<T, E> m_value;
};

template<typename E>
class [[nodiscard]] ErrorOr<void, E> {
public:
    ErrorOr() = default;
    ErrorOr(E error) : m_error(std::move(error)), m_failed(true) { }

    bool isError() const { return m_failed; }
    explicit operator bool() const { return !m_failed; }
    const E& error() const { return m_error; }

private:
    E m_error;
    bool m_failed { false };
};

} // namespace kit
