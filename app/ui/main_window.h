#pragma once
// The main window: the Get Faxes, Browse Faxes and Configure pages, the four
// stored settings, the status log and the progress line.
#include "app/core/fax_catalogue.h"
#include "app/core/run_host.h"
#include "app/platform/fax_notification.h"
#include "app/ui/form.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class TFaxBrowser;
class TFaxText;
class TFaxRulesBox;
class TSignInFields;
class QTextEdit;
class QWidget;
class TAniIcon;
class TFaxExtraction;
class TMailboxDownload;
class TImapWatch;
class TPop3Client;
class TQlRegistryVariable;
class TtvAPIThing;
namespace qdb {
class TQDB;
class TQDBView;
}

// The window hosts download runs (TRunHost) and holds their working state
// (TRunState) under the names the program has always used.
class TForm1 : public TForm, public TRunHost, public TRunState {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Appends one line to the status log (and hands it to OnLogLine).
    void Log(const QString& line) override;
    // Overwrites the progress line beside "Messages:".
    void SetProgress(const QString& text) override;
    // Locks or unlocks the window while a download runs.
    void SetControlsEnabled(bool enabled) override;
    // Starts or stops the busy animation.
    void SetBusy(bool busy) override;
    // The Configure page's fields as they stand now.
    TMailboxSettings MailboxSettings() const override;
    // The Configure page's fax-mail rules as they stand now.
    TFaxMailRules FaxMailRules() const override;

    void ConfigureSheetShow();
    void LoadConnectionList();
    void BitBtn6Click(); // Save
    void BitBtn7Click(); // Cancel
    void btnDownloadClick();
    void btnHelpClick();
    void btnImportClick();

    // Called with every status-log line as it is appended (headless runs print them).
    std::function<void(const QString& line)> OnLogLine;

    // Where dial-up connection names come from: one entry per file.
    static QString PeersFolder();

    // Set when the catalogue had no record to show, cleared when one is posted.
    bool DatabaseEmpty = false;

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
    TSignInFields* SignIn = nullptr;   // sign-in method, password command, where the password is kept
    QComboBox* cmbLanguage = nullptr;  // the language fax texts are read in
    QComboBox* cmbMailboxType = nullptr; // "POP3" or "IMAP"
    QLineEdit* edtFolder = nullptr;      // the IMAP folder fetched from
    QCheckBox* chkKeepFolder = nullptr;  // keep faxes on the server in a folder
    QLineEdit* edtKeepFolder = nullptr;
    QCheckBox* chkPushFetch = nullptr;   // fetch new faxes as they arrive (IMAP)
    TFaxRulesBox* FaxRules = nullptr;  // the fax-mail rules below the settings
    QPushButton* BitBtn6 = nullptr; // Save
    QPushButton* BitBtn7 = nullptr; // Cancel
    QPushButton* BitBtn8 = nullptr; // Import on Browse Faxes
    QPushButton* BitBtn2 = nullptr; // Help on Browse Faxes
    QPushButton* BitBtn5 = nullptr; // View Fax
    QPushButton* BitBtn4 = nullptr; // Remove Fax
    QLineEdit* edtGridFilter = nullptr;
    QTableView* faxGrid = nullptr;
    // How many faxes are still to be read for their text.
    QLabel* lblTextProgress = nullptr;
    // The Browse Faxes page's grid, View and Remove.
    TFaxBrowser* Browser = nullptr;
    // The recognised text of the faxes, read in the background.
    TFaxText* FaxText = nullptr;

    TPop3Client* Pop3Client = nullptr;
    TMailboxDownload* Download = nullptr;
    // The IDLE connection of "Fetch new faxes as they arrive".
    TImapWatch* Watch = nullptr;
    TFaxExtraction* Extraction = nullptr;
    // Follows each run (locking and unlocking the window bracket it) and the
    // faxes it catalogues, to notify the desktop at its end.
    TFaxNotification Notification;

    TQlRegistryVariable* rgHost = nullptr;
    TQlRegistryVariable* rgUserName = nullptr;
    TQlRegistryVariable* rgPassword = nullptr;
    TQlRegistryVariable* rgConnection = nullptr;
    TQlRegistryVariable* rgSecurity = nullptr;
    TQlRegistryVariable* rgTextLanguage = nullptr;
    TQlRegistryVariable* rgMailboxType = nullptr;
    TQlRegistryVariable* rgFolder = nullptr;
    TQlRegistryVariable* rgKeepOnServer = nullptr;
    TQlRegistryVariable* rgKeepFolder = nullptr;
    TQlRegistryVariable* rgPushFetch = nullptr;
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
    void LoadTextLanguage();
    void ShowTextProgress(int faxesLeft);
    void LoadMailboxKind();
    void ShowMailboxKind();
    // Starts or stops watching as the saved settings ask.
    void ApplyPushFetch();
    TQlRegistryVariable* MakeSetting(const char* name);
    // What the stored Security value was found to be at the last load (see
    // ReadSecuritySetting); a save makes it the shown choice.
    QString securityProblem_;
    bool securitySaved_ = false;
    // The control that had the focus when a run locked the controls; it gets
    // it back when they are unlocked, so that the keyboard is not left nowhere.
    QPointer<QWidget> focusBeforeRun_;

    // Catalogue
public:
    // The catalogue "faxes.qdb"; its record panel is shown on the Browse
    // Faxes page and its edits are the fields of the current record.
    std::unique_ptr<TFaxCatalogue> Catalogue;
    QWidget* RcvdPanel = nullptr;
    QLineEdit* edtFilename = nullptr;
    QLineEdit* edteMailDate = nullptr;
    QLineEdit* edtSenderID = nullptr;
    QLineEdit* edtFaxDate = nullptr;
    QLineEdit* edtStatus = nullptr;
    // The catalogue's record view, bound to RcvdPanel.
    qdb::TQDBView* QDBView = nullptr;

    void QDBViewWarnNoData(qdb::TQDB* sender);
    void QDBViewAfterPost(qdb::TQDB* sender);

    // False when the catalogue could not be opened at start-up or cannot be
    // written: nothing may then be fetched from the mailbox, since there
    // would be nowhere to record the faxes. CatalogueProblem says why.
    bool CatalogueReady() const { return Catalogue->Ready(); }
    QString CatalogueProblem() const { return Catalogue->Problem(); }

private:
    QWidget* BuildRcvdPanel(QWidget* sheet);
};

// The one main window of the program (null before it exists).
extern TForm1* Form1;
