// Splits zelmor-sim's arguments into a command, its operands and its options.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelmor::sim::tool {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    std::string command;
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;  // "--pin" -> value

    // The value of an option, if given.
    std::optional<std::string> option(const std::string& name) const;
};

// Every option takes a value ("--pin 1234" or "--pin=1234"). Throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace zelmor::sim::tool
