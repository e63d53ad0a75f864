// A table that decodes a whole input byte at once: for every position of the
// tree walk and every byte value it holds the codes completed within the
// byte and the position after it. It is derived from the tree walk itself,
// so it yields exactly the same codes.
#pragma once

#include "fax/decode_tree.h"

#include <cstdint>
#include <vector>

struct ByteCode {
    uint16_t run;   // run length (Run)
    uint8_t kind;   // a TreeStep
    uint8_t bit : 3; // bit of the byte (0 = least significant) that ended the code
    uint8_t black : 1; // colour of a run
};

struct ByteEntry {
    uint32_t firstCode; // index into codes
    uint16_t next;      // walk position after the byte
    uint8_t count;      // codes completed within the byte
};

class ByteDecodeTable {
public:
    // Built once from the standard trees; null when they cannot be built.
    static const ByteDecodeTable* Instance();

    // Positions are internal nodes of either tree, or the root in invalid
    // mode; runs below 64 switch the colour as the decoder normally does.
    int PositionOf(const TreeWalk& walk) const;
    TreeWalk WalkAt(int position) const { return walks_[position]; }
    const ByteEntry& Entry(int position, unsigned byte) const { return entries_[position * 256 + byte]; }
    const ByteCode& Code(uint32_t index) const { return codes_[index]; }

private:
    ByteDecodeTable() = default;
    bool Build();

    DecodeTree white_;
    DecodeTree black_;
    std::vector<TreeWalk> walks_;
    std::vector<int16_t> positionOf_; // [colour][invalid][node]
    std::vector<ByteEntry> entries_;
    std::vector<ByteCode> codes_;
};
