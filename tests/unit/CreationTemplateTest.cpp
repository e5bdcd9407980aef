// The private key parts of a creation template are overwritten before their
// memory goes back to the heap. A replaced global allocator looks at a watched
// block at the moment it is freed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "objects/creation/CreationTemplate.h"

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
void watch(const ZelmorBytes& bytes) {
    watched = bytes.data();
    watchedSize = bytes.size();
    watchedFrees = watchedFreesUnwiped = 0;
}
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
        const char* name;
        CK_ATTRIBUTE_TYPE type;
        ZelmorBytes zelmor::CreationTemplate::*member;
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
