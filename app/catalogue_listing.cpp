#include "app/catalogue_listing.h"

#include "app/main_window.h"
#include "app/message_box.h"
#include "qdb/qdb_item.h"
#include "qdb/record_view.h"

#include <QLineEdit>

int RunCatalogueListing(QTextStream& out, QTextStream& err)
{
    TForm1 window; // opens the catalogue bound to its record panel
    if (!window.QDBView || !window.QDBView->Ready()) {
        err << window.CatalogueProblem() << Qt::endl;
        return 1;
    }
    qdb::TQDBView& view = *window.QDBView;
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
            const QLineEdit* fields[] = {window.edtStatus, window.edtFilename, window.edtSenderID, window.edtFaxDate,
                                         window.edteMailDate};
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
