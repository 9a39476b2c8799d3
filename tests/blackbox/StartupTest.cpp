#include <gtest/gtest.h>
#include <signal.h>

#include "support/ServerProcess.h"

TEST(Startup, BackgroundServerShutsDownOnSigterm) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    ASSERT_TRUE(server.start({"-b"}));
    int status = -1;
    ASSERT_TRUE(server.waitForExit(&status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(server.waitForText("server.log", "Server successfully started on port"));
    ASSERT_TRUE(server.stopDaemon());
    std::vector<std::string> lines = strippedLines(server.logText());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "- ZEVServer log closed -");
    EXPECT_TRUE(
        containsLines(lines, {"SERVER: A total of 0 bytes were received and 0 bytes were sent.",
                              "Server successfully shutdown."}))
        << server.logText();
}
