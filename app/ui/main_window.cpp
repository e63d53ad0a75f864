#include "app/ui/main_window.h"

#include "app/ui/accessible_names.h"
#include "app/ui/ani_icon.h"
#include "app/ui/browse_page.h"
#include "app/ui/fax_rules_box.h"
#include "app/ui/sign_in_fields.h"
#include "app/core/download.h"
#include "app/core/fax_catalogue.h"
#include "app/core/extraction.h"
#include "app/core/imap_watch.h"
#include "app/core/fax_text.h"
#include "app/core/page_reader.h"
#include "app/ui/forms.h"
#include "app/ui/import_form.h"
#include "app/ui/line_edit_fit.h"
#include "app/ui/page_keys.h"
#include "app/platform/message_box.h"
#include "app/ui/registry_variable.h"
#include "app/core/mailbox_kind.h"
#include "app/core/security_choice.h"
#include "app/platform/system_info.h"
#include "mail/pop3_client.h"
#include "qdb/record_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

TForm1* Form1 = nullptr;
TForm* ViewForm = nullptr;
TForm* HelpForm = nullptr;
TForm* ImportForm = nullptr;

namespace {

constexpr int kMaxConnections = 16;  // slots of the phone-book buffer
constexpr int kMaxConnectionName = 256;
constexpr int kSenderIdLength = 40; // the longest sender ID the panel shows whole

// Shows every character of a password field as "*".
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QPushButton* MakeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QWidget* MaroonStrip(QWidget* parent)
{
    auto* strip = new QWidget(parent);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, QColor(0x80, 0x00, 0x00));
    strip->setPalette(palette);
    return strip;
}

} // namespace

TForm1::TForm1(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Pellimar"));
    SetMainForm(true);
    resize(640, 480);
    setAcceptDrops(true);

    pgCntrl = new QTabWidget(this);
    pgCntrl->setObjectName(QStringLiteral("pgCntrl"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pgCntrl);

    ConnectSheet = BuildConnectSheet();
    BrowseFaxesSheet = BuildBrowseFaxesSheet();
    ConfigureSheet = BuildConfigureSheet();
    pgCntrl->addTab(ConnectSheet, QStringLiteral("Get Faxes"));
    pgCntrl->addTab(BrowseFaxesSheet, QStringLiteral("Browse Faxes"));
    pgCntrl->addTab(ConfigureSheet, QStringLiteral("Configure"));
    pgCntrl->setCurrentWidget(ConnectSheet);
    AddPageSwitchKeys(*pgCntrl);

    Pop3Client = new TPop3Client(this);
    Pop3Client->setObjectName(QStringLiteral("Pop3Client"));
    Download = new TMailboxDownload(*this, *this, *Catalogue, *Pop3Client, this);
    Extraction = new TFaxExtraction(*this, *this, *Catalogue, *Download, this);
    Watch = new TImapWatch(*this, this);
    Watch->DownloadRunning = [this] { return Download->Running(); };
    Watch->StartDownload = [this] { Download->btnDownloadClick(); };
    Download->OnRunFinished = [this](TRunOutcome outcome) {
        Watch->DownloadFinished(outcome == TRunOutcome::FolderBusy);
    };

    rgHost = MakeSetting("rgHost");
    rgUserName = MakeSetting("rgUserName");
    rgPassword = MakeSetting("rgPassword");
    rgConnection = MakeSetting("rgConnection");
    rgSecurity = MakeSetting("rgSecurity");
    rgTextLanguage = MakeSetting("rgTextLanguage");
    rgMailboxType = MakeSetting(kMailboxTypeSetting);
    rgFolder = MakeSetting(kFolderSetting);
    rgKeepOnServer = MakeSetting(kKeepOnServerSetting);
    rgKeepFolder = MakeSetting(kKeepFolderSetting);
    rgPushFetch = MakeSetting(kPushFetchSetting);
    tvAPIThing1 = new TtvAPIThing(this);
    tvAPIThing1->setObjectName(QStringLiteral("tvAPIThing1"));

    connect(pgCntrl, &QTabWidget::currentChanged, this, [this](int index) {
        if (pgCntrl->widget(index) == ConfigureSheet)
            ConfigureSheetShow();
    });
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::btnDownloadClick);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(btnHelp, &QPushButton::clicked, this, &TForm1::btnHelpClick);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::btnHelpClick);
    connect(btnImport, &QPushButton::clicked, this, &TForm1::btnImportClick);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::btnImportClick);
    connect(BitBtn3, &QPushButton::clicked, this, &QWidget::close);

    FormCreate();
    if (!Form1)
        Form1 = this;
}

