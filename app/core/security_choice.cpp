#include "app/core/security_choice.h"

namespace {

const QString kTls = QStringLiteral("TLS (POP3S)");
const QString kStartTls = QStringLiteral("STARTTLS");
const QString kNone = QStringLiteral("None");

} // namespace

QStringList SecurityChoices()
{
    return {kTls, kStartTls, kNone};
}

QString DefaultSecurityChoice()
{
    return kNone;
}

QString ListedSecurityChoice(const QString& value)
{
    for (const QString& choice : SecurityChoices())
        if (choice.compare(value.trimmed(), Qt::CaseInsensitive) == 0)
            return choice;
    return {};
}

TPop3Security SecurityFromChoice(const QString& choice)
{
    const QString listed = ListedSecurityChoice(choice);
    if (listed == kTls)
        return pop3SecurityTls;
    if (listed == kStartTls)
        return pop3SecurityStartTls;
    return pop3SecurityNone;
}

QString DefaultPortFor(TPop3Security security)
{
    return security == pop3SecurityTls ? QStringLiteral("995") : QStringLiteral("pop3");
}

TSecuritySetting ReadSecuritySetting(const QVariant& stored)
{
    if (!stored.isValid())
        return {DefaultSecurityChoice(), {}, false};
    const QString listed = ListedSecurityChoice(stored.toString());
    if (!listed.isEmpty())
        return {listed, {}, true};
    return {DefaultSecurityChoice(),
            QStringLiteral("the stored Security setting \"%1\" names none of %2. Choose one on the Configure page "
                           "and save it")
                .arg(stored.toString().left(40), SecurityChoices().join(QStringLiteral(", "))),
            true};
}

QString DefaultImapPortFor(TPop3Security security)
{
    return security == pop3SecurityTls ? QStringLiteral("993") : QStringLiteral("143");
}
