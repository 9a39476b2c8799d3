// The listing's status reply, built without sockets: the same steps as the responder's answer to
// "s" (header, ASEQuery_wantstatus, ASEQuery_wantrules, the end-of-rules byte,
// ASEQuery_wantplayers) over a fuzzed player table and settings, then extra ASEQuery_addplayer
// calls with long or missing fields to reach the reply's limit, then the fragment splitter. The
// reply is decoded again and must hold exactly what was appended, in whole groups; the fragments
// must carry the reply exactly.
//
// Input: a flags byte (bit 0 listen mode, bit 1 ServerPasswordEnabled, bits 2-4 GameMap 0-7),
// the game port (16 bits), the fragment id (32 bits), ServerName and MaxPlayers texts (each a
// length byte and the bytes), a player count byte, per player a nick (length byte, bytes), the
// score (16 bits), the two ping stamps (16 bits each) and a byte whose bit 0 marks the record not
// connected; then extra entries to the end: a presence byte (bits 0-5 for the six fields) and
// per present field a 16-bit length and text (at most 300 bytes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/PlayerList.h"
#include "listing/ASEFormat.h"
#include "listing/ASEQuery.h"
#include "listing/ASEState.h"

namespace {

constexpr std::size_t kReplyLimit = 6144;
constexpr std::size_t kMaxPlayers = 40;

struct Entry {
    bool present[6] = {};
    std::string fields[6];
};

// Text as a string field carries it: up to its first NUL, at most 254 bytes.
std::string asField(const std::string& text) {
    std::string cut = text.substr(0, text.find('\0'));
    return cut.substr(0, 254);
}

class Decoder {
public:
    Decoder(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

    bool done() const { return m_position == m_size; }
    std::size_t position() const { return m_position; }

    std::uint8_t byte() {
        FUZZ_CHECK(m_position < m_size);
        return m_data[m_position++];
    }
    std::string field() {
        std::uint8_t length = byte();
        FUZZ_CHECK(length >= 1 && length <= 255);
        FUZZ_CHECK(m_position + length - 1 <= m_size);
        std::string text(reinterpret_cast<const char*>(m_data + m_position), length - 1u);
        m_position += length - 1u;
        return text;
    }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

void setValue(const char* key, const std::string& value) {
    Conf* conf = Conf::getInstance();
    conf->addConfEntry(key, "x");
    FUZZ_CHECK(conf->setConfEntryValue(key, value.c_str(), 0));
}

void checkFragments(const unsigned char* reply, std::size_t length, std::uint32_t id) {
    std::vector<std::vector<std::uint8_t>> fragments = aseFragments(reply, length, id);
    if (length <= kAseMaxUnfragmented) {
        FUZZ_CHECK(fragments.size() == 1);
        FUZZ_CHECK(fragments[0] == std::vector<std::uint8_t>(reply, reply + length));
        return;
    }
    const std::uint8_t idBytes[4] = {
        static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
        static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 24)};
    std::vector<std::uint8_t> joined(reply, reply + 4);
    std::size_t expected = (length - 4 + kAseFragmentPayload - 1) / kAseFragmentPayload;
    if ((length - 4) % kAseFragmentPayload == 0) ++expected;  // the extra, empty one
    FUZZ_CHECK(fragments.size() == expected);
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        const std::vector<std::uint8_t>& fragment = fragments[i];
        FUZZ_CHECK(fragment.size() >= 9 && fragment.size() <= 4 + kAseFragmentPayload + 4);
        FUZZ_CHECK(std::memcmp(fragment.data(), "EYE", 3) == 0);
        FUZZ_CHECK(fragment[3] == static_cast<std::uint8_t>('1' + i));
        FUZZ_CHECK(std::memcmp(fragment.data() + fragment.size() - 4, idBytes, 4) == 0);
        if (joined.size() == length) {
            // The extra fragment after an exactly full last one.
            FUZZ_CHECK(fragment.size() == 9 && fragment[4] == 0);
            continue;
        }
        joined.insert(joined.end(), fragment.begin() + 4, fragment.end() - 4);
    }
    FUZZ_CHECK(joined == std::vector<std::uint8_t>(reply, reply + length));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    PlayerList& players = *PlayerList::getInstance();
    players.removeAllPlayers();

    std::uint8_t flags = input.u8();
    Log::getInstance()->setListenMode((flags & 1) != 0);
    Conf* conf = Conf::getInstance();
    conf->addConfEntry("ServerPasswordEnabled", (flags & 2) != 0 ? "1" : "0");
    conf->addConfEntry("GameMap", std::to_string((flags >> 2) & 7));
    int gamePort = input.u16();
    std::uint32_t fragmentId = input.u32();
    std::string serverName = input.text(input.u8());
    setValue("ServerName", serverName);
    setValue("MaxPlayers", input.text(input.u8()));

