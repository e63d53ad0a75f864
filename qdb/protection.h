#pragma once
// Password protection of a database file: SHA-1 key and check value, and the
// chunked XOR cipher applied to the data and index sections.
#include <cstdint>
#include <string>

namespace qdb {

// Transfer chunk size for a section: min(max(length, 1024), 524288).
int32_t ChunkSize(int64_t sectionLength);

struct PasswordKey {
    std::string key;   // SHA-1 of the password (20 bytes)
    std::string check; // SHA-1 of the key (20 bytes): stored in the file
    uint32_t seed = 0; // XOR of the key's five little-endian words
};
PasswordKey DerivePasswordKey(const std::string& password);

// Enciphers or deciphers one chunk in place (the operation is its own inverse);
// the state starts from the seed at every chunk.
void CipherChunk(char* data, size_t length, uint32_t seed);

} // namespace qdb
