// A fixture for tests that administer a running server: both admin levels and remote shutdown
// enabled on free ports, with game players coming from loopback addresses of their own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "support/ServerProcess.h"
#include "support/TestClient.h"
#include "support/UdpPeer.h"

class AdminServerTest : public ::testing::Test {
protected:
    AdminServerTest(std::string password, std::string plusPassword)
        : m_password(std::move(password)), m_plusPassword(std::move(plusPassword)) {}

    void SetUp() override {
        m_config = TestConfig::standard();
        m_adminPort = pickFreeUdpPort();
        m_config.enableAdmin(m_adminPort, m_password, m_plusPassword);
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady()) << m_server.consoleText();
        ASSERT_TRUE(m_server.waitForText(
            "server.log", "Admin+ successfully started on port " + std::to_string(m_adminPort)));
    }

    // A game client on 127.0.0.`host`.
    TestClient player(int host) {
        return TestClient(m_config.gamePort(), "127.0.0." + std::to_string(host));
    }

    void joinOk(TestClient& client, const std::string& nick) {
        std::optional<Bytes> reply = client.join(nick);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ((*reply)[0], 1);
    }

    std::string m_password;
    std::string m_plusPassword;
    TestConfig m_config;
    std::uint16_t m_adminPort = 0;
    ServerProcess m_server;
};
