#include <gtest/gtest.h>

#include "game/JoinRules.h"

namespace {

// A join payload: version, kind, four check bytes, then `rest`.
std::string payload(const std::string& rest) { return std::string("2\0\0\0\0\0", 6) + rest; }

}  // namespace

TEST(JoinRules, ReadsNickAndPassword) {
    struct Case {
        const char* name;
        std::string payload;
        std::string nick;
        std::string password;
    };
    const Case cases[] = {
        {"plain", payload("Ann|secret\0"), "Ann", "secret"},
        {"empty password", payload("Ann|\0"), "Ann", ""},
        {"password without NUL ends with the datagram", payload("Ann|pw"), "Ann", "pw"},
        {"fifteen characters cut to twelve", payload("ABCDEFGHIJKLMNO|pw\0"), "ABCDEFGHIJKL",
         "NO|pw"},
        {"control and high bytes skipped", payload("A\x01n\x7Fn\xE9|x\0"), "Ann", "x"},
        {"0x02 skips seven bytes", payload("A\x02xxxxxxBob|p\0"), "ABob", "p"},
        {"last payload byte never in the nick", payload("Ann"), "An", ""},
        {"only control bytes", payload("\x01\x1F|p\0"), "", "p"},
        {"no nick at all", payload(""), "", ""},
        {"skip runs past the end", payload("A\x02xy"), "A", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JoinNick read = readJoinNick(reinterpret_cast<const unsigned char*>(c.payload.data()),
                                     c.payload.size());
        EXPECT_EQ(read.nick, c.nick);
        EXPECT_EQ(read.password, c.password);
    }
}

TEST(JoinRules, ReservedNicks) {
    struct Case {
        const char* nick;
        int clientKind;
        bool reserved;
    };
    const Case cases[] = {
        {"admin", 0, true},   {"AdMiN", 3, true},  {"adminX", 0, true},  {"adm", 0, false},
        {"admi", 0, false},   {"[zev]x", 0, true}, {"[zev]x", 3, false}, {"(ZEV}", 0, true},
        {"{Zev)", 1, true},   {"[zev", 0, false},  {"[zevx", 0, false},  {"<zev>", 0, false},
        {"x[zev]", 0, false}, {"[zex]", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.nick) + " kind " + std::to_string(c.clientKind));
        EXPECT_EQ(isReservedNick(c.nick, c.clientKind), c.reserved);
    }
}
