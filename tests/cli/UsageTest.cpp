// The conventions of a terminal program: asked-for help on standard output, a usage error on
// standard error with status 2.
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"



TEST(Usage, HelpGoesToStandardOutputAndSucceeds) {
    for (const char* flag : {"--help", "-h"}) {
        const auto r = testsupport::Run({testsupport::BinDir() + "/reelshift-cli", flag});
        EXPECT_EQ(r.exitCode, 0) << flag;
        EXPECT_NE(r.out.find("usage: reelshift-cli --format"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--list-formats"), std::string::npos) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST(Usage, AnUnknownOptionOrNoneAtAllPrintsTheUsageOnStandardErrorWithStatusTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{}}) {
        std::vector<std::string> argv = {testsupport::BinDir() + "/reelshift-cli"};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto r = testsupport::Run(argv);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_NE(r.err.find("usage: reelshift-cli"), std::string::npos) << r.err;
    }
    const auto r = testsupport::Run({testsupport::BinDir() + "/reelshift-cli", "--frobnicate"});
    EXPECT_NE(r.err.find("unknown option '--frobnicate'"), std::string::npos) << r.err;
}
