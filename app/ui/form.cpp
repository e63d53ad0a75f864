#include "app/ui/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMimeData>
#include <QUrl>

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

QStringList DroppedLocalFiles(const QMimeData* data)
{
    QStringList files;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}
