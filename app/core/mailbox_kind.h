#pragma once
// The Configure page's mailbox type (POP3, the default, or IMAP) and the
// IMAP folders, as the settings store holds them.
#include "app/core/run_host.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

inline constexpr const char* kMailboxTypeSetting = "rgMailboxType";   // "POP3" or "IMAP"
inline constexpr const char* kFolderSetting = "rgFolder";             // default INBOX
inline constexpr const char* kKeepOnServerSetting = "rgKeepOnServer"; // "Yes" or "No"
inline constexpr const char* kKeepFolderSetting = "rgKeepFolder";
inline constexpr const char* kPushFetchSetting = "rgPushFetch";       // "Yes": fetch new faxes as they arrive

// "POP3", "IMAP", in the order the page lists them.
QStringList MailboxTypeChoices();
// The listed type a stored value names (any case); POP3 for anything else.
QString MailboxTypeFromSetting(const QVariant& stored);
// A folder name as typed: blanks around it and control characters dropped;
// an empty name is INBOX.
QString CleanFolderName(const QString& typed, const QString& fallback = QStringLiteral("INBOX"));

// Fills the type and folders of settings from the stored values (read(name)
// is invalid for a value never stored).
void ReadMailboxKind(TMailboxSettings& settings, const std::function<QVariant(const char*)>& read);
