#include "app/core/mailbox_kind.h"

QStringList MailboxTypeChoices() { return {QStringLiteral("POP3"), QStringLiteral("IMAP")}; }

QString MailboxTypeFromSetting(const QVariant& stored)
{
    const QString text = stored.toString().trimmed();
    return text.compare(QLatin1String("IMAP"), Qt::CaseInsensitive) == 0 ? QStringLiteral("IMAP")
                                                                           : QStringLiteral("POP3");
}

QString CleanFolderName(const QString& typed, const QString& fallback)
{
    QString name;
    for (QChar c : typed)
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            name += c;
    name = name.trimmed();
    return name.isEmpty() ? fallback : name;
}

void ReadMailboxKind(TMailboxSettings& settings, const std::function<QVariant(const char*)>& read)
{
    settings.MailboxType = MailboxTypeFromSetting(read(kMailboxTypeSetting));
    settings.Folder = CleanFolderName(read(kFolderSetting).toString());
    const bool keep = read(kKeepOnServerSetting).toString().compare(QLatin1String("Yes"), Qt::CaseInsensitive) == 0;
    settings.KeepFolder = keep ? CleanFolderName(read(kKeepFolderSetting).toString(), QString()) : QString();
}
