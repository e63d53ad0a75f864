#pragma once
// The item compressor: items are cut into pieces of 32768 bytes, each stored
// as a block (16-bit length, then a body that is either the piece itself or
// an LZ-style stream of literals, copy codes and run codes).
#include <cstdint>
#include <string>
#include <string_view>

namespace qdb {

inline constexpr size_t PieceSize = 32768;

// Compresses one piece (1..32768 bytes) into a block body.
std::string CompressPiece(std::string_view piece);

// Decodes one block body and appends the result to out. Returns false for a
// body that is malformed (a code cut short, a copy reaching before the start
// of the output, or more than one piece of output).
bool DecompressBody(std::string_view body, std::string& out);

// The whole compressed block stream of an item (empty item: no blocks).
std::string CompressItem(std::string_view item);

// The size of the item a block stream decodes to, found without decoding it
// (the work is linear in the stream's length); false as DecompressItem.
bool DecompressedSize(std::string_view stream, uint64_t& size);

// The largest item the format can hold: sizes and offsets are signed 32-bit.
inline constexpr uint64_t MaxItemSize = INT32_MAX;

// Decodes a block stream; false when the blocks do not fill it exactly, a
// body is malformed, or the item would be larger than maxSize (checked
// before anything is decoded).
bool DecompressItem(std::string_view stream, std::string& out, uint64_t maxSize = MaxItemSize);

} // namespace qdb
