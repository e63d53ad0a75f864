#pragma once
// The rows of the fax grid on the Browse Faxes page: one row per catalogue
// record, read from the catalogue only when a row is first needed, so that a
// catalogue of many years shows at once. Rows follow the catalogue's key
// order unless a column was chosen to sort by; a filter text keeps the rows
// in which any column contains it.
#include <QAbstractTableModel>
#include <QSet>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace qdb {
class TQDB;
}

class TFaxGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Columns 0 to 4 show Status, Filename, Sender ID, Fax Date and eMail
    // Date; column 5, "Found in text", marks the rows the filter found in
    // the fax's recognised text rather than (or besides) in its fields.
    static constexpr int kColumnCount = 6;
    static constexpr int kCellCount = 5;
    static constexpr int kStatusColumn = 0;
    static constexpr int kFilenameColumn = 1;
    static constexpr int kFoundInTextColumn = 5;
    using TCells = std::array<QString, kCellCount>;

    // `fieldOfColumn` gives, for columns 0 to 4, the position of that field in
    // a stored record of `fieldCount` fields.
    TFaxGridModel(qdb::TQDB& catalogue, std::array<int, kCellCount> fieldOfColumn, int fieldCount,
                  QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Column -1 (and the Filename column ascending) is the catalogue's key
    // order; the date columns sort by date.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // No rows at all (an empty catalogue).
    void Clear();
    // One row per record of the catalogue. Rows already read are kept when
    // `keepReadRows` is set (the catalogue only lost records since).
    void Reload(bool keepReadRows);
    // Takes the cells of record `record` as given (read from the record
    // panel), so that it need not be read again.
    void SetRecordCells(int32_t record, const TCells& cells);
    // Reads record `record` afresh and shows its new cells.
    void RecordChanged(int32_t record);
    // Drops the row of record `record`, which was deleted from the catalogue
    // (the records after it move up by one).
    void RecordRemoved(int32_t record);
    void SetHeaderTexts(const TCells& texts);

    void SetFilterText(const QString& text);
    QString FilterText() const { return filter_; }
    // The filter text and the keys (lower case) whose recognised text holds
    // its words; those rows are kept too and marked "Found in text".
    void SetFilter(const QString& text, const QSet<QString>& textMatches);
    bool FoundInText(int row) const;

    QString Cell(int row, int column) const;
    // The record shown in `row`, or -1.
    int32_t RecordOfRow(int row) const;
    int RowOfRecord(int32_t record) const;

private:
    const TCells& CellsOf(int32_t record) const;
    TCells ReadRecord(int32_t record) const;
    void ReadAllRecords() const;
    std::vector<int32_t> ArrangedRows() const;
    // Puts the rows into a new order, keeping the selection on its records.
    void Rearrange();

    qdb::TQDB& catalogue_;
    std::array<int, kCellCount> fieldOfColumn_;
    int fieldCount_;
    TCells header_;
    // Cells of each catalogue record, by record number, once read.
    mutable std::vector<std::optional<TCells>> cells_;
    // The record shown in each row.
    std::vector<int32_t> rows_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QString filter_;
    QSet<QString> textMatches_;
};

// "mm/dd/yyyy hh:mm AM/PM" as a number that sorts as the date does; -1 for
// a text of another form.
int64_t RecordDateSortKey(const QString& text);
