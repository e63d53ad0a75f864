#include "app/ui/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

TForm::TForm(QWidget* parent) : QWidget(parent)
{
    // Escape closes a secondary window as its Close button does; the main
    // window stays, since closing it ends the program.
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape_, &QShortcut::activated, this, &QWidget::close);
}

void TForm::SetMainForm(bool isMain)
{
    mainForm_ = isMain;
    escape_->setEnabled(!isMain);
}

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
