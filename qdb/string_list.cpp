#include "qdb/string_list.h"

#include "qdb/qdb_error.h"

#include <algorithm>
#include <new>

namespace qdb {

namespace {
unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
}
} // namespace

int CompareKeys(const std::string& a, const std::string& b, bool caseSensitive)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        // Keys in one list mostly share long prefixes: equal bytes need no folding.
        if (a[i] == b[i])
            continue;
        const unsigned char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
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

bool TQDBStringList::Find(const std::string& key, int32_t& index) const
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

int32_t TQDBStringList::Add(const std::string& key, void* object)
{
    int32_t index = Count();
    if (sorted_ && Find(key, index))
        throw EQDBListError(msg::Duplicate);
    InsertAt(index, key, object);
    return index;
}

void TQDBStringList::InsertAt(int32_t index, const std::string& key, void* object)
{
    Entry* e = nullptr;
    try {
        e = new Entry{key.substr(0, 255), object};
    } catch (const std::bad_alloc&) {
        throw EQDBListError(msg::NoMemory);
    }
    try {
        list_.Insert(index, e);
    } catch (...) {
        delete e;
        throw;
    }
}

void TQDBStringList::Delete(int32_t index)
{
    if (index < 0 || index >= Count())
        throw EQDBListError(msg::OutOfBounds);
    delete entry(index);
    list_.Delete(index);
}

void TQDBStringList::Clear()
{
    for (int32_t i = Count() - 1; i >= 0; --i)
        delete entry(i);
    list_.Clear();
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
    for (int32_t i = Count() - 1; i >= 0; --i) {
        FreeObject(GetObject(i));
        Delete(i);
    }
}

} // namespace qdb
