#include "app/cli/catalogue_listing.h"

#include "app/core/fax_catalogue.h"
#include "qdb/qdb_item.h"
#include "qdb/record_view.h"

#include <QLineEdit>

int RunCatalogueListing(QTextStream& out, QTextStream& err)
{
    TFaxCatalogue catalogue;
    catalogue.Open();
    qdb::TQDBView& view = catalogue.View();
    if (!view.Ready()) {
        err << catalogue.Problem() << Qt::endl;
        return 1;
    }
    int unreadable = 0;
    try {
        // Eof is already set on the last record, so the walk counts instead.
        const int32_t count = view.Count();
        for (int32_t i = 0; i < count; ++i) {
            try {
                if (i == 0)
                    view.First();
                else
                    view.Next();
            } catch (const qdb::EQDBItemError& e) {
                // A damaged record is named and skipped; the others are listed.
                err << e.what() << Qt::endl;
                ++unreadable;
                continue;
            }
            const QLineEdit* fields[] = {catalogue.edtStatus, catalogue.edtFilename, catalogue.edtSenderID,
                                         catalogue.edtFaxDate, catalogue.edteMailDate};
            QStringList columns;
            for (const QLineEdit* field : fields)
                columns << field->text();
            out << columns.join(QLatin1Char('\t')) << Qt::endl;
        }
    } catch (const std::exception& e) {
        err << "The catalogue could not be read: " << e.what() << Qt::endl;
        return 1;
    }
    return unreadable > 0 ? 1 : 0;
}
