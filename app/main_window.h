#pragma once
// The main window: the Get Faxes, Browse Faxes and Configure pages, the four
// stored settings, the status log and the progress line.
#include "app/fax_notification.h"
#include "app/form.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class TFaxBrowser;
class QTextEdit;
class QWidget;
class TAniIcon;
class TFaxExtraction;
class TMailboxDownload;
class TPop3Client;
class TQlRegistryVariable;
class TtvAPIThing;
namespace qdb {
class TQDB;
class TQDBView;
}

class TForm1 : public TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Appends one line to the status log (and hands it to OnLogLine).
    void Log(const QString& line);
    // Overwrites the progress line beside "Messages:".
    void SetProgress(const QString& text);
    // Locks or unlocks the window while a download runs.
    void SetControlsEnabled(bool enabled);
    // Starts or stops the busy animation.
    void SetBusy(bool busy);

    void ConfigureSheetShow();
    void LoadConnectionList();
    void BitBtn6Click(); // Save
    void BitBtn7Click(); // Cancel
    void btnDownloadClick();
    void btnHelpClick();
    void btnImportClick();

    // Called with every status-log line as it is appended (headless runs print them).
    std::function<void(const QString& line)> OnLogLine;

signals:
    // Emitted after a download run or an import has added faxes to the
    // catalogue, so that a showing Browse Faxes page can bring its rows up to date.
    void CatalogueChanged();

public:

    // Where dial-up connection names come from: one entry per file.
    static QString PeersFolder();

    // Working state shared by the download and extraction.
    QStringList MessageList;
    QStringList FaxDataList;
    int32_t FaxCount = 0;
    bool DatabaseEmpty = false;
    bool AttachmentPending = false;
    bool AttachmentOpen = false;
    QString ListFile;

    // Components, named as their objectName.
    QTabWidget* pgCntrl = nullptr;
    QWidget* ConnectSheet = nullptr;
    QWidget* BrowseFaxesSheet = nullptr;
    QWidget* ConfigureSheet = nullptr;
    QPushButton* BitBtn1 = nullptr; // Download
    QPushButton* btnImport = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* BitBtn3 = nullptr; // Close
    QWidget* AniIconStrip = nullptr;
    TAniIcon* AniIcon1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* InfoLabel = nullptr;
    QTextEdit* DisplayMemo = nullptr;
    QComboBox* cmbConnection = nullptr;
    QLineEdit* edtHost = nullptr;
    QLineEdit* edtUserName = nullptr;
    QLineEdit* edtPassword = nullptr;
    QComboBox* cmbSecurity = nullptr; // "TLS (POP3S)", "STARTTLS" or "None"
    QPushButton* BitBtn6 = nullptr; // Save
    QPushButton* BitBtn7 = nullptr; // Cancel
    QPushButton* BitBtn8 = nullptr; // Import on Browse Faxes
    QPushButton* BitBtn2 = nullptr; // Help on Browse Faxes
    QPushButton* BitBtn5 = nullptr; // View Fax
    QPushButton* BitBtn4 = nullptr; // Remove Fax
    QLineEdit* edtGridFilter = nullptr;
    QTableView* faxGrid = nullptr;
    // The Browse Faxes page's grid, View and Remove.
    TFaxBrowser* Browser = nullptr;

    TPop3Client* Pop3Client = nullptr;
    TMailboxDownload* Download = nullptr;
    TFaxExtraction* Extraction = nullptr;
    // Follows each run (locking and unlocking the window bracket it) and the
    // faxes it catalogues, to notify the desktop at its end.
    TFaxNotification Notification;

    TQlRegistryVariable* rgHost = nullptr;
    TQlRegistryVariable* rgUserName = nullptr;
    TQlRegistryVariable* rgPassword = nullptr;
    TQlRegistryVariable* rgConnection = nullptr;
    TQlRegistryVariable* rgSecurity = nullptr;
    TtvAPIThing* tvAPIThing1 = nullptr;

protected:
    // APF files dropped onto the window are imported as the import window does.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void HintFirstStart();
    QWidget* BuildConnectSheet();
    QWidget* BuildBrowseFaxesSheet();
    QWidget* BuildConfigureSheet();
    void LoadSecurityChoice();
    TQlRegistryVariable* MakeSetting(const char* name);

    // Catalogue
public:
    // The record panel of the Browse Faxes page: its edits are the fields of
    // the current catalogue record.
    QWidget* RcvdPanel = nullptr;
    QLineEdit* edtFilename = nullptr;
    QLineEdit* edteMailDate = nullptr;
    QLineEdit* edtSenderID = nullptr;
    QLineEdit* edtFaxDate = nullptr;
    QLineEdit* edtStatus = nullptr;
    // The catalogue "faxes.qdb" bound to RcvdPanel.
    std::unique_ptr<qdb::TQDBView> QDBView;

    void QDBViewKey(qdb::TQDB* sender, std::string& key);
    void QDBViewWarnNoData(qdb::TQDB* sender);
    void QDBViewAfterPost(qdb::TQDB* sender);

    // False when the catalogue could not be opened at start-up or cannot be
    // written: nothing may then be fetched from the mailbox, since there
    // would be nowhere to record the faxes. CatalogueProblem says why.
    bool CatalogueReady() const;
    QString CatalogueProblem() const;

private:
    QWidget* BuildRcvdPanel(QWidget* sheet);
    void OpenCatalogue();
    void CloseCatalogue();
    QString catalogueProblem_;
};

// The one main window of the program (null before it exists).
extern TForm1* Form1;