TForm1::~TForm1()
{
    // The pages read so far are stored before the catalogue closes.
    if (FaxText)
        FaxText->Stop();
    Catalogue->Close();
    if (Form1 == this)
        Form1 = nullptr;
}

TQlRegistryVariable* TForm1::MakeSetting(const char* name)
{
    auto* variable = new TQlRegistryVariable(this);
    SetUpPellimarSetting(*variable, name);
    return variable;
}

QWidget* TForm1::BuildConnectSheet()
{
    auto* sheet = new QWidget;
    sheet->setObjectName(QStringLiteral("ConnectSheet"));
    auto* layout = new QVBoxLayout(sheet);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = MakeButton(QStringLiteral("&Download"), "BitBtn1", sheet);
    btnImport = MakeButton(QStringLiteral("&Import Fax..."), "btnImport", sheet);
    btnHelp = MakeButton(QStringLiteral("&Help"), "btnHelp", sheet);
    BitBtn3 = MakeButton(QStringLiteral("&Close"), "BitBtn3", sheet);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(btnImport);
    buttons->addWidget(btnHelp);
    buttons->addWidget(BitBtn3);
    buttons->addStretch();
    layout->addLayout(buttons);

    AniIconStrip = MaroonStrip(sheet);
    auto* stripLayout = new QHBoxLayout(AniIconStrip);
    stripLayout->setContentsMargins(4, 4, 4, 4);
    AniIcon1 = new TAniIcon(AniIconStrip);
    AniIcon1->setObjectName(QStringLiteral("AniIcon1"));
    AniIcon1->setFixedSize(32, 32);
    AniIcon1->SetAniFile(PellimarBusyAnimation());
    stripLayout->addWidget(AniIcon1);
    stripLayout->addStretch();
    layout->addWidget(AniIconStrip);

    auto* info = new QFormLayout;
    Edit1 = new QLineEdit(sheet);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setReadOnly(true);
    InfoLabel = new QLabel(sheet);
    InfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    info->addRow(QStringLiteral("Host:"), Edit1);
    info->addRow(QStringLiteral("Messages:"), InfoLabel);
    layout->addLayout(info);
    SetProgress(QString());
    NameFieldsAfterLabels(*info);

    DisplayMemo = new QTextEdit(sheet);
    DisplayMemo->setObjectName(QStringLiteral("DisplayMemo"));
    DisplayMemo->setReadOnly(true);
    DisplayMemo->setLineWrapMode(QTextEdit::NoWrap);
    DisplayMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DisplayMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DisplayMemo->setAccessibleName(QStringLiteral("Status log"));
    DisplayMemo->setAccessibleDescription(QStringLiteral("What downloads and imports report, one line each"));
    layout->addWidget(DisplayMemo, 1);
    return sheet;
}

