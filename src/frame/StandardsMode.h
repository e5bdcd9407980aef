// The standards setting ("standardsMode"), off unless configured. When on,
// EC keys answer CKA_EC_POINT (and a search can match it), and key-pair
// generation takes the key type from the mechanism when the private-key
// template gives none and accepts an empty private-key template. Read once,
// at C_Initialize.
#pragma once

namespace zelmor {

// Reads the setting: on when the value (a REG_DWORD on Windows, a decimal
// number in a file on POSIX) is non-zero; off when it is absent, unreadable
// or of another registry type.
bool readStandardsSetting();

// The setting read by the last C_Initialize.
bool standardsMode();

}  // namespace zelmor
