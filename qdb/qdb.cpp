#include "qdb/qdb.h"

#include "qdb/compressor.h"
#include "qdb/index_section.h"
#include "qdb/key_filter.h"
#include "qdb/new_file.h"
#include "qdb/record_layout.h"

#include <QCoreApplication>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qdb {

namespace {
std::string FullPath(const std::string& name)
{
    std::error_code ec;
    const auto full = std::filesystem::absolute(name, ec);
    return ec ? name : full.lexically_normal().string();
}

bool HasExtension(const std::string& name)
{
    const auto slash = name.rfind('/');
    const auto dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Equal full names, or two names of the same existing file.
bool SameFile(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    struct stat x, y;
    return !a.empty() && !b.empty() && ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 &&
           x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string WithPrefix(const std::string& path, const std::string& prefix)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? prefix + path : path.substr(0, slash + 1) + prefix + path.substr(slash + 1);
}
} // namespace

TQDB::TQDB()
{
    admin_.SetSorted(true);
}

TQDB::~TQDB()
{
    navigator_ = nullptr;
    if (ready_) {
        try {
            Close();
        } catch (const std::exception&) {
            // A destructor cannot report; Close before destruction to see errors.
        }
    }
}

namespace {
// Copies a key of up to 255 bytes. Keys are mostly short: fixed-size,
// overlapping moves avoid the slow start of a general copy of unknown size.
void CopyKey(char* to, const char* from, size_t n)
{
    if (n >= 16 && n <= 32) {
        std::memcpy(to, from, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8 && n < 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n < 8) {
        for (size_t i = 0; i < n; ++i)
            to[i] = from[i];
    } else {
        std::memcpy(to, from, n);
    }
}

} // namespace

// --- Properties ---------------------------------------------------------

void TQDB::SetFileName(const std::string& name)
{
    std::string value = name;
    if (expandedFileNames_ && !value.empty())
        value = FullPath(value);
    if (!value.empty() && !HasExtension(value))
        value += ".QDB";
    if (ready_ ? SameFile(value, fileName_) : value == fileName_)
        return;
    try {
        if (ready_)
            Close();
        fileName_ = value;
        if (!value.empty())
            Open();
        if (OnFileAssigned)
            OnFileAssigned(this);
    } catch (...) {
        fileName_.clear();
        throw;
    }
}

void TQDB::SetReadOnly(bool v)
{
    readOnly_ = v;
    readOnlyByAttribute_ = false;
    UpdateState();
}

void TQDB::SetNavigator(TQDBNavigator* n)
{
    navigator_ = n;
    UpdateState();
}

TNavigatorButtons TQDB::NavigatorButtons() const
{
    const bool r = ready_;
    return {{
        {"QDB_FIRST", "First Item", r && !bof_},
        {"QDB_PREV", "Previous Item", r && !bof_},
        {"QDB_NEXT", "Next Item", r && !eof_},
        {"QDB_LAST", "Last Item", r && !eof_},
        {"QDB_INSERT", "Insert Item", r && !readOnly_ && !inserting_},
        {"QDB_DELETE", "Delete Item", r && !readOnly_ && Count() > 0},
        {"QDB_EDIT", "Edit Item", r && !readOnly_ && !editing_ && !inserting_ && Count() > 0},
        {"QDB_POST", "Post Item", r && (editing_ || inserting_)},
        {"QDB_CANCEL", "Cancel Edit", r && (editing_ || inserting_)},
        {"QDB_REFRESH", "Refresh Item", r},
    }};
}

// --- Helpers ------------------------------------------------------------

void TQDB::Warn(Warning w)
{
    switch (w) {
    case Warning::NoData:
        if (WarnNoData)
            return WarnNoData(this);
        throw EQDBNoData(Format(msg::Empty, fileName_));
    case Warning::OutOfBounds:
        if (WarnOutOfBounds)
            return WarnOutOfBounds(this);
        throw EQDBOutOfBounds(msg::OutOfBounds);
    case Warning::ReadOnly:
        if (WarnReadOnly)
            return WarnReadOnly(this);
        throw EQDBReadOnly(Format(msg::ReadOnly, fileName_));
    }
}

void TQDB::RequireReady() const
{
    if (!ready_)
        throw EQDBNoFile(msg::NoFile);
}

void TQDB::NotValid() const
{
    throw EQDBFileError(Format(msg::NotValid, fileName_));
}

void TQDB::IndexNotValid() const
{
    throw EQDBIndexError(Format(msg::NotValid, fileName_));
}

bool TQDB::Matches(std::string_view view) const
{
    if (filter_.empty())
        return true;
    const std::string key(view);
    return useGrepMatch_ ? PatternMatch(key, filter_, CaseSensitive()) : SimpleMatch(key, filter_, CaseSensitive());
}

void TQDB::StartProgress(TProgressOrigin origin, int32_t total)
{
    origin_ = origin;
    step_ = total / 10 + 1;
    nextReport_ = 0;
}

void TQDB::Progress(int32_t i)
{
    // Counts rise by one: the next multiple of the step is known, which
    // spares a division for every entry.
    if (i < nextReport_)
        return;
    nextReport_ = (i / step_ + 1) * step_;
    if (i % step_ != 0)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    if (ProgressUpdate)
        ProgressUpdate(this, int(int64_t(i) * 10 / step_), origin_);
}

void TQDB::EndProgress()
{
    if (ProgressUpdate)
        ProgressUpdate(this, 0, origin_);
}

// --- Working data file ----------------------------------------------------

namespace {
int NewWorkingFile()
{
    return AnonymousTempFile("QDB");
}
} // namespace

void TQDB::CloseDataFile()
{
    data_.Close();
}

int32_t TQDB::DataEnd() const
{
    if (data_.Size() > INT32_MAX)
        NotValid();
    return int32_t(data_.Size());
}

void TQDB::WriteData(const std::string& bytes, int64_t offset)
{
    if (offset + int64_t(bytes.size()) > INT32_MAX)
        RaiseFileError(-1, msg::CannotExtend, fileName_);
    stored_.NoteWrite(offset);
    data_.Write(bytes, offset);
}

void TQDB::MarkModified()
{
    modified_ = true;
    storedCanonical_ = false;
}

std::string TQDB::ReadEntry(const TIndex& entry)
{
    std::string stored(size_t(entry.size), '\0');
    if (!data_.Read(stored.data(), stored.size(), entry.offset))
        throw EQDBIndexError(Format(msg::NotValid, fileName_));
    if (!(entry.flags & FlagCompressed))
        return stored;
    std::string data;
    if (!DecompressItem(stored, data))
        throw EQDBIndexError(Format(msg::NotValid, fileName_));
    return data;
}

// --- Open, index, close -----------------------------------------------------

// A missing file becomes a new, empty database. So does a file of no bytes
// (a crash while an older version created it): it holds nothing to lose.
void TQDB::CreateIfMissing()
{
    struct stat st;
    if (::stat(fileName_.c_str(), &st) != 0) {
        try {
            WriteTemplate(fileName_);
        } catch (const EQDBFileError&) {
            if (!FileExists(fileName_)) // else another process made it meanwhile
                throw;
        }
    } else if (S_ISREG(st.st_mode) && st.st_size == 0 && !IsReadOnlyFile(fileName_)) {
        ReplaceWithTemplate(fileName_);
        if (OnNotice)
            OnNotice(this, Format(msg::EmptyFileReplaced, fileName_));
    }
}

void TQDB::Open()
{
    RemoveStaleNewFiles(fileName_);
    CreateIfMissing();
    if (IsReadOnlyFile(fileName_) && !readOnly_) {
        readOnly_ = true;
        readOnlyByAttribute_ = true;
    }
    stamp_ = StampOf(fileName_);
    try {
        StoredLayout layout;
        const WorkingFiles unpacked = UnpackDatabase(
            fileName_, password_,
            [this](std::string& p) {
                if (OnDemandPassword)
                    OnDemandPassword(this, p);
            },
            &layout, &source_);
        if (source_.IsOpen()) {
            // The working files are made when the first change needs them:
            // a database that is only read never copies anything.
            data_.OpenOver(source_.data, NewWorkingFile, fileName_);
        } else {
            // A deciphered copy: its files lose their names once open.
            TakeWorkingFiles(unpacked);
        }
        indexWritten_ = !source_.IsOpen();
        try {
            LoadIndex();
            stored_.SetAssembled(layout);
            storedCanonical_ = storedCanonical_ && layout.trailingBytes == 0;
            storedPassword_ = password_;
        } catch (const EQDBListError&) {
            throw EQDBIndexError(Format(msg::NotValid, fileName_));
        } catch (const std::bad_alloc&) {
            throw EQDBIndexError(Format(msg::NotValid, fileName_));
        }
    } catch (...) {
        CloseDataFile();
        source_.Close();
        CloseIndexFile();
        items_.EmptyAndClear();
        admin_.EmptyAndClear();
        password_.clear();
        stored_.Forget();
        storedCanonical_ = false;
        if (readOnlyByAttribute_)
            readOnly_ = readOnlyByAttribute_ = false;
        throw;
    }
    ready_ = true;
    UpdateState();
}

// Opens the unpacked working files and removes their names, so that a
// crash leaves nothing behind.
void TQDB::TakeWorkingFiles(const WorkingFiles& files)
{
    const int data = ::open(files.data.c_str(), O_RDWR | O_CLOEXEC);
    const int err = errno;
    indexFile_ = ::open(files.index.c_str(), O_RDONLY | O_CLOEXEC);
    RemoveWorkingFiles(files);
    if (data < 0 || indexFile_ < 0) {
        if (data >= 0)
            ::close(data);
        RaiseErrno(data < 0 ? err : errno, msg::NotValid, fileName_);
    }
    data_.Open(data, fileName_);
}

void TQDB::CloseIndexFile()
{
    if (indexFile_ >= 0)
        ::close(indexFile_);
    indexFile_ = -1;
}

// Makes index the working index file: a new file, so that a failure while
// writing it leaves the one before.
void TQDB::SetIndexFile(const std::string& index)
{
    const int fd = AnonymousTempFile("QIX");
    if (fd < 0)
        throw EQDBIndexError(msg::NoTempFile);
    try {
        WriteAll(fd, index.data(), index.size(), fileName_);
    } catch (...) {
        ::close(fd);
        throw;
    }
    CloseIndexFile();
    indexFile_ = fd;
    indexWritten_ = true;
}

// The index section as loaded or last written: in the database file until
// the first index is written to the working index file.
TSectionBytes TQDB::ReadIndexSection()
{
    if (!indexWritten_)
        return TSectionBytes(source_.index, fileName_);
    return TSectionBytes(WholeFile(indexFile_, fileName_), fileName_);
}

void TQDB::LoadIndex()
{
    const TSectionBytes section = ReadIndexSection();
    TIndexReader in(section.View());
    const int64_t indexSize = int64_t(in.Size());
    int32_t n = 0;
    // Every entry takes at least 13 bytes: a count beyond that is a lie.
    if (!in.ReadInt32(n) || n < 0 || int64_t(n) * 13 > indexSize - 4)
        IndexNotValid();
    StartProgress(TProgressOrigin::Load, n);
    items_.EmptyAndClear();
    admin_.EmptyAndClear();
    items_.SetCaseSensitive(false);
    items_.SetSorted(false);
    items_.SetCapacity(n);
    std::string_view key; // in the section: the list keeps its own copy
    std::vector<const TIndex*> compressed;
    // Whether the stored order is the one writing the index produces: all
    // administrative entries first, each group descending, nothing after.
    bool storedOrder = true;
    bool ordinarySeen = false, adminSeen = false;
    std::string_view lastAdminKey;
    int64_t consumed = 4;
    for (int32_t i = 1; i <= n; ++i) {
        TIndex e;
        if (!in.ReadText(key) || !in.ReadInt32(e.offset) || !in.ReadInt32(e.size) || !in.ReadInt32(e.flags))
            IndexNotValid();
        if (e.offset < 0 || e.size < 0 || int64_t(e.offset) + e.size > data_.Size())
            IndexNotValid();
        consumed += int64_t(key.size()) + 13;
        if (e.flags & FlagAdmin) {
            storedOrder = storedOrder && !ordinarySeen && (!adminSeen || admin_.Compare(lastAdminKey, key) > 0);
            lastAdminKey = key;
            adminSeen = true;
        } else {
            ordinarySeen = true;
        }
        TIndexList& list = e.flags & FlagAdmin ? admin_ : items_;
        TIndex* entry = list.MakeIndex(e);
        if (e.flags & FlagCompressed)
            compressed.push_back(entry);
        try {
            list.Add(key, entry);
        } catch (const EQDBListError&) {
            list.FreeIndex(entry);
            items_.EmptyAndClear();
            admin_.EmptyAndClear();
            throw EQDBIndexError(Format(msg::IndexMemory, fileName_));
        }
        Progress(i);
    }

    CheckExpansion(indexSize, compressed);

    // The comparison must be known before the stored order can be checked.
    int32_t at = 0;
    bool caseSensitive = false;
    if (admin_.Find("QDBCaseSensitive", at))
        caseSensitive = ReadEntry(*admin_.Index(at)) == std::string(1, '\x01');
    items_.SetCaseSensitive(caseSensitive);

    // Stored keys run in descending order. Another order is sorted here;
    // two equal keys make the file invalid.
    bool descending = true;
    for (int32_t i = 0; i + 1 < items_.Count(); ++i) {
        const int c = items_.Compare(items_.GetKey(i), items_.GetKey(i + 1));
        if (c == 0)
            IndexNotValid();
        descending = descending && c > 0;
    }
    if (!descending) {
        std::vector<std::pair<std::string, void*>> entries;
        for (int32_t i = 0; i < items_.Count(); ++i)
            entries.emplace_back(items_.GetKey(i), items_.GetObject(i));
        std::sort(entries.begin(), entries.end(),
                  [&](const auto& a, const auto& b) { return items_.Compare(a.first, b.first) > 0; });
        TQDBStringList& plain = items_;
        for (int32_t i = plain.Count() - 1; i >= 0; --i)
            plain.Delete(i);
        for (const auto& [key, object] : entries)
            plain.Add(key, object);
        for (size_t i = 0; i + 1 < entries.size(); ++i)
            if (items_.Compare(entries[i].first, entries[i + 1].first) == 0)
                IndexNotValid();
    }
    // Bytes that no entry uses do not make closing an unchanged database
    // write the file: they may be the room of another process that has it
    // open and flushes into it. The first change assembles the file anew
    // (they count as gaps) or its close does, without them.
    storedCanonical_ = storedOrder && descending && consumed == indexSize;
    items_.ReverseAndSort();
    itemIndex_ = 0;
    adminIndex_ = 0;
    modified_ = false;
    key_ = items_.Count() > 0 ? items_.GetKey(0) : TKey();
    EndProgress();
}

// Compressed items expand up to about 885 times, so a small crafted file
// could ask for gigabytes. Each item must fit the format, and all of them
// together may decode to at most kMaxExpansion times the file's size (or
// kExpansionAllowance), far more than catalogue records need. Measuring
// reads each stored byte once: entries that share bytes cannot sum past the
// data section, and a file whose entries do is refused with them.
void TQDB::CheckExpansion(int64_t indexSize, const std::vector<const TIndex*>& compressed)
{
    constexpr uint64_t kMaxExpansion = 64;
    constexpr uint64_t kExpansionAllowance = 16 << 20;
    const uint64_t fileSize = uint64_t(data_.Size() + indexSize) + 16;
    const uint64_t budget = std::max(kMaxExpansion * fileSize, kExpansionAllowance);
    uint64_t stored = 0;
    uint64_t expanded = 0;
    for (const TIndex* entry : compressed) {
        stored += uint64_t(entry->size);
        if (stored > uint64_t(data_.Size()))
            IndexNotValid();
        std::string bytes(size_t(entry->size), '\0');
        if (!data_.Read(bytes.data(), bytes.size(), entry->offset))
            IndexNotValid();
        uint64_t size = 0;
        // A malformed stream is reported when its item is read.
        if (!DecompressedSize(bytes, size))
            continue;
        expanded += size;
        if (size > MaxItemSize || expanded > budget)
            IndexNotValid();
    }
}

// Visits the index entries in stored order: the administrative entries
// from the highest key to the lowest, then the ordinary ones likewise.
// With report set, progress is reported once per ordinary entry.
template <class Visit> void TQDB::VisitStoredEntries(bool report, Visit&& visit)
{
    for (int32_t i = admin_.Count() - 1; i >= 0; --i)
        visit(admin_.GetKey(i), *admin_.Index(i), admin_.Index(i)->flags | FlagAdmin);
    for (int32_t i = items_.Count() - 1, written = 0; i >= 0; --i, ++written) {
        visit(items_.GetKey(i), *items_.Index(i), items_.Index(i)->flags & ~FlagAdmin);
        if (report)
            Progress(written);
    }
}

// The index section of the entries in memory, with each block's offset as
// offsetOf gives it.
template <class OffsetOf> std::string TQDB::IndexSection(size_t length, OffsetOf&& offsetOf)
{
    std::string index(length, '\0');
    char* out = index.data();
    StoreInt32(out, admin_.Count() + items_.Count());
    out += 4;
    VisitStoredEntries(true, [&](std::string_view key, const TIndex& e, int32_t flags) {
        // The key, its zero byte (already there) and three numbers.
        CopyKey(out, key.data(), key.size());
        out += key.size() + 1;
        StoreInt32(out, offsetOf(e.offset));
        StoreInt32(out + 4, e.size);
        StoreInt32(out + 8, flags);
        out += 12;
    });
    return index;
}

size_t TQDB::IndexLength(int64_t* usedBytes) const
{
    size_t length = 4;
    int64_t used = 0;
    for (const TIndexList* list : {&admin_, &items_})
        for (int32_t i = 0; i < list->Count(); ++i) {
            length += list->GetKey(i).size() + 13;
            used += list->Index(i)->size;
        }
    if (usedBytes)
        *usedBytes = used;
    return length;
}

void TQDB::WriteIndex()
{
    flushedIntoFile_ = false;
    SetIndexFile(IndexSection(IndexLength(nullptr), [](int32_t offset) { return offset; }));
}

// Writes the changes into the database file when it is still the file this
// engine last read or wrote; false when the whole file must be assembled.
bool TQDB::WriteIntoFile()
{
    if (!password_.empty() || !storedPassword_.empty() || !(StampOf(fileName_) == stamp_))
        return false;
    int64_t usedBytes = 0;
    const size_t indexLength = IndexLength(&usedBytes);
    if (!stored_.PlanWrite(data_.Size(), usedBytes, int64_t(indexLength)))
        return false;
    const std::string index =
        IndexSection(indexLength, [this](int32_t offset) { return stored_.StoredOffset(offset); });
    stored_.Write(fileName_, data_, index);
    stamp_ = StampOf(fileName_);
    return true;
}

void TQDB::PackFile()
{
    if (readOnly_)
        return;
    std::string target = fileName_;
    if (stamp_.valid && !(StampOf(target) == stamp_)) {
        bool ok = false;
        if (BeforeOverWrite)
            BeforeOverWrite(this, ok);
        if (!ok) {
            do
                target = WithPrefix(target, "1.");
            while (FileExists(target));
        }
    }
    stored_.Forget();
    data_.WriteOut();
    // Every caller has written the working index file first.
    DropUnusedData();
    stored_.SetAssembled(PackDatabase(target, data_.Pieces(), WholeFile(indexFile_, target), password_, target));
    fileName_ = target;
    stamp_ = StampOf(target);
    storedCanonical_ = true;
    storedPassword_ = password_;
}

// Makes the working files hold only the data bytes that entries of the
// working index use, so that the file assembled from them is compact. The
// entries in memory move with their blocks.
void TQDB::DropUnusedData()
{
    std::string index(ReadIndexSection().View());
    std::vector<TStoredBlock> blocks;
    if (!ReadStoredBlocks(index, data_.Size(), blocks))
        IndexNotValid();
    const TUsedParts used(blocks);
    if (used.CoverAll(data_.Size()))
        return;
    const int fd = NewWorkingFile();
    if (fd < 0)
        throw EQDBIndexError(msg::NoTempFile);
    try {
        for (const TUsedParts::Part& part : used.Parts())
            data_.CopyTo(fd, part.compactOffset, part.offset, part.length);
        used.CompactIndex(index.data(), blocks);
        SetIndexFile(index);
    } catch (...) {
        ::close(fd);
        throw;
    }
    for (TIndexList* list : {&admin_, &items_})
        for (int32_t i = 0; i < list->Count(); ++i) {
            TIndex* entry = list->Index(i);
            entry->offset = used.CompactOffset(entry->offset, entry->size);
        }
    data_.Open(fd, fileName_);
    source_.Close();
}

// True when closing need not assemble the file: nothing changed since it was
// read or written, and nobody else has replaced it since.
bool TQDB::FileHoldsCurrentState()
{
    return storedCanonical_ && password_ == storedPassword_ && StampOf(fileName_) == stamp_;
}

bool TQDB::FileChangedOnDisk() const { return stamp_.valid && !(StampOf(fileName_) == stamp_); }

void TQDB::Close()
{
    StartProgress(TProgressOrigin::Close, Count());
    std::exception_ptr failure;
    try {
        bool unchanged = FileHoldsCurrentState();
        if (!saveOnClose_ && (flushedIntoFile_ || !indexWritten_)) {
            // The file already holds the last flush, or what was loaded.
            // When another writer changed it meanwhile, the current index
            // stands in for that.
            unchanged = StampOf(fileName_) == stamp_;
            if (!unchanged && !readOnly_)
                WriteIndex();
        }
        if (readOnly_ || !saveOnClose_ || unchanged) {
            // Only every step-th entry is reported.
            for (int32_t i = 0; i < items_.Count(); i += step_)
                Progress(i);
        } else {
            WriteIndex();
        }
        cache_.Empty();
        modified_ = false;
        // The data file stays open: the file is assembled from it.
        if (!unchanged)
            PackFile();
    } catch (...) {
        failure = std::current_exception();
    }
    CloseDataFile();
    source_.Close();
    cache_.Empty();
    items_.EmptyAndClear();
    admin_.EmptyAndClear();
    CloseIndexFile();
    stored_.Forget();
    storedCanonical_ = flushedIntoFile_ = false;
    storedPassword_.clear();
    EndProgress();
    itemIndex_ = 0;
    key_.clear();
    modified_ = ready_ = false;
    editing_ = inserting_ = false;
    bof_ = eof_ = false;
    password_.clear();
    stamp_ = {};
    if (readOnlyByAttribute_)
        readOnly_ = readOnlyByAttribute_ = false;
    UpdateState();
    if (failure)
        std::rethrow_exception(failure);
}

void TQDB::Flush()
{
    if (!ready_ || !modified_ || readOnly_)
        return;
    StartProgress(TProgressOrigin::Flush, Count());
    data_.WriteOut();
    // Writing into the file leaves the working index file as it was: the file on disk
    // holds the flushed index.
    if (WriteIntoFile()) {
        storedCanonical_ = false;
        flushedIntoFile_ = true;
    } else {
        WriteIndex();
        PackFile();
    }
    modified_ = false;
    EndProgress();
}

// --- Items ---------------------------------------------------------------

void TQDB::AddItem(const std::string& data, const TKey& key)
{
    RequireReady();
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    const int32_t end = DataEnd();
    int32_t at = 0;
    if (items_.Find(key.substr(0, 255), at))
        throw EQDBIndexError(msg::Duplicate);
    const std::string stored = compression_ ? CompressItem(data) : data;
    // The data goes to disk before the index refers to it.
    WriteData(stored, end);
    TIndex* entry = items_.MakeIndex({end, int32_t(stored.size()), compression_ ? FlagCompressed : 0});
    try {
        items_.InsertAt(at, key, entry);
    } catch (const EQDBListError&) {
        items_.FreeIndex(entry);
        throw EQDBIndexError(Format(msg::IndexMemory, fileName_));
    }
    itemIndex_ = at;
    key_ = items_.GetKey(at);
    cache_.Offer(key_, data);
    MarkModified();
    if (OnAdded)
        OnAdded(this);
    if (OnNavigate)
        OnNavigate(this);
    UpdateState();
}

void TQDB::ChangeItem(const std::string& data)
{
    RequireReady();
    if (Count() == 0)
        return Warn(Warning::NoData);
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    const std::string key(items_.GetKey(itemIndex_));
    cache_.Drop(key);
    const std::string stored = compression_ ? CompressItem(data) : data;
    TIndex* entry = items_.Index(itemIndex_);
    int32_t offset = entry->offset;
    // A block that the database file already holds moves even when the new
    // one would fit: the next flush can then write it into the file without
    // touching the bytes the file's current index leads to.
    if (int64_t(stored.size()) > entry->size || stored_.Holds(offset)) {
        if (data_.Size() > INT32_MAX)
            RaiseFileError(-1, msg::CannotExtend, fileName_);
        offset = int32_t(data_.Size());
    }
    WriteData(stored, offset);
    entry->offset = offset;
    entry->size = int32_t(stored.size());
    entry->flags = compression_ ? (entry->flags | FlagCompressed) : (entry->flags & ~FlagCompressed);
    cache_.Offer(key, data);
    MarkModified();
    if (OnChanged)
        OnChanged(this);
}

std::string TQDB::GetItem()
{
    RequireReady();
    if (Count() == 0) {
        Warn(Warning::NoData);
        return {};
    }
    // The cache is keyed by the entry's own key: Key may be empty after
    // deleting the first item while an item is still current.
    const std::string_view key = items_.GetKey(itemIndex_);
    std::string data;
    if (cache_.Lookup(key, data))
        return data;
    try {
        data = ReadEntry(*items_.Index(itemIndex_));
    } catch (const EQDBIndexError&) {
        throw;
    } catch (const EQDBError&) {
        throw EQDBIndexError(Format(msg::NotValid, fileName_));
    }
    cache_.Offer(key, data);
    return data;
}

void TQDB::AddItem(QIODevice& stream, const TKey& key)
{
    stream.seek(0);
    const QByteArray bytes = stream.readAll();
    stream.seek(0);
    AddItem(std::string(bytes.constData(), size_t(bytes.size())), key);
}

void TQDB::ChangeItem(QIODevice& stream)
{
    stream.seek(0);
    const QByteArray bytes = stream.readAll();
    stream.seek(0);
    ChangeItem(std::string(bytes.constData(), size_t(bytes.size())));
}

void TQDB::GetItem(QIODevice& stream)
{
    const std::string data = GetItem();
    stream.seek(0);
    stream.write(data.data(), qint64(data.size()));
    stream.seek(0);
}

bool TQDB::FindKey(const TKey& key)
{
    int32_t at = 0;
    if (!items_.Find(key.substr(0, 255), at))
        return false;
    GoTo(at);
    if (OnFound)
        OnFound(this);
    UpdateState();
    return true;
}

void TQDB::GoTo(int32_t index)
{
    if (Count() == 0)
        return Warn(Warning::NoData);
    if (index < 0 || index >= Count())
        return Warn(Warning::OutOfBounds);
    itemIndex_ = index;
    key_ = items_.GetKey(index);
    if (OnNavigate)
        OnNavigate(this);
}

// --- Moves -----------------------------------------------------------------

void TQDB::First()
{
    bof_ = true;
    eof_ = false;
    int32_t target = 0;
    if (!filter_.empty())
        while (target < Count() && !Matches(items_.GetKey(target)))
            ++target;
    GoTo(target);
    UpdateState();
}

void TQDB::Last()
{
    bof_ = false;
    eof_ = true;
    int32_t target = Count() - 1;
    if (!filter_.empty())
        while (target >= 0 && !Matches(items_.GetKey(target)))
            --target;
    GoTo(target);
    UpdateState();
}

void TQDB::Next()
{
    if (Count() == 0)
        return Warn(Warning::NoData);
    bof_ = eof_ = false;
    int32_t target = itemIndex_ + 1;
    if (!filter_.empty())
        while (target < Count() && !Matches(items_.GetKey(target)))
            ++target;
    if (target < Count())
        GoTo(target);
    else
        eof_ = true;
    UpdateState();
}

void TQDB::Prev()
{
    if (Count() == 0)
        return Warn(Warning::NoData);
    bof_ = eof_ = false;
    int32_t target = itemIndex_ - 1;
    if (!filter_.empty())
        while (target >= 0 && !Matches(items_.GetKey(target)))
            --target;
    if (target >= 0)
        GoTo(target);
    else
        bof_ = true;
    UpdateState();
}

void TQDB::UpdateState()
{
    if (filter_.empty()) {
        bof_ = Count() > 0 && itemIndex_ == 0;
        eof_ = Count() > 0 && itemIndex_ == Count() - 1;
    } else if (aggressiveUpdate_) {
        bool before = false, after = false;
        for (int32_t i = 0; i < itemIndex_ && !before; ++i)
            before = Matches(items_.GetKey(i));
        for (int32_t i = itemIndex_ + 1; i < Count() && !after; ++i)
            after = Matches(items_.GetKey(i));
        bof_ = !before;
        eof_ = !after;
    }
    if (navigator_)
        navigator_->UpdateButtons(NavigatorButtons());
}

// --- States ----------------------------------------------------------------

void TQDB::Insert()
{
    if (BeforeInsert)
        BeforeInsert(this);
    DoInsert();
    if (AfterInsert)
        AfterInsert(this);
}

void TQDB::Edit()
{
    if (BeforeEdit)
        BeforeEdit(this);
    DoEdit();
    if (AfterEdit)
        AfterEdit(this);
}

void TQDB::Post()
{
    if (BeforePost)
        BeforePost(this);
    DoPost();
    if (AfterPost)
        AfterPost(this);
}

void TQDB::Delete()
{
    if (BeforeDelete)
        BeforeDelete(this);
    DoDelete();
    if (AfterDelete)
        AfterDelete(this);
}

void TQDB::DoInsert()
{
    inserting_ = true;
    UpdateState();
}

void TQDB::DoEdit()
{
    editing_ = true;
    UpdateState();
}

void TQDB::DoPost()
{
    inserting_ = false;
    if (!AutoEditing())
        editing_ = false;
    UpdateState();
}

void TQDB::DoCancel()
{
    inserting_ = false;
    if (!AutoEditing())
        editing_ = false;
    UpdateState();
}

void TQDB::DoDelete()
{
    RequireReady();
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    if (Count() == 0)
        return Warn(Warning::NoData);
    inserting_ = false;
    if (!AutoEditing())
        editing_ = false;
    cache_.Drop(items_.GetKey(itemIndex_));
    items_.FreeIndex(items_.Index(itemIndex_));
    static_cast<TQDBStringList&>(items_).Delete(itemIndex_);
    if (itemIndex_ > 0)
        GoTo(itemIndex_ - 1);
    else
        key_.clear();
    MarkModified();
    if (OnDeleted)
        OnDeleted(this);
    UpdateState();
}

} // namespace qdb
