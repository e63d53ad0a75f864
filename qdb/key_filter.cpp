#include "qdb/key_filter.h"

#include <vector>

namespace qdb {

namespace {
std::string Upper(std::string s)
{
    for (auto& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string LowerAll(std::string s)
{
    for (auto& c : s)
        c = Lower(c);
    return s;
}

// A character that ends or begins a word: a space or any code up to 0x40.
bool IsSeparatorBefore(unsigned char c) { return c == ' ' || c <= 0x40; }
} // namespace

bool SimpleMatch(const std::string& key, const std::string& filter, bool caseSensitive)
{
    const std::string k = caseSensitive ? key : Upper(key);
    std::string f = caseSensitive ? filter : Upper(filter);
    const size_t p1 = f.find('<');
    if (p1 == 0)
        f.erase(0, 1);
    const size_t p2 = f.find('>');
    if (p2 != std::string::npos && p2 + 1 == f.size() && !f.empty()) {
        f.pop_back();
    } else if (f.empty()) {
        return true;
    }
    const size_t n = f.size();
    size_t first = 0, last = 0; // positions from 1, 0 when absent
    if (n == 0) {
        first = last = 1;
    } else {
        const size_t at = k.find(f);
        if (at != std::string::npos) {
            first = last = at + 1;
            for (size_t next = k.find(f, last); next != std::string::npos; next = k.find(f, last))
                last = next + 1;
        }
    }
    if (first == 0)
        return false;
    if (p1 == std::string::npos && first != 1)
        return false;
    if (p2 == std::string::npos && last + n != k.size() + 1)
        return false;
    return true;
}

namespace {
enum Code : unsigned char {
    Literal = 1, EndOfKey = 3, Any = 4, Set = 5, NegatedSet = 6, EndOfWord = 9,
    Letter = 10, Digit = 11, NonLetter = 12, Separator = 13, Range = 14, End = 15
};

struct Item {
    Code code = End;
    char ch = 0;
    // Sets: single members, and ranges as (lo, hi) pairs.
    std::string members;
    std::vector<std::pair<unsigned char, unsigned char>> ranges;
};

struct Program {
    std::vector<Item> items;
    bool valid = true;
    bool anchored = false;   // "^": match at the first character only
    bool wordStart = false;  // "%": match at a word start only
};

Item Make(Code code, char ch = 0)
{
    Item item;
    item.code = code;
    item.ch = ch;
    return item;
}

Program Compile(const std::string& p, bool caseSensitive)
{
    Program prog;
    auto lit = [&](char c) { return caseSensitive ? c : Lower(c); };
    const size_t n = p.size();
    for (size_t i = 0; i < n && prog.valid;) {
        const char c = p[i];
        const bool lastChar = i + 1 == n;
        if (c == '^' || c == '%') {
            if (i != 0) {
                prog.valid = false;
                break;
            }
            (c == '^' ? prog.anchored : prog.wordStart) = true;
            ++i;
        } else if (c == '$' || c == '&') {
            if (!lastChar) {
                prog.valid = false;
                break;
            }
            prog.items.push_back(Make(c == '$' ? EndOfKey : EndOfWord));
            ++i;
        } else if (c == '.') {
            prog.items.push_back(Make(Any));
            ++i;
        } else if (c == ':') {
            // A lone ":" at the end has no class letter: invalid, like ":x".
            const char x = lastChar ? '\0' : Lower(p[i + 1]);
            const Code code = x == ' ' ? Separator : x == 'a' ? Letter : x == 'd' ? Digit : x == 'n' ? NonLetter : End;
            if (code == End) {
                prog.valid = false;
                break;
            }
            prog.items.push_back(Make(code));
            i += 2;
        } else if (c == '\\' && i + 2 < n && p[i + 1] == '\\') {
            prog.items.push_back(Make(Literal, lit(p[i + 2])));
            i += 3;
        } else if (c == '[') {
            Item set;
            ++i;
            set.code = (i < n && p[i] == '^') ? NegatedSet : Set;
            const size_t startOfMembers = i;
            bool closed = false;
            while (i < n) {
                if (p[i] == ']') {
                    closed = true;
                    ++i;
                    break;
                }
                if (p[i] == '\\' && i + 2 < n && p[i + 1] == '\\') {
                    set.members.push_back(lit(p[i + 2]));
                    i += 3;
                } else if (p[i] == '-' && i != startOfMembers && i + 1 < n && p[i + 1] != ']' && !set.members.empty()) {
                    const unsigned char lo = uint8_t(set.members.back());
                    set.members.pop_back();
                    set.ranges.emplace_back(lo, uint8_t(lit(p[i + 1])));
                    i += 2;
                } else {
                    set.members.push_back(lit(p[i]));
                    ++i;
                }
            }
            if (!closed)
                prog.valid = false;
            if (set.code == Set && set.members.empty() && set.ranges.size() == 1)
                set.code = Range;
            prog.items.push_back(std::move(set));
        } else {
            prog.items.push_back(Make(Literal, lit(c)));
            ++i;
        }
    }
    return prog;
}

bool IsLetter(unsigned char c)
{
    c = uint8_t(Lower(char(c)));
    return c >= 'a' && c <= 'z';
}

bool InSet(const Item& item, unsigned char c)
{
    if (item.members.find(char(c)) != std::string::npos)
        return true;
    for (const auto& [lo, hi] : item.ranges)
        if (c >= lo && c <= hi)
            return true;
    return false;
}

bool MatchesChar(const Item& item, unsigned char c)
{
    switch (item.code) {
    case Literal: return c == uint8_t(item.ch);
    case Any: return c != 13 && c != 10;
    case Set: case Range: return InSet(item, c);
    case NegatedSet: return !InSet(item, c);
    case Letter: return IsLetter(c);
    case Digit: return c >= '0' && c <= '9';
    case NonLetter: return !IsLetter(c);
    case Separator: return c != ' ' && c <= 0x40;
    default: return false;
    }
}

// Runs the program from start s; true when it completes.
bool RunAt(const Program& prog, const std::string& k, size_t s)
{
    size_t p = s;
    for (const Item& item : prog.items) {
        if (item.code == EndOfKey)
            return p == k.size();
        if (item.code == EndOfWord)
            return p == k.size() || k[p] == ' ' || uint8_t(k[p]) < 0x40;
        if (p >= k.size() || !MatchesChar(item, uint8_t(k[p])))
            return false;
        ++p;
    }
    return true;
}
} // namespace

bool PatternMatch(const std::string& key, const std::string& pattern, bool caseSensitive)
{
    const Program prog = Compile(pattern.substr(0, 255), caseSensitive);
    if (!prog.valid)
        return true;
    if (key.empty() || prog.items.empty())
        return false;
    const std::string k = caseSensitive ? key : LowerAll(key);
    for (size_t s = 0; s < k.size(); ++s) {
        if (!RunAt(prog, k, s))
            continue;
        if (prog.anchored && s != 0)
            continue;
        if (prog.wordStart && s != 0 && !IsSeparatorBefore(uint8_t(k[s - 1])))
            continue;
        return true;
    }
    return false;
}

} // namespace qdb
