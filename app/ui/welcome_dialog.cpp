#include "app/ui/welcome_dialog.h"

#include "app/platform/working_folder.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

QString WelcomeToWorkingFolder(const QString& proposed)
{
    QString folder = proposed;
    QString problem;
    for (;;) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Welcome to Pellimar"),
                        QStringLiteral("Pellimar keeps your faxes in the folder\n%1\nwith their catalogue faxes.qdb "
                                       "and the folders temp/ (mails being fetched) and faxes/ (the fax files).\n\n"
                                       "Press OK to create it and start.%2")
                            .arg(QDir::toNativeSeparators(folder),
                                 problem.isEmpty() ? QString() : QStringLiteral("\n\nThat did not work: ") + problem));
        box.setObjectName(QStringLiteral("WelcomeBox"));
        QPushButton* ok = box.addButton(QMessageBox::Ok);
        QPushButton* other = box.addButton(QStringLiteral("Choose another folder..."), QMessageBox::ActionRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(ok);
        box.exec();
        if (box.clickedButton() == other) {
            const QString chosen = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Folder for the faxes"),
                                                                     QDir::homePath());
            if (!chosen.isEmpty())
                folder = chosen;
            problem.clear();
            continue;
        }
        if (box.clickedButton() != ok)
            return {};
        if (MakeWorkingFolder(folder, problem)) {
            if (folder != proposed)
                RememberWorkingFolder(folder);
            return folder;
        }
    }
}