QWidget* TForm1::BuildBrowseFaxesSheet()
{
    auto* sheet = new QWidget;
    sheet->setObjectName(QStringLiteral("BrowseFaxesSheet"));
    auto* layout = new QVBoxLayout(sheet);
    layout->addWidget(BuildRcvdPanel(sheet), 0, Qt::AlignLeft);
    auto* strip = MaroonStrip(sheet);
    auto* buttons = new QHBoxLayout(strip);
    BitBtn5 = MakeButton(QStringLiteral("&View Fax"), "BitBtn5", strip);
    BitBtn8 = MakeButton(QStringLiteral("&Import Fax..."), "BitBtn8", strip);
    BitBtn4 = MakeButton(QStringLiteral("&Remove Fax"), "BitBtn4", strip);
    BitBtn2 = MakeButton(QStringLiteral("&Help"), "BitBtn2", strip);
    buttons->addWidget(BitBtn5);
    buttons->addWidget(BitBtn8);
    buttons->addWidget(BitBtn4);
    buttons->addWidget(BitBtn2);
    buttons->addStretch();
    layout->addWidget(strip);

    edtGridFilter = new QLineEdit(sheet);
    edtGridFilter->setObjectName(QStringLiteral("edtGridFilter"));
    edtGridFilter->setAccessibleName(QStringLiteral("Filter"));
    edtGridFilter->setPlaceholderText(QStringLiteral("Filter: show the faxes containing this text"));
    edtGridFilter->setClearButtonEnabled(true);
    layout->addWidget(edtGridFilter);
    lblTextProgress = new QLabel(sheet);
    lblTextProgress->setObjectName(QStringLiteral("lblTextProgress"));
    lblTextProgress->setAccessibleDescription(QStringLiteral("How many faxes are left to read for their text"));
    layout->addWidget(lblTextProgress);

    faxGrid = new QTableView(sheet);
    faxGrid->setObjectName(QStringLiteral("faxGrid"));
    faxGrid->setAccessibleName(QStringLiteral("faxGrid"));
    faxGrid->setAccessibleDescription(QStringLiteral("The faxes: Enter views the selected one, Delete removes it"));
    faxGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    faxGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    faxGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    faxGrid->setShowGrid(true);
    faxGrid->setWordWrap(false);
    faxGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    faxGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    faxGrid->verticalHeader()->hide();
    faxGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    faxGrid->verticalHeader()->setMinimumSectionSize(18);
    faxGrid->verticalHeader()->setDefaultSectionSize(18);
    faxGrid->horizontalHeader()->setDefaultSectionSize(120);
    faxGrid->horizontalHeader()->setHighlightSections(false);
    faxGrid->horizontalHeader()->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: silver; }"));
    layout->addWidget(faxGrid, 1);

    Browser = new TFaxBrowser(*Catalogue, DatabaseEmpty, *pgCntrl, *sheet, *faxGrid, *edtGridFilter);
    connect(BitBtn5, &QPushButton::clicked, Browser, &TFaxBrowser::BitBtn5Click);
    connect(BitBtn4, &QPushButton::clicked, Browser, &TFaxBrowser::BitBtn4Click);
    return sheet;
}

