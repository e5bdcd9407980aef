#include "Options.h"

#include "Pkcs11Module.h"

#include <sstream>

namespace bench {

Options::Options(int argc, char** argv, const std::set<std::string>& flags)
{
    if (argc > 1) command_ = argv[1];
    for (int index = 2; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument.rfind("--", 0) != 0) {
            positional_.push_back(argument);
            continue;
        }
        std::string name = argument.substr(2);
        if (flags.count(name)) {
            values_[name] = "1";
            continue;
        }
        if (index + 1 >= argc) throw BenchError("option --" + name + " needs a value");
        values_[name] = argv[++index];
    }
}

bool Options::has(const std::string& name) const
{
    asked_.insert(name);
    return values_.count(name) != 0;
}

std::string Options::text(const std::string& name, const std::string& fallback) const
{
    asked_.insert(name);
    auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
}

std::string Options::required(const std::string& name) const
{
    if (!has(name)) throw BenchError("option --" + name + " is required");
    return text(name);
}

unsigned Options::number(const std::string& name, unsigned fallback) const
{
    std::string value = text(name);
    if (value.empty()) return fallback;
    try {
        size_t used = 0;
        unsigned long parsed = std::stoul(value, &used);
        if (used == value.size()) return static_cast<unsigned>(parsed);
    } catch (const std::exception&) {
    }
    throw BenchError("option --" + name + " wants a whole number, not \"" + value + "\"");
}

double Options::real(const std::string& name, double fallback) const
{
    std::string value = text(name);
    if (value.empty()) return fallback;
    try {
        size_t used = 0;
        double parsed = std::stod(value, &used);
        if (used == value.size() && parsed > 0) return parsed;
    } catch (const std::exception&) {
    }
    throw BenchError("option --" + name + " wants a positive number, not \"" + value + "\"");
}

std::vector<unsigned> Options::numberList(const std::string& name, const std::vector<unsigned>& fallback) const
{
    std::string value = text(name);
    if (value.empty()) return fallback;
    std::vector<unsigned> list;
    std::istringstream stream(value);
    std::string item;
    while (std::getline(stream, item, ',')) {
        try {
            unsigned long parsed = std::stoul(item);
            if (parsed == 0 || parsed > 64) throw BenchError("");
            list.push_back(static_cast<unsigned>(parsed));
        } catch (const std::exception&) {
            throw BenchError("option --" + name + " wants numbers 1 to 64 separated by commas");
        }
    }
    return list;
}

std::vector<std::string> Options::unused() const
{
    std::vector<std::string> names;
    for (const auto& entry : values_) {
        if (!asked_.count(entry.first)) names.push_back("--" + entry.first);
    }
    return names;
}

} // namespace bench
