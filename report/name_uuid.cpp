#include "name_uuid.h"

#include <cstdio>

namespace report {

namespace {

// The namespace of runs imported from text logs (a random version-4 uuid,
// fixed for good: changing it would import every log again).
constexpr std::array<std::uint8_t, 16> kImportNamespace = {
    0x6b, 0x1d, 0x3f, 0x0e, 0x94, 0x52, 0x4c, 0x8a, 0xb7, 0x25, 0x0d, 0x61, 0xe3, 0x9a, 0x47, 0xc2};

std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

std::array<std::uint8_t, 20> Sha1(std::string_view data) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message(data);
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    message += static_cast<char>(0x80);
    while (message.size() % 64 != 56) message += '\0';
    for (int i = 7; i >= 0; --i) message += static_cast<char>((bits >> (8 * i)) & 0xFF);

    for (std::size_t block = 0; block < message.size(); block += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(message.data() + block + 4 * i);
            w[i] = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                   std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
        }
        for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t t = Rotate(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = Rotate(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string ImportedRunUuid(std::string_view name) {
    std::string input(kImportNamespace.begin(), kImportNamespace.end());
    input.append(name);
    std::array<std::uint8_t, 20> hash = Sha1(input);
    hash[6] = static_cast<std::uint8_t>((hash[6] & 0x0F) | 0x50);  // version 5
    hash[8] = static_cast<std::uint8_t>((hash[8] & 0x3F) | 0x80);  // variant 1
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", hash[0],
                  hash[1], hash[2], hash[3], hash[4], hash[5], hash[6], hash[7], hash[8], hash[9],
                  hash[10], hash[11], hash[12], hash[13], hash[14], hash[15]);
    return text;
}

}  // namespace report
