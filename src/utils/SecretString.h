// Byte strings holding secrets: SecretString for a PIN, SecretBytes for what
// a session keeps between calls (a plaintext, a signature, data to sign).
// Their bytes are overwritten, not just released, whenever they are replaced,
// emptied or destroyed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Zeroes length bytes through a volatile pointer, so the writes are not
// dropped as stores to memory that is about to be freed.
inline void wipeBytes(void* data, std::size_t length) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = 0;
}

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
        wipeBytes(&text[0], text.capacity());
        text.clear();
    }

    std::string text;
};

class SecretBytes {
public:
    SecretBytes() = default;
    SecretBytes(const SecretBytes& other) { assign(other.data(), other.size()); }
    SecretBytes(SecretBytes&& other) noexcept : bytes(std::move(other.bytes)) {}
    // The bytes held before end in the temporary, which wipes them (self-assignment included).
    SecretBytes& operator=(const SecretBytes& other) {
        SecretBytes copy(other);
        swap(copy);
        return *this;
    }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        SecretBytes taken(std::move(other));
        swap(taken);
        return *this;
    }
    ~SecretBytes() { wipe(); }

    void assign(const uint8_t* data, std::size_t length) {
        wipe();
        bytes.assign(data, data + length);
    }
    // Grows into a new buffer itself, so the old one is wiped before it goes.
    void append(const uint8_t* data, std::size_t length) {
        if (length > bytes.capacity() - bytes.size()) {
            std::vector<uint8_t> larger;
            larger.reserve(std::max(2 * bytes.capacity(), bytes.size() + length));
            larger.assign(bytes.begin(), bytes.end());
            wipe();
            bytes.swap(larger);
        }
        bytes.insert(bytes.end(), data, data + length);
    }
    void clear() { wipe(); }
    void swap(SecretBytes& other) noexcept { bytes.swap(other.bytes); }

    bool empty() const { return bytes.empty(); }
    std::size_t size() const { return bytes.size(); }
    const uint8_t* data() const { return bytes.data(); }

private:
    // Every shrink goes through here, so no byte beyond size() is left unwiped.
    void wipe() {
        wipeBytes(bytes.data(), bytes.size());
        bytes.clear();
    }

    std::vector<uint8_t> bytes;
};
