#include "fax/decode_tree.h"

#include "fax/kiv_errors.h"
#include "fax/t4_codes.h"

#include <string>
#include <vector>

namespace {

constexpr int kMaxCodeLength = 13;

struct CodeEntry {
    std::string bits;
    int32_t first;
    int32_t second;
};

class TreeBuilder {
public:
    TreeBuilder(DecodeTree& tree, std::vector<CodeEntry> codes) : tree_(tree), codes_(std::move(codes)) {}

    // Creates the node for `prefix` (numbered in creation order) and, for an
    // internal node, its 0 subtree before its 1 subtree. Returns its index
    // or -1 when the capacity is exhausted.
    int Visit(const std::string& prefix)
    {
        if (tree_.used >= kDecodeTreeCapacity)
            return -1;
        const int index = tree_.used++;
        DecodeNode& node = tree_.nodes[index];
        if (const CodeEntry* code = Find(prefix)) {
            node = {code->first, code->second};
            return index;
        }
        if (prefix.size() >= kMaxCodeLength)
            return index; // stays an empty node
        const int zero = Visit(prefix + '0');
        const int one = Visit(prefix + '1');
        tree_.nodes[index] = {zero > 0 ? zero : 0, one > 0 ? one : 0};
        return index;
    }

private:
    const CodeEntry* Find(const std::string& bits) const
    {
        for (const CodeEntry& code : codes_)
            if (code.bits == bits)
                return &code;
        return nullptr;
    }

    DecodeTree& tree_;
    std::vector<CodeEntry> codes_;
};

} // namespace

int BuildDecodeTree(DecodeTree& tree, bool black)
{
    std::vector<CodeEntry> codes;
    const T4Colour colour = black ? T4Colour::Black : T4Colour::White;
    for (int i = 0; i < kT4CodeCount; ++i) {
        const T4Code& code = kT4Codes[i];
        if (code.colour == T4Colour::EndOfLine)
            codes.push_back({code.bits, kEndOfLineLeaf, 0});
        else if (code.colour == colour || code.colour == T4Colour::Both)
            codes.push_back({code.bits, kRunLeaf, code.run});
    }

    tree = DecodeTree{};
    TreeBuilder(tree, std::move(codes)).Visit(std::string());
    // The fill loop needs the chain of eleven 0 bits to consist of internal nodes.
    int node = 0;
    for (int depth = 0; depth < kFillNode; ++depth) {
        if (tree.nodes[node].first <= 0)
            return kErrInternal;
        node = tree.nodes[node].first;
    }
    if (node != kFillNode)
        return kErrInternal;
    tree.nodes[kFillNode].first = kFillNode;
    return 0;
}

TreeStep StepTreeWalk(const DecodeTree& white, const DecodeTree& black, TreeWalk& walk, unsigned bit, int& run)
{
    const DecodeTree& tree = walk.black ? black : white;
    if (bit) {
        if (walk.invalidMode)
            return TreeStep::None;
        walk.node = tree.nodes[walk.node].second;
    } else {
        walk.invalidMode = false;
        walk.node = tree.nodes[walk.node].first;
    }
    const DecodeNode& node = tree.nodes[walk.node];
    if (node.first > 0)
        return TreeStep::None;
    walk.node = 0;
    if (node.first == kRunLeaf) {
        run = node.second;
        return TreeStep::Run;
    }
    if (node.first == kEndOfLineLeaf) {
        walk.black = false;
        return TreeStep::EndOfLine;
    }
    walk.invalidMode = true;
    return TreeStep::Invalid;
}
