// Drives the module's entry points from a fuzzer input: each step picks one
// entry point and its arguments (handles, flags, mechanisms, templates, buffer
// sizes, PINs). Pointers are either null or point at buffers of exactly the
// length the call is told, so AddressSanitizer sees any write past them.
#pragma once

#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "pkcs11.h"

namespace fuzzing {

// A heap buffer of exactly size bytes (a zero-size one is still non-null).
class Buffer {
public:
    explicit Buffer(std::size_t size) : size_(size), data_(new uint8_t[size]) {
        for (std::size_t i = 0; i < size; ++i) data_[i] = 0xA5;
    }
    Buffer(const std::vector<uint8_t>& content) : Buffer(content.size()) {
        for (std::size_t i = 0; i < size_; ++i) data_[i] = content[i];
    }
    uint8_t* data() { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::unique_ptr<uint8_t[]> data_;
};

// A template with the storage of its values.
struct Template {
    std::vector<CK_ATTRIBUTE> attributes;
    std::vector<std::unique_ptr<Buffer>> values;
    CK_ATTRIBUTE_PTR pointer() { return attributes.empty() ? nullptr : attributes.data(); }
    CK_ULONG count() const { return static_cast<CK_ULONG>(attributes.size()); }
};

class ApiDriver {
public:
    explicit ApiDriver(CK_FUNCTION_LIST_PTR functions) : f(functions) {}

    // One entry-point call chosen by the input.
    void step(FuzzInput& in);
    // Closes every session this driver opened and forgets its handles.
    void closeSessions();

    // Handles worth reusing: sessions opened and objects found or created.
    std::vector<CK_SESSION_HANDLE> sessions;
    std::vector<CK_OBJECT_HANDLE> objects;

    CK_SESSION_HANDLE session(FuzzInput& in);
    CK_OBJECT_HANDLE object(FuzzInput& in);
    CK_SLOT_ID slot(FuzzInput& in);
    CK_MECHANISM_TYPE mechanismType(FuzzInput& in);
    Template inputTemplate(FuzzInput& in);
    Template outputTemplate(FuzzInput& in);

    CK_FUNCTION_LIST_PTR f;
};

}  // namespace fuzzing
