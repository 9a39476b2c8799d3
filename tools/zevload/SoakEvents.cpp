#include <cstddef>
#include <string>

#include "SoakRun.h"
#include "SoakWire.h"

namespace zevload {

namespace {

constexpr std::uint64_t kNanosPerMs = 1000000;

}  // namespace

void SoakRun::runDueEvents(std::uint64_t now) {
    const std::vector<SoakEvent>& events = m_plan.events;
    while (m_nextEvent < events.size() &&
           m_playStart + events[m_nextEvent].atMs * kNanosPerMs <= now) {
        runEvent(events[m_nextEvent++]);
    }
}

void SoakRun::runEvent(const SoakEvent& event) {
    if (event.player < 0) {
        sendAdminEvent(event);
        m_ledger.apply(event);
        return;
    }
    // The ledger follows what was sent: an event that could not be sent changes nothing.
    if (sendPlayerEvent(m_players[static_cast<std::size_t>(event.player)], event)) {
        m_ledger.apply(event);
    }
}

bool SoakRun::sendPlayerEvent(Player& player, const SoakEvent& event) {
    if (event.action == SoakAction::Join) return sendRejoin(player);
    if (!player.joined) {
        m_seen.scriptProblems.push_back("an event for " + player.nick + " while it was out");
        return false;
    }
    unsigned char packet[160];
    int length = 0;
    switch (event.action) {
        case SoakAction::Quit:
            return sendQuit(player);
        case SoakAction::Death:
            return sendDeath(player, event);
        case SoakAction::Chat:
            length = buildChat(packet, sizeof(packet), event.text);
            ++m_counts.chatSent;
            break;
        case SoakAction::Money:
            length = buildMoney(packet, sizeof(packet), event.value);
            ++m_counts.money;
            break;
        case SoakAction::Skin:
            length = buildSkin(packet, sizeof(packet), event.value);
            ++m_counts.skins;
            break;
        default:
            return false;
    }
    sendSealed(player, packet, length);
    return true;
}

bool SoakRun::sendRejoin(Player& player) {
    if (player.joined || player.joining) {
        m_seen.scriptProblems.push_back(player.nick + " was still in at its rejoin");
        return false;
    }
    sendJoinRequest(player);
    ++m_counts.rejoins;
    return true;
}

bool SoakRun::sendQuit(Player& player) {
    const unsigned char quit[1] = {2};
    sendSealed(player, quit, sizeof(quit));
    player.joined = false;
    m_pendingQuits.insert(player.id);
    ++m_seen.scriptQuits;
    return true;
}

bool SoakRun::sendDeath(Player& player, const SoakEvent& event) {
    int killer = kNoKillerId;
    if (event.other == event.player) killer = player.id;
    if (event.other >= 0 && event.other != event.player) {
        const Player& other = m_players[static_cast<std::size_t>(event.other)];
        if (!other.joined) {
            m_seen.scriptProblems.push_back("a kill by " + other.nick + " while it was out");
            return false;
        }
        killer = other.id;
    }
    unsigned char packet[16];
    sendSealed(player, packet, buildDeath(packet, sizeof(packet), killer, event.value));
    sendSealed(player, packet, buildDeathPosition(packet, sizeof(packet), player.x, player.y));
    ++m_counts.deaths;
    return true;
}

void SoakRun::sendAdminEvent(const SoakEvent& event) {
    bool ban = event.action == SoakAction::Ban;
    int code = ban ? 28 : 16;
    unsigned char packet[64];
    sendPlain(m_admin.fd, packet, buildAdminText(packet, sizeof(packet), code, event.text));
    m_pendingAdminReplies.push_back(code);
    ++(ban ? m_counts.bans : m_counts.unbans);
}

}  // namespace zevload
