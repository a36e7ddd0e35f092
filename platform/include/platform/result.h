// The one way the platform and the tools report a failure below the Win32 edge: a function
// returns a value or an error, never a value plus a message written somewhere else.
//
//   platform::Result<Image> read_png(const std::string& path);
//   platform::Status write_store(...);                 // Result<void>
//
//   auto image = read_png(path);
//   if (!image) return image.error();                  // passes the error up unchanged
//   use(*image);
//
// An error is a message for a person, complete on its own ("registry.reg: line 12: no closing
// bracket"): callers prefix context where they add some and print it as it stands. The Win32
// entry points keep Win32's own conventions (FALSE or NULL and the last error) on top of this.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace platform {

struct Error {
    std::string message;
    // A system error code where callers must tell failures apart (the Win32 error code the
    // Win32 edge returns, say); 0 when the message is all there is.
    long code{0};
};

// An error from a message: `return fail("no such file: " + path);`
inline Error fail(std::string message, long code = 0) {
    return Error{std::move(message), code};
}

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(m_state); }
    const std::string& message() const { return error().message; }

private:
    std::variant<T, Error> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_ok(false) {}

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }

    const Error& error() const { return m_error; }
    const std::string& message() const { return m_error.message; }

private:
    Error m_error;
    bool m_ok = true;
};

using Status = Result<void>;

} // namespace platform
