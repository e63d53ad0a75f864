#pragma once
// Tables that decode a whole code at once: for each colour, indexed by the
// next bits of the stream (the first bit in bit 0), the code those bits begin
// with and its length. They are derived from the tree walk itself, so they
// yield exactly the codes the walk would, at one lookup per code instead of
// one tree step per bit.
#include "fax/decode_tree.h"

#include <array>
#include <cstdint>


enum class CodeKind : uint8_t {
    Run,       // a run of `run` pixels
    EndOfLine, // the end-of-line code
    Invalid,   // a sequence that is no code; 1 bits are skipped after it
    Fill,      // eleven 0 bits: any further 0 bits are fill before a 1
};

struct CodeStep {
    uint16_t run;
    CodeKind kind;
    uint8_t length; // bits of the stream the step takes
    // The colour after an applied run: the other one after a terminating
    // code, the same after a make-up code. Taking it from the table spares
    // the decoder a comparison on the way from one lookup to the next.
    bool blackAfter;
};

class CodeTable {
public:
    // The longest code (with the invalid sequences) is this many bits.
    static constexpr int kLookupBits = 13;

    // Built once from the standard trees; null when they cannot be built.
    static const CodeTable* Instance();

    // The step that `bits` begin with on the tree of the given colour. Bits
    // past the end of the data must be 0; when the step is longer than the
    // bits available, more data is needed before it can be taken.
    const CodeStep& Lookup(bool black, uint32_t bits) const
    {
        // Most codes are short: a small table keeps them in the cache, and
        // only longer codes go to the full table.
        const CodeStep& step = short_[black][bits & (kShortSize - 1)];
        if (step.length <= kShortBits)
            return step;
        return full_[black][bits & (kFullSize - 1)];
    }

private:
    static constexpr int kShortBits = 9;
    static constexpr uint32_t kShortSize = 1u << kShortBits;
    static constexpr uint32_t kFullSize = 1u << kLookupBits;

    CodeTable() = default;
    bool Build();

    std::array<std::array<CodeStep, kFullSize>, 2> full_{};   // [black][13 bits]
    std::array<std::array<CodeStep, kShortSize>, 2> short_{}; // [black][9 bits]
};
