#pragma once

#include <stdexcept>

namespace zelmor::sim {

// A store folder or file could not be written; the earlier content stays in place.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zelmor::sim
