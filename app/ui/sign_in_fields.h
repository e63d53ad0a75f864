#pragma once
// The Configure page's sign-in fields below Security: the sign-in method, the
// password command, and one line saying where the password is kept. With a
// desktop keyring running, Save keeps the password there and the settings
// file holds an empty password and a marker; without one, the file keeps it.
#include "app/core/run_host.h"

#include <QObject>
#include <QString>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QWidget;
class TForm;
class TQlRegistryVariable;

class TSignInFields : public QObject {
    Q_OBJECT
public:
    // password is the page's Password field, which Load fills from the keyring.
    TSignInFields(TForm* owner, QLineEdit* password, QWidget* sheet);

    void AddRows(QFormLayout& fields);
    // Shows the stored method and command, and the password the keyring
    // holds for this user and host when the settings keep it there.
    void Load(const QString& host, const QString& user);
    // Stores the method, the command and the Password field (in the keyring
    // when it takes it, else in filePassword). Returns a line for the status
    // log, or nothing.
    QString Save(const QString& host, const QString& user, TQlRegistryVariable& filePassword);
    // Adds what these fields hold to the page's settings.
    void Fill(TMailboxSettings& settings) const;

    QComboBox* cmbSignInMethod = nullptr;
    QLineEdit* edtPasswordCommand = nullptr;
    QLabel* lblPasswordStore = nullptr;
    TQlRegistryVariable* rgSignInMethod = nullptr;
    TQlRegistryVariable* rgPasswordCommand = nullptr;
    TQlRegistryVariable* rgPasswordStore = nullptr;

private:
    QLineEdit* password_;
    // The settings keep the password in a keyring that could not be read,
    // and the Password field was not typed into since.
    bool keyringUnread_ = false;
};
