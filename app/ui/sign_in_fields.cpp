#include "app/ui/sign_in_fields.h"

#include "app/core/mailbox_credentials.h"
#include "app/platform/secret_store.h"
#include "app/ui/registry_variable.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

TQlRegistryVariable* MakeSetting(TForm* owner, const char* name)
{
    auto* variable = new TQlRegistryVariable(owner);
    SetUpPellimarSetting(*variable, name);
    return variable;
}

QString StoredText(TQlRegistryVariable& variable)
{
    if (!variable.VariableExists())
        return QString();
    QVariant value;
    variable.ReadVariable(value);
    return value.toString();
}

const QString kInFile = QStringLiteral("No desktop keyring is running: the password is kept in the settings file, "
                                       "readable only by you.");
const QString kInKeyring = QStringLiteral("The password is kept in the desktop keyring.");

}  // namespace

TSignInFields::TSignInFields(TForm* owner, QLineEdit* password, QWidget* sheet) : QObject(sheet), password_(password)
{
    rgSignInMethod = MakeSetting(owner, "rgSignInMethod");
    rgPasswordCommand = MakeSetting(owner, "rgPasswordCommand");
    rgPasswordStore = MakeSetting(owner, kPasswordStoreSetting);

    cmbSignInMethod = new QComboBox(sheet);
    cmbSignInMethod->setObjectName(QStringLiteral("cmbSignInMethod"));
    cmbSignInMethod->addItems(SignInMethods());
    cmbSignInMethod->setToolTip(QStringLiteral("\"OAuth 2 token\" signs in with a bearer token (OAUTHBEARER or "
                                               "XOAUTH2) instead of the password; the password command normally "
                                               "supplies it. A token is only sent over TLS."));
    edtPasswordCommand = new QLineEdit(sheet);
    edtPasswordCommand->setObjectName(QStringLiteral("edtPasswordCommand"));
    edtPasswordCommand->setToolTip(QStringLiteral("A command whose output is the password or token, for example "
                                                  "\"pass show mail/fax\". It runs without a shell unless it starts "
                                                  "with \"sh -c\", and may take 30 seconds."));
    lblPasswordStore = new QLabel(sheet);
    lblPasswordStore->setObjectName(QStringLiteral("lblPasswordStore"));
    lblPasswordStore->setWordWrap(true);
    connect(password_, &QLineEdit::textEdited, this, [this] { keyringUnread_ = false; });
}

void TSignInFields::AddRows(QFormLayout& fields)
{
    fields.addRow(QStringLiteral("Sign-in method:"), cmbSignInMethod);
    fields.addRow(QStringLiteral("Password command:"), edtPasswordCommand);
    fields.addRow(QString(), lblPasswordStore);
}

void TSignInFields::Load(const QString& host, const QString& user)
{
    const QString method = StoredText(*rgSignInMethod);
    cmbSignInMethod->setCurrentText(SignInMethods().contains(method) ? method : DefaultSignInMethod());
    edtPasswordCommand->setText(StoredText(*rgPasswordCommand));
    keyringUnread_ = false;
    if (StoredText(*rgPasswordStore) != kPasswordInKeyring) {
        lblPasswordStore->setText(TSecretStore::ServiceRunning()
                                      ? QStringLiteral("Save moves the password into the desktop keyring.")
                                      : kInFile);
        return;
    }
    const TSecretResult found = TSecretStore::Lookup(host, user);
    if (found.status == TSecretResult::Ok) {
        password_->setText(QString::fromLatin1(found.secret));
        lblPasswordStore->setText(kInKeyring);
        return;
    }
    password_->clear();
    keyringUnread_ = true;
    lblPasswordStore->setText(QStringLiteral("The password is kept in the desktop keyring, which cannot be read now: "
                                             "%1.")
                                  .arg(found.problem));
}

QString TSignInFields::Save(const QString& host, const QString& user, TQlRegistryVariable& filePassword)
{
    rgSignInMethod->WriteVariable(cmbSignInMethod->currentText());
    rgPasswordCommand->WriteVariable(edtPasswordCommand->text());
    // Nothing new was typed for a keyring that cannot be read: it keeps the password.
    if (keyringUnread_)
        return QString();
    const bool wasInFile = !StoredText(filePassword).isEmpty();
    const TSecretResult stored = TSecretStore::Store(host, user, password_->text().toLatin1().toStdString());
    if (stored.status == TSecretResult::Ok) {
        filePassword.WriteVariable(QString());
        rgPasswordStore->WriteVariable(kPasswordInKeyring);
        lblPasswordStore->setText(kInKeyring);
        return wasInFile ? QStringLiteral("The mailbox password was moved from the settings file into the desktop "
                                          "keyring.")
                         : QString();
    }
    filePassword.WriteVariable(password_->text());
    rgPasswordStore->WriteVariable(QString());
    if (stored.status == TSecretResult::Unavailable) {
        lblPasswordStore->setText(kInFile);
        return QString();
    }
    lblPasswordStore->setText(QStringLiteral("The desktop keyring refused the password (%1): it is kept in the "
                                             "settings file, readable only by you.")
                                  .arg(stored.problem));
    return QStringLiteral("The desktop keyring refused the mailbox password (%1); it is kept in the settings file.")
        .arg(stored.problem);
}

void TSignInFields::Fill(TMailboxSettings& settings) const
{
    settings.SignInMethod = cmbSignInMethod->currentText();
    settings.PasswordCommand = edtPasswordCommand->text();
    settings.PasswordInKeyring = keyringUnread_;
}
