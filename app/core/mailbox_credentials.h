#pragma once
// Where the secret a download signs in with comes from: the password
// command when one is set, else the desktop keyring when the settings say it
// holds the password, else the password of the settings themselves. The
// secret is either a password or, with the sign-in method "OAuth 2 token",
// a bearer token.
#include "app/core/password_command.h"
#include "app/core/run_host.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

QStringList SignInMethods();          // "Password", "OAuth 2 token"
QString DefaultSignInMethod();        // "Password"
bool SignsInWithToken(const TMailboxSettings& settings);

struct TCredentials {
    bool Ok = false;
    std::string Secret;
    QString Failure;  // one log line when not Ok
};

class TMailboxCredentials : public QObject {
public:
    explicit TMailboxCredentials(QObject* parent = nullptr);

    // Finds the secret; done follows from the event loop, exactly once,
    // unless Cancel comes first.
    void Fetch(const TMailboxSettings& settings, std::function<void(const TCredentials&)> done);
    void Cancel();

    // The password command's time limit (tests shorten it).
    void SetCommandLimitMs(int ms) { command_.LimitMs = ms; }

private:
    void Deliver(const TCredentials& credentials);

    TPasswordCommand command_;
    std::function<void(const TCredentials&)> done_;
    int generation_ = 0;  // of the latest Fetch; an older delivery is dropped
};
