#include "qdb/string_list.h"

#include "qdb/qdb_error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace qdb {

namespace {
unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}
} // namespace

int CompareKeys(std::string_view a, std::string_view b, bool caseSensitive)
{
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n) {
        // Keys in one list mostly share long prefixes: equal bytes need no
        // folding, and eight of them are skipped at a time.
        if (std::endian::native == std::endian::little && n - i >= 8) {
            uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x == y) {
                i += 8;
                continue;
            }
            i += size_t(std::countr_zero(x ^ y)) / 8;
        } else if (a[i] == b[i]) {
            ++i;
            continue;
        }
        const unsigned char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    if (!caseSensitive)
        return 0;
    const int raw = a.compare(b);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

TQDBStringList::~TQDBStringList()
{
    Clear();
}

bool TQDBStringList::Find(std::string_view key, int32_t& index) const
{
    bool found = false;
    int32_t lo = 0, hi = Count() - 1;
    // Keys often arrive in ascending order: a key after the last one needs
    // a single comparison.
    if (hi >= 0 && Compare(GetKey(hi), key) < 0) {
        index = Count();
        return false;
    }
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int c = Compare(GetKey(mid), key);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

int32_t TQDBStringList::Add(std::string_view key, void* object)
{
    int32_t index = Count();
    if (sorted_ && Find(key, index))
        throw EQDBListError(msg::Duplicate);
    InsertAt(index, key, object);
    return index;
}

void TQDBStringList::InsertAt(int32_t index, std::string_view key, void* object)
{
    key = key.substr(0, 255);
    Entry* e = nullptr;
    try {
        e = static_cast<Entry*>(arena_.Allocate(Entry::SizeFor(key.size())));
    } catch (const std::bad_alloc&) {
        throw EQDBListError(msg::NoMemory);
    }
    e->object = object;
    e->length = uint8_t(key.size());
    std::memcpy(e->Chars(), key.data(), key.size());
    try {
        list_.Insert(index, e);
    } catch (...) {
        FreeEntry(e);
        throw;
    }
}

void TQDBStringList::Delete(int32_t index)
{
    if (index < 0 || index >= Count())
        throw EQDBListError(msg::OutOfBounds);
    Entry* e = entry(index);
    list_.Delete(index);
    FreeEntry(e);
}

void TQDBStringList::Clear()
{
    list_.Clear();
    arena_.Clear();
}

void TQDBStringList::SetCaseSensitive(bool value)
{
    if (value == caseSensitive_)
        return;
    caseSensitive_ = value;
    if (value)
        return;
    for (int32_t b = Count() - 1; b >= 1; --b) {
        if (CompareKeys(GetKey(b - 1), GetKey(b), false) == 0) {
            FreeObject(GetObject(b));
            Delete(b);
        }
    }
}

void TQDBStringList::ReverseAndSort()
{
    if (sorted_)
        return;
    for (int32_t i = 0, j = Count() - 1; i < j; ++i, --j)
        list_.Exchange(i, j);
    sorted_ = true;
}

void TIndexList::EmptyAndClear()
{
    // Every attached entry comes from the pool: they all go with it.
    Clear();
    pool_.Clear();
}

} // namespace qdb
