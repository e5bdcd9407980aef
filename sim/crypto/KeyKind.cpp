#include "KeyKind.h"

#include "ZelmorDSCLibrary.h"

namespace zelmor::sim {

std::optional<KeyKindInfo> describeKeyKind(uint32_t kind) {
    switch (kind) {
    case keyKindRsa1024: return KeyKindInfo{true, 1024, nullptr, 0};
    case keyKindRsa2048: return KeyKindInfo{true, 2048, nullptr, 0};
    case keyKindRsa3072: return KeyKindInfo{true, 3072, nullptr, 0};
    case keyKindRsa4096: return KeyKindInfo{true, 4096, nullptr, 0};
    case keyKindEcP256: return KeyKindInfo{false, 0, "P-256", 32};
    case keyKindEcP384: return KeyKindInfo{false, 0, "P-384", 48};
    case keyKindEcP521: return KeyKindInfo{false, 0, "P-521", 66};
    default: return std::nullopt;
    }
}

std::optional<uint32_t> rsaKindForBits(int bits) {
    switch (bits) {
    case 1024: return keyKindRsa1024;
    case 2048: return keyKindRsa2048;
    case 3072: return keyKindRsa3072;
    case 4096: return keyKindRsa4096;
    default: return std::nullopt;
    }
}

const char* keyKindName(uint32_t kind) {
    switch (kind) {
    case keyKindRsa1024: return "RSA-1024";
    case keyKindRsa2048: return "RSA-2048";
    case keyKindRsa3072: return "RSA-3072";
    case keyKindRsa4096: return "RSA-4096";
    case keyKindEcP256: return "EC-P256";
    case keyKindEcP384: return "EC-P384";
    case keyKindEcP521: return "EC-P521";
    default: return "unknown";
    }
}

}  // namespace zelmor::sim
