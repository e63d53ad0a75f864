#pragma once
// The mailbox password in the desktop's Secret Service (GNOME Keyring,
// KWallet and the like) through libsecret. Only a service that already runs
// on the session bus is used: nothing is started, and nothing here ever waits
// on a prompt (a locked keyring is reported, not unlocked), so a run from the
// timer cannot hang on a dialog nobody sees.
#include <QString>

#include <string>

struct TSecretResult {
    enum Status { Ok, NotFound, Unavailable, Locked, Failed };
    Status status = Failed;
    std::string secret;  // the password (Lookup, status Ok)
    QString problem;     // why it failed, in words, for a log line
};

class TSecretStore {
public:
    // True when a Secret Service runs on the session bus.
    static bool ServiceRunning();
    // The password stored for this user at this host.
    static TSecretResult Lookup(const QString& host, const QString& user);
    // Stores (or replaces) the password of this user at this host in the
    // default keyring.
    static TSecretResult Store(const QString& host, const QString& user, const std::string& password);

    // Seconds a call may take before it is given up (a service that hangs).
    static constexpr int kCallLimitSeconds = 10;
};

// The name of the settings value that says where the password is kept, and
// its value when the keyring holds it.
inline constexpr const char* kPasswordStoreSetting = "rgPasswordStore";
inline const QString kPasswordInKeyring = QStringLiteral("Secret Service");
