#pragma once
// The boundary lines that split a mail into parts: the message's own boundary
// and those of multiparts nested in its parts. A line is checked in time that
// depends on its length only, however many boundaries the mail declares.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

class TMimeBoundaries {
public:
    // Deeper nesting is read as data of the innermost part that is kept; real
    // mail nests a handful of levels.
    static constexpr size_t kMaxNesting = 64;

    void Clear();
    void ClearNested() { nested_.clear(); }

    // "--" and the message's boundary in lower case; empty for a single part.
    const std::string& Outer() const { return outer_; }
    void SetOuter(std::string_view boundary);
    // A multipart nested in a part; ignored when kMaxNesting are open.
    void AddNested(std::string_view boundary);
    size_t NestedCount() const { return nested_.size(); }

    // True when the line, in any case, is one of the boundaries or, with
    // withClosing, one of them followed by "--". The closing delimiter of a
    // nested multipart also ends its nesting, freeing its level.
    bool EndsPart(std::string_view line, bool withClosing);

private:
    // Case-insensitive hashing and comparison, so that lines are looked up
    // without being copied.
    struct THash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const;
    };
    struct TEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    std::string outer_;
    std::unordered_set<std::string, THash, TEqual> nested_;
    size_t longest_ = 0; // no longer line can be a boundary line
};
