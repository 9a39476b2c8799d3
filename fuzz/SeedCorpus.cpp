// Writes the committed seed corpus: zevfuzz_seeds <corpus folder>. One small input per command
// code of the game and admin ports and per edge case worth starting from, in the input layouts
// the fuzzers' headers describe. Run it again after changing a layout.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SessionFixture.h"
#include "core/Conf.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "net/CRijndael.h"
#include "net/Envelope.h"
#include "net/GeneralKey.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string g_root;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes text(const std::string& characters) { return Bytes(characters.begin(), characters.end()); }

Bytes u16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
}

Bytes u32(std::uint32_t value) { return cat({u16(value & 0xFFFF), u16(value >> 16)}); }

Bytes floats(std::initializer_list<float> values) {
    Bytes out;
    for (float value : values) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        out = cat({out, u32(bits)});
    }
    return out;
}

// A record of the game, admin and state fuzzers: a control byte, a 16-bit length, the bytes.
Bytes record(std::uint8_t control, const Bytes& datagram) {
    return cat({{control}, u16(static_cast<std::uint16_t>(datagram.size())), datagram});
}

// A record of the query fuzzer's texts: a length byte and the bytes.
Bytes shortText(const std::string& characters) {
    return cat({{static_cast<std::uint8_t>(characters.size())}, text(characters)});
}

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::string folder = g_root + "/" + target;
    mkdir(folder.c_str(), 0755);
    std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(file);
}

Bytes sealWith(const CRijndael& cipher, const Bytes& datagram) {
    Bytes out(datagram.size() + kEnvelopeOverhead);
    int size = sealEnvelope(cipher, datagram.data(), static_cast<int>(datagram.size()), out.data(),
                            static_cast<int>(out.size()));
    out.resize(static_cast<std::size_t>(size));
    return out;
}

CRijndael generalCipher() {
    unsigned char key[kGeneralKeySize];
    if (loadGeneralKey(key) != GeneralKeyStatus::kOk) std::exit(1);
    CRijndael cipher;
    cipher.MakeKey(reinterpret_cast<const char*>(key), CRijndael::sm_chain0, 16, 16);
    return cipher;
}

// State records.
const Bytes kHeading = {0x11, 0x22, 0x33, 0x44};
Bytes onFoot(float x, float y) { return cat({{0}, kHeading, {1}, floats({x, y, 7}), {2, 5}}); }
Bytes onFootVc(float x, float y) { return cat({onFoot(x, y), {3, 1}}); }
Bytes driving(int vehicle, std::uint8_t positionTag, float x, float y) {
    return cat({{static_cast<std::uint8_t>(vehicle)}, kHeading, {positionTag}, floats({x, y, 3})});
}

// ---- game port -------------------------------------------------------------------------------

// The datagram each game code is seeded with, from player 0 ("Ann") unless it is a join.
Bytes gameDatagram(int code, bool vc) {
    const std::uint32_t check = GameSession::kCheckValue;
    switch (code) {
        case 3:
            return cat({{3, 0}, text("hello everyone"), {0}});
        case 5:  // passes the check: v + id - nick length + b
            return cat({{5, 7}, u32(check - 0 + 3 - 7)});
        case 10:
            return cat({{10}, vc ? onFootVc(10, 20) : onFoot(10, 20)});
        case 11:
            return {11, 1, 16};
        case 12:
            return cat({{12}, u32(42)});
        case 20:
        case 24:
            return {static_cast<std::uint8_t>(code), 1};
        case 23:
            return {23, 5};
        case 25:
            return cat({{25}, u32(check)});
        case 36:
            return cat({{36}, u32(1000)});
        case 37:
            return cat({{37}, floats({1, 2, 3})});
        case 42:
            return {42, 3};
        case 2:
        case 4:
        case 19:
        case 41:
            return {static_cast<std::uint8_t>(code)};
        default:  // codes the dispatcher ignores
            return {static_cast<std::uint8_t>(code), 1, 2, 3};
    }
}

