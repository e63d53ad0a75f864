#include "qdb/qdb_item.h"

#include "qdb/record_layout.h"

namespace qdb {

namespace {
constexpr size_t kMaxKeyLength = 255;
constexpr const char* kUnreadableRecord = "The record %s cannot be read";
}

TQDBItem::TQDBItem() = default;
TQDBItem::~TQDBItem() = default;

void TQDBItem::SetFileName(const std::string& name)
{
    TQDB::SetFileName(name);
    if (Ready() && Count() > 0)
        First();
}

// A move on a closed database is left to the engine, which reports that there
// is no data; callers that walk the records until EOF then stop.
void TQDBItem::First()
{
    TQDB::First();
    if (Ready())
        FetchFields();
}

void TQDBItem::Last()
{
    TQDB::Last();
    if (Ready())
        FetchFields();
}

void TQDBItem::Next()
{
    TQDB::Next();
    if (Ready())
        FetchFields();
}

void TQDBItem::Prev()
{
    TQDB::Prev();
    if (Ready())
        FetchFields();
}

void TQDBItem::Refresh()
{
    if (Ready())
        FetchFields();
}

void TQDBItem::ClearFields()
{
    for (TField& field : fields_)
        field.second.value.clear();
}

void TQDBItem::FetchFields()
{
    if (Count() <= 0)
        return;
    std::vector<std::string> values;
    try {
        values = CurrentRecordFields();
    } catch (const EQDBItemError&) {
        // The database stays usable: the fields are emptied and the caller
        // learns which record is damaged.
        ClearFields();
        throw;
    }
    for (size_t i = 0; i < fields_.size(); ++i)
        fields_[i].second.value = std::move(values[i]);
}

std::vector<std::string> TQDBItem::CurrentRecordFields()
{
    try {
        const std::string record = GetItem();
        // Without fields (no panel bound) there is nothing to check against.
        if (!fields_.empty() && !IsWholeRecord(record, fields_.size()))
            throw std::runtime_error("its bytes do not hold the record's fields");
        return DecodeRecord(record, fields_.size());
    } catch (const std::runtime_error& e) {
        throw EQDBItemError(Format(kUnreadableRecord, CurrentItemKey()) + ": " + e.what());
    }
}

void TQDBItem::StoreFields()
{
    std::vector<std::string> values;
    values.reserve(fields_.size());
    for (const TField& field : fields_)
        values.push_back(field.second.value);
    const std::string record = EncodeRecord(values);

    if (!OnKey)
        throw EQDBKeyError("Cannot store data unless an OnKey handler is assigned");
    TKey key;
    OnKey(this, key);
    if (key.size() > kMaxKeyLength)
        key.resize(kMaxKeyLength);

    if (FindKey(key)) {
        ChangeItem(record);
        return;
    }
    if (!Inserting())
        TQDB::DoDelete(); // the key of the edited record changed: it moves
    AddItem(record, key);
}

void TQDBItem::DoCancel()
{
    if (!Ready())
        return;
    TQDB::DoCancel();
    FetchFields();
}

void TQDBItem::DoDelete()
{
    if (!Ready())
        return;
    TQDB::DoDelete();
    if (Count() == 0)
        ClearFields();
    else
        FetchFields();
}

void TQDBItem::DoEdit()
{
    if (!Ready())
        return;
    Refresh();
    TQDB::DoEdit();
}

void TQDBItem::DoInsert()
{
    if (!Ready())
        return;
    TQDB::DoInsert();
    ClearFields();
}

void TQDBItem::DoPost()
{
    if (!Ready() || !(Editing() || Inserting()))
        return;
    StoreFields();
    TQDB::DoPost();
}

} // namespace qdb
