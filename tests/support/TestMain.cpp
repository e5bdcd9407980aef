// Entry of every API test program: a private temporary folder and log level
// for this process, then the tests.
#include <gtest/gtest.h>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    testing_support::prepareTestEnvironment();
    testing_support::setLogLevel(3);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
