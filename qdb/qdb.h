#pragma once
// TQDB: the catalogue database engine. A keyed store of items in one file,
// unpacked into working files while open, with a table-like cursor, an
// optional key filter, an item cache, compression and password protection.
#include "qdb/data_file.h"
#include "qdb/database_file.h"
#include "qdb/file_routines.h"
#include "qdb/item_cache.h"
#include "qdb/qdb_error.h"
#include "qdb/stored_file.h"
#include "qdb/string_list.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QIODevice;

namespace qdb {

class TQDB;

using TNotifyEvent = std::function<void(TQDB* sender)>;
using TConfirmEvent = std::function<void(TQDB* sender, bool& ok)>;
using TPasswordEvent = std::function<void(TQDB* sender, std::string& password)>;
enum class TProgressOrigin { Load = 0, Close = 1, Flush = 2 };
using TProgressEvent = std::function<void(TQDB* sender, int percent, TProgressOrigin kind)>;

// One navigator button: its bitmap resource, hint and whether it is enabled.
struct TNavigatorButton {
    const char* resource;
    const char* hint;
    bool enabled;
};
using TNavigatorButtons = std::array<TNavigatorButton, 10>;

// An attached navigator receives the button states after every state change.
class TQDBNavigator {
public:
    virtual ~TQDBNavigator() = default;
    virtual void UpdateButtons(const TNavigatorButtons& buttons) = 0;
};

class TQDB {
public:
    TQDB();
    virtual ~TQDB();
    TQDB(const TQDB&) = delete;
    TQDB& operator=(const TQDB&) = delete;

    // --- Properties ---
    std::string AboutAuthor() const { return "Pellimar catalogue database"; }
    std::string AboutVersion() const { return "2.10"; }
    bool AggressiveUpdate() const { return aggressiveUpdate_; }
    void SetAggressiveUpdate(bool v) { aggressiveUpdate_ = v; }
    int32_t CacheFrequency() const { return cache_.Frequency(); }
    void SetCacheFrequency(int32_t) { cache_.ResetStatistics(); }
    int32_t CacheSize() const { return cache_.Capacity(); }
    void SetCacheSize(int32_t bytes) { cache_.SetCapacity(bytes); }
    uint32_t CacheEvictions() const { return cache_.Evictions(); }
    bool Compression() const { return compression_; }
    void SetCompression(bool v) { compression_ = v; }
    const std::string& FileName() const { return fileName_; }
    // Closes the open database and opens the named one (a missing file is
    // created); an empty name only closes. On failure the name is cleared.
    virtual void SetFileName(const std::string& name);
    const TKey& Filter() const { return filter_; }
    void SetFilter(const TKey& filter) { filter_ = filter.substr(0, 255); }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v);
    bool SaveOnClose() const { return saveOnClose_; }
    void SetSaveOnClose(bool v) { saveOnClose_ = v; }
    bool ExpandedFileNames() const { return expandedFileNames_; }
    void SetExpandedFileNames(bool v) { expandedFileNames_ = v; }
    bool UseGrepMatch() const { return useGrepMatch_; }
    void SetUseGrepMatch(bool v) { useGrepMatch_ = v; }

