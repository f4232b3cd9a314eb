// Name-based UUIDs of the computer name.
#include "common/win32.h"

#include "printer/uuid.h"

#include <cstdint>

namespace {

// The printer's UUID namespace: a constant of ours, so that no other name-based UUID of the
// same computer name collides with the printer's.
const unsigned char kPrinterNamespace[16] = {0x6f, 0x1d, 0x3b, 0x52, 0x0c, 0x8e, 0x4a, 0x57,
                                             0x9e, 0x2b, 0x7d, 0x4c, 0x1a, 0x9f, 0x3e, 0x60};

// A 32-bit rotation to the left.
uint32_t Rotate(uint32_t value, int bits) {
    return value << bits | value >> (32 - bits);
}

// The SHA-1 digest (FIPS 180-4) of bytes into digest.
void Sha1(const std::string &bytes, unsigned char digest[20]) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message = bytes + '\x80';
    while (message.size() % 64 != 56)
        message += '\0';
    uint64_t bits = (uint64_t)bytes.size() * 8;
    for (int shift = 56; shift >= 0; shift -= 8)
        message += (char)(bits >> shift & 0xFF);
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        const unsigned char *p = (const unsigned char *)message.data() + block;
        for (int t = 0; t < 16; ++t)
            w[t] = (uint32_t)p[4 * t] << 24 | (uint32_t)p[4 * t + 1] << 16 |
                   (uint32_t)p[4 * t + 2] << 8 | p[4 * t + 3];
        for (int t = 16; t < 80; ++t)
            w[t] = Rotate(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f = t < 20   ? (b & c) | (~b & d)
                         : t < 40 ? b ^ c ^ d
                         : t < 60 ? (b & c) | (b & d) | (c & d)
                                  : b ^ c ^ d;
            uint32_t k = t < 20   ? 0x5A827999
                         : t < 40 ? 0x6ED9EBA1
                         : t < 60 ? 0x8F1BBCDC
                                  : 0xCA62C1D6;
            uint32_t next = Rotate(a, 5) + f + e + k + w[t];
            e = d, d = c, c = Rotate(b, 30), b = a, a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    for (int i = 0; i < 20; ++i)
        digest[i] = (unsigned char)(h[i / 4] >> (24 - 8 * (i % 4)));
}

} // namespace

std::string Uuid5(const unsigned char *space, const std::string &name) {
    unsigned char digest[20];
    Sha1(std::string((const char *)space, 16) + name, digest);
    digest[6] = (unsigned char)((digest[6] & 0x0F) | 0x50); // version 5
    digest[8] = (unsigned char)((digest[8] & 0x3F) | 0x80); // the RFC 4122 variant
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string NameBasedUuid(const std::string &name) {
    return "urn:uuid:" + Uuid5(kPrinterNamespace, name);
}

std::string MachinePrinterUuid() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size))
        name[0] = '\0';
    return NameBasedUuid(name);
}
