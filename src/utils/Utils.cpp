#include "utils/Utils.h"

#include <regex>

#include "platform/Platform.h"

std::vector<std::string> Utils::split(const std::string& text, const std::string& delimiter) const {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type found = text.find(delimiter, start);
        if (found == std::string::npos) break;
        pieces.push_back(text.substr(start, found - start));
        start = found + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string Utils::getEnvironmentVariable(const std::string& name) const {
    return platform::getEnvironmentVariable(name.c_str());
}

bool Utils::pathExists(const char* path) const {
    if (path == nullptr || *path == '\0') return false;
    return platform::pathExists(path);
}

std::string Utils::getExecutableFolderPath() const { return platform::getExecutableFolder(); }

std::string Utils::extractCommonName(const std::string& distinguishedName) const {
    try {
        static const std::regex commonName(R"(CN=([^,\n\r]+))");
        std::smatch match;
        if (!std::regex_search(distinguishedName, match, commonName)) return distinguishedName;
        return match[1].str();
    } catch (const std::regex_error&) {
        return std::string();
    }
}
