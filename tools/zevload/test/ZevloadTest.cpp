#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "LatencyHistogram.h"
#include "LoadProtocol.h"

using namespace zevload;

namespace {

std::uint32_t readU32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

TEST(ZevloadProtocol, PingReplyPassesTheServersCheck) {
    struct Case {
        int id;
        int nickLength;
    };
    // Id 0 and a long nick push v above the check value; id 31 with "p9" pulls it below.
    const Case cases[] = {{0, 2}, {31, 2}, {31, 3}, {0, 12}, {255, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << ", nick length " << c.nickLength);
        unsigned char reply[kPingReplySize];
        ASSERT_EQ(buildPingReply(reply, c.id, c.nickLength), kPingReplySize);
        EXPECT_EQ(reply[0], 5);
        std::uint32_t v = readU32(reply + 2);
        std::uint32_t check = v + static_cast<std::uint32_t>(c.id) -
                              static_cast<std::uint32_t>(c.nickLength) + reply[1];
        EXPECT_EQ(check, kCheckValue);
    }
}

TEST(ZevloadProtocol, StateReportIsAnOnFootGta3RecordAndSurvivesBothRelays) {
    unsigned char report[kStateReportSize];
    std::uint64_t sent = 0x0123456789ABCDEFULL;
    ASSERT_EQ(buildStateReport(report, 7, 42, sent, 10.0f, 20.0f), kStateReportSize);
    // Command 10, selector 0 (on foot: full relay), heading, tag 1 with the position, then the
    // 4-byte tags 7 to 10.
    EXPECT_EQ(report[0], 10);
    EXPECT_EQ(report[1], 0);
    EXPECT_EQ(report[6], 1);
    float x = 0.0f;
    std::memcpy(&x, report + 7, sizeof(x));
    EXPECT_EQ(x, 10.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(report[19 + 5 * i], 7 + i);
    EXPECT_EQ(readU32(report + 20), 7u);

    // The floor forwards the report as it is; the server puts the sender id after the code.
    unsigned char relayed[kStateReportSize + 1] = {10, 3};
    std::memcpy(relayed + 2, report + 1, kStateReportSize - 1);
    struct Case {
        const unsigned char* data;
        int length;
        int offset;
    };
    const Case cases[] = {{report, kStateReportSize, 1}, {relayed, kStateReportSize + 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        RecordStamp stamp;
        ASSERT_TRUE(parseRelayedRecord(c.data, c.length, c.offset, &stamp));
        EXPECT_EQ(stamp.playerIndex, 7u);
        EXPECT_EQ(stamp.sequence, 42u);
        EXPECT_EQ(stamp.sendNanos, sent);
        EXPECT_FALSE(parseRelayedRecord(c.data, c.length - 1, c.offset, &stamp));
    }
}

TEST(ZevloadProtocol, ForeignStateRecordsAreNotCounted) {
    unsigned char report[kStateReportSize];
    buildStateReport(report, 1, 1, 1, 0.0f, 0.0f);
    RecordStamp stamp;
    unsigned char inVehicle[kStateReportSize];
    std::memcpy(inVehicle, report, sizeof(report));
    inVehicle[1] = 5;
    EXPECT_FALSE(parseRelayedRecord(inVehicle, kStateReportSize, 1, &stamp));
    unsigned char otherTag[kStateReportSize];
    std::memcpy(otherTag, report, sizeof(report));
    otherTag[24] = 2;
    EXPECT_FALSE(parseRelayedRecord(otherTag, kStateReportSize, 1, &stamp));
    unsigned char ping[1] = {4};
    EXPECT_FALSE(parseRelayedRecord(ping, 1, 1, &stamp));
}

TEST(ZevloadProtocol, JoinRequestAndReply) {
    unsigned char request[32];
    int length = buildJoinRequest(request, sizeof(request), "p12");
    const unsigned char expected[] = {1, '2', 0, 0xE9, 0xC3, 0x17, 0x5A, 'p', '1', '2', '|', 0};
    ASSERT_EQ(length, static_cast<int>(sizeof(expected)));
    EXPECT_EQ(std::memcmp(request, expected, sizeof(expected)), 0);
    EXPECT_EQ(buildJoinRequest(request, 8, "p12"), 0);

    unsigned char reply[342] = {1, 1, 3, 0, 9};
    for (int i = 0; i < 16; ++i) reply[21 + i] = static_cast<unsigned char>(0xA0 + i);
    JoinReply parsed;
    ASSERT_TRUE(parseJoinReply(reply, sizeof(reply), &parsed));
    EXPECT_EQ(parsed.id, 9);
    EXPECT_EQ(parsed.key[0], 0xA0);
    EXPECT_EQ(parsed.key[15], 0xAF);
    EXPECT_FALSE(parseJoinReply(reply, 36, &parsed));
    const unsigned char refusal[2] = {6, 7};
    EXPECT_FALSE(parseJoinReply(refusal, 2, &parsed));
}

TEST(ZevloadHistogram, PercentilesWithinABucketOfTheTruth) {
    LatencyHistogram histogram;
    EXPECT_EQ(histogram.percentileNanos(0.5), 0u);
    // 1..100000 ns once each: the p-th percentile is p * 100000.
    for (std::uint64_t value = 1; value <= 100000; ++value) histogram.record(value);
    EXPECT_EQ(histogram.count(), 100000u);
    EXPECT_EQ(histogram.maxNanos(), 100000u);
    for (double fraction : {0.001, 0.5, 0.99, 1.0}) {
        SCOPED_TRACE(fraction);
        double truth = fraction * 100000.0;
        double got = static_cast<double>(histogram.percentileNanos(fraction));
        EXPECT_NEAR(got, truth, truth / 128.0 + 1.0);
    }
    histogram.clear();
    for (int i = 0; i < 99; ++i) histogram.record(200);
    histogram.record(5000000000ULL);
    EXPECT_EQ(histogram.percentileNanos(0.5), 200u);
    EXPECT_EQ(histogram.percentileNanos(0.99), 200u);
    EXPECT_EQ(histogram.maxNanos(), 5000000000ULL);
}
