#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Options.h"
#include "SoakScript.h"
#include "SoakVerdict.h"
#include "SoakWire.h"
#include "net/ByteWriter.h"

using namespace zevload;

namespace {

std::vector<SoakEvent> eventsOf(const SoakPlan& plan, SoakAction action) {
    std::vector<SoakEvent> found;
    for (const SoakEvent& event : plan.events) {
        if (event.action == action) found.push_back(event);
    }
    return found;
}

struct PlanCase {
    int players;
    std::uint64_t durationMs;
};

const PlanCase kPlanCases[] = {{32, 300000}, {2, 120000}, {5, 3600000}};

// [from, to] around each rejoin, per player, from the plan's own quits and joins.
std::map<int, std::vector<std::pair<std::uint64_t, std::uint64_t>>> quietWindows(
    const SoakPlan& plan) {
    std::map<int, std::vector<std::pair<std::uint64_t, std::uint64_t>>> windows;
    for (const SoakEvent& quit : eventsOf(plan, SoakAction::Quit)) {
        std::uint64_t from = quit.atMs - SoakRules::kQuietBeforeMs;
        std::uint64_t to = quit.atMs + SoakRules::kRejoinGapMs + SoakRules::kQuietAfterMs;
        windows[quit.player].push_back({from, to});
    }
    return windows;
}

bool inWindow(const std::map<int, std::vector<std::pair<std::uint64_t, std::uint64_t>>>& windows,
              int player, std::uint64_t at) {
    auto found = windows.find(player);
    if (found == windows.end()) return false;
    for (const auto& [from, to] : found->second) {
        if (at >= from && at <= to) return true;
    }
    return false;
}

}  // namespace

TEST(SoakPlan, RejoinsEveryTenSecondsAndNeverInsideTheJoinFloodBar) {
    for (const PlanCase& c : kPlanCases) {
        SCOPED_TRACE(testing::Message() << c.players << " players, " << c.durationMs << " ms");
        SoakPlan plan = buildSoakPlan({c.players, c.durationMs, 7});
        std::vector<SoakEvent> quits = eventsOf(plan, SoakAction::Quit);
        std::vector<SoakEvent> joins = eventsOf(plan, SoakAction::Join);
        ASSERT_EQ(quits.size(), joins.size());
        std::uint64_t last = c.durationMs - SoakRules::kEndMarginMs - SoakRules::kRejoinGapMs -
                             SoakRules::kQuietAfterMs;
        EXPECT_EQ(quits.size(), last / SoakRules::kRejoinEveryMs);
        // Every player joined at 0; each join from its address comes 8 s or more after the last.
        std::map<int, std::uint64_t> lastJoin;
        for (std::size_t i = 0; i < quits.size(); ++i) {
            EXPECT_EQ(quits[i].atMs, (i + 1) * SoakRules::kRejoinEveryMs);
            EXPECT_EQ(joins[i].player, quits[i].player);
            EXPECT_EQ(joins[i].atMs, quits[i].atMs + SoakRules::kRejoinGapMs);
            EXPECT_GE(joins[i].atMs, lastJoin[joins[i].player] + SoakRules::kJoinFloodClearMs);
            lastJoin[joins[i].player] = joins[i].atMs;
        }
    }
}

TEST(SoakPlan, KeepsTheServersFloodRulesAndLeavesRejoiningPlayersAlone) {
    for (const PlanCase& c : kPlanCases) {
        SCOPED_TRACE(testing::Message() << c.players << " players, " << c.durationMs << " ms");
        SoakPlan plan = buildSoakPlan({c.players, c.durationMs, 3});
        auto windows = quietWindows(plan);
        std::map<std::pair<int, SoakAction>, std::uint64_t> previous;
        std::set<std::string> chatLines;
        for (const SoakEvent& event : plan.events) {
            EXPECT_LE(event.atMs + SoakRules::kEndMarginMs, c.durationMs);
            if (event.player < 0 || event.action == SoakAction::Quit ||
                event.action == SoakAction::Join) {
                continue;
            }
            EXPECT_FALSE(inWindow(windows, event.player, event.atMs)) << event.atMs;
            if (event.action == SoakAction::Death && event.other >= 0) {
                EXPECT_FALSE(inWindow(windows, event.other, event.atMs)) << event.atMs;
            }
            if (event.action == SoakAction::Chat) {
                // A repeated line would be dropped by the server, not relayed.
                EXPECT_TRUE(chatLines.insert(event.text).second) << event.text;
                EXPECT_NE(event.text[0], '/');
            }
            auto key = std::make_pair(event.player, event.action);
            if (previous.count(key) != 0 && event.action == SoakAction::Chat) {
                EXPECT_GE(event.atMs - previous[key], SoakRules::kChatGapMinMs);
            }
            if (previous.count(key) != 0 && event.action == SoakAction::Death) {
                EXPECT_GE(event.atMs - previous[key], SoakRules::kDeathGapMinMs);
            }
            previous[key] = event.atMs;
        }
        EXPECT_FALSE(eventsOf(plan, SoakAction::Chat).empty());
        EXPECT_FALSE(eventsOf(plan, SoakAction::Death).empty());
        EXPECT_FALSE(eventsOf(plan, SoakAction::Money).empty());
        EXPECT_FALSE(eventsOf(plan, SoakAction::Skin).empty());
    }
}