void gameSeeds() {
    const CRijndael general = generalCipher();
    const Bytes join = fuzz::joinRequest("Dan", fuzz::kServerPassword);
    struct Map {
        const char* name;
        std::uint8_t setup;
        bool vc;
    };
    const Map maps[] = {{"gta3", 0, false}, {"vc", 1, true}};
    for (const Map& map : maps) {
        const std::string suffix = std::string("-") + map.name;
        // Code 1 as a newcomer sends it: sealed with the general key.
        write("game", "code01-join-sealed" + suffix,
              cat({{map.setup}, record(0x80 | 3, sealWith(general, join))}));
        write("game", "code01-join-plain" + suffix, cat({{map.setup}, record(3, join)}));
        for (int code = 2; code <= 42; ++code) {
            char name[32];
            std::snprintf(name, sizeof(name), "code%02d", code);
            // The score is the client's only on the Stunt map.
            std::uint8_t setup = code == 12 && map.vc ? 2 : map.setup;
            write("game", name + suffix, cat({{setup}, record(0, gameDatagram(code, map.vc))}));
        }
        const std::uint8_t tag = map.vc ? 0x0D : 0x0E;
        write("game", "relay-driver-passenger-far" + suffix,
              cat({{map.setup},
                   record(0, cat({{10}, driving(5, tag, 0, 0)})),
                   record(1, {10, 105}),
                   record(2, cat({{10}, map.vc ? onFootVc(1000, 1000) : onFoot(1000, 1000)})),
                   record(0, cat({{10}, driving(5, tag, 900, 900)}))}));
    }

    write("game", "chat-commands",
          cat({{0},
               record(0, cat({{3, 0}, text("/me waves"), {0}})),
               record(1, cat({{3, 0}, text("/slap Ann"), {0}})),
               record(2, cat({{3, 0}, text("/kick 1"), {0}})),
               record(0, cat({{3, 0}, text("/msg bob,#0,Cy,#2 hi there"), {0}})),
               record(1, cat({{3, 0}, text("/msg #a2 nobody"), {0}})),
               record(2, cat({{3, 0}, {0x02, 'F', 'F', '0', '0', '0'}, text("red"), {0}})),
               record(0, cat({{3, 3}, text("logged only"), {0}}))}));
    write("game", "chat-long-and-repeated",
          cat({{0},
               record(0, cat({{3, 0}, Bytes(300, 'a'), {0}})),
               record(0, cat({{3, 0}, Bytes(300, 'a'), {0}})),
               record(0, cat({{3, 0}, text("/msg bob"), {0}}))}));
    write("game", "chat-flood-ban",
          cat({{0x80},
               record(1, cat({{3, 0}, text("one"), {0}})),
               record(1, cat({{3, 0}, text("two"), {0}})),
               record(1, cat({{3, 0}, text("three"), {0}})),
               {0x40}}));
    write("game", "deaths",
          cat({{0},
               record(0, {11, 0, 3}),
               record(1, {11, 100, 0}),
               record(1, {11, 0, 16}),
               record(1, {11, 0, 16}),
               record(1, {11, 0, 16}),
               record(2, cat({{37}, floats({})}))}));
    write("game", "wrong-checks",
          cat({{0},
               record(0, cat({{5, 7}, u32(1)})),
               record(1, cat({{25}, u32(2)})),
               record(2, {19})}));
    write("game", "joins-full-banned-flood",
          cat({{0},
               record(3, fuzz::joinRequest("Dan", "")),
               record(4, fuzz::joinRequest("Eve", "")),
               record(5, fuzz::joinRequest("Fay", "")),
               record(6, fuzz::joinRequest("Gus", "")),
               record(0, fuzz::joinRequest("Ann", "")),
               record(5, fuzz::joinRequest("ANN", "")),
               record(5, fuzz::joinRequest("Admin", "")),
               record(5, fuzz::joinRequest("[zev]x", "")),
               record(5, cat({{1, '2', 0}, u32(GameSession::kCheckValue), {0x01, 0x05, '|', 0}})),
               record(5, cat({{1, '3', 0}, u32(GameSession::kCheckValue), text("Hal|"), {0}})),
               record(5, cat({{1, '2', 0}, u32(1), text("Hal|"), {0}}))}));
    write("game", "password-and-motd",
          cat({{0x30},
               record(3, fuzz::joinRequest("Dan", "wrong")),
               record(5, fuzz::joinRequest("Eve", fuzz::kServerPassword))}));
    write("game", "testmode-statlogging",
          cat({{0x4C},
               record(0, cat({{10}, onFoot(1, 1), {29, 4}})),
               record(0, {23, 9}),
               record(1, cat({{10}, driving(7, 0x0E, 5, 5)}))}));
    // A rejoin within the flood window, then the periodic tasks until it ages out and bans.
    Bytes ticks = cat({{0},
                       record(0, {2}),
                       record(0, fuzz::joinRequest("Ann", "")),
                       record(0, fuzz::joinRequest("Ann", ""))});
    for (int i = 0; i < 6; ++i) ticks.push_back(static_cast<std::uint8_t>(0x40 | i));
    ticks = cat({ticks, {0x7F}, record(0, fuzz::joinRequest("Ann", ""))});
    write("game", "ticks-rejoin-timeouts", ticks);
}

