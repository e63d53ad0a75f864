#include "qdb/protection.h"

#include <QCryptographicHash>
#include <algorithm>

namespace qdb {

int32_t ChunkSize(int64_t sectionLength)
{
    return int32_t(std::min<int64_t>(std::max<int64_t>(sectionLength, 1024), 524288));
}

namespace {
std::string Sha1(const std::string& bytes)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArray(bytes.data(), qsizetype(bytes.size())),
                                                       QCryptographicHash::Sha1);
    return std::string(digest.constData(), size_t(digest.size()));
}

uint32_t Word(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t Advance(uint32_t state)
{
    return state * 1664525u + 1013904223u;
}
} // namespace

PasswordKey DerivePasswordKey(const std::string& password)
{
    PasswordKey result;
    result.key = Sha1(password);
    result.check = Sha1(result.key);
    for (int i = 0; i < 5; ++i)
        result.seed ^= Word(result.key.data() + 4 * i);
    return result;
}

void CipherChunk(char* data, size_t length, uint32_t seed)
{
    uint32_t state = seed;
    const size_t words = length / 4;
    for (size_t i = 0; i < words; ++i) {
        state = Advance(state);
        const uint32_t w = Word(data + 4 * i) ^ state;
        for (int k = 0; k < 4; ++k)
            data[4 * i + size_t(k)] = char((w >> (8 * k)) & 0xFF);
    }
    for (size_t i = words * 4; i < length; ++i) {
        state = Advance(state);
        data[i] = char(uint8_t(data[i]) ^ uint8_t(state & 0xFF));
    }
}

} // namespace qdb
