#pragma once
// TQDBView: a TQDBItem whose fields are the controls of one panel. Moving
// fills the controls from the current record, posting stores them as the
// record, and the controls are coloured and read-only while no edit is in
// progress. The panel's layout is kept in the database and checked against
// the panel when either is assigned.
#include "qdb/panel_binding.h"
#include "qdb/qdb_item.h"

#include <QColor>

#include <string>
#include <vector>

class QWidget;

namespace qdb {

class EQDBViewError : public EQDBError { public: using EQDBError::EQDBError; };

class TQDBView : public TQDBItem {
public:
    TQDBView();
    ~TQDBView() override;

    // Opens the database, writes the layout into a new database or checks it
    // in an existing one, and loads the first record into the controls. When
    // the database cannot be opened or its layout differs, no database stays
    // open, the file is left as it was, and the error is passed on
    // (EQDBViewError "File doesn't match panel" for a database of another
    // layout that holds records). When only the first record cannot be read,
    // the database stays open with empty controls and the record's
    // EQDBItemError is passed on.
    void SetFileName(const std::string& name) override;

    // Binds the panel's controls as the fields. A panel that does not match
    // the open database's layout is refused with EQDBViewError.
    void SetPanel(QWidget* panel);
    QWidget* Panel() const { return binding_.Panel(); }
    const std::vector<TControlInfo>& Controls() const { return binding_.Controls(); }
    TRegisteredControlList& Registry() { return binding_.Registry(); }

    // Takes in what another writer put into the file: closes the database
    // without writing anything back, opens the file again and moves to the
    // record of the same key when it is still there (else to the first).
    // Whatever was not flushed is dropped: call it only between changes.
    void Reload();

    // Ends an edit or insert without storing, and reloads the controls.
    void DoCancel() override;

    void ClearFields() override;
    void FetchFields() override;
    void StoreFields() override;

    // True when the database (if any) and the panel (if any) agree; an empty
    // database is given the panel's layout.
    bool CheckLayout();
    // Replaces the stored layout by the panel's (not when read-only).
    void WriteLayout();

    bool Active() const { return binding_.Active(); }
    void SetActive(bool active) { binding_.SetActive(active); }
    QColor ActiveColor() const { return binding_.ActiveColor(); }
    void SetActiveColor(const QColor& color) { binding_.SetActiveColor(color); }
    QColor InactiveColor() const { return binding_.InactiveColor(); }
    void SetInactiveColor(const QColor& color) { binding_.SetInactiveColor(color); }
    int32_t ExcludeTag() const { return binding_.ExcludeTag(); }
    void SetExcludeTag(int32_t tag) { binding_.SetExcludeTag(tag); }

protected:
    void DoDelete() override;
    void DoEdit() override;
    void DoInsert() override;
    void DoPost() override;

private:
    // Closes the database without writing anything back to its file.
    void CloseUntouched();
    void RebuildFields();

    TPanelBinding binding_;
};

} // namespace qdb