// ---- admin port ------------------------------------------------------------------------------

Bytes adminDatagram(int code) {
    switch (code) {
        case 3:
            return cat({{3, 0}, text("hello from the admin"), {0}});
        case 13:
            return fuzz::adminLogin(1, "Second", fuzz::kAdminPassword);
        case 14:
        case 15:
        case 29:
            return {static_cast<std::uint8_t>(code), 1};
        case 16:
            return cat({{16}, text("1.2.3.4"), {0}});
        case 27:
            return cat({{27}, text("newpass"), {0}});
        case 28:
            return cat({{28}, text("1.2.3.4x5"), {0}});
        case 31:
            return {31, 23, 59};
        case 35:
            return {35, 2};
        case 38:
            return {38, 1, 2, 3, 4};
        case 40:
            return cat({{40, 0, 0, 0, 0}, text("A new message\n"), {0}});
        default:
            return {static_cast<std::uint8_t>(code)};
    }
}

void adminSeeds() {
    // Setup 0x13: admin plus, remote shutdown, "motd.txt" present.
    for (int code = 0; code <= 42; ++code) {
        char name[32];
        std::snprintf(name, sizeof(name), "code%02d", code);
        // A login comes from an address that has not logged in.
        std::uint8_t sender = code == 13 ? 1 : 0;
        write("admin", name, cat({{0x13}, record(sender, adminDatagram(code))}));
    }
    write("admin", "login-plus-valid",
          cat({{0x01},
               record(2, fuzz::adminLogin(2, "Plus", fuzz::kAdminPlusPassword)),
               record(2, {30})}));
    write("admin", "login-refusals",
          cat({{0x00},
               record(0, fuzz::adminLogin(1, "Again", fuzz::kAdminPassword)),
               record(3, fuzz::adminLogin(1, "Banned", fuzz::kAdminPassword)),
               record(1, cat({{13, '1', 1}, text("Bad|"), text(fuzz::kAdminPassword), {0}})),
               record(1, fuzz::adminLogin(1, "BOSS", fuzz::kAdminPassword)),
               record(1, fuzz::adminLogin(2, "Plus", fuzz::kAdminPlusPassword)),
               record(1, fuzz::adminLogin(1, "Thirteen13chr", fuzz::kAdminPassword)),
               record(2, fuzz::adminLogin(1, "Fourteen14char", fuzz::kAdminPassword))}));
    Bytes wrong = {0x00};
    for (int i = 0; i < 11; ++i) {
        // A second passes halfway: password checks are limited to ten a second.
        std::uint8_t control = i == 5 ? 1 | 1 << 2 : 1;
        wrong = cat({wrong, record(control, fuzz::adminLogin(1, "Guess", "nope"))});
    }
    write("admin", "login-wrong-until-banned", wrong);
    // Remote shutdown at 0 s, 10 s and 12 s; then at 0 s and 3 s.
    write("admin", "shutdown-window",
          cat({{0x02},
               record(0, {18}),
               record(7 << 2, {18}),
               record(3 << 2, {18}),
               record(2 << 2, {18})}));
    write("admin", "chat-private",
          cat({{0x00},
               record(0, cat({{3, 0}, text("/msg #0,bob,#99,x hello"), {0}})),
               record(0, cat({{3, 0}, text("/kick 3"), {0}})),
               record(0, cat({{3, 0}, text("/me waves"), {0}})),
               record(0, cat({{3, 0}, text("/msg bob"), {0}})),
               record(0, cat({{3, 0}, Bytes(200, 'z'), {0}}))}));
    write("admin", "bans-and-list",
          cat({{0x00},
               record(0, {15, 0}),
               record(0, cat({{28}, text("10.20.30.40"), {0}})),
               record(0, cat({{28}, text("abc"), {0}})),
               record(0, {17}),
               record(0, cat({{16}, text("10.20.30.40"), {0}})),
               record(0, cat({{16}, text("9.9.9.9"), {0}})),
               record(0, {17})}));
    write("admin", "motd-save-reload-password",
          cat({{0x08},
               record(0, {26}),
               record(0, cat({{40, 1, 2, 3, 4}, text("Hi\r\n")})),
               record(0, {26}),
               record(0, {27}),
               record(0, cat({{27}, text("pw")}))}));
    write("admin", "time-weather-money",
          cat({{0x04},
               record(0, {31, 24, 0}),
               record(0, {31, 0, 60}),
               record(0, {35, 4}),
               record(0, {35, 3}),
               record(0, {34}),
               record(0, {38, 0xFF, 0xFF, 0xFF, 0xFF})}));
    write("admin", "game-side",
          cat({{0x41},
               record(0x80, cat({{3, 0}, text("player speaks"), {0}})),
               record(0x80 | 2, fuzz::joinRequest("Dan", fuzz::kServerPassword)),
               record(0x80 | 1, cat({{10}, onFoot(3, 4)})),
               record(0, {2}),
               record(0, {30})}));
}