    // --- Public state ---
    int32_t Count() const { return items_.Count(); }
    int32_t ItemIndex() const { return itemIndex_; }
    const TKey& Key() const { return key_; }
    // The current item's own key, also while Key is empty after deleting the
    // first item; empty when there are no items.
    TKey CurrentItemKey() const { return Count() > 0 ? TKey(items_.GetKey(itemIndex_)) : TKey(); }
    // BOF and EOF (EOF is a C library macro, hence the spelling).
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool Editing() const { return editing_; }
    bool Inserting() const { return inserting_; }
    bool Ready() const { return ready_; }
    bool Modified() const { return modified_; }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& p) { password_ = p.substr(0, 255); }
    bool CaseSensitive() const { return items_.CaseSensitive(); }
    TQDBNavigator* Navigator() const { return navigator_; }
    void SetNavigator(TQDBNavigator* n);
    // The ten navigator buttons as the current state enables them.
    TNavigatorButtons NavigatorButtons() const;

    // --- Items ---
    void AddItem(const std::string& data, const TKey& key);
    void ChangeItem(const std::string& data);
    // Returns the current item's data (empty when a warning replaced an error).
    std::string GetItem();
    // Stream forms: read from / written at the stream's start, left at 0.
    void AddItem(QIODevice& stream, const TKey& key);
    void ChangeItem(QIODevice& stream);
    void GetItem(QIODevice& stream);
    bool FindKey(const TKey& key);
    void GoTo(int32_t index);
    virtual void First();
    virtual void Last();
    virtual void Next();
    virtual void Prev();
    virtual void Refresh() {}
    virtual void Insert();
    virtual void Edit();
    virtual void Post();
    virtual void Delete();
    // Writes the index and rebuilds the database file, flushed to stable storage.
    void Flush();
    void UpdateState();
    // True when another writer has replaced or rewritten the open file since
    // this database last read or wrote it.
    bool FileChangedOnDisk() const;

    // --- Administrative items ---
    void AddAdminItem(const void* data, int32_t size, const TKey& key);
    void ChangeAdminItem(const void* data, int32_t size);
    void SetAdminString(const TKey& key, const std::string& text);
    std::string GetAdminString(const TKey& key);
    bool AdminItemExists(const TKey& key);
    bool AdminItemIsTrue(const TKey& key);
    void DeleteAdminItem(const TKey& key);
    void DeleteAdminItems(const std::string& prefix);
    int32_t ListAdminKeys(std::vector<std::string>& list, const std::string& prefix);
    int32_t AdminCount() const { return admin_.Count(); }

    // --- Events ---
    TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit, BeforePost, AfterPost;
    TNotifyEvent BeforeDelete, AfterDelete, BeforeCancel, AfterCancel, OnKilled;
    TConfirmEvent BeforeKill, BeforeOverWrite;
    TNotifyEvent OnAdded, OnChanged, OnDeleted, OnFileAssigned, OnFound, OnNavigate;
    TPasswordEvent OnDemandPassword;
    TProgressEvent ProgressUpdate;
    TNotifyEvent WarnNoData, WarnOutOfBounds, WarnReadOnly;
    // Something worth a line in the log that needs no answer.
    std::function<void(TQDB* sender, const std::string& text)> OnNotice;

protected:
    virtual void DoCancel();
    virtual void DoDelete();
    virtual void DoEdit();
    virtual void DoInsert();
    virtual void DoPost();
    // The record view keeps the edit state across posts when it auto-edits.
    virtual bool AutoEditing() const { return false; }

    void Open();
    void Close();

private:
    enum class Warning { NoData, OutOfBounds, ReadOnly };
    // Raises the warning event when assigned (returns), else throws.
    void Warn(Warning w);
    void RequireReady() const;
    bool Matches(std::string_view key) const;
    void StartProgress(TProgressOrigin origin, int32_t total);
    void Progress(int32_t i);
    void EndProgress();

    void CreateIfMissing();
    void MarkModified();
    void TakeWorkingFiles(const WorkingFiles& files);
    void SetIndexFile(const std::string& index);
    void CloseIndexFile();
    TSectionBytes ReadIndexSection();
    void LoadIndex();
    template <class Visit> void VisitStoredEntries(bool report, Visit&& visit);
    bool WriteIntoFile();
    bool FileHoldsCurrentState();
    void CheckExpansion(int64_t indexSize, const std::vector<const TIndex*>& compressed);
    template <class OffsetOf> std::string IndexSection(size_t length, OffsetOf&& offsetOf);
    size_t IndexLength(int64_t* usedBytes) const;
    void WriteIndex();
    void DropUnusedData();
    void PackFile();
    void CloseDataFile();
    int32_t DataEnd() const;
    void WriteData(const std::string& bytes, int64_t offset);
    std::string ReadEntry(const TIndex& entry);
    [[noreturn]] void NotValid() const;
    [[noreturn]] void IndexNotValid() const;

    std::string fileName_;
    bool aggressiveUpdate_ = false;
    bool compression_ = false;
    bool readOnly_ = false;
    bool saveOnClose_ = true;
    bool expandedFileNames_ = true;
    bool useGrepMatch_ = false;
    TKey filter_;

    int32_t itemIndex_ = 0;
    TKey key_;
    bool bof_ = false, eof_ = false;
    bool editing_ = false, inserting_ = false;
    bool ready_ = false, modified_ = false;
    bool readOnlyByAttribute_ = false;
    std::string password_;
    TQDBNavigator* navigator_ = nullptr;

    TIndexList items_;
    TIndexList admin_;
    int32_t adminIndex_ = 0;
    TCacheList cache_;
    int indexFile_ = -1;        // the working index file, which has no name
    TPackedSource source_;
    bool indexWritten_ = false; // the working index file holds the index
    bool flushedIntoFile_ = false; // the last flush wrote into the file
    TDataFile data_;
    FileStamp stamp_;
    TStoredFile stored_;
    // The database file is exactly what assembling it now would write, with
    // storedPassword_ as its password.
    bool storedCanonical_ = false;
    std::string storedPassword_;
    TProgressOrigin origin_ = TProgressOrigin::Load;
    int32_t step_ = 1;
    int32_t nextReport_ = 0;
};

} // namespace qdb
