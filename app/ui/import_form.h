#pragma once
// The window for importing fax files that another mail program saved: a
// drive list, a folder tree, a filter and the fax files of the chosen folder,
// with a preview of the selected file. OK copies the file into "faxes/" and
// catalogues it; APF files dropped onto the window are imported the same way.
// Browsing never changes the process's current directory.
#include "app/ui/form.h"

#include <QString>
#include <QStringList>

class QComboBox;
class QFileSystemModel;
class QFileSystemWatcher;
class QListWidget;
class QPushButton;
class QTreeView;
class TFaxCatalogue;
class TFlyingOp;
class TRunHost;
class TKivFaxViewer;

class TImportForm : public TForm {
    Q_OBJECT
public:
    explicit TImportForm(QWidget* parent = nullptr);

    // The folder whose fax files are listed.
    const QString& Directory() const { return directory_; }
    // Shows `folder` in the folder tree (choosing the drive that holds it)
    // and lists its fax files.
    void SetDirectory(const QString& folder);
    // Full path of the selected file; empty when none is selected.
    QString SelectedPath() const;
    // Imports each file; returns how many were catalogued.
    int ImportFiles(const QStringList& paths);
    // Where imported faxes are catalogued and logged; until set, nothing is imported.
    void SetCatalogue(TFaxCatalogue* catalogue, TRunHost* host);

    void FormCreate();
    void FileListBox1Click();
    void BitBtn1Click(); // OK

    // The working folder at start-up: imports go into its "faxes/".
    QString StartDirectory;

    // Components, named as their objectName.
    QComboBox* DriveComboBox1 = nullptr;
    QTreeView* DirectoryListBox1 = nullptr;
    QComboBox* FilterComboBox1 = nullptr;
    QListWidget* FileListBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // Close
    TKivFaxViewer* KivFaxViewer1 = nullptr;
    TFlyingOp* FlyingOp1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* BuildColumn();
    void FillDrives();
    void DriveChanged();
    void FillFileList();
    void ShowPreview(const QString& path);

    QFileSystemModel* folders_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    QString directory_;
    TFaxCatalogue* catalogue_ = nullptr;
    TRunHost* host_ = nullptr;
};