// ---- envelope --------------------------------------------------------------------------------

void envelopeSeeds() {
    const CRijndael general = generalCipher();
    write("envelope", "general-join",
          cat({{0}, sealWith(general, fuzz::joinRequest("Dan", fuzz::kServerPassword))}));
    write("envelope", "general-short-20", cat({{0}, Bytes(20, 0x41)}));
    // The player key is the first the fuzzer draws, so this opens under it too.
    write("envelope", "unique-garbage", cat({{1}, Bytes(32, 0x5A)}));
    write("envelope", "stranger", cat({{2}, Bytes(16, 0)}));
    auto plain = [](std::uint16_t length, std::size_t size, std::uint8_t fill) {
        Bytes out = cat({u16(length), Bytes(size - 2, fill)});
        return out;
    };
    write("envelope", "plain-1", cat({{4}, plain(1, 16, 0)}));
    write("envelope", "plain-14", cat({{4}, plain(14, 32, 7)}));
    write("envelope", "plain-overlong-field", cat({{4}, plain(30, 32, 7)}));
    write("envelope", "plain-field-1025", cat({{5}, plain(1025, 1024, 1)}));
    write("envelope", "plain-full-1022", cat({{5}, plain(1022, 1024, 9)}));
    write("envelope", "round-trip-1", cat({{8}, {4}}));
    write("envelope", "round-trip-13", cat({{9}, Bytes(13, 3)}));
    write("envelope", "round-trip-14", cat({{8}, Bytes(14, 3)}));
    write("envelope", "round-trip-1021", cat({{9}, Bytes(1021, 3)}));
    write("envelope", "round-trip-1022", cat({{8}, Bytes(1022, 3)}));
    write("envelope", "round-trip-tight", cat({{0x18}, Bytes(30, 3)}));
    write("envelope", "round-trip-stranger", cat({{0x0A}, Bytes(5, 3)}));
}

