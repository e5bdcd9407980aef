// zelmor-sim: creates, lists, plugs, unplugs, unlocks and removes virtual devices.
#include "../device/DeviceAdministration.h"
#include "Commands.h"

#include <iostream>

int main(int argc, char** argv) {
    using namespace zelmor::sim;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            std::cout << tool::usageText;
            return 0;
        }
    }
    try {
        tool::runCommand(tool::parseCommandLine(arguments), std::cout);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "zelmor-sim: " << error.what() << '\n';
    } catch (...) {
        std::cerr << "zelmor-sim: unexpected failure\n";
    }
    return 1;
}
