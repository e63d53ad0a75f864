#pragma once
// TQDBItem: the catalogue engine with records made of named fields. A record
// is stored as the fields' values in field order (see record_layout.h); the
// key it is stored under comes from the OnKey handler.
#include "qdb/qdb.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qdb {

class EQDBItemError : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBKeyError : public EQDBItemError { public: using EQDBItemError::EQDBItemError; };

struct TFieldInfo {
    std::string value;
    uint8_t kind = 0;
};

using TKeyEvent = std::function<void(TQDB* sender, TKey& key)>;

class TQDBItem : public TQDB {
public:
    TQDBItem();
    ~TQDBItem() override;

    // The engine's assignment; then the first record is loaded, if any.
    void SetFileName(const std::string& name) override;

    // Moves load the fields of the record moved to.
    void First() override;
    void Last() override;
    void Next() override;
    void Prev() override;
    // Reloads the fields from the current record.
    void Refresh() override;

    // Keeps the fields editable at all times; posting and cancelling then
    // leave the edit state on.
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool on) { autoEdit_ = on; }

    // Supplies the key of the record being stored (cut to 255 characters).
    TKeyEvent OnKey;

    // Stored with the window; nothing reads them.
    std::string DateTimeFormatStr = "c";
    std::string RealFormatStr;

    // The fields in record order.
    using TField = std::pair<std::string, TFieldInfo>;
    const std::vector<TField>& Fields() const { return fields_; }

    // Empties every field value.
    virtual void ClearFields();
    // Reads the current record into the fields (only when there are records).
    // A record that cannot be read or whose bytes are not exactly the fields
    // empties the fields and raises EQDBItemError naming the record's key.
    virtual void FetchFields();
    // The current record's field values, read as FetchFields reads them but
    // without touching the fields: a walk over every record that needs only
    // the bytes. Raises EQDBItemError as FetchFields does.
    std::vector<std::string> CurrentRecordFields();
    // Stores the fields under the key OnKey gives: over the record with that
    // key if there is one, else as a new record (an edit that changed the key
    // first removes the record being edited).
    virtual void StoreFields();

protected:
    void DoCancel() override;
    void DoDelete() override;
    void DoEdit() override;
    void DoInsert() override;
    void DoPost() override;
    bool AutoEditing() const override { return autoEdit_; }

    void ClearFieldList() { fields_.clear(); }
    void AddField(const std::string& name, uint8_t kind) { fields_.push_back({name, TFieldInfo{{}, kind}}); }
    std::vector<TField>& MutableFields() { return fields_; }

private:
    std::vector<TField> fields_;
    bool autoEdit_ = false;
};

} // namespace qdb
