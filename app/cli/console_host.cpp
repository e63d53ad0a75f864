#include "app/cli/console_host.h"

#include "app/core/fax_catalogue.h"
#include "app/core/mailbox_kind.h"
#include "app/core/security_choice.h"
#include "app/platform/secret_store.h"

void TConsoleRunHost::Log(const QString& line) { out_ << line << Qt::endl; }

void TConsoleRunHost::SetControlsEnabled(bool enabled)
{
    if (enabled)
        notification_.RunEnded();
    else
        notification_.RunStarted();
}

TMailboxSettings TConsoleRunHost::MailboxSettings() const
{
    TMailboxSettings settings;
    settings.Host = settings.UserName = QStringLiteral("None Supplied");
    settings.Security = DefaultSecurityChoice();
    settings.SecuritySaved = false;
    // A damaged settings file is reported once, not once per value.
    bool damageReported = false;
    auto read = [&](const char* name) { return readSetting_ ? readSetting_(name, damageReported) : QVariant(); };
    const std::pair<const char*, QString*> texts[] = {
        {"rgHost", &settings.Host}, {"rgUserName", &settings.UserName}, {"rgPassword", &settings.Password}};
    for (const auto& [name, field] : texts) {
        const QVariant value = read(name);
        if (value.isValid())
            *field = value.toString();
    }
    settings.SignInMethod = read("rgSignInMethod").toString();
    settings.PasswordCommand = read("rgPasswordCommand").toString();
    settings.PasswordInKeyring = read(kPasswordStoreSetting).toString() == kPasswordInKeyring;
    if (settings.PasswordInKeyring)
        settings.Password.clear();
    const TSecuritySetting security = ReadSecuritySetting(read("rgSecurity"));
    settings.Security = security.Choice;
    settings.SecurityProblem = security.Problem;
    settings.SecuritySaved = security.Saved;
    ReadMailboxKind(settings, read);
    return settings;
}

TFaxMailRules TConsoleRunHost::FaxMailRules() const
{
    bool damageReported = false;
    const QVariant stored = readSetting_ ? readSetting_(kFaxMailRulesSetting, damageReported) : QVariant();
    return FaxMailRulesFromText(stored.toString());
}

void TConsoleRunHost::NotifyAdditions(TFaxCatalogue& catalogue, bool notify)
{
    notification_.Enabled = notify;
    QObject::connect(&catalogue, &TFaxCatalogue::RecordAdded,
                     [this](const QString& senderId) { notification_.FaxAdded(senderId); });
}
