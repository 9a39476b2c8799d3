#include "SoakScript.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace zevload {

namespace {

// splitmix64: the same sequence with every compiler and library, which the standard
// distributions do not promise.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform enough in [low, high] for a script.
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return low + next() % (high - low + 1);
    }

private:
    std::uint64_t m_state;
};

struct Window {
    std::uint64_t from;
    std::uint64_t to;
};

// Per player, the times around its rejoins when it neither acts nor is named as killer.
using QuietWindows = std::vector<std::vector<Window>>;

bool isQuiet(const QuietWindows& quiet, int player, std::uint64_t at) {
    for (const Window& window : quiet[static_cast<std::size_t>(player)]) {
        if (at >= window.from && at <= window.to) return true;
    }
    return false;
}

SoakEvent event(std::uint64_t at, SoakAction action, int player) {
    SoakEvent made;
    made.atMs = at;
    made.action = action;
    made.player = player;
    return made;
}

// One player every kRejoinEveryMs, in a seeded order, skipping any whose address the server
// would still refuse. Every player joined at 0, before play.
void planRejoins(const SoakSettings& settings, Random& random, SoakPlan* plan,
                 QuietWindows* quiet) {
    const int count = settings.players;
    std::vector<int> order(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
    for (int i = count - 1; i > 0; --i) {
        auto j = static_cast<int>(random.between(0, static_cast<std::uint64_t>(i)));
        std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
    }
    std::vector<std::uint64_t> lastJoin(static_cast<std::size_t>(count), 0);
    int turn = 0;
    const std::uint64_t tail =
        SoakRules::kRejoinGapMs + SoakRules::kQuietAfterMs + SoakRules::kEndMarginMs;
    for (std::uint64_t at = SoakRules::kRejoinEveryMs; at + tail <= settings.durationMs;
         at += SoakRules::kRejoinEveryMs) {
        std::uint64_t join = at + SoakRules::kRejoinGapMs;
        for (int k = 0; k < count; ++k) {
            int player = order[static_cast<std::size_t>((turn + k) % count)];
            auto slot = static_cast<std::size_t>(player);
            if (join < lastJoin[slot] + SoakRules::kJoinFloodClearMs) continue;
            plan->events.push_back(event(at, SoakAction::Quit, player));
            plan->events.push_back(event(join, SoakAction::Join, player));
            lastJoin[slot] = join;
            std::uint64_t from =
                at > SoakRules::kQuietBeforeMs ? at - SoakRules::kQuietBeforeMs : 0;
            (*quiet)[slot].push_back({from, join + SoakRules::kQuietAfterMs});
            turn = (turn + k + 1) % count;
            break;
        }
    }
}

// Ban, ban, unban the oldest of the admin's own bans, and again: the list changes every time
// and grows slowly, up to kMostAdminBans.
void planAdmin(const SoakSettings& settings, SoakPlan* plan) {
    std::deque<std::string> listed;
    int banned = 0;
    int step = 0;
    for (std::uint64_t at = SoakRules::kAdminFirstMs;
         at + SoakRules::kEndMarginMs <= settings.durationMs;
         at += SoakRules::kAdminEveryMs, ++step) {
        SoakEvent action = event(at, SoakAction::Ban, -1);
        bool unban = step % 3 == 2 || listed.size() >= SoakRules::kMostAdminBans;
        if (unban && !listed.empty()) {
            action.action = SoakAction::Unban;
            action.text = listed.front();
            listed.pop_front();
        } else {
            action.text = soakBanAddress(banned++);
            listed.push_back(action.text);
        }
        plan->events.push_back(action);
    }
}

struct Cadence {
    SoakAction action;
    std::uint64_t gapMin;
    std::uint64_t gapMax;
};

// Fills in what each kind of event carries. The draws happen whether or not the event is kept,
// so that skipping one never shifts the rest of the plan.
void fillEvent(SoakEvent* made, const SoakSettings& settings, Random& random,
               const QuietWindows& quiet, int* chatLines) {
    switch (made->action) {
        case SoakAction::Chat:
            made->text =
                "soak line " + std::to_string((*chatLines)++) + " from " + soakNick(made->player);
            return;
        case SoakAction::Death: {
            std::uint64_t roll = random.between(0, 99);
            auto other = static_cast<int>(
                random.between(0, static_cast<std::uint64_t>(settings.players - 2)));
            if (other >= made->player) ++other;
            made->value = static_cast<std::int32_t>(random.between(0, 40));
            if (roll < 10) {
                made->other = made->player;
            } else if (roll >= 25 && !isQuiet(quiet, other, made->atMs)) {
                made->other = other;
            }
            return;
        }
        case SoakAction::Money:
            made->value = static_cast<std::int32_t>(random.between(0, 2000000)) - 1000000;
            return;
        case SoakAction::Skin:
            made->value = static_cast<std::int32_t>(random.between(1, 120));
            return;
        default:
            return;
    }
}

void planPlayer(int player, const SoakSettings& settings, Random& random, const QuietWindows& quiet,
                SoakPlan* plan) {
    constexpr Cadence kCadences[] = {
        {SoakAction::Chat, SoakRules::kChatGapMinMs, SoakRules::kChatGapMaxMs},
        {SoakAction::Death, SoakRules::kDeathGapMinMs, SoakRules::kDeathGapMaxMs},
        {SoakAction::Money, SoakRules::kMoneyGapMinMs, SoakRules::kMoneyGapMaxMs},
        {SoakAction::Skin, SoakRules::kSkinGapMinMs, SoakRules::kSkinGapMaxMs},
    };
    int chatLines = 0;
    for (const Cadence& cadence : kCadences) {
        // The first of each kind somewhere in its first gap, so players do not act in step.
        for (std::uint64_t at = random.between(500, cadence.gapMax);
             at + SoakRules::kEndMarginMs <= settings.durationMs;
             at += random.between(cadence.gapMin, cadence.gapMax)) {
            SoakEvent made = event(at, cadence.action, player);
            fillEvent(&made, settings, random, quiet, &chatLines);
            if (!isQuiet(quiet, player, at)) plan->events.push_back(std::move(made));
        }
    }
}

}  // namespace

