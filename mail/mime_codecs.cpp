#include "mail/mime_codecs.h"

#include <array>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#define PELLIMAR_BASE64_SSSE3 1
#endif

namespace {

constexpr uint8_t kPad = 64;
constexpr uint8_t kInvalid = 255;

constexpr std::array<uint8_t, 256> MakeBase64Table()
{
    std::array<uint8_t, 256> table{};
    for (auto& value : table)
        value = kInvalid;
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = uint8_t(i);
        table['a' + i] = uint8_t(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        table['0' + i] = uint8_t(52 + i);
    table['+'] = 62;
    table['/'] = 63;
    table['='] = kPad;
    return table;
}

constexpr std::array<uint8_t, 256> kBase64 = MakeBase64Table();

// The six bits of each character already shifted to their place in a group
// of four, so that a group is four lookups ORed together. Pad and invalid
// characters set the top byte, which no valid group has.
constexpr uint32_t kNotData = 0xff000000u;

constexpr std::array<uint32_t, 256> MakeShiftedTable(int shift)
{
    std::array<uint32_t, 256> table{};
    for (int ch = 0; ch < 256; ++ch)
        table[ch] = kBase64[ch] < kPad ? uint32_t(kBase64[ch]) << shift : kNotData;
    return table;
}

constexpr std::array<uint32_t, 256> kShifted18 = MakeShiftedTable(18);
constexpr std::array<uint32_t, 256> kShifted12 = MakeShiftedTable(12);
constexpr std::array<uint32_t, 256> kShifted6 = MakeShiftedTable(6);
constexpr std::array<uint32_t, 256> kShifted0 = MakeShiftedTable(0);

// Decodes whole groups of four alphabet characters from line[in] on, three
// bytes each, writing at line[out]; stops before the first group that holds
// a pad, a space, a NUL or any other character outside the alphabet, which
// the general path then decodes. Output never overtakes the input still to
// be read, so decoding in place is safe.
void DecodePlainGroups(char* line, int length, int& in, int& out)
{
    // Local copies: stores through char* could alias the references, which
    // would make the compiler reload them on every group.
    const auto* text = reinterpret_cast<const uint8_t*>(line);
    int from = in;
    int to = out;
    while (length - from >= 4) {
        const uint32_t bits = kShifted18[text[from]] | kShifted12[text[from + 1]] | kShifted6[text[from + 2]] |
                              kShifted0[text[from + 3]];
        if (bits & kNotData)
            break;
        line[to] = char(bits >> 16);
        line[to + 1] = char(bits >> 8);
        line[to + 2] = char(bits);
        from += 4;
        to += 3;
    }
    in = from;
    out = to;
}

#ifdef PELLIMAR_BASE64_SSSE3
// Sixteen characters at a time, while all of them are in the alphabet.
// Each character is classified by two table lookups on its nibbles: every
// character outside the alphabet (pad, blank, NUL, bytes of 128 and above)
// has a bit set in both, so a non-zero AND sends the block to the general
// path. The value is the character plus an offset chosen by its high nibble
// ("/" shares its nibble with "+" and is moved to its own entry). Two
// multiply-adds pack the values to twelve bytes; the sixteen-byte store's
// last four bytes are overwritten by the next block or lie beyond the
// result, and the store never reaches past the block just read, so output
// never overtakes unread input.
__attribute__((target("ssse3"))) void DecodeVectorBlocks(char* line, int length, int& in, int& out)
{
    const __m128i lowClass = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1a,
                                           0x1b, 0x1b, 0x1b, 0x1a);
    const __m128i highClass = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                            0x10, 0x10, 0x10, 0x10);
    const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i nibble = _mm_set1_epi8(0x0f);
    const __m128i pairs = _mm_set1_epi32(0x01400140); // a*64 + b in each 16-bit half
    const __m128i quads = _mm_set1_epi32(0x00011000); // (ab)*4096 + cd in each 32-bit lane
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int from = in;
    int to = out;
    while (length - from >= 16) {
        const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + from));
        const __m128i high = _mm_and_si128(_mm_srli_epi32(text, 4), nibble);
        const __m128i outside = _mm_and_si128(_mm_shuffle_epi8(lowClass, _mm_and_si128(text, nibble)),
                                              _mm_shuffle_epi8(highClass, high));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(outside, _mm_setzero_si128())) != 0xffff)
            break;
        const __m128i slash = _mm_cmpeq_epi8(text, _mm_set1_epi8('/'));
        const __m128i values = _mm_add_epi8(text, _mm_shuffle_epi8(offsets, _mm_add_epi8(high, slash)));
        const __m128i packed = _mm_madd_epi16(_mm_maddubs_epi16(values, pairs), quads);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + to), _mm_shuffle_epi8(packed, order));
        from += 16;
        to += 12;
    }
    in = from;
    out = to;
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

// Value of a quoted-printable digit; letters in either case give 10..15.
int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    return (uint8_t(ch) % 16) + 9;
}

int UuValue(const char* line, int length, int index)
{
    if (index >= length || line[index] == '\0')
        return 0;
    return (uint8_t(line[index]) - 32) & 63;
}

} // namespace

int DecodeBase64Line(char* line, int length)
{
    int in = 0;
    while (in < length && line[in] == ' ')
        ++in;
    int out = 0;
    while (in < length) {
#ifdef PELLIMAR_BASE64_SSSE3
        if (HasSsse3())
            DecodeVectorBlocks(line, length, in, out);
#endif
        DecodePlainGroups(line, length, in, out);
        if (in >= length)
            break;
        unsigned w[4] = {kPad, kPad, kPad, kPad};
        int got = 0;
        while (got < 4 && in < length && line[in] != '\0' && line[in] != ' ')
            w[got++] = kBase64[uint8_t(line[in++])];
        if (got < 2)
            break; // nothing, or six bits that make no byte
        line[out++] = char((w[0] * 4 + (w[1] / 16) % 4) % 256);
        if (w[2] != kPad) {
            line[out++] = char((w[1] * 16 + (w[2] / 4) % 16) % 256);
            if (w[3] != kPad)
                line[out++] = char((w[2] * 64 + w[3] % 64) % 256);
        }
        if (got < 4)
            break;
    }
    return out;
}

int DecodeQuotedPrintableLine(char* line, int length)
{
    int out = 0;
    for (int in = 0; in < length; ++in) {
        if (line[in] != '=') {
            line[out++] = line[in];
            continue;
        }
        const int rest = length - in - 1;
        if (rest >= 2) {
            line[out++] = char(16 * HexValue(line[in + 1]) + HexValue(line[in + 2]));
            in += 2;
        } else if (rest == 1) {
            line[out++] = char(HexValue(line[in + 1]));
            in += 1;
        }
        // a last "=" is a soft line break and adds nothing
    }
    return out;
}

int DecodeUuencodeLine(const char* line, int length, char* out)
{
    if (length <= 0)
        return 0;
    const int count = (uint8_t(line[0]) - 32) & 63;
    int produced = 0;
    for (int in = 1; produced < count; in += 4) {
        const int x0 = UuValue(line, length, in);
        const int x1 = UuValue(line, length, in + 1);
        const int x2 = UuValue(line, length, in + 2);
        const int x3 = UuValue(line, length, in + 3);
        const char bytes[3] = {char((x0 * 4 + x1 / 16) % 256), char((x1 * 16 + x2 / 4) % 256),
                               char((x2 * 64 + x3) % 256)};
        for (int i = 0; i < 3 && produced < count; ++i)
            out[produced++] = bytes[i];
    }
    return produced;
}
