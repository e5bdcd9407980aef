// The next session handle: one past the largest open one, and after the
// largest 32-bit handle the lowest free one from the first, never 0.
#include <gtest/gtest.h>

#include <limits>

#include "sessions/SessionTable.h"

namespace {

using zelmor::nextSessionHandle;

constexpr SessionHandle largest = std::numeric_limits<SessionHandle>::max();

TEST(SessionHandles, NextIsOnePastTheLargestOrTheLowestFreeAfterTheLast) {
    const struct {
        const char* name;
        std::vector<SessionHandle> open;
        SessionHandle next;
    } rows[] = {
        {"none open", {}, firstSessionHandle},
        {"one past the largest", {firstSessionHandle, firstSessionHandle + 5}, firstSessionHandle + 6},
        {"one below the last", {largest - 1}, largest},
        {"the last taken, the first free", {largest}, firstSessionHandle},
        {"the last and the first two taken", {firstSessionHandle, firstSessionHandle + 1, largest},
         firstSessionHandle + 2},
    };
    for (const auto& row : rows) {
        std::map<SessionHandle, SessionRecord> table;
        for (SessionHandle handle : row.open) table[handle];
        EXPECT_EQ(row.next, nextSessionHandle(table)) << row.name;
    }
}

}  // namespace
