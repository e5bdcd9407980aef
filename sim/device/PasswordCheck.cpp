#include "PasswordCheck.h"

#include "DeviceChange.h"

#include <cstring>

namespace zelmor::sim {

namespace {

constexpr int attemptsAgainstConcurrentPinChange = 3;

int32_t asTries(uint32_t tries) { return static_cast<int32_t>(tries); }

bool samePinParameters(const PinRecord& a, const PinRecord& b) {
    return a.iterations == b.iterations && a.salt == b.salt && a.hash == b.hash;
}

// The slow path: PBKDF2 outside the lock, then the verdict and the counter
// update against the freshly read metadata.
PasswordOutcome verifyAgainstStore(const DeviceStore& store, const PluggedDevice& device, std::string_view pin) {
    PinRecord expected = device.snapshot->metadata.pin;
    for (int attempt = 0; attempt < attemptsAgainstConcurrentPinChange; ++attempt) {
        const Bytes derived = derivePinHash(pin, expected.salt, expected.iterations);
        bool pinChangedMeanwhile = false;
        PasswordOutcome outcome{result::failed, 0};
        const int32_t committed = commitChange(
            store, device.handle->serial(), PlugRequirement::mustBePlugged,
            [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                if (!samePinParameters(metadata.pin, expected)) {
                    pinChangedMeanwhile = true;
                    expected = metadata.pin;
                    return {result::ok, false};
                }
                if (metadata.remainingRetries == 0) {
                    outcome = {result::pinLocked, 0};
                    return {outcome.result, false};
                }
                if (constantTimeEqual(derived.data(), metadata.pin.hash.data(), derived.size())) {
                    const bool restore = metadata.remainingRetries != metadata.maxRetries;
                    metadata.remainingRetries = metadata.maxRetries;
                    outcome = {result::ok, asTries(metadata.remainingRetries)};
                    return {result::ok, restore};
                }
                --metadata.remainingRetries;
                outcome = {metadata.remainingRetries == 0 ? result::pinLocked : result::pinIncorrect,
                           asTries(metadata.remainingRetries)};
                return {outcome.result, true};
            });
        if (pinChangedMeanwhile) continue;
        if (committed != outcome.result) return {committed, outcome.remainingTries};  // store failure or unplugged
        if (outcome.result == result::ok) device.handle->rememberVerifiedPin(pinTag(pin), expected.hash);
        return outcome;
    }
    return {result::failed, 0};
}

}  // namespace

bool isAcceptablePinLength(std::size_t length) {
    return length >= limits::minPinLength && length <= limits::maxPinLength;
}

PinRecord makePinRecord(std::string_view pin) {
    PinRecord record;
    record.iterations = defaultPinIterations;
    record.salt = randomBytes(pinSaltSize);
    record.hash = derivePinHash(pin, record.salt, record.iterations);
    return record;
}

PasswordOutcome checkPassword(const DeviceStore& store, const PluggedDevice& device, const char* password) {
    const DeviceMetadata& metadata = device.snapshot->metadata;
    if (metadata.remainingRetries == 0) return {result::pinLocked, 0};
    if (password == nullptr || *password == '\0') return {result::pinIncorrect, asTries(metadata.remainingRetries)};
    const std::string_view pin(password, ::strnlen(password, limits::maxPinLength + 1));
    if (pin.size() > limits::maxPinLength) return {result::invalidArgument, asTries(metadata.remainingRetries)};

    if (metadata.remainingRetries == metadata.maxRetries && device.handle->isVerifiedPin(pinTag(pin), metadata.pin.hash))
        return {result::ok, asTries(metadata.remainingRetries)};
    return verifyAgainstStore(store, device, pin);
}

PasswordOutcome changePassword(const DeviceStore& store, const PluggedDevice& device, const char* oldPassword,
                               const char* newPassword) {
    if (newPassword == nullptr || !isAcceptablePinLength(::strnlen(newPassword, limits::maxPinLength + 1)))
        return {result::invalidArgument, asTries(device.snapshot->metadata.remainingRetries)};
    const PasswordOutcome verified = checkPassword(store, device, oldPassword);
    if (verified.result != result::ok) return verified;

    const PinRecord record = makePinRecord(newPassword);
    uint32_t remaining = 0;
    const int32_t committed = commitChange(store, device.handle->serial(), PlugRequirement::mustBePlugged,
                                           [&](DeviceMetadata& metadata, std::vector<PendingFile>&) -> ChangeOutcome {
                                               metadata.pin = record;
                                               metadata.remainingRetries = metadata.maxRetries;
                                               remaining = metadata.remainingRetries;
                                               return {result::ok, true};
                                           });
    if (committed == result::ok) device.handle->rememberVerifiedPin(pinTag(newPassword), record.hash);
    return {committed, asTries(remaining)};
}

}  // namespace zelmor::sim