QWidget* TForm1::BuildConfigureSheet()
{
    auto* sheet = new QWidget;
    sheet->setObjectName(QStringLiteral("ConfigureSheet"));
    auto* layout = new QVBoxLayout(sheet);
    auto* fields = new QFormLayout;

    cmbConnection = new QComboBox(sheet);
    cmbConnection->setObjectName(QStringLiteral("cmbConnection"));
    cmbConnection->setEditable(true);
    cmbConnection->setInsertPolicy(QComboBox::NoInsert);
    cmbConnection->setEditText(QStringLiteral("None Selected"));
    edtHost = new QLineEdit(QStringLiteral("None Supplied"), sheet);
    edtHost->setObjectName(QStringLiteral("edtHost"));
    edtUserName = new QLineEdit(QStringLiteral("None Supplied"), sheet);
    edtUserName->setObjectName(QStringLiteral("edtUserName"));
    edtPassword = new QLineEdit(sheet);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    auto* style = new StarPasswordStyle;
    style->setParent(edtPassword);
    edtPassword->setStyle(style);
    edtPassword->setEchoMode(QLineEdit::Password);
    cmbSecurity = new QComboBox(sheet);
    cmbSecurity->setObjectName(QStringLiteral("cmbSecurity"));
    cmbSecurity->addItems(SecurityChoices());
    cmbSecurity->setCurrentText(DefaultSecurityChoice());
    cmbSecurity->setToolTip(QStringLiteral("TLS (POP3S) is recommended: the password and the faxes then travel "
                                           "encrypted, and the server's certificate is checked."));

    fields->addRow(QStringLiteral("Connection:"), cmbConnection);
    fields->addRow(QStringLiteral("Host:"), edtHost);
    fields->addRow(QStringLiteral("User Name:"), edtUserName);
    fields->addRow(QStringLiteral("Password:"), edtPassword);
    fields->addRow(QStringLiteral("Security:"), cmbSecurity);
    cmbMailboxType = new QComboBox(sheet);
    cmbMailboxType->setObjectName(QStringLiteral("cmbMailboxType"));
    cmbMailboxType->addItems(MailboxTypeChoices());
    cmbMailboxType->setToolTip(QStringLiteral("POP3 fetches and removes the fax mails; IMAP can also keep them "
                                              "in a folder on the server."));
    edtFolder = new QLineEdit(QStringLiteral("INBOX"), sheet);
    edtFolder->setObjectName(QStringLiteral("edtFolder"));
    chkKeepFolder = new QCheckBox(QStringLiteral("Keep faxes on the server in folder"), sheet);
    chkKeepFolder->setObjectName(QStringLiteral("chkKeepFolder"));
    edtKeepFolder = new QLineEdit(QStringLiteral("Faxes"), sheet);
    edtKeepFolder->setObjectName(QStringLiteral("edtKeepFolder"));
    edtKeepFolder->setAccessibleName(QStringLiteral("Keep folder"));
    auto* keepRow = new QHBoxLayout;
    keepRow->addWidget(chkKeepFolder);
    keepRow->addWidget(edtKeepFolder, 1);
    fields->addRow(QStringLiteral("Mailbox type:"), cmbMailboxType);
    fields->addRow(QStringLiteral("Folder:"), edtFolder);
    fields->addRow(keepRow);
    chkPushFetch = new QCheckBox(QStringLiteral("Fetch new faxes as they arrive"), sheet);
    chkPushFetch->setObjectName(QStringLiteral("chkPushFetch"));
    chkPushFetch->setToolTip(QStringLiteral("While this window is open, new faxes are fetched the moment the IMAP "
                                            "server announces them."));
    fields->addRow(chkPushFetch);
    connect(cmbMailboxType, &QComboBox::currentTextChanged, this, [this] { ShowMailboxKind(); });
    connect(chkKeepFolder, &QCheckBox::toggled, this, [this] { ShowMailboxKind(); });
    SignIn = new TSignInFields(this, edtPassword, sheet);
    SignIn->AddRows(*fields);
    cmbLanguage = new QComboBox(sheet);
    cmbLanguage->setObjectName(QStringLiteral("cmbLanguage"));
    cmbLanguage->addItems(InstalledTextLanguages());
    cmbLanguage->setToolTip(QStringLiteral("The language the text of new faxes is read in; further languages come "
                                           "with the tesseract-ocr-* packages."));
    fields->addRow(QStringLiteral("Text language:"), cmbLanguage);
    layout->addLayout(fields);
    FaxRules = new TFaxRulesBox(this, sheet);
    layout->addWidget(FaxRules);

    auto* buttons = new QHBoxLayout;
    BitBtn6 = MakeButton(QStringLiteral("&Save"), "BitBtn6", sheet);
    BitBtn7 = MakeButton(QStringLiteral("&Cancel"), "BitBtn7", sheet);
    buttons->addWidget(BitBtn6);
    buttons->addWidget(BitBtn7);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    NameFieldsAfterLabels(*fields);
    return sheet;
}

void TForm1::FormCreate()
{
    FaxCount = 0;
    ListFile.clear();
    MessageList.clear();
    FaxDataList.clear();
    ConfigureSheetShow();
    AttachmentPending = false;
    AttachmentOpen = false;
    DatabaseEmpty = false;
    Catalogue->Open("faxes.qdb");
    // Faxes that a timer's fetch or an import adds appear without a restart.
    Catalogue->SetWatching(true);
    FaxText = new TFaxText(*Catalogue, TextWorkerCount(), this);
    connect(FaxText, &TFaxText::Notice, this, &TForm1::Log);
    connect(FaxText, &TFaxText::Progress, this, &TForm1::ShowTextProgress);
    Browser->SetFaxText(FaxText);
    FaxText->Start(cmbLanguage->currentText());
    ShowTextProgress(FaxText->FaxesLeft());
    HintFirstStart();
    ApplyPushFetch();
}

