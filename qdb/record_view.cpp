#include "qdb/record_view.h"

#include "qdb/record_layout.h"

namespace qdb {

namespace {
constexpr const char* kLayoutMismatch = "File doesn't match panel";
}

TQDBView::TQDBView() { binding_.SetActive(false); }

TQDBView::~TQDBView() = default;

void TQDBView::SetFileName(const std::string& name)
{
    const bool wasReady = Ready();
    const std::string previous = FileName();
    TQDB::SetFileName(name);
    if (!Ready() || (wasReady && FileName() == previous))
        return; // closed, or the same database again
    // The layout is checked before any record is decoded with it, and a
    // database of another layout is closed without being rewritten.
    try {
        if (!CheckLayout())
            throw EQDBViewError(kLayoutMismatch);
    } catch (...) {
        CloseUntouched();
        throw;
    }
    // A damaged record is reported but keeps the database open: the other
    // records stay readable and new ones can be added.
    if (Count() > 0)
        First();
}

void TQDBView::CloseUntouched()
{
    const bool readOnly = ReadOnly();
    SetReadOnly(true);
    try {
        TQDB::SetFileName({});
    } catch (...) {
        SetReadOnly(readOnly);
        throw;
    }
    SetReadOnly(readOnly);
}

void TQDBView::Reload()
{
    if (!Ready())
        return;
    const std::string name = FileName();
    const std::string key = CurrentItemKey();
    CloseUntouched();
    SetFileName(name);
    if (!key.empty() && Count() > 0 && !FindKey(key))
        First();
}

void TQDBView::SetPanel(QWidget* panel)
{
    binding_.Bind(panel);
    RebuildFields();
    if (!CheckLayout()) {
        SetPanel(nullptr);
        throw EQDBViewError(kLayoutMismatch);
    }
    if (Ready() && Count() > 0)
        First();
    SetActive(AutoEdit());
}

void TQDBView::RebuildFields()
{
    ClearFieldList();
    for (const TControlInfo& info : binding_.Controls())
        AddField(info.name, info.kind);
}

bool TQDBView::CheckLayout()
{
    if (!Ready() || !Panel())
        return true;
    if (AdminItemExists(LayoutKey(0))) {
        const std::vector<std::string> descriptors = binding_.Descriptors();
        bool same = !AdminItemExists(LayoutKey(int32_t(descriptors.size())));
        for (size_t i = 0; same && i < descriptors.size(); ++i) {
            const std::string key = LayoutKey(int32_t(i));
            same = AdminItemExists(key) && GetAdminString(key) == descriptors[i];
        }
        if (same)
            return true;
        if (Count() > 0)
            return false;
    }
    WriteLayout();
    return true;
}

void TQDBView::WriteLayout()
{
    if (ReadOnly())
        return;
    DeleteAdminItems(kLayoutPrefix);
    const std::vector<std::string> descriptors = binding_.Descriptors();
    for (size_t i = 0; i < descriptors.size(); ++i)
        SetAdminString(LayoutKey(int32_t(i)), descriptors[i]);
}

void TQDBView::ClearFields()
{
    TQDBItem::ClearFields();
    binding_.ClearControls();
}

void TQDBView::FetchFields()
{
    if (Count() <= 0)
        return;
    TQDBItem::FetchFields();
    std::vector<std::string> values;
    for (const TField& field : Fields())
        values.push_back(field.second.value);
    binding_.LoadControls(values);
    binding_.FocusFirstControl();
}

void TQDBView::StoreFields()
{
    const std::vector<std::string> values = binding_.SaveControls();
    std::vector<TField>& fields = MutableFields();
    for (size_t i = 0; i < fields.size() && i < values.size(); ++i)
        fields[i].second.value = values[i];
    TQDBItem::StoreFields();
}

void TQDBView::DoInsert()
{
    if (!Ready())
        return;
    SetActive(true);
    binding_.FocusFirstControl();
    TQDBItem::DoInsert();
}

void TQDBView::DoEdit()
{
    if (!Ready())
        return;
    SetActive(true);
    TQDBItem::DoEdit();
}

void TQDBView::DoPost()
{
    if (!Ready())
        return;
    if (Active())
        TQDBItem::DoPost();
    if (!AutoEdit())
        SetActive(false);
}

void TQDBView::DoDelete()
{
    if (!Ready())
        return;
    if (!AutoEdit())
        SetActive(false);
    TQDBItem::DoDelete();
}

void TQDBView::DoCancel()
{
    if (!AutoEdit())
        SetActive(false);
    TQDBItem::DoCancel();
}

} // namespace qdb
