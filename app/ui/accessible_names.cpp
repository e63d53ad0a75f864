#include "app/ui/accessible_names.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

// A label's text as it is read: without its mnemonic marker and its colon.
QString SpokenLabel(QString text)
{
    text = text.remove(QLatin1Char('&')).trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

void Name(QWidget* widget, const QString& name)
{
    if (widget && widget->accessibleName().isEmpty())
        widget->setAccessibleName(name);
}

} // namespace

void NameFieldsAfterLabels(QFormLayout& form)
{
    for (int row = 0; row < form.rowCount(); ++row) {
        QLayoutItem* labelItem = form.itemAt(row, QFormLayout::LabelRole);
        QLayoutItem* fieldItem = form.itemAt(row, QFormLayout::FieldRole);
        auto* label = labelItem ? qobject_cast<QLabel*>(labelItem->widget()) : nullptr;
        QWidget* field = fieldItem ? fieldItem->widget() : nullptr;
        if (!label || !field)
            continue;
        const QString name = SpokenLabel(label->text());
        Name(field, name);
        if (auto* combo = qobject_cast<QComboBox*>(field))
            Name(combo->lineEdit(), name);
    }
}
