#include "fax/byte_decode_table.h"

namespace {

int Slot(const TreeWalk& walk)
{
    return (walk.black ? 2 * kDecodeTreeCapacity : 0) + (walk.invalidMode ? kDecodeTreeCapacity : 0) + walk.node;
}

} // namespace

const ByteDecodeTable* ByteDecodeTable::Instance()
{
    static const ByteDecodeTable* table = [] {
        auto* built = new ByteDecodeTable; // lives for the whole program
        if (!built->Build()) {
            delete built;
            return static_cast<ByteDecodeTable*>(nullptr);
        }
        return built;
    }();
    return table;
}

int ByteDecodeTable::PositionOf(const TreeWalk& walk) const { return positionOf_[Slot(walk)]; }

bool ByteDecodeTable::Build()
{
    if (BuildDecodeTree(white_, false) != 0 || BuildDecodeTree(black_, true) != 0)
        return false;
    positionOf_.assign(4 * kDecodeTreeCapacity, -1);
    for (bool black : {false, true}) {
        const DecodeTree& tree = black ? black_ : white_;
        for (int node = 0; node < tree.used; ++node) {
            if (tree.nodes[node].first <= 0)
                continue;
            positionOf_[Slot({node, black, false})] = static_cast<int16_t>(walks_.size());
            walks_.push_back({node, black, false});
        }
        positionOf_[Slot({0, black, true})] = static_cast<int16_t>(walks_.size());
        walks_.push_back({0, black, true});
    }
    entries_.resize(walks_.size() * 256);
    for (std::size_t position = 0; position < walks_.size(); ++position) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            ByteEntry& entry = entries_[position * 256 + byte];
            entry.firstCode = static_cast<uint32_t>(codes_.size());
            TreeWalk walk = walks_[position];
            for (unsigned bit = 0; bit < 8; ++bit) {
                const bool black = walk.black;
                int run = 0;
                const TreeStep step = StepTreeWalk(white_, black_, walk, (byte >> bit) & 1, run);
                if (step == TreeStep::None)
                    continue;
                if (step == TreeStep::Run && run < 64)
                    walk.black = !walk.black;
                codes_.push_back({static_cast<uint16_t>(run), static_cast<uint8_t>(step), static_cast<uint8_t>(bit),
                                  static_cast<uint8_t>(black)});
                ++entry.count;
            }
            const int next = PositionOf(walk);
            if (next < 0)
                return false;
            entry.next = static_cast<uint16_t>(next);
        }
    }
    return true;
}
