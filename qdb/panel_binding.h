#pragma once
// The controls of one panel bound as the fields of a record: which controls
// take part (in panel order), moving values between them and field bytes, and
// their look while editing is or is not allowed.
#include "qdb/control_registry.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

namespace qdb {

struct TControlInfo {
    QPointer<QWidget> control;
    std::string name;      // the control's object name: the field's name
    std::string className; // the registered class it binds as
    uint8_t kind;
    TClearHandler clear;
    TLoadHandler load;
    TSaveHandler save;
};

class TPanelBinding {
public:
    TPanelBinding();

    TRegisteredControlList& Registry() { return registry_; }

    // Binds the controls inside the panel (none for a null panel). Controls
    // whose tag equals ExcludeTag are left out together with everything in
    // them; a control the registry does not know is looked into for further
    // controls; a page control is looked into page by page.
    void Bind(QWidget* panel);
    QWidget* Panel() const { return panel_; }
    const std::vector<TControlInfo>& Controls() const { return controls_; }

    // The layout descriptor text of each bound control, in order.
    std::vector<std::string> Descriptors() const;

    void ClearControls();
    // Loads each control from the value of the same position (missing values
    // clear the control).
    void LoadControls(const std::vector<std::string>& values);
    std::vector<std::string> SaveControls() const;

    // Colours the bound controls and makes edits read-only or writable.
    void SetActive(bool active);
    bool Active() const { return active_; }
    // Gives the focus to the first control of the panel's tab order that is
    // a direct child of the panel and can take it; does nothing while
    // inactive or when none qualifies.
    void FocusFirstControl();

    int32_t ExcludeTag() const { return excludeTag_; }
    void SetExcludeTag(int32_t tag) { excludeTag_ = tag; }
    QColor ActiveColor() const { return activeColor_; }
    void SetActiveColor(const QColor& color);
    QColor InactiveColor() const { return inactiveColor_; }
    void SetInactiveColor(const QColor& color);

private:
    void Visit(QWidget* container);
    void VisitControl(QWidget* control);

    TRegisteredControlList registry_;
    QPointer<QWidget> panel_;
    std::vector<TControlInfo> controls_;
    int32_t excludeTag_ = -999;
    QColor activeColor_;
    QColor inactiveColor_{0xC0, 0xC0, 0xC0};
    bool active_ = false;
};

} // namespace qdb
