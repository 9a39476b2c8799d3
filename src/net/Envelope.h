// The envelope round every game datagram: [length (2 bytes, little-endian), datagram, zero
// padding to a multiple of 16 with at least one byte], encrypted block by block (AES in ECB).
#pragma once

#include "net/CRijndael.h"

// Bytes the envelope adds at most: the length field and a whole block of padding.
constexpr int kEnvelopeOverhead = 18;
// The most bytes read from one datagram; a longer one is cut.
constexpr int kMaxDatagramSize = 1024;
// The longest inner datagram the server sends: a state report of 1024 bytes plus the sender id.
constexpr int kMaxInnerSize = 1025;

// The size of the sealed envelope for an inner datagram of `length` bytes.
constexpr int envelopeSize(int length) { return (length + 2) - (length + 2) % 16 + 16; }

// Wraps `length` bytes of `data` and encrypts them into `out`, which may be `data` itself.
// Returns the envelope size, or 0 when `length` is not 1 to 65535 or `out` has less than
// envelopeSize(length) bytes of `capacity`.
int sealEnvelope(const CRijndael& cipher, const unsigned char* data, int length, unsigned char* out,
                 int capacity);

// Decrypts the `received` bytes of `data` in place and moves the inner datagram to its start.
// Returns its length, or 0 when there is none to use: a size that is not a positive multiple of
// 16 within kMaxDatagramSize, an unkeyed cipher, a length field of 0, above kMaxDatagramSize, or
// claiming more bytes than arrived. On 0 the contents of `data` are unspecified.
int openEnvelope(const CRijndael& cipher, unsigned char* data, int received);
