#pragma once
// The help window: the user guide in seven tabbed pages of read-only text.
#include "app/ui/form.h"

#include <array>

class QTabWidget;
class QTextEdit;

class THelpForm : public TForm {
    Q_OBJECT
public:
    static constexpr int kPageCount = 7;

    explicit THelpForm(QWidget* parent = nullptr);

    // Puts every page and its text area back in place; runs on each activation.
    void FormActivate();

    // Page captions in order: "Overview" ... "Contacting Us".
    static QString PageCaption(int page);

    QTabWidget* PageControl1 = nullptr;
    std::array<QWidget*, kPageCount> Pages{};
    std::array<QTextEdit*, kPageCount> Texts{};

protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};
