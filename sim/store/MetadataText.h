// The device metadata file: line-based, human-readable text.
//
//   zelmor-sim-device 1
//   serial SIM0001
//   label Zelmor Token
//   ...
//   key-pair 0 <identifier hex> kind=2 usage=1 flag=0 id=<hex> label=<text>
//   certificate 0 <identifier hex> id=<hex> label=<text>
//   end
//
// Free text runs to the end of its line with '%', control bytes and DEL written
// as %XX. The closing "end" line marks a complete file.
#pragma once

#include "DeviceMetadata.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelmor::sim {

std::string serialiseMetadata(const DeviceMetadata& metadata);

// nullopt for anything malformed, out of bounds or inconsistent: the file is
// read as untrusted input.
std::optional<DeviceMetadata> parseMetadata(std::string_view text);

}  // namespace zelmor::sim