// ---- state records ---------------------------------------------------------------------------

void stateSeeds() {
    write("state", "gta3-on-foot", cat({{0}, record(0, onFoot(1, 2))}));
    write("state", "vc-on-foot", cat({{1}, record(0, onFootVc(1, 2))}));
    write("state", "gta3-byte-ff", cat({{0}, record(0, cat({{0}, kHeading, {2, 0xFF}}))}));
    write("state", "gta3-driver-passenger",
          cat({{0},
               record(0, driving(5, 0x0E, 10, 10)),
               record(1, cat({{105, 14}, floats({50, 60, 70})}))}));
    write("state", "vc-driver-passenger",
          cat({{1},
               record(0, driving(5, 0x0D, 10, 10)),
               record(1, cat({{105, 13}, floats({50, 60, 70})}))}));
    write("state", "selector-230", cat({{0}, record(2, cat({{230, 2, 9, 1}, floats({1, 1, 1})}))}));
    write("state", "two-bytes", cat({{1}, record(0, {0xC9, 1})}));
    write("state", "visibility-boundary",
          cat({{0},
               record(0, onFoot(0, 0)),
               record(1, onFoot(299.9f, 0)),
               record(2, onFoot(180, 240))}));
    write("state", "truncated-field", cat({{0}, record(0, cat({{0}, kHeading, {1, 0, 0}}))}));
    write("state", "absent-id", cat({{0}, record(3, onFoot(1, 1))}));
    for (int vc = 0; vc < 2; ++vc) {
        Bytes every = cat({{3}, kHeading});
        for (int tag = 0; tag <= 17; ++tag) {
            every = cat({every,
                         {static_cast<std::uint8_t>(tag)},
                         Bytes(12, static_cast<std::uint8_t>(tag))});
        }
        write("state", vc != 0 ? "vc-every-tag" : "gta3-every-tag",
              cat({{static_cast<std::uint8_t>(vc)}, record(0, every)}));
    }
}

// ---- query -----------------------------------------------------------------------------------

struct QueryPlayer {
    std::string nick;
    std::int16_t score;
    std::uint16_t newStamp;
    std::uint16_t oldStamp;
};

Bytes query(std::uint8_t flags, const std::string& name, const std::vector<QueryPlayer>& table,
            const Bytes& extra) {
    Bytes out = cat({{flags},
                     u16(4000),
                     u32(0x01020304),
                     shortText(name),
                     shortText("32"),
                     {static_cast<std::uint8_t>(table.size())}});
    for (const QueryPlayer& p : table) {
        out = cat({out,
                   shortText(p.nick),
                   u16(static_cast<std::uint16_t>(p.score)),
                   u16(p.newStamp),
                   u16(p.oldStamp),
                   {0}});
    }
    return cat({out, extra});
}

// An extra entry with all six fields of `size` bytes each.
Bytes extraEntry(std::size_t size) {
    Bytes out = {0x3F};
    for (int f = 0; f < 6; ++f)
        out = cat({out, u16(static_cast<std::uint16_t>(size)), Bytes(size, 'x')});
    return out;
}

void querySeeds() {
    write("query", "no-players", query(3 << 2, "Fuzz Server", {}, {}));
    write("query", "three-players",
          query(1 | (1 << 2), "Fuzz Server",
                {{"Ann", 3, 140, 100}, {"bob", -5, 5, 65000}, {"", 0, 0, 0}}, {}));
    std::vector<QueryPlayer> full;
    for (int i = 0; i < 32; ++i) full.push_back({"player" + std::to_string(i), 100, 40, 0});
    write("query", "full-table", query(2 | (5 << 2), std::string(255, 'N'), full, {}));
    write("query", "fragmented",
          query(4 << 2, "Fuzz Server", {}, cat({extraEntry(250), extraEntry(250)})));
    Bytes many;
    for (int i = 0; i < 6; ++i) many = cat({many, extraEntry(254)});
    write("query", "over-the-limit", query(0, "x", {}, many));
    write("query", "missing-fields",
          query(7 << 2, "", {}, cat({{0x00}, {0x21, 3, 0, 'a', 'b', 'c', 0, 0}})));
}

