#include "SoakWire.h"

#include "net/ByteReader.h"
#include "net/ByteWriter.h"

namespace zevload {

namespace {

constexpr std::size_t kAdminEntriesOffset = 326;
constexpr std::uint8_t kEntryEnd = 7;
constexpr int kStatusFields = 9;
constexpr int kPlayerFields = 6;

int finish(const ByteWriter& writer) { return writer.ok() ? static_cast<int>(writer.size()) : 0; }

ByteWriter writerFor(unsigned char* out, int capacity) {
    return ByteWriter(out, capacity > 0 ? static_cast<std::size_t>(capacity) : 0);
}

// A listing string field: a length byte that counts itself, then the text.
bool readField(ByteReader& reader, std::string* text) {
    std::uint8_t length = reader.u8();
    if (!reader.ok() || length == 0 || length - 1u > reader.remaining()) return false;
    text->assign(reinterpret_cast<const char*>(reader.current()), length - 1u);
    reader.skip(length - 1u);
    return true;
}

std::vector<std::string> split(const char* text, std::size_t length, char end) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != end) continue;
        parts.emplace_back(text + start, i - start);
        start = i + 1;
    }
    if (start < length) parts.emplace_back(text + start, length - start);
    return parts;
}

}  // namespace

int buildChat(unsigned char* out, int capacity, const std::string& text) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(3);
    writer.u8(0);
    writer.bytes(text.data(), text.size());
    writer.u8(0);
    return finish(writer);
}

int buildDeath(unsigned char* out, int capacity, int killerId, int weapon) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(11);
    writer.u8(static_cast<std::uint8_t>(killerId));
    writer.u8(static_cast<std::uint8_t>(weapon));
    return finish(writer);
}

int buildDeathPosition(unsigned char* out, int capacity, float x, float y) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(37);
    writer.f32(x);
    writer.f32(y);
    writer.f32(0.0f);
    return finish(writer);
}

int buildMoney(unsigned char* out, int capacity, std::int32_t money) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(36);
    writer.i32(money);
    return finish(writer);
}

int buildSkin(unsigned char* out, int capacity, int skin) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(23);
    writer.u8(static_cast<std::uint8_t>(skin));
    return finish(writer);
}

int buildSkinQuery(unsigned char* out, int capacity, int id) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(24);
    writer.u8(static_cast<std::uint8_t>(id));
    return finish(writer);
}

int buildAdminLogin(unsigned char* out, int capacity, int level, const std::string& nick,
                    const std::string& password) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(13);
    writer.u8('0');
    writer.u8(static_cast<std::uint8_t>(level));
    writer.bytes(nick.data(), nick.size());
    writer.u8('|');
    writer.bytes(password.data(), password.size());
    writer.u8(0);
    return finish(writer);
}

int buildAdminText(unsigned char* out, int capacity, int code, const std::string& text) {
    ByteWriter writer = writerFor(out, capacity);
    writer.u8(static_cast<std::uint8_t>(code));
    writer.bytes(text.data(), text.size());
    writer.u8(0);
    return finish(writer);
}

bool parseAdminJoinReply(const unsigned char* data, int length,
                         std::vector<ListedPlayer>* players) {
    ByteReader reader(data, length > 0 ? static_cast<std::size_t>(length) : 0);
    std::uint8_t code = reader.u8();
    std::uint8_t clientType = reader.u8();
    reader.skip(kAdminEntriesOffset - 2);
    if (!reader.ok() || code != 1) return false;
    players->clear();
    while (reader.remaining() > 0) {
        ListedPlayer player;
        player.id = reader.u8();
        player.score = reader.i16();
        if (clientType == 1) player.money = reader.i32();
        while (reader.ok() && reader.remaining() > 0 && *reader.current() != kEntryEnd) {
            player.nick.push_back(static_cast<char>(reader.u8()));
        }
        if (reader.u8() != kEntryEnd || !reader.ok()) return false;
        players->push_back(std::move(player));
    }
    return true;
}

bool parseStatusReply(const unsigned char* data, int length, StatusReply* reply) {
    ByteReader reader(data, length > 0 ? static_cast<std::size_t>(length) : 0);
    unsigned char header[4] = {};
    reader.bytes(header, sizeof(header));
    if (!reader.ok() || header[0] != 'E' || header[1] != 'Y' || header[2] != 'E' ||
        header[3] != '1') {
        return false;
    }
    std::string fields[kStatusFields];
    for (std::string& field : fields) {
        if (!readField(reader, &field)) return false;
    }
    reply->players = fields[7];
    // Rules are key and value pairs; an empty key ends them.
    for (std::string key, value;;) {
        if (!readField(reader, &key)) return false;
        if (key.empty()) break;
        if (!readField(reader, &value)) return false;
    }
    reply->list.clear();
    while (reader.remaining() > 0) {
        std::uint8_t flags = reader.u8();
        std::string present[kPlayerFields];
        for (int bit = 0; bit < kPlayerFields; ++bit) {
            if ((flags & (1u << bit)) != 0 && !readField(reader, &present[bit])) return false;
        }
        reply->list.push_back({present[0], present[3], present[4]});
    }
    return true;
}

std::vector<std::string> splitBanList(const unsigned char* text, int length) {
    return split(reinterpret_cast<const char*>(text),
                 length > 0 ? static_cast<std::size_t>(length) : 0, '|');
}

std::vector<std::string> splitBanFile(const std::string& content) {
    return split(content.data(), content.size(), '\n');
}

}  // namespace zevload
