#include "app/import_form.h"

TImportForm::TImportForm(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("ImportForm"));
    setWindowTitle(QStringLiteral("Pellimar Import Fax"));
    resize(640, 480);
}
