// A byte string holding a PIN. Its bytes are overwritten, not just released,
// whenever it is replaced, emptied or destroyed.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

class SecretString {
public:
    SecretString() = default;
    SecretString(const void* data, std::size_t length) { assign(data, length); }
    SecretString(const SecretString& other) { assign(other.text.data(), other.text.size()); }
    SecretString& operator=(const SecretString& other) {
        if (this != &other) assign(other.text.data(), other.text.size());
        return *this;
    }
    ~SecretString() { wipe(); }

    void assign(const void* data, std::size_t length) {
        wipe();
        text.reserve(length);
        text.assign(static_cast<const char*>(data), length);
    }
    void clear() { wipe(); }

    bool empty() const { return text.empty(); }
    std::size_t size() const { return text.size(); }
    const char* c_str() const { return text.c_str(); }
    bool equals(const void* data, std::size_t length) const {
        return length == text.size() && (length == 0 || std::memcmp(text.data(), data, length) == 0);
    }

private:
    void wipe() {
        volatile char* bytes = &text[0];
        for (std::size_t i = 0; i < text.capacity(); ++i) bytes[i] = 0;
        text.clear();
    }

    std::string text;
};
