#include "app/form.h"

#include <QApplication>
#include <QCloseEvent>

TForm::TForm(QWidget* parent) : QWidget(parent) {}

void TForm::closeEvent(QCloseEvent* event)
{
    TCloseAction action = TCloseAction::caHide;
    if (OnClose)
        OnClose(this, action);

    switch (action) {
    case TCloseAction::caNone:
        event->ignore();
        return;
    case TCloseAction::caMinimize:
        event->ignore();
        showMinimized();
        return;
    case TCloseAction::caHide:
    case TCloseAction::caFree:
        event->accept();
        break;
    }
    if (mainForm_)
        QCoreApplication::quit();
}
