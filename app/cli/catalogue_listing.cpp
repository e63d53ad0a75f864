#include "app/cli/catalogue_listing.h"

#include "app/core/fax_catalogue.h"
#include "qdb/qdb_item.h"
#include "qdb/record_view.h"

#include <QLineEdit>

#include <functional>
#include <string>
#include <vector>

namespace {

// The printed columns, by the name of the field that holds each.
constexpr const char* kColumnFields[] = {"edtStatus", "edtFilename", "edtSenderID", "edtFaxDate", "edteMailDate"};

// Where each printed column is among the record's fields.
std::vector<size_t> ColumnPositions(const qdb::TQDBItem& view)
{
    std::vector<size_t> positions;
    for (const char* name : kColumnFields)
        for (size_t i = 0; i < view.Fields().size(); ++i)
            if (view.Fields()[i].first == name)
                positions.push_back(i);
    return positions;
}

// A text field as its edit field shows it: the bytes up to the first zero, Latin-1.
QLatin1StringView FieldText(const std::string& value)
{
    const size_t zero = value.find('\0');
    return QLatin1StringView(value.data(), qsizetype(zero == std::string::npos ? value.size() : zero));
}

// Opens the catalogue and walks its records in key order; printRecord prints
// the current one and raises EQDBItemError for a record that cannot be read.
int ListCatalogue(QTextStream& out, QTextStream& err, const std::function<void(TFaxCatalogue&, int32_t)>& printRecord)
{
    TFaxCatalogue catalogue;
    catalogue.Open();
    if (!catalogue.View().Ready()) {
        err << catalogue.Problem() << Qt::endl;
        return 1;
    }
    int unreadable = 0;
    try {
        // Eof is already set on the last record, so the walk counts instead.
        const int32_t count = catalogue.View().Count();
        for (int32_t i = 0; i < count; ++i) {
            try {
                printRecord(catalogue, i);
            } catch (const qdb::EQDBItemError& e) {
                // A damaged record is named and skipped; the others are listed.
                // What was listed before it goes out first, so that both
                // streams keep their order when they share a terminal.
                out.flush();
                err << e.what() << Qt::endl;
                ++unreadable;
            }
        }
    } catch (const std::exception& e) {
        out.flush();
        err << "The catalogue could not be read: " << e.what() << Qt::endl;
        return 1;
    }
    out.flush();
    return unreadable > 0 ? 1 : 0;
}

} // namespace

int RunCatalogueListing(QTextStream& out, QTextStream& err)
{
    std::vector<size_t> columns;
    return ListCatalogue(out, err, [&](TFaxCatalogue& catalogue, int32_t i) {
        qdb::TQDBView& view = catalogue.View();
        if (columns.empty())
            columns = ColumnPositions(view);
        // The engine's own move: the edit fields stay as they are.
        view.GoTo(i);
        const std::vector<std::string> values = view.CurrentRecordFields();
        for (size_t c = 0; c < columns.size(); ++c) {
            if (c > 0)
                out << '\t';
            out << FieldText(values[columns[c]]);
        }
        out << '\n';
    });
}

int RunRecordViewListing(QTextStream& out, QTextStream& err)
{
    return ListCatalogue(out, err, [&](TFaxCatalogue& catalogue, int32_t i) {
        if (i == 0)
            catalogue.View().First();
        else
            catalogue.View().Next();
        const QLineEdit* fields[] = {catalogue.edtStatus, catalogue.edtFilename, catalogue.edtSenderID,
                                     catalogue.edtFaxDate, catalogue.edteMailDate};
        QStringList columns;
        for (const QLineEdit* field : fields)
            columns << field->text();
        out << columns.join(QLatin1Char('\t')) << Qt::endl;
    });
}
