#include "utils/Utils.h"

#include <chrono>
#include <thread>

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

void Utils::pause(unsigned milliseconds) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