TEST(SoakPlan, IsTheSameForTheSameSeedOnly) {
    auto texts = [](const SoakPlan& plan) {
        std::vector<std::string> lines;
        for (const SoakEvent& e : plan.events) {
            lines.push_back(std::to_string(e.atMs) + " " + std::to_string(int(e.action)) + " " +
                            std::to_string(e.player) + " " + std::to_string(e.other) + " " +
                            std::to_string(e.value) + " " + e.text);
        }
        return lines;
    };
    EXPECT_EQ(texts(buildSoakPlan({32, 120000, 5})), texts(buildSoakPlan({32, 120000, 5})));
    EXPECT_NE(texts(buildSoakPlan({32, 120000, 5})), texts(buildSoakPlan({32, 120000, 6})));
}

TEST(SoakPlan, AdminBansAndUnbansAddressesNoPlayerUses) {
    // However long the run, the admin's own bans stay few enough for one ban-list reply.
    SoakLedger ledger(32, {});
    std::size_t most = 0;
    for (const SoakEvent& event : buildSoakPlan({32, 6 * 3600000, 1}).events) {
        ledger.apply(event);
        most = std::max(most, ledger.bans().size());
    }
    EXPECT_EQ(most, SoakRules::kMostAdminBans);

    SoakPlan plan = buildSoakPlan({32, 120000, 1});
    std::vector<SoakEvent> bans = eventsOf(plan, SoakAction::Ban);
    std::vector<SoakEvent> unbans = eventsOf(plan, SoakAction::Unban);
    ASSERT_GE(bans.size(), 1u);
    ASSERT_GE(unbans.size(), 1u);
    std::set<std::string> banned;
    for (const SoakEvent& event : plan.events) {
        if (event.action == SoakAction::Ban) banned.insert(event.text);
        if (event.action == SoakAction::Unban) {
            EXPECT_EQ(banned.count(event.text), 1u);
        }
        if (event.action != SoakAction::Ban) continue;
        // Players and admins use 127.x.y.z; an octet 0 would be a wildcard.
        EXPECT_NE(event.text.rfind("127.", 0), 0u);
        EXPECT_EQ(event.text.find(".0"), std::string::npos) << event.text;
        EXPECT_EQ(event.atMs % 1000, 500u);
    }
}