// ---- configuration and command line ---------------------------------------------------------

void confSeeds() {
    write("conf", "valid",
          text("# zevserver.conf\nServerName \"Fuzz Server\"\nServerPort 4000\nGameMap 3\n"
               "MaxPlayers 32\nGameHour 12\nGameMins 30\nBannedFile banned.txt\nAdminServer 1\n"
               "AdminPassword secret\nMOTDURL http://motd.invalid/\n"));
    write("conf", "quotes-and-spaces",
          text("ServerName My Server\nOther \"a b\"  c \"\" d\"e\" f\nBad \"unmatched value\n"
               "   # comment\n\t# not a comment\nKeyOnly\nDup 1\nDup 2 3\nCR value\r\n"));
    write("conf", "bad-values",
          text("ServerName " + std::string(50, 'n') +
               "\nServerPort 4000abc\nGameMap 1\n"
               "MaxPlayers 27\nGameHour 24\nGameMins 60\n"));
    write("conf", "gamemap-0", text("ServerName a\nServerPort abc\nGameMap 0\n"));
    write("conf", "no-final-newline", text("ServerName a\nServerPort 1\nGameMap 5\nMaxPlayers 1"));
}

void argsSeeds() {
    auto words = [](std::initializer_list<const char*> list) {
        Bytes out;
        bool first = true;
        for (const char* word : list) {
            if (!first) out.push_back(0);
            first = false;
            out = cat({out, text(word)});
        }
        return out;
    };
    write("args", "conf", words({"-c", "a.conf"}));
    write("args", "conf-two-values", words({"--conf=a.conf", "b.conf"}));
    write("args", "equals", words({"-p=12", "-m=", "-n", "My", "Server"}));
    write("args", "negative", words({"-p", "-5", "-", "-?"}));
    write("args", "leading-value", words({"x", "-q", "--help", "-t", "-i", "-b"}));
    write("args", "repeated", words({"-p", "8", "-p", "9", "-s", "pw", "--pass", "x"}));
}

// ---- ban list --------------------------------------------------------------------------------

Bytes banInput(const std::string& file, std::uint8_t room, const std::string& queries) {
    return cat({u16(static_cast<std::uint16_t>(file.size())), text(file), {room}, text(queries)});
}

void banSeeds() {
    using namespace std::string_literals;
    write("ban", "wildcards",
          banInput("1.2.3.4\n10.0.0.0\n192.168.1.0\n", 255,
                   "1.2.3.4\0"s
                   "10.200.3.4\0"s
                   "192.168.1.7\0"s
                   "192.168.2.7\0"s
                   "\x0a\x01\x02\x03"s));
    write("ban", "everything", banInput("0.0.0.0\n", 1, "8.8.8.8\0abc"s));
    write("ban", "no-final-newline-and-empty-line",
          banInput("1.2.3.4\n\n5.6.7.8", 2, "5.6.7.8\0\0"s));
    write("ban", "unreadable-entry",
          banInput("abc\n1.1.1.1\n1.1.1.1\n", 3, "255.255.255.255\0abc"s));
    write("ban", "empty", banInput("", 0, "1.2.3.4"));
    write("ban", "inet-aton-forms",
          banInput("10.1\n0x7f.1\n", 20,
                   "10.0.0.1\0"s
                   "127.0.0.1\0"s
                   "17.1.1.1"s));
}

// ---- text rules ------------------------------------------------------------------------------

