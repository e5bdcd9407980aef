// The module's utility class: text splitting and the environment, path and
// certificate-name helpers of certificate import. (The monitor's pause is the
// platform's RepeatingTask.)
#pragma once

#include <string>
#include <vector>

class Utils {
public:
    // Cuts text at every occurrence of delimiter; a text without it gives
    // one piece, the whole text.
    std::vector<std::string> split(const std::string& text, const std::string& delimiter) const;

    // The named variable of the process environment, or empty when unset.
    std::string getEnvironmentVariable(const std::string& name) const;

    // True when the file system reports status for path (file or folder);
    // false for a null or empty path.
    bool pathExists(const char* path) const;

    // Folder of the process's executable (not of this module), without a
    // trailing separator.
    std::string getExecutableFolderPath() const;

    // The common name of a distinguished name: the first "CN=" value up to
    // the next comma or line break. A name without one is returned whole;
    // a failure of the regular-expression machinery gives an empty string.
    std::string extractCommonName(const std::string& distinguishedName) const;
};