// Until a mailbox is configured, the first screen says where that is done and
// how to try the program without one.
void TForm1::HintFirstStart()
{
    const QString host = edtHost->text().trimmed();
    if (host.isEmpty() || host == QLatin1String("None Supplied"))
        Log(QStringLiteral("No mailbox is set up yet: enter its Host, User Name and Password on the Configure page "
                           "and press Save; to try Pellimar first, start the demo mailbox described in the README "
                           "(sudo tools/demo_mailbox.sh)."));
}

void TForm1::ConfigureSheetShow()
{
    LoadConnectionList();
    // A damaged settings file is reported once per showing, not once per field.
    bool damageReported = false;
    const std::pair<TQlRegistryVariable*, QLineEdit*> fields[] = {
        {rgHost, edtHost}, {rgUserName, edtUserName}, {rgPassword, edtPassword}};
    for (const auto& [variable, edit] : fields) {
        QVariant value;
        if (variable->VariableExists()) {
            variable->ReadVariable(value);
            if (value.isValid())
                edit->setText(value.toString());
        } else if (!variable->LastError().empty() && !damageReported) {
            variable->ReadVariable(value);
            damageReported = true;
        }
    }
    SignIn->Load(edtHost->text(), edtUserName->text());
    LoadSecurityChoice();
    LoadTextLanguage();
    LoadMailboxKind();
    FaxRules->Load();
    Edit1->setText(cmbConnection->currentText());
}

// Like the text settings: a stored choice replaces what is shown, a missing
// one leaves it (at start-up "None"). A stored value that names no choice
// is shown as "None" but not taken for it: downloads are refused until a
// choice is saved.
void TForm1::LoadSecurityChoice()
{
    QVariant value;
    if (rgSecurity->VariableExists())
        rgSecurity->ReadVariable(value);
    const TSecuritySetting setting = ReadSecuritySetting(value);
    securityProblem_ = setting.Problem;
    securitySaved_ = setting.Saved;
    if (setting.Saved)
        cmbSecurity->setCurrentText(setting.Choice);
}

// A stored language that is no longer installed is still shown, so that
// saving does not change it unasked; without one, English.
void TForm1::LoadTextLanguage()
{
    QVariant value;
    if (rgTextLanguage->VariableExists())
        rgTextLanguage->ReadVariable(value);
    const QString language = value.isValid() && !value.toString().isEmpty() ? value.toString()
                                                                           : QLatin1String(kDefaultTextLanguage);
    if (cmbLanguage->findText(language) < 0)
        cmbLanguage->addItem(language);
    cmbLanguage->setCurrentText(language);
}

void TForm1::ShowTextProgress(int faxesLeft)
{
    if (TextWorkerCount() == 0)
        lblTextProgress->setText(QStringLiteral("Text recognition is off."));
    else if (faxesLeft == 0)
        lblTextProgress->setText(QStringLiteral("Text recognition: the text of every fax has been read."));
    else
        lblTextProgress->setText(QStringLiteral("Text recognition: %1 %2 left to read.")
                                     .arg(faxesLeft)
                                     .arg(faxesLeft == 1 ? QStringLiteral("fax") : QStringLiteral("faxes")));
}

// The IMAP fields count only for an IMAP mailbox.
void TForm1::LoadMailboxKind()
{
    auto read = [](TQlRegistryVariable* variable) {
        QVariant value;
        if (variable->VariableExists())
            variable->ReadVariable(value);
        return value;
    };
    cmbMailboxType->setCurrentText(MailboxTypeFromSetting(read(rgMailboxType)));
    edtFolder->setText(CleanFolderName(read(rgFolder).toString()));
    chkKeepFolder->setChecked(read(rgKeepOnServer).toString().compare(QLatin1String("Yes"), Qt::CaseInsensitive) == 0);
    if (const QString keep = CleanFolderName(read(rgKeepFolder).toString(), QString()); !keep.isEmpty())
        edtKeepFolder->setText(keep);
    chkPushFetch->setChecked(read(rgPushFetch).toString().compare(QLatin1String("Yes"), Qt::CaseInsensitive) == 0);
    ShowMailboxKind();
}

void TForm1::ShowMailboxKind()
{
    const bool imap = cmbMailboxType->currentText() == QLatin1String("IMAP");
    edtFolder->setEnabled(imap);
    chkKeepFolder->setEnabled(imap);
    edtKeepFolder->setEnabled(imap && chkKeepFolder->isChecked());
    chkPushFetch->setEnabled(imap);
}

