#include "app/core/mailbox_credentials.h"

#include "app/platform/secret_store.h"

#include <QMetaObject>
#include <QPointer>

QStringList SignInMethods() { return {QStringLiteral("Password"), QStringLiteral("OAuth 2 token")}; }

QString DefaultSignInMethod() { return SignInMethods().first(); }

bool SignsInWithToken(const TMailboxSettings& settings) { return settings.SignInMethod == SignInMethods().at(1); }

TMailboxCredentials::TMailboxCredentials(QObject* parent) : QObject(parent)
{
    command_.OnDone = [this](const TPasswordCommandResult& result) {
        TCredentials credentials;
        credentials.Ok = result.Ok;
        credentials.Secret = result.Secret;
        credentials.Failure = result.Failure;
        Deliver(credentials);
    };
}

void TMailboxCredentials::Fetch(const TMailboxSettings& settings, std::function<void(const TCredentials&)> done)
{
    Cancel();
    ++generation_;
    done_ = std::move(done);
    if (!settings.PasswordCommand.trimmed().isEmpty()) {
        command_.Start(settings.PasswordCommand);
        return;
    }
    TCredentials credentials;
    if (settings.PasswordInKeyring) {
        const TSecretResult found = TSecretStore::Lookup(settings.Host, settings.UserName);
        credentials.Ok = found.status == TSecretResult::Ok;
        credentials.Secret = found.secret;
        if (!credentials.Ok)
            credentials.Failure = QStringLiteral("Could not read the mailbox password: %1. The settings keep it in the "
                                                 "desktop keyring; unlock it, or save the password again on the "
                                                 "Configure page. Quitting.")
                                      .arg(found.problem);
    } else {
        credentials.Ok = true;
        credentials.Secret = settings.Password.toLatin1().toStdString();
    }
    QPointer<TMailboxCredentials> self(this);
    const int generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [self, credentials, generation] {
            if (self && self->generation_ == generation)
                self->Deliver(credentials);
        },
        Qt::QueuedConnection);
}

void TMailboxCredentials::Deliver(const TCredentials& credentials)
{
    auto done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(credentials);
}

void TMailboxCredentials::Cancel()
{
    command_.Cancel();
    done_ = nullptr;
}
