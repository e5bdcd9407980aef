// Command line: a subcommand, then --name value options, bare flags and
// positional arguments.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace bench {

class Options {
public:
    // `flags` are the options that take no value.
    Options(int argc, char** argv, const std::set<std::string>& flags);

    const std::string& command() const { return command_; }
    const std::vector<std::string>& positional() const { return positional_; }

    bool has(const std::string& name) const;
    std::string text(const std::string& name, const std::string& fallback = "") const;
    std::string required(const std::string& name) const;
    unsigned number(const std::string& name, unsigned fallback) const;
    double real(const std::string& name, double fallback) const;
    std::vector<unsigned> numberList(const std::string& name, const std::vector<unsigned>& fallback) const;

    // Options given but never asked for: reported as a usage error.
    std::vector<std::string> unused() const;

private:
    std::string command_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
    mutable std::set<std::string> asked_;
};

} // namespace bench