TEST(SoakLedger, FollowsScoresMoneySkinsRejoinsAndBans) {
    auto make = [](SoakAction action, int player, int other, std::int32_t value,
                   const std::string& text = "") {
        SoakEvent event;
        event.action = action;
        event.player = player;
        event.other = other;
        event.value = value;
        event.text = text;
        return event;
    };
    SoakLedger ledger(3, {"10.66.1.1"});
    const SoakEvent events[] = {
        make(SoakAction::Death, 0, 1, 5),            // 1 killed 0: 1 scores
        make(SoakAction::Death, 2, 1, 5),            // 1 scores again
        make(SoakAction::Death, 1, 1, 5),            // suicide: 1 loses one
        make(SoakAction::Death, 2, kNoKiller, 5),    // nobody scores
        make(SoakAction::Death, 0, 0, 5),            // suicide: 0 goes below zero
        make(SoakAction::Money, 2, kNoKiller, 70),   // money is set, not added
        make(SoakAction::Money, 2, kNoKiller, -30),  //
        make(SoakAction::Skin, 2, kNoKiller, 12),    //
        make(SoakAction::Money, 1, kNoKiller, 9),    //
        make(SoakAction::Skin, 1, kNoKiller, 4),     //
        make(SoakAction::Quit, 1, kNoKiller, 0),     // a new record when it comes back
        make(SoakAction::Join, 1, kNoKiller, 0),     //
        make(SoakAction::Ban, -1, kNoKiller, 0, "10.77.1.1"),
        make(SoakAction::Ban, -1, kNoKiller, 0, "10.77.1.2"),
        make(SoakAction::Ban, -1, kNoKiller, 0, "10.77.1.1"),
        make(SoakAction::Unban, -1, kNoKiller, 0, "10.77.1.1"),  // the first of two
        make(SoakAction::Unban, -1, kNoKiller, 0, "10.99.9.9"),  // not listed: no change
    };
    for (const SoakEvent& event : events) ledger.apply(event);
    const std::vector<ExpectedPlayer>& players = ledger.players();
    EXPECT_EQ(players[0].nick, "soak0");
    EXPECT_EQ(players[0].score, -1);
    EXPECT_EQ(players[1].score, 0);
    EXPECT_EQ(players[1].money, 0);
    EXPECT_EQ(players[1].skin, 0);
    EXPECT_EQ(players[2].score, 0);
    EXPECT_EQ(players[2].money, -30);
    EXPECT_EQ(players[2].skin, 12);
    EXPECT_EQ(ledger.bans(), (std::vector<std::string>{"10.66.1.1", "10.77.1.2", "10.77.1.1"}));

    // Scores are 16 bits on the server; the ledger wraps the same way.
    SoakLedger wrap(2, {});
    for (int i = 0; i < 32768; ++i) wrap.apply(make(SoakAction::Death, 0, 1, 0));
    EXPECT_EQ(wrap.players()[1].score, -32768);
}

TEST(SoakWire, AdminRequestsAreWhatTheAdminPortReads) {
    unsigned char packet[64];
    const unsigned char login[] = {13, '0', 2, 'a', 'd', '|', 'p', 'w', 0};
    ASSERT_EQ(buildAdminLogin(packet, sizeof(packet), 2, "ad", "pw"), int(sizeof(login)));
    EXPECT_EQ(std::memcmp(packet, login, sizeof(login)), 0);
    const unsigned char ban[] = {28, '1', '.', '2', 0};
    ASSERT_EQ(buildAdminText(packet, sizeof(packet), 28, "1.2"), int(sizeof(ban)));
    EXPECT_EQ(std::memcmp(packet, ban, sizeof(ban)), 0);
    EXPECT_EQ(buildAdminText(packet, 4, 28, "1.2"), 0);
    const unsigned char death[] = {11, 100, 7};
    ASSERT_EQ(buildDeath(packet, sizeof(packet), kNoKillerId, 7), 3);
    EXPECT_EQ(std::memcmp(packet, death, sizeof(death)), 0);
}

TEST(SoakWire, ReadsThePlayerTableOfAnAdminJoinReply) {
    unsigned char reply[400] = {1, 1, 3};
    ByteWriter writer(reply + 326, sizeof(reply) - 326);
    writer.u8(0);
    writer.i16(-2);
    writer.i32(123456);
    writer.bytes("Ann", 3);
    writer.u8(7);
    writer.u8(5);
    writer.i16(300);
    writer.i32(-9);
    writer.bytes("soak5", 5);
    writer.u8(7);
    int length = 326 + static_cast<int>(writer.size());
    std::vector<ListedPlayer> players;
    ASSERT_TRUE(parseAdminJoinReply(reply, length, &players));
    ASSERT_EQ(players.size(), 2u);
    EXPECT_EQ(players[0].nick, "Ann");
    EXPECT_EQ(players[0].score, -2);
    EXPECT_EQ(players[0].money, 123456);
    EXPECT_EQ(players[1].id, 5);
    EXPECT_EQ(players[1].nick, "soak5");
    EXPECT_EQ(players[1].money, -9);
    // An entry cut before its end byte, and a reply shorter than its fixed part.
    EXPECT_FALSE(parseAdminJoinReply(reply, length - 1, &players));
    EXPECT_FALSE(parseAdminJoinReply(reply, 300, &players));
    EXPECT_TRUE(parseAdminJoinReply(reply, 326, &players));
    EXPECT_TRUE(players.empty());
}