    std::vector<Entry> expected;
    std::size_t count = input.u8() % (kMaxPlayers + 1);
    for (std::size_t i = 0; i < count; ++i) {
        std::string nick = input.text(input.u8() % 24);
        sockaddr_in from = fuzz::address(10, 1, 0, static_cast<std::uint8_t>(i), 5000);
        int id = players.addPlayer(&from, nick.c_str(), 0);
        FUZZ_CHECK(id >= 0);
        auto score = static_cast<short>(input.u16());
        players.setPlayerScore(id, score);
        std::uint16_t newStamp = input.u16();
        std::uint16_t oldStamp = input.u16();
        players.storeNewPingStamp(id, newStamp);
        players.storeOldPingStamp(id, oldStamp);
        Player& record = players.getPlayerMap()[id];
        record.connected = (input.u8() & 1) == 0;
        if (!record.connected) continue;
        Entry entry;
        for (bool& present : entry.present) present = true;
        entry.fields[0] = asField(nick.substr(0, 13));
        entry.fields[3] = std::to_string(score);
        entry.fields[4] = std::to_string(static_cast<std::uint16_t>(newStamp - oldStamp));
        expected.push_back(entry);
    }
    std::size_t tablePlayers = expected.size();

    // The responder's steps for "s", on the module's own buffer.
    AseState& state = aseState();
    std::size_t position = 4;
    std::memcpy(state.packet, "EYE1", 4);
    aseAppendString(state.packet, &position, sizeof(state.packet), state.gameName);
    aseAppendNumber(state.packet, &position, sizeof(state.packet), gamePort);
    state.position = position;
    state.limit = kReplyLimit;
    ASEQuery_wantstatus();
    ASEQuery_wantrules();
    if (state.position + 1 <= state.limit) state.packet[state.position++] = 0x01;
    ASEQuery_wantplayers();

    std::vector<std::size_t> starts;  // where each extra entry's append began
    while (!input.empty()) {
        Entry entry;
        std::uint8_t presence = input.u8();
        std::string raw[6];
        const char* arguments[6] = {};
        for (int f = 0; f < 6; ++f) {
            entry.present[f] = (presence >> f & 1) != 0;
            if (!entry.present[f]) continue;
            std::vector<std::uint8_t> bytes = input.record(300);
            raw[f] = std::string(bytes.begin(), bytes.end());
            arguments[f] = raw[f].c_str();
            entry.fields[f] = asField(raw[f]);
        }
        starts.push_back(state.position);
        ASEQuery_addplayer(arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                           arguments[5]);
        expected.push_back(entry);
    }
    const std::size_t length = state.position;
    FUZZ_CHECK(length <= sizeof(state.packet));

    Decoder reply(state.packet, length);
    for (char c : std::string("EYE1")) FUZZ_CHECK(reply.byte() == static_cast<std::uint8_t>(c));
    FUZZ_CHECK(reply.field() == "zev");
    FUZZ_CHECK(reply.field() == std::to_string(gamePort));
    FUZZ_CHECK(reply.field() == asField(serverName));
    for (int i = 0; i < 6; ++i) reply.field();  // game type, map, version, three numbers
    FUZZ_CHECK(reply.field() == "Patch1Installed");
    FUZZ_CHECK(reply.field() == "yes");
    FUZZ_CHECK(reply.field() == "ListenServer");
    FUZZ_CHECK(reply.field() == ((flags & 1) != 0 ? "yes" : "no"));
    FUZZ_CHECK(reply.byte() == 0x01);
    FUZZ_CHECK(reply.position() <= kReplyLimit);
    // Table players all fit: 41 entries of at most 48 bytes each.
    std::size_t entries = 0;
    for (const Entry& entry : expected) {
        if (reply.done()) break;
        if (entries >= tablePlayers) {
            // An extra entry is appended only when it starts within the limit.
            FUZZ_CHECK(starts[entries - tablePlayers] + 1 <= kReplyLimit);
        }
        std::uint8_t presence = reply.byte();
        for (int f = 0; f < 6; ++f) {
            FUZZ_CHECK((presence >> f & 1) == (entry.present[f] ? 1 : 0));
            if (entry.present[f]) FUZZ_CHECK(reply.field() == entry.fields[f]);
        }
        ++entries;
    }
    FUZZ_CHECK(reply.done());
    FUZZ_CHECK(entries >= tablePlayers);
    for (std::size_t i = entries; i < expected.size(); ++i) {
        FUZZ_CHECK(starts[i - tablePlayers] + 1 > kReplyLimit);
    }

    checkFragments(state.packet, length, fragmentId);
    return 0;
}
