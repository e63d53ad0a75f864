#include "mail/mime_boundaries.h"

#include "mail/mime_fields.h"

#include <algorithm>

namespace {

constexpr std::string_view kDashes = "--";

char Lower(char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch; }

} // namespace

size_t TMimeBoundaries::THash::operator()(std::string_view text) const
{
    // FNV-1a over the lower-case bytes.
    size_t hash = 14695981039346656037ull;
    for (const char ch : text)
        hash = (hash ^ static_cast<unsigned char>(Lower(ch))) * 1099511628211ull;
    return hash;
}

bool TMimeBoundaries::TEqual::operator()(std::string_view a, std::string_view b) const
{
    return EqualsNoCase(a, b);
}

void TMimeBoundaries::Clear()
{
    outer_.clear();
    nested_.clear();
    longest_ = 0;
}

void TMimeBoundaries::SetOuter(std::string_view boundary)
{
    outer_ = "--" + LowerAscii(boundary);
    longest_ = std::max(longest_, outer_.size());
}

void TMimeBoundaries::AddNested(std::string_view boundary)
{
    if (nested_.size() >= kMaxNesting)
        return;
    const std::string line = "--" + LowerAscii(boundary);
    longest_ = std::max(longest_, line.size());
    nested_.insert(line);
}

bool TMimeBoundaries::EndsPart(std::string_view line, bool withClosing)
{
    if (!line.starts_with(kDashes) || line.size() > longest_ + kDashes.size())
        return false;
    auto isOuter = [this](std::string_view text) { return !outer_.empty() && EqualsNoCase(text, outer_); };
    if (isOuter(line) || nested_.find(line) != nested_.end())
        return true;
    if (!withClosing || !line.ends_with(kDashes))
        return false;
    const std::string_view stem = line.substr(0, line.size() - kDashes.size());
    if (isOuter(stem))
        return true;
    const auto closed = nested_.find(stem);
    if (closed == nested_.end())
        return false;
    nested_.erase(closed);
    return true;
}
