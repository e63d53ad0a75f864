#pragma once
// The registry of control classes a record view can bind: for each class the
// kind byte stored in the layout, the class name written into the layout
// descriptors, and the handlers that move a value between the control and the
// bytes of its field.
#include <QtGlobal>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct QMetaObject;
class QWidget;

namespace qdb {

using TClearHandler = void (*)(QWidget* control);
using TLoadHandler = void (*)(QWidget* control, std::string_view bytes);
using TSaveHandler = std::string (*)(QWidget* control);

struct TRegisteredControl {
    const QMetaObject* controlClass;
    std::string className;
    uint8_t kind;
    TClearHandler clear;
    TLoadHandler load;
    TSaveHandler save;
};

class TRegisteredControlList {
public:
    // Filled with the standard controls: line edit ("TEdit", kind 6), rich
    // text edit ("TRichEdit", 8), radio group ("TRadioGroup", 1), check box
    // ("TCheckBox", 1), combo box ("TComboBox", 6), list box ("TListBox", 2)
    // and image ("TImage", 9), in that order.
    TRegisteredControlList();

    void Register(TRegisteredControl entry) { entries_.push_back(std::move(entry)); }

    // The entry of the last registered class the control's class inherits
    // from, or null when the control cannot be bound.
    const TRegisteredControl* Find(const QWidget* control) const;

    const std::vector<TRegisteredControl>& Entries() const { return entries_; }

private:
    std::vector<TRegisteredControl> entries_;
};

// A control's tag, kept as the dynamic property "tag" (0 when not set).
inline constexpr const char* kTagProperty = "tag";
int32_t ControlTag(const QWidget* control);
void SetControlTag(QWidget* control, int32_t tag);

} // namespace qdb
