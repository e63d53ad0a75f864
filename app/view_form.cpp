#include "app/view_form.h"

TViewForm::TViewForm(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("ViewForm"));
    setWindowTitle(QStringLiteral("Pellimar Fax Viewer"));
    resize(800, 600);
}
