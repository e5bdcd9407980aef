// Secrets are overwritten before their memory goes back to the heap: the
// private key parts of a creation template, a PIN, the bytes a session keeps.
// A replaced global allocator looks at a watched block at the moment it is freed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "objects/creation/CreationTemplate.h"
#include "utils/SecretString.h"

namespace {
const uint8_t* watched = nullptr;
std::size_t watchedSize = 0;
int watchedFreesUnwiped = 0, watchedFrees = 0;  // the frees of the watched block, those with a byte left

void release(void* block) noexcept {
    if (block != nullptr && block == watched) {
        ++watchedFrees;
        watchedFreesUnwiped += std::any_of(watched, watched + watchedSize, [](uint8_t byte) { return byte != 0; });
        watched = nullptr;
    }
    std::free(block);
}
std::pair<int, int> frees() { return {watchedFrees, watchedFreesUnwiped}; }
void watch(const void* block, std::size_t size) {
    watched = static_cast<const uint8_t*>(block);
    watchedSize = size;
    watchedFrees = watchedFreesUnwiped = 0;
}
void watch(const ZelmorBytes& bytes) { watch(bytes.data(), bytes.size()); }
}  // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }

// Whether the template goes or a later entry of the type replaces the value.
TEST(CreationTemplate, PrivateKeyPartsAreWipedBeforeTheirMemoryIsFreed) {
    const struct {
        const char* name; CK_ATTRIBUTE_TYPE type; ZelmorBytes zelmor::CreationTemplate::*member;
    } rows[] = {{"private exponent", CKA_PRIVATE_EXPONENT, &zelmor::CreationTemplate::privateExponent},
                {"first prime", CKA_PRIME_1, &zelmor::CreationTemplate::prime1}};
    uint8_t first[40], second[8];
    std::fill(std::begin(first), std::end(first), 0xB3);
    std::fill(std::begin(second), std::end(second), 0x11);
    for (const auto& row : rows) {
        const CK_ATTRIBUTE entries[] = {{row.type, first, sizeof first}, {row.type, second, sizeof second}};
        {
            zelmor::CreationTemplate values;
            ASSERT_EQ(CKR_OK, zelmor::readCreationTemplate(entries, 1, &values));
            watch(values.*row.member);
            ASSERT_EQ(CKR_OK, zelmor::readCreationTemplate(entries + 1, 1, &values));
            EXPECT_EQ(std::make_pair(1, 0), frees()) << row.name << ", replaced";
            watch(values.*row.member);
        }
        EXPECT_EQ(std::make_pair(1, 0), frees()) << row.name << ", at the end";
    }
}

// Whatever replaces or ends a PIN or a session's kept bytes, their old buffer
// is overwritten before it is freed. (40 bytes: a PIN that long is not kept
// inside the string object.)
TEST(Secrets, OldBuffersAreWipedBeforeTheyAreFreed) {
    const std::string pin(40, '7'), longerPin(80, '8');
    const std::vector<uint8_t> bytes(40, 0xB3), longer(200, 0x11);
    SecretBytes longerHeld;
    longerHeld.assign(longer.data(), longer.size());
    const struct {
        const char* name; std::function<void(SecretString&)> replace;
    } pins[] = {
        {"PIN assigned a longer one", [&](SecretString& held) { held.assign(longerPin.data(), longerPin.size()); }},
        {"PIN destroyed", [](SecretString&) {}},
    };
    const struct {
        const char* name; std::function<void(SecretBytes&)> replace;
    } kept[] = {
        {"bytes assigned longer ones", [&](SecretBytes& held) { held.assign(longer.data(), longer.size()); }},
        {"bytes appended past their buffer", [&](SecretBytes& held) { held.append(longer.data(), longer.size()); }},
        {"bytes moved into", [&](SecretBytes& held) { held = SecretBytes(longerHeld); }},
        {"bytes destroyed", [](SecretBytes&) {}},
    };
    for (const auto& row : pins) {
        {
            SecretString held(pin.data(), pin.size());
            watch(held.c_str(), held.size());
            row.replace(held);
        }
        EXPECT_EQ(std::make_pair(1, 0), frees()) << row.name;
    }
    for (const auto& row : kept) {
        {
            SecretBytes held;
            held.assign(bytes.data(), bytes.size());
            watch(held.data(), held.size());
            row.replace(held);
        }
        EXPECT_EQ(std::make_pair(1, 0), frees()) << row.name;
    }
}