TEST(SoakWire, ReadsTheStatusReply) {
    std::string reply = "EYE1";
    for (const char* field : {"zev", "4000", "name", "GTA3:ZEV", "map", "0.5", "0", "1", "32",
                              "Patch1Installed", "yes", "ListenServer", "no"}) {
        reply += static_cast<char>(std::strlen(field) + 1);
        reply += field;
    }
    reply += '\x01';
    // The player entry Ann, score 3, ping 40.
    reply += std::string(
        "\x3F\x04"
        "Ann\x01\x01\x02"
        "3\x03"
        "40\x01",
        13);
    StatusReply parsed;
    const auto* data = reinterpret_cast<const unsigned char*>(reply.data());
    ASSERT_TRUE(parseStatusReply(data, static_cast<int>(reply.size()), &parsed));
    EXPECT_EQ(parsed.players, "1");
    ASSERT_EQ(parsed.list.size(), 1u);
    EXPECT_EQ(parsed.list[0].nick, "Ann");
    EXPECT_EQ(parsed.list[0].score, "3");
    EXPECT_EQ(parsed.list[0].ping, "40");
    EXPECT_FALSE(parseStatusReply(data, static_cast<int>(reply.size()) - 1, &parsed));
    reply[0] = 'X';
    EXPECT_FALSE(parseStatusReply(data, static_cast<int>(reply.size()), &parsed));
}

