// Exported functions run their body through guarded(): no exception leaves the library.
#pragma once

#include <utility>

namespace zelmor::sim {

template <typename Result, typename Body>
Result guarded(Result onFailure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onFailure;
    }
}

}  // namespace zelmor::sim
