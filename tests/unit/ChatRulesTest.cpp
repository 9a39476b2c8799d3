#include <gtest/gtest.h>

#include "game/ChatRules.h"

namespace {

// A chat datagram's payload: the type byte, the text and the NUL the client ends it with.
std::string clean(const std::string& text) {
    std::string payload = std::string(1, '\0') + text + std::string(1, '\0');
    return cleanChatText(reinterpret_cast<const unsigned char*>(payload.data()),
                         static_cast<int>(payload.size() + 1));
}

}  // namespace

TEST(ChatRules, CleansText) {
    struct Case {
        const char* name;
        std::string text;
        std::string cleaned;
    };
    const Case cases[] = {
        {"printable kept", "Hello there!", "Hello there!"},
        {"control and high bytes dropped",
         "a\x01"
         "b\x7F\xC3\xA9"
         "c\td",
         "abcd"},
        {"colour run of six dropped", "red:\x02RRGGBBtext", "red:Btext"},
        {"colour run at the end cannot jump past it",
         "ab\x02"
         "xy",
         "ab"},
        {"long line cut to 126 characters", std::string(300, 'x'), std::string(126, 'x')},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(clean(c.text), c.cleaned);
    }
    // Without the client's NUL the last text byte is still never read.
    const unsigned char bare[] = {0, 'a', 'b'};
    EXPECT_EQ(cleanChatText(bare, 4), "a");
    EXPECT_EQ(cleanChatText(bare, 1), "");
}

TEST(ChatRules, ReadsPrivateMessageRecipients) {
    struct Case {
        const char* line;
        std::vector<std::string> recipients;
        std::string text;
    };
    const Case cases[] = {
        {"/msg Ann hello there", {"Ann"}, "hello there"},
        {"/msg Ann,#2,Cy hi", {"Ann", "#2", "Cy"}, "hi"},
        {"/msg a,b,c,d hi", {"a", "b", "c"}, "hi"},
        {"/msg a,,b hi", {"a", "", "b"}, "hi"},
        {"/msg ABCDEFGHIJKLMNOP,x hi", {"ABCDEFGHIJKL"}, "hi"},
        {"/msg Ann", {"Ann"}, ""},
        {"/msg Ann ", {"Ann"}, ""},
        {"/msg  hi", {}, "hi"},
        {"/msg ", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        PrivateMessage message = parsePrivateMessage(c.line);
        EXPECT_EQ(message.recipients, c.recipients);
        EXPECT_EQ(message.text, c.text);
    }
}

TEST(ChatRules, RecipientNumbers) {
    struct Case {
        const char* token;
        int id;
    };
    const Case cases[] = {
        {"#2", 2},    {"#0", 0}, {"#32", 32}, {"#33", -1}, {"#a2", -1},
        {"#2a", -1},  {"#", -1}, {"2", -1},   {"#-1", -1}, {"#99999999999999999999", -1},
        {"#0002", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_EQ(parseRecipientNumber(c.token, 32), c.id);
    }
}