void TForm1::ApplyPushFetch()
{
    if (cmbMailboxType->currentText() == QLatin1String("IMAP") && chkPushFetch->isChecked())
        Watch->Start();
    else
        Watch->Stop();
}

QString TForm1::PeersFolder()
{
    const QString configured = qEnvironmentVariable("PELLIMAR_PPP_PEERS");
    return configured.isEmpty() ? QStringLiteral("/etc/ppp/peers") : configured;
}

void TForm1::LoadConnectionList()
{
    // The dial-up connections are the peer files of pppd; only the first 16
    // in name order fit the list, the rest are not read.
    QDir peers(PeersFolder());
    const QStringList names = peers.entryList(QDir::Files | QDir::Readable, QDir::Name);
    const QString shownText = cmbConnection->currentText();
    cmbConnection->clear();
    int listed = 0;
    for (const QString& name : names) {
        if (listed == kMaxConnections)
            break;
        if (name.startsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char('~')))
            continue;
        cmbConnection->addItem(name.left(kMaxConnectionName));
        ++listed;
    }
    // The stored name (if any) is shown as typed, listed or not; without one
    // the text shown before stays.
    QString text = shownText;
    if (rgConnection->VariableExists()) {
        QVariant value;
        rgConnection->ReadVariable(value);
        if (value.isValid())
            text = value.toString();
    }
    cmbConnection->setEditText(text);
}

void TForm1::BitBtn6Click()
{
    rgConnection->WriteVariable(cmbConnection->currentText());
    rgHost->WriteVariable(edtHost->text());
    rgUserName->WriteVariable(edtUserName->text());
    if (const QString line = SignIn->Save(edtHost->text(), edtUserName->text(), *rgPassword); !line.isEmpty())
        Log(line);
    rgSecurity->WriteVariable(cmbSecurity->currentText());
    rgTextLanguage->WriteVariable(cmbLanguage->currentText());
    if (FaxText)
        FaxText->SetLanguage(cmbLanguage->currentText());
    rgMailboxType->WriteVariable(cmbMailboxType->currentText());
    rgFolder->WriteVariable(CleanFolderName(edtFolder->text()));
    rgKeepOnServer->WriteVariable(chkKeepFolder->isChecked() ? QStringLiteral("Yes") : QStringLiteral("No"));
    rgKeepFolder->WriteVariable(CleanFolderName(edtKeepFolder->text(), QString()));
    rgPushFetch->WriteVariable(chkPushFetch->isChecked() ? QStringLiteral("Yes") : QStringLiteral("No"));
    FaxRules->Save();
    securityProblem_.clear();
    securitySaved_ = true;
    Edit1->setText(cmbConnection->currentText());
    ApplyPushFetch();
}

void TForm1::BitBtn7Click() { ConfigureSheetShow(); }

void TForm1::btnDownloadClick() { Download->btnDownloadClick(); }

void TForm1::SetBusy(bool busy)
{
    AniIcon1->SetAnimated(busy);
}

void TForm1::btnHelpClick()
{
    if (HelpForm)
        HelpForm->show();
}

void TForm1::btnImportClick()
{
    if (ImportForm)
        ImportForm->show();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedLocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    auto* importer = qobject_cast<TImportForm*>(ImportForm);
    const QStringList files = DroppedLocalFiles(event->mimeData());
    if (!importer || files.isEmpty())
        return;
    event->acceptProposedAction();
    importer->ImportFiles(files);
}

void TForm1::SetControlsEnabled(bool enabled)
{
    if (enabled)
        Notification.RunEnded();
    else
        Notification.RunStarted();
    if (!enabled && focusWidget())
        focusBeforeRun_ = focusWidget();
    btnImport->setEnabled(enabled);
    btnHelp->setEnabled(enabled);
    BitBtn3->setEnabled(enabled);
    pgCntrl->setEnabled(enabled);
    if (enabled && focusBeforeRun_ && !focusWidget()) {
        focusBeforeRun_->setFocus(Qt::OtherFocusReason);
        focusBeforeRun_ = nullptr;
    }
}