void rulesSeeds() {
    auto rule = [](int selector, std::uint8_t parameter, const Bytes& bytes) {
        return cat({{static_cast<std::uint8_t>(selector), parameter}, bytes});
    };
    const Bytes check = u32(GameSession::kCheckValue);
    write("rules", "join-long-nick",
          rule(0, 0, cat({{'2', 0}, check, text("ABCDEFGHIJKLMNO|secret"), {0}})));
    write("rules", "join-colour-nick",
          rule(0, 3, cat({{'2', 3}, check, {0x02, 1, 2, 3, 4, 5, 6}, text("[ZEV]Dan|"), {0}})));
    write("rules", "join-control-only", rule(0, 0, cat({{'2', 0}, check, {1, 2, 3, '|', 0}})));
    write("rules", "join-admin", rule(0, 0, cat({{'2', 0}, check, text("aDmIn|"), {0}})));
    write("rules", "admin-login", rule(1, 0, cat({{'0', 1}, text("Boss|adminpw"), {0}})));
    write("rules", "admin-login-long", rule(1, 0, cat({{'0', 2}, text("Fourteen14char|x"), {0}})));
    write("rules", "chat-300", rule(2, 0, cat({{0}, Bytes(300, 'c'), {0}})));
    write("rules", "chat-colours",
          rule(2, 0, cat({{0, 0x02, 1, 2, 3, 4, 5}, text("hi\x7f\x80"), {0}})));
    write("rules", "msg-four", rule(3, 32, text("a,b,c,d text")));
    write("rules", "msg-long-token", rule(3, 32, text("abcdefghijklmnop,b hi")));
    write("rules", "msg-no-text", rule(3, 5, text("bob")));
    write("rules", "recipient-2", rule(4, 32, text("#2")));
    write("rules", "recipient-a2", rule(4, 32, text("#a2")));
    write("rules", "recipient-huge", rule(4, 32, text("#99999999999999999999")));
    write("rules", "ban-address", rule(5, 0, text("1.2.3.4x5")));
    write("rules", "ban-abc", rule(5, 0, text("abc")));
    write("rules", "text", rule(6, 31, cat({text("1.2.3.4"), {0}, text("tail")})));
}

// The console fuzzer's input: an options byte, then datagrams as 16-bit length and bytes.
Bytes datagrams(std::initializer_list<Bytes> list) {
    Bytes out = {1};
    for (const Bytes& datagram : list) {
        out = cat({out, u16(static_cast<std::uint16_t>(datagram.size())), datagram});
    }
    return out;
}

void consoleSeeds() {
    // The admin join reply: fixed fields, the server name and address fields, then players.
    Bytes reply = cat({{1, 1, 3, 2, 0, 32, 12, 30, 2},
                       Bytes(12, 0),
                       text("Test Server"),
                       Bytes(39, 0),
                       text("http://motd"),
                       Bytes(244, 0),
                       {3},
                       u16(5),
                       u32(100),
                       text("Ann"),
                       {7}});
    write("console", "login-then-game",
          datagrams({reply,
                     cat({{8, 4}, text("Bob"), {0}, text("127.0.0.9"), {0}}),
                     cat({{3, 4}, text("hello"), {0}}),
                     {11, 4, 3, 16},
                     {12, 4, 2, 0},
                     {22, 3, 40, 0},
                     {32, 12, 31},
                     {33, 2},
                     {35, 1},
                     cat({{36, 3}, u32(50)}),
                     {9, 1, 4}}));
    write("console", "replies",
          datagrams({cat({{17}, text("1.2.3.4|10.0.0.0|")}),
                     {16, 1},
                     {18, 0},
                     {26, 1},
                     {27, 1},
                     {28, 1},
                     cat({{29, 3}, text("127.0.0.9"), {0}}),
                     {30},
                     {34},
                     cat({{38}, u32(5)}),
                     {40, 0}}));
    write("console", "short-datagrams",
          datagrams({{}, {1}, {3}, {8}, {9}, {11}, {12}, {17}, {22}, {29}, {32}, {36}}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    mkdir(g_root.c_str(), 0755);
    fuzz::quietProcess();
    gameSeeds();
    adminSeeds();
    envelopeSeeds();
    stateSeeds();
    querySeeds();
    confSeeds();
    argsSeeds();
    banSeeds();
    rulesSeeds();
    consoleSeeds();
    return 0;
}
