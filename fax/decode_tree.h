#pragma once
// Binary decoding trees for white and black runs, walked one bit at a time.
#include <array>
#include <cstdint>

// One node: internal (0-child, 1-child), a run leaf (-1, run length), the
// end-of-line leaf (-2, 0) or an empty node (0, 0) for an invalid sequence.
struct DecodeNode {
    int32_t first = 0;
    int32_t second = 0;
};

constexpr int kDecodeTreeCapacity = 307;
constexpr int32_t kRunLeaf = -1;
constexpr int32_t kEndOfLineLeaf = -2;
// The node reached by eleven 0 bits; its 0-child loops back to itself so that
// any number of fill zeros may precede the 1 of an end-of-line code.
constexpr int kFillNode = 11;

struct DecodeTree {
    std::array<DecodeNode, kDecodeTreeCapacity> nodes{};
    int used = 0; // nodes created
};

// Builds the tree of one colour from the code table; returns 0 or a negative
// error code when the table cannot be turned into a tree.
int BuildDecodeTree(DecodeTree& tree, bool black);

// Position of a bit-by-bit walk through the two trees.
struct TreeWalk {
    int node = 0;
    bool black = false;
    bool invalidMode = false; // after an invalid code: 1 bits are skipped
};

enum class TreeStep { None, Run, EndOfLine, Invalid };

// Takes one bit. On a completed code the walk is back at the root; a run's
// length is stored in `run` and the caller decides on the colour change.
// After an end-of-line the walk is back on the white tree.
TreeStep StepTreeWalk(const DecodeTree& white, const DecodeTree& black, TreeWalk& walk, unsigned bit, int& run);
