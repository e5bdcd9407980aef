// The built programs: zelmor-sim's commands, their effect seen through the
// library, and its one-line errors; the shared library's export list.
#include "SimTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sys/wait.h>
#include <tuple>

namespace {

// Runs a shell command; its exit status, and its standard output in *output.
int shell(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    output->clear();
    for (int c; (c = std::fgetc(pipe)) != EOF;) output->push_back(static_cast<char>(c));
    return WEXITSTATUS(::pclose(pipe));
}

// Runs zelmor-sim with each of the arguments in turn and expects its exit status, and the text in its
// standard output (with standard error) on success, else in its one line of standard error; the last output.
std::string runTool(const std::vector<std::tuple<std::string, int, std::string>>& steps) {
    std::string output;
    for (const auto& [arguments, status, text] : steps) {
        const std::string redirection = status == 0 ? " 2>&1" : " 2>&1 >/dev/null";
        EXPECT_EQ(shell(ZELMOR_SIM_TOOL " " + arguments + redirection, &output), status) << arguments;
        EXPECT_NE(output.find(text), std::string::npos) << arguments << ": " << output;
        // A failure says so in exactly one line.
        if (status != 0) EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << arguments << ": " << output;
    }
    return output;
}

class ToolTest : public SimTest {};

}  // namespace

TEST_F(ToolTest, CommandsShowThroughTheLibraryAndFailWithOneLine) {
    createDevice("D2");
    std::ofstream(storeFolder + "/D2/device.txt") << "garbage";
    runTool({{"create SIM42 --pin 24682468 --label 'Bench token' --model DSC-9 --firmware 4.2 --retries 4 --capacity 1",
              0, ""},
             {"create D1 --pin 1234", 0, ""},
             {"create D1 --pin 1234", 1, "already exists"},
             {"create D3 --pin 123", 1, "PIN must be 4 to 63"},
             {"create D3 --pin " + std::string(64, '1'), 1, "PIN must be 4 to 63"},
             {"create D3", 1, "--pin"},
             {"create D3 --pin 1234 --firmware 1.x", 1, "invalid firmware"},
             {"create D3 --pin 1234 --firmware 300.1", 1, "invalid firmware"},
             {"create D3 --pin 1234 --retries many", 1, "--retries"},
             {"create ../evil --pin 1234", 1, "invalid serial"},
             {"create D3 --pin 1234 --colour red", 1, "unknown option"},
             {"plug NOPE", 1, "unknown device NOPE"},
             {"remove NOPE", 1, "unknown device NOPE"},
             {"unlock D1 --pin 12", 1, "PIN must be 4 to 63"},
             {"plug", 1, "missing SERIAL"},
             {"list extra", 1, "unexpected argument"},
             {"frobnicate", 1, "unknown command"},
             {"show D2", 1, "damaged"},
             {"list", 0, "D2  damaged"},
             {"remove D2", 0, ""},
             {"show D2", 1, "unknown device D2"},
             {"unplug D1", 0, ""}});
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"SIM42"});
    EXPECT_EQ(generateResult(instance, "SIM42", "24682468"), result::ok);
    EXPECT_EQ(generateResult(instance, "SIM42", "0000"), result::pinIncorrect);
    const auto help = runTool({{"list", 0, "SIM42  plugged  label \"Bench token\"  tries 3/4  key pairs 1/1"},
                               {"list", 0, "D1  unplugged"},
                               {"show SIM42", 0, "label \"Bench token\", model \"DSC-9\", firmware 4.2"},
                               {"show SIM42", 0, "0  EC-P256"},
                               {"unlock SIM42", 0, ""},
                               {"list", 0, "SIM42  plugged  label \"Bench token\"  tries 4/4"},
                               {"remove SIM42", 0, ""},
                               {"plug D1", 0, ""},
                               {"unlock D1 --pin 98765", 0, ""},
                               {"show D1", 0, "\"Zelmor Token\", model \"Zelmor DSC\", firmware 1.0, PIN tries 10/10"},
                               {"--help", 0, ""}});
    for (const char* command : {"create", "list", "show", "plug", "unplug", "unlock", "remove"})
        EXPECT_NE(help.find(std::string("  ") + command + " "), std::string::npos) << command;
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"D1"});
    int32_t tries = 0;
    EXPECT_EQ(zelmor_validatePassword("D1", "98765", 1, &tries, instance), result::ok);
}

// Only the 28 functions of the interface, whose names carry their C++ signature.
TEST(SharedLibrary, ExportsTheInterfaceAndNothingOfItsInsides) {
    std::string names;
    shell("nm -D --defined-only " ZELMOR_SIM_LIBRARY
          " | awk '{print $3}' | sed 's/^_Z[0-9]*zelmor_.*/zelmor_/' | uniq -c",
          &names);
    EXPECT_EQ(names, "     28 zelmor_\n");
}
