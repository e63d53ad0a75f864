#pragma once
// The Configure page's "Security" choice: its texts (which are also the
// stored values) and what each asks of the POP3 client.
#include "mail/pop3_client.h"

#include <QString>
#include <QStringList>
#include <QVariant>

// "TLS (POP3S)", "STARTTLS", "None", in the order the page lists them.
QStringList SecurityChoices();
// The default shown and assumed when nothing is stored.
QString DefaultSecurityChoice();
// The listed text that value names (compared without regard to case), or
// an empty text for a value that names none.
QString ListedSecurityChoice(const QString& value);
TPop3Security SecurityFromChoice(const QString& choice);
// The port used when the host names none: 995 for POP3S, else the pop3 service.
QString DefaultPortFor(TPop3Security security);
// The same for an IMAP mailbox: 993 for IMAPS, else 143.
QString DefaultImapPortFor(TPop3Security security);

// A stored Security value as a download takes it. Never saved (an invalid
// value): the default, and Saved is false. A value that names no listed
// choice (written by hand, say) is no choice at all: Problem says so, and
// no download may start until a choice is saved.
struct TSecuritySetting {
    QString Choice;
    QString Problem;
    bool Saved = false;
};
TSecuritySetting ReadSecuritySetting(const QVariant& stored);