std::string soakNick(int index) { return "soak" + std::to_string(index); }

std::string soakBanAddress(int n) {
    return "10.77." + std::to_string(1 + n / 250) + "." + std::to_string(1 + n % 250);
}

SoakPlan buildSoakPlan(const SoakSettings& settings) {
    SoakPlan plan;
    plan.initialBans = {"10.66.1.1", "198.51.100.7"};
    Random random(settings.seed);
    QuietWindows quiet(static_cast<std::size_t>(settings.players));
    planRejoins(settings, random, &plan, &quiet);
    planAdmin(settings, &plan);
    for (int player = 0; player < settings.players; ++player) {
        planPlayer(player, settings, random, quiet, &plan);
    }
    std::stable_sort(plan.events.begin(), plan.events.end(),
                     [](const SoakEvent& a, const SoakEvent& b) { return a.atMs < b.atMs; });
    return plan;
}

SoakLedger::SoakLedger(int players, std::vector<std::string> bans) : m_bans(std::move(bans)) {
    m_players.resize(static_cast<std::size_t>(players));
    for (int i = 0; i < players; ++i) m_players[static_cast<std::size_t>(i)].nick = soakNick(i);
}

void SoakLedger::apply(const SoakEvent& event) {
    auto at = [this](int index) -> ExpectedPlayer& {
        return m_players[static_cast<std::size_t>(index)];
    };
    switch (event.action) {
        case SoakAction::Death:
            // The server keeps scores in 16 bits; so does the ledger, wrapping alike.
            if (event.other == event.player) {
                at(event.player).score = static_cast<std::int16_t>(at(event.player).score - 1);
            } else if (event.other != kNoKiller) {
                at(event.other).score = static_cast<std::int16_t>(at(event.other).score + 1);
            }
            return;
        case SoakAction::Money:
            at(event.player).money = event.value;
            return;
        case SoakAction::Skin:
            at(event.player).skin = event.value;
            return;
        case SoakAction::Quit:
            // A player who comes back is a new record: no score, money or skin.
            at(event.player) = ExpectedPlayer{at(event.player).nick};
            return;
        case SoakAction::Ban:
            m_bans.push_back(event.text);
            return;
        case SoakAction::Unban: {
            auto found = std::find(m_bans.begin(), m_bans.end(), event.text);
            if (found != m_bans.end()) m_bans.erase(found);
            return;
        }
        default:
            return;
    }
}

}  // namespace zevload
