#include "qdb/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qdb {

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent), buttons_(new QButtonGroup(this))
{
    new QVBoxLayout(this);
}

void TRadioGroup::SetItems(const QStringList& items)
{
    for (QAbstractButton* button : buttons_->buttons()) {
        buttons_->removeButton(button);
        delete button;
    }
    items_ = items;
    for (int i = 0; i < items_.size(); ++i) {
        auto* button = new QRadioButton(items_[i], this);
        buttons_->addButton(button, i);
        layout()->addWidget(button);
    }
}

int TRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < ItemCount()) {
        buttons_->button(index)->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last checked button by itself.
    buttons_->setExclusive(false);
    for (QAbstractButton* button : buttons_->buttons())
        button->setChecked(false);
    buttons_->setExclusive(true);
}

} // namespace qdb
