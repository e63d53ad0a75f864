#include "qdb/control_registry.h"

#include "qdb/control_handlers.h"
#include "qdb/image_control.h"
#include "qdb/radio_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>
#include <QVariant>

namespace qdb {

TRegisteredControlList::TRegisteredControlList()
{
    Register({&QLineEdit::staticMetaObject, "TEdit", 6, ClearEdit, LoadEdit, SaveEdit});
    Register({&QTextEdit::staticMetaObject, "TRichEdit", 8, ClearRichEdit, LoadRichEdit, SaveRichEdit});
    Register({&TRadioGroup::staticMetaObject, "TRadioGroup", 1, ClearRadioGroup, LoadRadioGroup, SaveRadioGroup});
    Register({&QCheckBox::staticMetaObject, "TCheckBox", 1, ClearCheckBox, LoadCheckBox, SaveCheckBox});
    Register({&QComboBox::staticMetaObject, "TComboBox", 6, ClearComboBox, LoadComboBox, SaveComboBox});
    Register({&QListWidget::staticMetaObject, "TListBox", 2, ClearListBox, LoadListBox, SaveListBox});
    Register({&TImage::staticMetaObject, "TImage", 9, ClearImage, LoadImage, SaveImage});
}

const TRegisteredControl* TRegisteredControlList::Find(const QWidget* control) const
{
    const QMetaObject* cls = control->metaObject();
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
        if (cls->inherits(entry->controlClass))
            return &*entry;
    return nullptr;
}

int32_t ControlTag(const QWidget* control)
{
    return control->property(kTagProperty).toInt();
}

void SetControlTag(QWidget* control, int32_t tag)
{
    control->setProperty(kTagProperty, tag);
}

} // namespace qdb
