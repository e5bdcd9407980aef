// The zelmor-sim command: its commands, their effect seen through the
// library, and its one-line errors.
#include "SimTestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace simtest;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& arguments) {
    const std::string outPath = std::string(std::getenv("ZELMOR_SIM_HOME")) + "-tool-out";
    const std::string errPath = outPath + "-err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(ZELMOR_SIM_TOOL)};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(ZELMOR_SIM_TOOL, argv.data());
        ::_exit(127);
    }
    ToolRun run;
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

class ToolTest : public SimTest {
protected:
    // Exit status 1 and exactly one line on standard error mentioning `expected`.
    void expectFailure(const std::vector<std::string>& arguments, const std::string& expected) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.status, 1) << arguments[0];
        EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
};

}  // namespace

TEST_F(ToolTest, CreateWithOptionsShowsThroughTheLibrary) {
    const ToolRun created = runTool({"create", "SIM42", "--pin", "24682468", "--label", "Bench token", "--model",
                                     "DSC-9", "--firmware", "4.2", "--retries", "4", "--capacity", "1"});
    ASSERT_EQ(created.status, 0) << created.err;
    ZelmorInstance instance = openInstance();
    const TokenInfo info = zelmor_getTokenInfo("SIM42", instance);
    EXPECT_EQ(info.serialNumber, "SIM42");
    EXPECT_EQ(info.label, "Bench token");
    EXPECT_EQ(info.model, "DSC-9");
    EXPECT_EQ(info.firmwareVersion, "4.2");
    EXPECT_EQ(info.remainingPinAttempts, 4);
    EXPECT_EQ(generateResult(instance, "SIM42", "24682468"), 0);
    EXPECT_EQ(generateResult(instance, "SIM42", "24682468"), 40) << "capacity 1";

    const ToolRun list = runTool({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("SIM42  plugged  label \"Bench token\"  tries 4/4  key pairs 1/1"), std::string::npos)
        << list.out;
    const ToolRun show = runTool({"show", "SIM42"});
    EXPECT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("0  EC-P256"), std::string::npos) << show.out;
}

TEST_F(ToolTest, DefaultsPlugUnplugUnlockAndRemove) {
    ASSERT_EQ(runTool({"create", "D1", "--pin", "1234"}).status, 0);
    ZelmorInstance instance = openInstance();
    const TokenInfo info = zelmor_getTokenInfo("D1", instance);
    EXPECT_EQ(info.label, "Zelmor Token");
    EXPECT_EQ(info.model, "Zelmor DSC");
    EXPECT_EQ(info.firmwareVersion, "1.0");
    EXPECT_EQ(info.remainingPinAttempts, 10);

    EXPECT_EQ(runTool({"unplug", "D1"}).status, 0);
    EXPECT_TRUE(zelmor_getConnectedDeviceList(false, instance).empty());
    EXPECT_NE(runTool({"list"}).out.find("D1  unplugged"), std::string::npos);
    EXPECT_EQ(runTool({"plug", "D1"}).status, 0);
    EXPECT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"D1"});

    int32_t tries = 0;
    EXPECT_NE(zelmor_validatePassword("D1", "0000", 1, &tries, instance), 0);
    EXPECT_EQ(runTool({"unlock", "D1", "--pin", "98765"}).status, 0);
    EXPECT_EQ(zelmor_getTokenInfo("D1", instance).remainingPinAttempts, 10);
    EXPECT_EQ(zelmor_validatePassword("D1", "98765", 1, &tries, instance), 0);

    EXPECT_EQ(runTool({"remove", "D1"}).status, 0);
    EXPECT_TRUE(zelmor_getConnectedDeviceList(false, instance).empty());
    EXPECT_EQ(runTool({"list"}).out, "");
}

TEST_F(ToolTest, ErrorsAreOneClearLine) {
    ASSERT_EQ(runTool({"create", "D2", "--pin", "1234"}).status, 0);
    expectFailure({"create", "D2", "--pin", "1234"}, "already exists");
    expectFailure({"create", "D3", "--pin", "123"}, "PIN must be 4 to 63");
    expectFailure({"create", "D3", "--pin", std::string(64, '1')}, "PIN must be 4 to 63");
    expectFailure({"create", "D3"}, "--pin");
    expectFailure({"create", "D3", "--pin", "1234", "--firmware", "1.x"}, "invalid firmware");
    expectFailure({"create", "D3", "--pin", "1234", "--firmware", "300.1"}, "invalid firmware");
    expectFailure({"create", "D3", "--pin", "1234", "--retries", "many"}, "--retries");
    expectFailure({"create", "../evil", "--pin", "1234"}, "invalid serial");
    expectFailure({"create", "D3", "--pin", "1234", "--colour", "red"}, "unknown option");
    expectFailure({"show", "NOPE"}, "unknown device NOPE");
    expectFailure({"plug", "NOPE"}, "unknown device NOPE");
    expectFailure({"remove", "NOPE"}, "unknown device NOPE");
    expectFailure({"unlock", "D2", "--pin", "12"}, "PIN must be 4 to 63");
    expectFailure({"plug"}, "missing SERIAL");
    expectFailure({"list", "extra"}, "unexpected argument");
    expectFailure({"frobnicate"}, "unknown command");

    writeFile(storeFolder() + "/D2/device.txt", std::string("garbage"));
    expectFailure({"show", "D2"}, "damaged");
    EXPECT_NE(runTool({"list"}).out.find("D2  damaged"), std::string::npos);
}

TEST_F(ToolTest, HelpListsTheCommands) {
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"create", "list", "show", "plug", "unplug", "unlock", "remove"})
        EXPECT_NE(help.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    EXPECT_TRUE(help.err.empty());
}
