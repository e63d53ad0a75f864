#pragma once
// A real POP3 mailbox for tests: Dovecot on a free loopback port, started by
// tools/local_pop3_server.py with the given mails, stopped on destruction.
// Mails are built by tools/make_fax_mail.py (Python's email package).
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class LocalMailbox {
public:
    // Starts the server with one mail per entry (raw message bytes).
    explicit LocalMailbox(const QList<QByteArray>& mails, const QString& password = QStringLiteral("fax"));
    ~LocalMailbox();
    LocalMailbox(const LocalMailbox&) = delete;
    LocalMailbox& operator=(const LocalMailbox&) = delete;

    bool Running() const { return port_ != 0; }
    QString Error() const { return error_; }
    int Port() const { return port_; }
    QString HostText() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString User() const { return QStringLiteral("fax"); }
    QString Password() const { return password_; }

    // What the server holds now, asked over POP3 by Python's poplib.
    QStringList Subjects() const;
    QStringList Uidls() const;

private:
    QString Poplib(const QString& script) const;

    QTemporaryDir dir_;
    QString password_;
    QString error_;
    int port_ = 0;
};

// Runs tools/make_fax_mail.py with the arguments; returns the mail's bytes.
QByteArray MakeMail(const QStringList& arguments);
