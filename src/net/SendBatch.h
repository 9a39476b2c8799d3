// Datagrams sealed for many receivers, sent together: one fan-out costs one system call instead
// of one per receiver.
#pragma once

#include "net/CRijndael.h"
#include "net/Envelope.h"
#include "net/ServerInterface.h"

class SendBatch {
public:
    static constexpr int kCapacity = 64;

    explicit SendBatch(ServerInterface& endpoint) : m_endpoint(endpoint) {}

    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    // Seals `length` bytes under `cipher` for `to` and queues them; a full batch is sent first.
    // Nothing is queued when the datagram is too long for an envelope.
    void addSealed(const CRijndael& cipher, const sockaddr_in& to, const unsigned char* data,
                   int length);
    // Sends what is queued, in order, through the endpoint's send limit.
    void flush();

private:
    static constexpr int kSlotSize = kMaxInnerSize + kEnvelopeOverhead;

    ServerInterface& m_endpoint;
    int m_count = 0;
    OutgoingDatagram m_datagrams[kCapacity];
    unsigned char m_storage[kCapacity][kSlotSize];
};
