#pragma once
// TRadioGroup: a framed group of radio buttons, one per item, of which at most
// one is selected. ItemIndex -1 means none.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;

namespace qdb {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    void SetItems(const QStringList& items);
    QStringList Items() const { return items_; }
    int ItemCount() const { return int(items_.size()); }

    int ItemIndex() const;
    // Selects the item; -1 or an index outside the items selects none.
    void SetItemIndex(int index);

private:
    QStringList items_;
    QButtonGroup* buttons_;
};

} // namespace qdb
