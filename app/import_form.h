#pragma once
// The window for importing fax files that another mail program saved.
#include "app/form.h"

class TImportForm : public TForm {
    Q_OBJECT
public:
    explicit TImportForm(QWidget* parent = nullptr);
};
