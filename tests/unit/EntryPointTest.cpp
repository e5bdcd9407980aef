// No exception crosses an entry point: each becomes a result code.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "frame/EntryPoint.h"

TEST(EntryPoints, ExceptionsBecomeResultCodes) {
    const struct {
        const char* name; CK_RV (*body)(); CK_RV expected;
    } rows[] = {
        {"allocation failure", []() -> CK_RV { throw std::bad_alloc(); }, CKR_HOST_MEMORY},
        {"any other exception", []() -> CK_RV { throw std::runtime_error("other"); }, CKR_GENERAL_ERROR},
        {"no exception", [] { return CKR_SLOT_ID_INVALID; }, CKR_SLOT_ID_INVALID},
    };
    for (const auto& row : rows) EXPECT_EQ(row.expected, zelmor::guarded(row.body)) << row.name;
}
