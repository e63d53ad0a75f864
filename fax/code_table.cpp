#include "fax/code_table.h"

namespace {

// Walks the trees from the root over the bits of `index` and describes the
// first step that completes. Only a run of 0 bits can leave the walk
// unfinished after all the bits: that is the fill before an end-of-line,
// which the walk reaches at the fill node.
bool Describe(const DecodeTree& white, const DecodeTree& black, bool colour, uint32_t index, CodeStep& step)
{
    TreeWalk walk{0, colour, false};
    for (int bit = 0; bit < CodeTable::kLookupBits; ++bit) {
        int run = 0;
        const TreeStep result = StepTreeWalk(white, black, walk, (index >> bit) & 1, run);
        const auto length = static_cast<uint8_t>(bit + 1);
        switch (result) {
        case TreeStep::None:
            continue;
        case TreeStep::Run:
            step = {static_cast<uint16_t>(run), CodeKind::Run, length, run < 64 ? !colour : colour};
            return true;
        case TreeStep::EndOfLine:
            step = {0, CodeKind::EndOfLine, length, false};
            return true;
        case TreeStep::Invalid:
            step = {0, CodeKind::Invalid, length, colour};
            return true;
        }
    }
    if ((index & ((1u << kFillNode) - 1)) != 0 || walk.node != kFillNode)
        return false;
    step = {0, CodeKind::Fill, static_cast<uint8_t>(kFillNode), false};
    return true;
}

// The decoder handles the fill node itself: further 0 bits keep the walk
// there and a 1 bit ends the end-of-line code.
bool FillNodeAsExpected(const DecodeTree& tree)
{
    const DecodeNode& fill = tree.nodes[kFillNode];
    return fill.first == kFillNode && fill.second > 0 && fill.second < tree.used
           && tree.nodes[fill.second].first == kEndOfLineLeaf;
}

} // namespace

const CodeTable* CodeTable::Instance()
{
    static const CodeTable* table = [] {
        auto* built = new CodeTable; // lives for the whole program
        if (!built->Build()) {
            delete built;
            return static_cast<CodeTable*>(nullptr);
        }
        return built;
    }();
    return table;
}

bool CodeTable::Build()
{
    DecodeTree white;
    DecodeTree black;
    if (BuildDecodeTree(white, false) != 0 || BuildDecodeTree(black, true) != 0)
        return false;
    if (!FillNodeAsExpected(white) || !FillNodeAsExpected(black))
        return false;
    for (int colour = 0; colour < 2; ++colour) {
        for (uint32_t index = 0; index < kFullSize; ++index)
            if (!Describe(white, black, colour != 0, index, full_[colour][index]))
                return false;
        // A step no longer than the short index is decided by those bits
        // alone; a longer one sends the lookup on to the full table.
        for (uint32_t index = 0; index < kShortSize; ++index)
            short_[colour][index] = full_[colour][index];
    }
    return true;
}