TEST(SoakWire, SplitsBanListsAndBanFiles) {
    const unsigned char list[] = "10.1.1.1|10.2.2.2|";
    EXPECT_EQ(splitBanList(list, 18), (std::vector<std::string>{"10.1.1.1", "10.2.2.2"}));
    EXPECT_TRUE(splitBanList(list, 0).empty());
    EXPECT_EQ(splitBanFile("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(splitBanFile("").empty());
}

namespace {

// Observations of a run in which the server did everything right, for three players.
struct GoodRun {
    SoakLedger ledger{3, {"10.66.1.1"}};
    SoakObservations seen;

    GoodRun() {
        SoakEvent kill;
        kill.action = SoakAction::Death;
        kill.player = 0;
        kill.other = 2;
        ledger.apply(kill);
        SoakEvent money;
        money.action = SoakAction::Money;
        money.player = 1;
        money.value = 500;
        ledger.apply(money);
        seen.listedReceived = true;
        seen.statusReceived = true;
        seen.status.players = "3";
        for (int i = 0; i < 3; ++i) {
            const ExpectedPlayer& want = ledger.players()[static_cast<std::size_t>(i)];
            seen.listed.push_back({i, want.nick, want.score, want.money});
            seen.status.list.push_back({want.nick, std::to_string(want.score), "20"});
            seen.skins[i] = want.skin;
        }
        seen.banReplyReceived = seen.banFileRead = true;
        seen.banReply = seen.banFile = ledger.bans();
        for (int s = 0; s < 120; ++s) seen.samples.push_back({double(s), 4000 + s / 60, 9});
        seen.warmupSeconds = 60.0;
        seen.secondsElapsed = 120;
        seen.secondsWithPing = 120;
        seen.exitedByItself = true;
        seen.exitStatus = 0;
    }
};

}  // namespace

TEST(SoakVerdict, EachFaultFailsItsOwnCriterion) {
    struct Case {
        const char* criterion;  // the one that must fail; null: every criterion passes
        std::function<void(SoakObservations&)> fault;
    };
    const Case cases[] = {
        {nullptr, [](SoakObservations&) {}},
        {"no player removed but by the script",
         [](SoakObservations& s) { s.unexpectedRemovals.push_back("soak1 left with reason 2"); }},
        {"no player removed but by the script",
         [](SoakObservations& s) {
             s.removalLogLines.push_back("QUIT: ... quit due to timeout.");
         }},
        {"the script ran as planned",
         [](SoakObservations& s) { s.scriptProblems.push_back("refused"); }},
        {"player list",
         [](SoakObservations& s) {
             s.status.list.push_back({"ghost", "0", "0"});
         }},
        {"player list", [](SoakObservations& s) { s.statusReceived = false; }},
        {"scores", [](SoakObservations& s) { s.status.list[2].score = "0"; }},
        {"money", [](SoakObservations& s) { s.listed[1].money = 499; }},
        {"skins", [](SoakObservations& s) { s.skins.erase(0); }},
        {"ban list", [](SoakObservations& s) { s.banFile.push_back("10.77.1.1"); }},
        {"ban list", [](SoakObservations& s) { s.banReplyReceived = false; }},
        {"resident memory grows <= 1 MiB after warm-up",
         [](SoakObservations& s) { s.samples.back().residentKib += kMaxGrowthKib + 1; }},
        {"descriptor count constant", [](SoakObservations& s) { s.samples[70].descriptors = 10; }},
        {"once-a-second group ran in >= 95% of the seconds",
         [](SoakObservations& s) { s.secondsWithPing = 113; }},
        {"clean shutdown", [](SoakObservations& s) { s.exitStatus = 1; }},
        {"clean shutdown",
         [](SoakObservations& s) {
             s.exitStatus = -1;
             s.exitSignal = 6;
         }},
        {"clean shutdown", [](SoakObservations& s) { s.exitedByItself = false; }},
        {"clean shutdown",
         [](SoakObservations& s) { s.sanitizerReport = "ERROR: AddressSanitizer: ..."; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.criterion != nullptr ? c.criterion : "none");
        GoodRun run;
        c.fault(run.seen);
        std::vector<Criterion> criteria = judgeSoak(run.seen, run.ledger);
        for (const Criterion& criterion : criteria) {
            bool shouldFail = c.criterion != nullptr && criterion.name == c.criterion;
            EXPECT_EQ(criterion.pass, !shouldFail) << criterion.name << ": " << criterion.detail;
        }
        EXPECT_EQ(soakPassed(criteria), c.criterion == nullptr);
    }
}

TEST(SoakVerdict, MemoryIsMeasuredFromTheWarmUpAndCanBeReportedOnly) {
    GoodRun run;
    // Start-up growth before the warm-up does not count; 1 MiB after it is still a pass.
    run.seen.samples[10].residentKib = 1000;
    run.seen.samples.back().residentKib = run.seen.samples[60].residentKib + kMaxGrowthKib;
    MemoryFigures memory = memoryFigures(run.seen.samples, run.seen.warmupSeconds);
    EXPECT_TRUE(memory.known);
    EXPECT_EQ(memory.baselineKib, 4001);
    EXPECT_EQ(memory.growthKib, kMaxGrowthKib);
    EXPECT_TRUE(soakPassed(judgeSoak(run.seen, run.ledger)));

    run.seen.samples.back().residentKib += 1;
    EXPECT_FALSE(soakPassed(judgeSoak(run.seen, run.ledger)));
    run.seen.judgeMemory = false;
    EXPECT_TRUE(soakPassed(judgeSoak(run.seen, run.ledger)));

    EXPECT_FALSE(memoryFigures(run.seen.samples, 500.0).known);
}

TEST(SoakOptions, SoakDefaultsYieldToTheCommandLine) {
    struct Case {
        std::vector<const char*> args;
        double duration;
        double rate;
        double warmup;
        bool valid;
    };
    const Case cases[] = {
        {{"zevload", "--soak", "--server-binary", "x"}, 300.0, 20.0, 60.0, true},
        {{"zevload", "--soak", "--server-binary", "x", "--duration", "3600", "--rate=30"},
         3600.0,
         30.0,
         60.0,
         true},
        {{"zevload", "--soak", "--server-binary", "x", "--duration", "10"},
         10.0,
         20.0,
         60.0,
         false},
        {{"zevload", "--soak", "--server-port", "4000"}, 300.0, 20.0, 60.0, false},
        {{"zevload", "--soak", "--server-binary", "x", "--players", "33"},
         300.0,
         20.0,
         60.0,
         false},
        {{"zevload", "--server-binary", "x"}, 20.0, 30.0, 2.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size());
        Options options;
        std::string error;
        std::vector<char*> argv;
        for (const char* arg : c.args) argv.push_back(const_cast<char*>(arg));
        ASSERT_TRUE(parseOptions(static_cast<int>(argv.size()), argv.data(), &options, &error))
            << error;
        applySoakDefaults(&options);
        EXPECT_EQ(options.duration, c.duration);
        EXPECT_EQ(options.rate, c.rate);
        EXPECT_EQ(options.warmup, c.warmup);
        EXPECT_EQ(validateOptions(options, &error), c.valid) << error;
    }
}
