#include "app/ui/browse_model.h"

#include "qdb/qdb.h"
#include "qdb/record_layout.h"

#include <QFont>

#include <algorithm>
#include <numeric>

namespace {

const TFaxGridModel::TCells kDefaultHeader = {QStringLiteral("Status"), QStringLiteral("Filename"),
                                              QStringLiteral("Sender ID"), QStringLiteral("Fax Date"),
                                              QStringLiteral("eMail Date")};

bool IsDateColumn(int column) { return column == 3 || column == 4; }

// Reads `count` decimal digits at `at`; -1 when one is missing.
int Digits(const QString& text, qsizetype at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (at + i >= text.size() || !text[at + i].isDigit())
            return -1;
        value = value * 10 + text[at + i].digitValue();
    }
    return value;
}

// A text field is stored with a closing zero byte.
QString TextUpToZero(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(std::min(bytes.find('\0'), bytes.size())));
}

} // namespace

int64_t RecordDateSortKey(const QString& text)
{
    const QString t = text.trimmed();
    // mm/dd/yyyy hh:mm AM
    if (t.size() < 16 || t[2] != QLatin1Char('/') || t[5] != QLatin1Char('/') || t[10] != QLatin1Char(' ')
        || t[13] != QLatin1Char(':'))
        return -1;
    const int month = Digits(t, 0, 2), day = Digits(t, 3, 2), year = Digits(t, 6, 4);
    int hour = Digits(t, 11, 2);
    const int minute = Digits(t, 14, 2);
    if (month < 0 || day < 0 || year < 0 || hour < 0 || minute < 0)
        return -1;
    const QString suffix = t.mid(16).trimmed().toUpper();
    if (suffix == QLatin1String("AM") || suffix == QLatin1String("PM")) {
        if (hour < 1 || hour > 12)
            return -1;
        hour = hour % 12 + (suffix == QLatin1String("PM") ? 12 : 0);
    } else if (!suffix.isEmpty()) {
        return -1;
    }
    return ((int64_t(year) * 100 + month) * 100 + day) * 10000 + hour * 100 + minute;
}

TFaxGridModel::TFaxGridModel(qdb::TQDB& catalogue, std::array<int, kCellCount> fieldOfColumn, int fieldCount,
                             QObject* parent)
    : QAbstractTableModel(parent), catalogue_(catalogue), fieldOfColumn_(fieldOfColumn), fieldCount_(fieldCount),
      header_(kDefaultHeader)
{
}

int TFaxGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int TFaxGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TFaxGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount)
        return {};
    if (index.column() == kFoundInTextColumn)
        return (role == Qt::DisplayRole || role == Qt::ToolTipRole) && FoundInText(index.row())
                   ? QVariant(QStringLiteral("Yes"))
                   : QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return Cell(index.row(), index.column());
    case Qt::FontRole:
        if (Cell(index.row(), kStatusColumn) == QLatin1String("New")) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    default:
        return {};
    }
}

QVariant TFaxGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
        return {};
    return section < kCellCount ? header_[size_t(section)] : QStringLiteral("Found in text");
}

void TFaxGridModel::SetHeaderTexts(const TCells& texts)
{
    if (texts == header_)
        return;
    header_ = texts;
    emit headerDataChanged(Qt::Horizontal, 0, kCellCount - 1);
}

QString TFaxGridModel::Cell(int row, int column) const
{
    const int32_t record = RecordOfRow(row);
    if (record < 0 || column < 0 || column >= kCellCount)
        return {};
    return CellsOf(record)[size_t(column)];
}

int32_t TFaxGridModel::RecordOfRow(int row) const
{
    return row >= 0 && size_t(row) < rows_.size() ? rows_[size_t(row)] : -1;
}

int TFaxGridModel::RowOfRecord(int32_t record) const
{
    const auto at = std::find(rows_.begin(), rows_.end(), record);
    return at == rows_.end() ? -1 : int(at - rows_.begin());
}

const TFaxGridModel::TCells& TFaxGridModel::CellsOf(int32_t record) const
{
    static const TCells kNoCells;
    if (record < 0 || size_t(record) >= cells_.size())
        return kNoCells;
    std::optional<TCells>& cells = cells_[size_t(record)];
    if (!cells)
        cells = ReadRecord(record);
    return *cells;
}

// Reading moves the catalogue to the record and back, so the record panel
// and whatever the page does with the current record are not disturbed.
TFaxGridModel::TCells TFaxGridModel::ReadRecord(int32_t record) const
{
    TCells cells;
    if (record >= catalogue_.Count())
        return cells;
    const int32_t current = catalogue_.ItemIndex();
    try {
        catalogue_.GoTo(record);
        const std::vector<std::string> values = qdb::DecodeRecord(catalogue_.GetItem(), size_t(fieldCount_));
        for (int column = 0; column < kCellCount; ++column) {
            const int field = fieldOfColumn_[size_t(column)];
            if (field >= 0 && field < int(values.size()))
                cells[size_t(column)] = TextUpToZero(values[size_t(field)]);
        }
    } catch (const std::exception&) {
        // A damaged record still gets its row, named by its key, so that it
        // can be found and removed.
        cells = TCells();
        cells[kFilenameColumn] = QString::fromLatin1(catalogue_.CurrentItemKey());
    }
    if (current >= 0 && current < catalogue_.Count())
        catalogue_.GoTo(current);
    return cells;
}

