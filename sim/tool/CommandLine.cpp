#include "CommandLine.h"

namespace zelmor::sim::tool {

std::optional<std::string> CommandLine::option(const std::string& name) const {
    const auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
            std::string name = argument;
            std::string value;
            if (const auto equals = argument.find('='); equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                throw UsageError("option " + name + " needs a value");
            }
            if (!line.options.emplace(name, value).second) throw UsageError("option " + name + " given twice");
        } else if (line.command.empty()) {
            line.command = argument;
        } else {
            line.operands.push_back(argument);
        }
    }
    return line;
}

}  // namespace zelmor::sim::tool
