// The module's utility class: text splitting, the monitor's pause and the
// environment, path and certificate-name helpers of certificate import.
#pragma once

#include <string>
#include <vector>

class Utils {
public:
    // Cuts text at every occurrence of delimiter; a text without it gives
    // one piece, the whole text.
    std::vector<std::string> split(const std::string& text, const std::string& delimiter) const;

    // Sleeps the calling thread.
    void pause(unsigned milliseconds) const;
};
