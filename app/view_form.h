#pragma once
// The fax viewer window.
#include "app/form.h"

class TViewForm : public TForm {
    Q_OBJECT
public:
    explicit TViewForm(QWidget* parent = nullptr);
};
