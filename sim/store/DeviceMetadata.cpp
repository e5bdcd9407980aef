#include "DeviceMetadata.h"

namespace zelmor::sim {

namespace {
bool isDecimalByte(const std::string& text) {
    if (text.empty() || text.size() > 3) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return std::stoi(text) <= 255;
}
}  // namespace

bool isValidSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > limits::maxSerialLength || serial[0] == '.') return false;
    for (char c : serial) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '_' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

bool isValidFirmware(const std::string& firmware) {
    const auto dot = firmware.find('.');
    if (dot == std::string::npos) return false;
    return isDecimalByte(firmware.substr(0, dot)) && isDecimalByte(firmware.substr(dot + 1));
}

bool isValidTokenText(const std::string& text) {
    if (text.size() > limits::maxTokenTextLength) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

}  // namespace zelmor::sim
