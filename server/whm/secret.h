#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <openssl/crypto.h>

// Memory that held an access key or a password is wiped when it is freed, so that no later
// read of the process (a core dump, a leak of freed memory) finds it.

// An allocator whose memory is wiped before it goes back.
template <class T> struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <class U> WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    template <class U> bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

using WipedString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// A secret's text. Its heap memory is wiped by its allocator, and the short-string buffer
// inside the object by its destructor, wherever the object lives (a coroutine's frame, a
// vector's storage). Copies are secrets too.
class Secret {
public:
    Secret() = default;
    Secret(std::string_view text) : m_text(text.data(), text.size()) {}
    Secret(const char* text) : Secret(std::string_view(text)) {}
    Secret(const std::string& text) : Secret(std::string_view(text)) {}
    Secret(const Secret&) = default;
    Secret(Secret&& other) noexcept : m_text(std::move(other.m_text)) { other.wipe(); }
    Secret& operator=(const Secret& other) {
        if (this != &other) {
            wipe();
            m_text = other.m_text;
        }
        return *this;
    }
    Secret& operator=(Secret&& other) noexcept {
        if (this != &other) {
            wipe();
            m_text = std::move(other.m_text);
            other.wipe();
        }
        return *this;
    }
    ~Secret() { wipe(); }

    std::string_view view() const { return {m_text.data(), m_text.size()}; }
    operator std::string_view() const { return view(); }
    bool empty() const { return m_text.empty(); }
    std::size_t size() const { return m_text.size(); }
    WipedString& text() { return m_text; }
    const WipedString& text() const { return m_text; }

private:
    void wipe() noexcept { OPENSSL_cleanse(m_text.data(), m_text.capacity()); }

    WipedString m_text;
};
