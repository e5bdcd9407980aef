#include "crypto/PublicKeyEncoding.h"

namespace zelmor {

namespace {

constexpr uint8_t tagInteger = 0x02;
constexpr uint8_t tagBitString = 0x03;
constexpr uint8_t tagOctetString = 0x04;
constexpr uint8_t tagSequence = 0x30;
constexpr uint8_t publicExponent[] = {0x01, 0x00, 0x01};
// SEQUENCE { OID 1.2.840.113549.1.1.1, NULL }
constexpr uint8_t rsaEncryptionAlgorithm[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                              0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};

void appendInteger(std::vector<uint8_t>& out, const uint8_t* value, std::size_t length) {
    bool signPad = length > 0 && value[0] >= 0x80;
    out.push_back(tagInteger);
    appendDerLength(out, length + (signPad ? 1 : 0));
    if (signPad) out.push_back(0x00);
    out.insert(out.end(), value, value + length);
}

void appendTagged(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& contents) {
    out.push_back(tag);
    appendDerLength(out, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
}

}  // namespace

void appendDerLength(std::vector<uint8_t>& out, std::size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    int bytes = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8) ++bytes;
    out.push_back(static_cast<uint8_t>(0x80 | bytes));
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

std::vector<uint8_t> encodeRsaSubjectPublicKeyInfo(const uint8_t* modulus, std::size_t modulusLength) {
    std::vector<uint8_t> integers;
    appendInteger(integers, modulus, modulusLength);
    appendInteger(integers, publicExponent, sizeof publicExponent);

    std::vector<uint8_t> bitString{0x00};  // no unused bits
    appendTagged(bitString, tagSequence, integers);

    std::vector<uint8_t> body(rsaEncryptionAlgorithm, rsaEncryptionAlgorithm + sizeof rsaEncryptionAlgorithm);
    appendTagged(body, tagBitString, bitString);

    std::vector<uint8_t> encoded;
    appendTagged(encoded, tagSequence, body);
    return encoded;
}

std::vector<uint8_t> encodeEcPoint(const uint8_t* point, std::size_t length) {
    std::vector<uint8_t> encoded{tagOctetString};
    appendDerLength(encoded, length);
    encoded.insert(encoded.end(), point, point + length);
    return encoded;
}

}  // namespace zelmor