void TFaxGridModel::ReadAllRecords() const
{
    for (int32_t record = 0; record < int32_t(cells_.size()); ++record)
        CellsOf(record);
}

std::vector<int32_t> TFaxGridModel::ArrangedRows() const
{
    std::vector<int32_t> rows(cells_.size());
    std::iota(rows.begin(), rows.end(), 0);
    if (!filter_.isEmpty() || (sortColumn_ >= 0 && sortColumn_ != kFilenameColumn))
        ReadAllRecords();
    if (!filter_.isEmpty()) {
        std::erase_if(rows, [this](int32_t record) {
            const TCells& cells = *cells_[size_t(record)];
            return std::none_of(cells.begin(), cells.end(),
                                [this](const QString& cell) { return cell.contains(filter_, Qt::CaseInsensitive); })
                   && !textMatches_.contains(cells[kFilenameColumn].toLower());
        });
    }
    if (sortColumn_ >= 0 && sortColumn_ != kFilenameColumn && sortColumn_ < kCellCount) {
        const size_t column = size_t(sortColumn_);
        if (IsDateColumn(sortColumn_)) {
            std::vector<int64_t> keys(cells_.size());
            for (int32_t record : rows)
                keys[size_t(record)] = RecordDateSortKey((*cells_[size_t(record)])[column]);
            std::stable_sort(rows.begin(), rows.end(),
                             [&keys](int32_t a, int32_t b) { return keys[size_t(a)] < keys[size_t(b)]; });
        } else {
            std::stable_sort(rows.begin(), rows.end(), [this, column](int32_t a, int32_t b) {
                return (*cells_[size_t(a)])[column].compare((*cells_[size_t(b)])[column], Qt::CaseInsensitive) < 0;
            });
        }
    }
    // Descending is the ascending order turned round; the Filename column
    // follows the catalogue's own key order either way.
    if (sortColumn_ >= 0 && sortColumn_ < kCellCount && sortOrder_ == Qt::DescendingOrder)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

void TFaxGridModel::Rearrange()
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int32_t> records;
    records.reserve(size_t(before.size()));
    for (const QModelIndex& index : before)
        records.push_back(RecordOfRow(index.row()));
    rows_ = ArrangedRows();
    std::vector<int> rowOf(cells_.size(), -1);
    for (size_t row = 0; row < rows_.size(); ++row)
        rowOf[size_t(rows_[row])] = int(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int32_t record = records[size_t(i)];
        const int row = record >= 0 ? rowOf[size_t(record)] : -1;
        after.push_back(row >= 0 ? index(row, before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TFaxGridModel::sort(int column, Qt::SortOrder order)
{
    sortColumn_ = column;
    sortOrder_ = order;
    Rearrange();
}

void TFaxGridModel::SetFilterText(const QString& text)
{
    if (text == filter_)
        return;
    filter_ = text;
    textMatches_.clear();
    Rearrange();
}

void TFaxGridModel::SetFilter(const QString& text, const QSet<QString>& textMatches)
{
    if (text == filter_ && textMatches == textMatches_)
        return;
    filter_ = text;
    textMatches_ = filter_.isEmpty() ? QSet<QString>() : textMatches;
    Rearrange();
    if (!rows_.empty())
        emit dataChanged(index(0, kFoundInTextColumn), index(int(rows_.size()) - 1, kFoundInTextColumn));
}

bool TFaxGridModel::FoundInText(int row) const
{
    return !textMatches_.isEmpty() && textMatches_.contains(Cell(row, kFilenameColumn).toLower());
}

void TFaxGridModel::Clear()
{
    beginResetModel();
    cells_.clear();
    rows_.clear();
    endResetModel();
}

void TFaxGridModel::Reload(bool keepReadRows)
{
    beginResetModel();
    const size_t count = size_t(std::max<int32_t>(catalogue_.Count(), 0));
    if (!keepReadRows)
        cells_.clear();
    cells_.resize(count);
    rows_ = ArrangedRows();
    endResetModel();
}

void TFaxGridModel::SetRecordCells(int32_t record, const TCells& cells)
{
    if (record < 0)
        return;
    if (size_t(record) >= cells_.size())
        cells_.resize(size_t(record) + 1);
    cells_[size_t(record)] = cells;
    const int row = RowOfRecord(record);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void TFaxGridModel::RecordChanged(int32_t record)
{
    if (record < 0 || size_t(record) >= cells_.size())
        return;
    SetRecordCells(record, ReadRecord(record));
}

void TFaxGridModel::RecordRemoved(int32_t record)
{
    if (record < 0 || size_t(record) >= cells_.size())
        return;
    const int row = RowOfRecord(record);
    if (row >= 0) {
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
    }
    for (int32_t& shown : rows_)
        if (shown > record)
            --shown;
    cells_.erase(cells_.begin() + record);
    if (row >= 0)
        endRemoveRows();
}
