#include "net/SendBatch.h"

void SendBatch::addSealed(const CRijndael& cipher, const sockaddr_in& to, const unsigned char* data,
                          int length) {
    if (m_count == kCapacity) flush();
    unsigned char* slot = m_storage[m_count];
    int size = sealEnvelope(cipher, data, length, slot, kSlotSize);
    if (size <= 0) return;
    m_datagrams[m_count++] = OutgoingDatagram{to, slot, size};
}

void SendBatch::flush() {
    if (m_count == 0) return;
    m_endpoint.sendBatch(m_datagrams, m_count);
    m_count = 0;
}