void TForm1::Log(const QString& line)
{
    QTextCursor cursor(DisplayMemo->document());
    cursor.movePosition(QTextCursor::End);
    if (!DisplayMemo->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    DisplayMemo->moveCursor(QTextCursor::End);
    if (OnLogLine)
        OnLogLine(line);
}

void TForm1::SetProgress(const QString& text)
{
    InfoLabel->setText(text);
    // Read out with its label, which stands apart from it.
    InfoLabel->setAccessibleName(text.isEmpty() ? QStringLiteral("Messages") : QStringLiteral("Messages: ") + text);
}

TMailboxSettings TForm1::MailboxSettings() const
{
    TMailboxSettings settings;
    settings.Host = edtHost->text();
    settings.UserName = edtUserName->text();
    settings.Password = edtPassword->text();
    settings.Security = cmbSecurity->currentText();
    settings.SecurityProblem = securityProblem_;
    settings.SecuritySaved = securitySaved_;
    SignIn->Fill(settings);
    settings.MailboxType = cmbMailboxType->currentText();
    settings.Folder = CleanFolderName(edtFolder->text());
    settings.KeepFolder = chkKeepFolder->isChecked() ? CleanFolderName(edtKeepFolder->text(), QString()) : QString();
    return settings;
}

TFaxMailRules TForm1::FaxMailRules() const { return FaxRules->Rules(); }

// --- Catalogue -------------------------------------------------------------

QWidget* TForm1::BuildRcvdPanel(QWidget* sheet)
{
    Catalogue = std::make_unique<TFaxCatalogue>();
    RcvdPanel = Catalogue->Panel();
    RcvdPanel->setParent(sheet);
    edtFilename = Catalogue->edtFilename;
    edteMailDate = Catalogue->edteMailDate;
    edtSenderID = Catalogue->edtSenderID;
    edtFaxDate = Catalogue->edtFaxDate;
    edtStatus = Catalogue->edtStatus;
    QDBView = &Catalogue->View();
    for (QLineEdit* edit : {edtFilename, edteMailDate, edtSenderID, edtFaxDate, edtStatus}) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
        edit->setPalette(palette);
    }
    edtStatus->setFixedWidth(60);
    edtFilename->setMinimumWidth(200);
    // Dates and sender IDs are read at a glance: they must not be scrolled.
    FitLineEditToRecordDate(*edteMailDate);
    FitLineEditToRecordDate(*edtFaxDate);
    FitLineEditToDigits(*edtSenderID, kSenderIdLength);

    auto* grid = new QGridLayout(RcvdPanel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(edtStatus, 0, 0);
    grid->addWidget(edtFilename, 0, 1);
    grid->addWidget(edteMailDate, 0, 2);
    grid->addWidget(edtSenderID, 1, 0, 1, 2);
    grid->addWidget(edtFaxDate, 1, 2);

    // The fields have no labels of their own: their names say which is which,
    // and Tab walks them as they are laid out.
    const std::pair<QLineEdit*, const char*> names[] = {{edtStatus, "Status"},
                                                        {edtFilename, "Filename"},
                                                        {edteMailDate, "eMail Date"},
                                                        {edtSenderID, "Sender ID"},
                                                        {edtFaxDate, "Fax Date"}};
    for (size_t i = 0; i < std::size(names); ++i) {
        names[i].first->setAccessibleName(QLatin1String(names[i].second));
        names[i].first->setAccessibleDescription(QStringLiteral("Of the selected fax"));
        if (i > 0)
            QWidget::setTabOrder(names[i - 1].first, names[i].first);
    }

    Catalogue->OnEmptyChanged = [this](bool empty) {
        if (empty)
            QDBViewWarnNoData(QDBView);
        else
            QDBViewAfterPost(QDBView);
    };
    connect(Catalogue.get(), &TFaxCatalogue::Notice, this, &TForm1::Log);
    return RcvdPanel;
}

void TForm1::QDBViewWarnNoData(qdb::TQDB*) { DatabaseEmpty = true; }

void TForm1::QDBViewAfterPost(qdb::TQDB*)
{
    DatabaseEmpty = false;
    Notification.FaxAdded(edtSenderID->text());
}
