#pragma once
// A private Dovecot POP3 server on a loopback port for mailbox tests and
// benchmarks. It runs as root with its own configuration, run and state
// folders and maildir mailboxes under one temporary folder, which it removes
// when stopped. Users are added with plain passwords (so APOP works) and
// messages are put into a mailbox as raw bytes. With a certificate set it
// runs with ssl = required: STLS on Port(), implicit TLS on TlsPort().
// With EnableImap it serves IMAP as well (package dovecot-imapd): STARTTLS
// on ImapPort(), IMAPS on ImapsPort().
#include <cstdint>
#include <string>
#include <vector>

class DovecotServer {
public:
    // True when Dovecot is installed and can run here (it needs root).
    static bool Available(std::string* why = nullptr);

    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // The loopback address to listen on, "127.0.0.1" (the default) or
    // "::1"; set before Start.
    void SetListenAddress(const std::string& address) { listenAddress_ = address; }
    const std::string& ListenAddress() const { return listenAddress_; }
    // PEM files of the server's certificate (chain) and key; set before Start.
    void SetTlsCertificate(const std::string& certFile, const std::string& keyFile)
    {
        certFile_ = certFile;
        keyFile_ = keyFile;
    }

    // Signs users in with OAuth 2 bearer tokens only (XOAUTH2, OAUTHBEARER),
    // checked against this token introspection endpoint; set before Start.
    void SetOAuth2Introspection(const std::string& url) { introspectionUrl_ = url; }
    // Serves IMAP too; set before Start.
    void EnableImap() { imap_ = true; }

    // Starts on a free loopback port and waits until it accepts connections.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool Running() const { return running_; }

    // Users may be added before or after Start.
    void AddUser(const std::string& user, const std::string& password);
    // Delivers one message (raw bytes, usually CR LF lines) into the user's
    // mailbox; returns the maildir file name.
    std::string PutMessage(const std::string& user, const std::string& raw);
    // Drops every open session of the user (doveadm kick), as a server
    // restart or a broken line would.
    bool KickUser(const std::string& user);
    // Messages in the user's mailbox (new and seen), or in one of its IMAP
    // folders ("" is INBOX).
    int CountMessages(const std::string& user, const std::string& folder = {}) const;
    // The maildir flags of each message in the folder ("" for a new mail,
    // "S" seen, "F" flagged, "T" marked deleted...).
    std::vector<std::string> MessageFlags(const std::string& user, const std::string& folder = {}) const;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // The POP3S port (0 without a certificate).
    std::uint16_t TlsPort() const { return tlsPort_; }
    std::string TlsPortText() const { return std::to_string(tlsPort_); }
    // The IMAP and IMAPS ports (0 without EnableImap; IMAPS also needs a certificate).
    std::uint16_t ImapPort() const { return imapPort_; }
    std::uint16_t ImapsPort() const { return imapsPort_; }
    const std::string& Root() const { return root_; }
    // The server's log, for failure messages.
    std::string Log() const;

private:
    std::string Maildir(const std::string& user) const;
    std::string FolderDir(const std::string& user, const std::string& folder) const;
    std::uint16_t OtherFreePort() const;
    void WriteConfig();
    bool WaitUntilListening(std::uint16_t port, int limitMs) const;

    std::string root_;
    std::string listenAddress_ = "127.0.0.1";
    std::uint16_t port_ = 0;
    std::uint16_t tlsPort_ = 0;
    std::uint16_t imapPort_ = 0, imapsPort_ = 0;
    bool imap_ = false;
    std::string certFile_, keyFile_;
    std::string introspectionUrl_;
    bool running_ = false;
    unsigned delivered_ = 0;
};
