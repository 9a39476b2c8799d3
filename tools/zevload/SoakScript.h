// The soak's script: a seeded timeline of what the players and the admin do, and the ledger of
// what the server must hold afterwards. Pure: no sockets, no clock, so that tests can check the
// plan and the bookkeeping directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zevload {

struct SoakSettings {
    int players = 32;
    // Milliseconds of play; nothing is planned in the last second of it.
    std::uint64_t durationMs = 300000;
    std::uint64_t seed = 1;
};

enum class SoakAction {
    Chat,   // `text`, chat type 0
    Death,  // death report naming `other` (the killer's index, the player itself, or
            // kNoKiller) with weapon `value`, then the death position
    Money,  // money report of `value`
    Skin,   // skin change to `value`
    Quit,   // the player leaves (code 2)
    Join,   // the player joins again from the same address and port
    Ban,    // the admin bans the address `text`
    Unban,  // the admin unbans the address `text`
};

constexpr int kNoKiller = -1;

struct SoakEvent {
    std::uint64_t atMs = 0;
    SoakAction action = SoakAction::Chat;
    // The acting player's index; -1 for the admin's actions.
    int player = -1;
    int other = kNoKiller;
    std::int32_t value = 0;
    std::string text;
};

// Timing rules the plan keeps, shared with the tests that check it.
struct SoakRules {
    static constexpr std::uint64_t kRejoinEveryMs = 10000;
    // From a player's quit to its join request.
    static constexpr std::uint64_t kRejoinGapMs = 1000;
    // The server refuses joins from an address for six housekeeping seconds after a join
    // there, and a second refusal bans the address; two seconds more cover a second boundary
    // on either side.
    static constexpr std::uint64_t kJoinFloodClearMs = 8000;
    // Around a rejoin the player does nothing and nobody names it as killer: from this long
    // before its quit to this long after its join request.
    static constexpr std::uint64_t kQuietBeforeMs = 1000;
    static constexpr std::uint64_t kQuietAfterMs = 1500;
    // More than two chat lines in a second is a flood; more than two deaths in a second are
    // ignored. Both stay well below that.
    static constexpr std::uint64_t kChatGapMinMs = 3000;
    static constexpr std::uint64_t kChatGapMaxMs = 7000;
    static constexpr std::uint64_t kDeathGapMinMs = 20000;
    static constexpr std::uint64_t kDeathGapMaxMs = 60000;
    static constexpr std::uint64_t kMoneyGapMinMs = 4000;
    static constexpr std::uint64_t kMoneyGapMaxMs = 12000;
    static constexpr std::uint64_t kSkinGapMinMs = 15000;
    static constexpr std::uint64_t kSkinGapMaxMs = 45000;
    // Admin actions: ban, ban, unban, repeated, half a second into a second (away from the
    // once-a-second measurements).
    static constexpr std::uint64_t kAdminFirstMs = 15500;
    static constexpr std::uint64_t kAdminEveryMs = 30000;
    // The admin's own bans listed at once, at most: the ban-list reply carries 1023 bytes of
    // list, and a run of any length must fit.
    static constexpr std::size_t kMostAdminBans = 20;
    static constexpr std::uint64_t kEndMarginMs = 1000;
};

struct SoakPlan {
    std::vector<SoakEvent> events;  // in time order
    // The ban file the server starts with; the script never bans or unbans these.
    std::vector<std::string> initialBans;
};

// The same settings give the same plan.
SoakPlan buildSoakPlan(const SoakSettings& settings);

// The nick of player `index`.
std::string soakNick(int index);

// The address of the admin's `n`-th ban: addresses no player uses, no octet 0 (a wildcard).
std::string soakBanAddress(int n);

struct ExpectedPlayer {
    std::string nick;
    std::int16_t score = 0;
    std::int32_t money = 0;
    int skin = 0;
};

// What the server must hold once the events applied so far have been handled.
class SoakLedger {
public:
    SoakLedger(int players, std::vector<std::string> bans);

    void apply(const SoakEvent& event);

    const std::vector<ExpectedPlayer>& players() const { return m_players; }
    const std::vector<std::string>& bans() const { return m_bans; }

private:
    std::vector<ExpectedPlayer> m_players;
    std::vector<std::string> m_bans;
};

}  // namespace zevload
