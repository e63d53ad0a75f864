#pragma once
// Key filters: the simple filter with its "<" and ">" anchors, and the
// pattern filter (literals, ".", sets, ranges, classes, anchors).
#include <string>

namespace qdb {

// "abc" accepts keys beginning and ending with abc, "abc>" keys beginning with
// it, "<abc" keys ending with it, "<abc>" keys containing it.
bool SimpleMatch(const std::string& key, const std::string& filter, bool caseSensitive);

// Pattern filter. An invalid pattern accepts every key; a pattern ending in a
// lone ":" (a class with no letter) is invalid as well.
bool PatternMatch(const std::string& key, const std::string& pattern, bool caseSensitive);

} // namespace qdb
