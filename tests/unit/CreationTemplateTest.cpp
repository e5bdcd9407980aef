// The private key parts of a creation template are overwritten before their
// memory goes back to the heap. A replaced global allocator looks at a watched
// block at the moment it is freed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "objects/creation/CreationTemplate.h"

namespace {
const void* watched = nullptr;
std::size_t watchedSize = 0;
int watchedFrees = 0;
bool watchedWasZero = false;

void release(void* block) noexcept {
    if (block != nullptr && block == watched) {
        const auto* bytes = static_cast<const uint8_t*>(block);
        watchedWasZero = std::all_of(bytes, bytes + watchedSize, [](uint8_t byte) { return byte == 0; });
        ++watchedFrees;
    }
    std::free(block);
}

// Watches the buffer of bytes: the next free of it records whether it held only zeros.
void watch(const ZelmorBytes& bytes) {
    watched = bytes.data();
    watchedSize = bytes.size();
    watchedFrees = 0;
    watchedWasZero = false;
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }

struct PrivatePart {
    const char* name;
    CK_ATTRIBUTE_TYPE type;
    ZelmorBytes zelmor::CreationTemplate::*member;
};
const PrivatePart privateParts[] = {
    {"private exponent", CKA_PRIVATE_EXPONENT, &zelmor::CreationTemplate::privateExponent},
    {"first prime", CKA_PRIME_1, &zelmor::CreationTemplate::prime1},
};

TEST(CreationTemplate, PrivateKeyPartsAreWipedBeforeTheTemplateFreesThem) {
    for (const PrivatePart& part : privateParts) {
        SCOPED_TRACE(part.name);
        {
            zelmor::CreationTemplate values;
            (values.*part.member).assign(48, 0xA7);
            watch(values.*part.member);
        }
        EXPECT_EQ(1, watchedFrees);
        EXPECT_TRUE(watchedWasZero);
        watched = nullptr;
    }
}

TEST(CreationTemplate, APrivateKeyPartGivenTwiceIsWipedBeforeTheSecondReplacesIt) {
    for (const PrivatePart& part : privateParts) {
        SCOPED_TRACE(part.name);
        uint8_t first[40], second[8];
        std::fill(std::begin(first), std::end(first), 0xB3);
        std::fill(std::begin(second), std::end(second), 0x11);
        const CK_ATTRIBUTE attributes[] = {{part.type, first, sizeof first}, {part.type, second, sizeof second}};
        zelmor::CreationTemplate values;
        ASSERT_EQ(CKR_OK, zelmor::readCreationTemplate(attributes, 1, &values));
        watch(values.*part.member);
        ASSERT_EQ(CKR_OK, zelmor::readCreationTemplate(attributes + 1, 1, &values));
        EXPECT_EQ(1, watchedFrees);
        EXPECT_TRUE(watchedWasZero);
        watched = nullptr;
    }
}
