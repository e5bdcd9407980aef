// DER encodings of public keys: the SubjectPublicKeyInfo of an RSA public key
// (rsaEncryption, NULL parameters) built from a modulus and the fixed public
// exponent 65537, and the OCTET STRING that carries an EC point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelmor {

// Appends a DER definite length: one byte below 128, else 0x80 + k followed
// by the value in k big-endian bytes, k as small as possible.
void appendDerLength(std::vector<uint8_t>& out, std::size_t length);

// The modulus is taken as stored (big-endian, leading zero bytes kept); a
// 0x00 byte is prefixed when its first byte is 0x80 or more.
std::vector<uint8_t> encodeRsaSubjectPublicKeyInfo(const uint8_t* modulus, std::size_t modulusLength);

// The DER OCTET STRING holding an EC point as stored (04 || X || Y), the
// form of CKA_EC_POINT.
std::vector<uint8_t> encodeEcPoint(const uint8_t* point, std::size_t length);

}  // namespace zelmor
