#include "tests/support/dovecot_server.h"

#include "tests/support/scripted_server.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

bool RunTool(const QString& program, const QStringList& args)
{
    return QProcess::execute(program, args) == 0;
}

void OwnByDovecot(const std::string& path)
{
    if (const passwd* pw = getpwnam("dovecot"))
        if (chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
            throw std::runtime_error("cannot chown " + path);
}

void MakeDir(const std::string& path, mode_t mode)
{
    QDir().mkpath(QString::fromStdString(path));
    chmod(path.c_str(), mode);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace

bool DovecotServer::Available(std::string* why)
{
    const bool installed = !QStandardPaths::findExecutable("dovecot", {"/usr/sbin", "/usr/bin"}).isEmpty();
    if (!installed) {
        if (why)
            *why = "dovecot is not installed (package dovecot-pop3d)";
        return false;
    }
    if (geteuid() != 0 || !getpwnam("dovecot") || !getpwnam("dovenull")) {
        if (why)
            *why = "the Dovecot fixture needs root and the dovecot/dovenull users";
        return false;
    }
    return true;
}

DovecotServer::DovecotServer()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellimar-dovecot-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the Dovecot folder");
    root_ = pattern;
    chmod(root_.c_str(), 0755);
    MakeDir(root_ + "/run", 0755);
    MakeDir(root_ + "/state", 0755);
    MakeDir(root_ + "/mail", 0755);
    OwnByDovecot(root_ + "/mail");
    MakeDir(root_ + "/users", 0755);
}

DovecotServer::~DovecotServer()
{
    Stop();
    QDir(QString::fromStdString(root_)).removeRecursively();
}

void DovecotServer::WriteConfig()
{
    std::ostringstream c;
    c << "base_dir = " << root_ << "/run\n"
      << "state_dir = " << root_ << "/state\n"
      << "log_path = " << root_ << "/dovecot.log\n"
      << (imap_ ? "protocols = pop3 imap\n" : "protocols = pop3\n")
      << "listen = " << listenAddress_ << "\n"
      << (certFile_.empty() ? "ssl = no\n"
                            : "ssl = required\nssl_cert = <" + certFile_ + "\nssl_key = <" + keyFile_ + "\n")
      << "disable_plaintext_auth = no\n"
      << (introspectionUrl_.empty() ? "auth_mechanisms = plain apop\n" : "auth_mechanisms = xoauth2 oauthbearer\n")
      // Tests log in with wrong passwords on purpose; no delays for that.
      << "auth_failure_delay = 0\n"
      << "login_trusted_networks = 127.0.0.0/8 ::1/128\n"
      << "auth_verbose = yes\n"
      << "default_login_user = dovenull\n"
      << "default_internal_user = dovecot\n"
      << "first_valid_uid = 1\n"
      << "mail_location = maildir:" << root_ << "/mail/%u\n"
      << "pop3_uidl_format = %08Xu%08Xv\n"
      << (introspectionUrl_.empty()
              ? "passdb {\n  driver = passwd-file\n  args = " + root_ + "/users/%u\n}\n"
              : "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + root_ +
                    "/oauth2.conf\n}\n")
      << "userdb {\n  driver = static\n  args = uid=dovecot gid=dovecot home=" << root_ << "/mail/%u\n}\n"
      << "service pop3-login {\n  chroot =\n  inet_listener pop3 {\n    address = " << listenAddress_ << "\n    port = "
      << port_ << "\n  }\n";
    if (!certFile_.empty())
        c << "  inet_listener pop3s {\n    address = " << listenAddress_ << "\n    port = " << tlsPort_
          << "\n    ssl = yes\n  }\n";
    c << "}\n"
      << "service anvil {\n  chroot =\n}\n"
      << "service imap-login {\n  chroot =\n";
    if (imap_) {
        c << "  inet_listener imap {\n    address = " << listenAddress_ << "\n    port = " << imapPort_ << "\n  }\n";
        if (imapsPort_ != 0)
            c << "  inet_listener imaps {\n    address = " << listenAddress_ << "\n    port = " << imapsPort_
              << "\n    ssl = yes\n  }\n";
    }
    c << "}\n";
    WriteFile(root_ + "/dovecot.conf", c.str());
    if (!introspectionUrl_.empty())
        WriteFile(root_ + "/oauth2.conf", "introspection_mode = post\nintrospection_url = " + introspectionUrl_ +
                                              "\nusername_attribute = username\nactive_attribute = active\n"
                                              "active_value = true\n");
}

bool DovecotServer::WaitUntilListening(std::uint16_t port, int limitMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (LoopbackAccepts(listenAddress_, port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool DovecotServer::Start(std::string* error)
{
    if (running_)
        return true;
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        port_ = FreeLoopbackPort(listenAddress_);
        tlsPort_ = 0;
        while (!certFile_.empty() && (tlsPort_ == 0 || tlsPort_ == port_))
            tlsPort_ = FreeLoopbackPort(listenAddress_);
        imapPort_ = imap_ ? OtherFreePort() : 0;
        imapsPort_ = imap_ && !certFile_.empty() ? OtherFreePort() : 0;
        WriteConfig();
        const QString conf = QString::fromStdString(root_ + "/dovecot.conf");
        if (!RunTool("dovecot", {"-c", conf}))
            continue;
        running_ = WaitUntilListening(port_, 10000) && (tlsPort_ == 0 || WaitUntilListening(tlsPort_, 10000)) &&
                   (imapPort_ == 0 || WaitUntilListening(imapPort_, 10000));
        if (!running_)
            RunTool("dovecot", {"-c", conf, "stop"});
    }
    if (!running_ && error)
        *error = "Dovecot did not start; log:\n" + Log();
    return running_;
}

void DovecotServer::Stop()
{
    if (!running_)
        return;
    RunTool("dovecot", {"-c", QString::fromStdString(root_ + "/dovecot.conf"), "stop"});
    // The master removes its pid file once every child is gone.
    for (int i = 0; i < 100 && QFile::exists(QString::fromStdString(root_ + "/run/master.pid")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    running_ = false;
}

void DovecotServer::AddUser(const std::string& user, const std::string& password)
{
    // One password file per user: Dovecot reads a file it has not seen yet
    // at once, while a changed file is noticed only a second later.
    if (user.empty() || user.find_first_of("/:% \t\r\n") != std::string::npos)
        throw std::invalid_argument("unusable test user name: " + user);
    const std::string file = root_ + "/users/" + user;
    WriteFile(file, user + ":{PLAIN}" + password + "\n");
    chmod(file.c_str(), 0644);
    const std::string dir = Maildir(user);
    for (const char* sub : {"", "/new", "/cur", "/tmp"}) {
        MakeDir(dir + sub, 0700);
        OwnByDovecot(dir + sub);
    }
}

std::string DovecotServer::Maildir(const std::string& user) const
{
    return root_ + "/mail/" + user;
}

std::string DovecotServer::PutMessage(const std::string& user, const std::string& raw)
{
    const std::string name = std::to_string(std::time(nullptr)) + ".M" + std::to_string(++delivered_) + "P" +
                             std::to_string(getpid()) + ".pellimar,S=" + std::to_string(raw.size());
    const std::string tmp = Maildir(user) + "/tmp/" + name;
    WriteFile(tmp, raw);
    OwnByDovecot(tmp);
    const std::string target = Maildir(user) + "/new/" + name;
    if (std::rename(tmp.c_str(), target.c_str()) != 0)
        throw std::runtime_error("cannot deliver into " + target);
    return name;
}

bool DovecotServer::KickUser(const std::string& user)
{
    return RunTool("doveadm", {"-c", QString::fromStdString(root_ + "/dovecot.conf"), "kick",
                               QString::fromStdString(user)});
}

std::uint16_t DovecotServer::OtherFreePort() const
{
    for (;;) {
        const std::uint16_t port = FreeLoopbackPort(listenAddress_);
        if (port != port_ && port != tlsPort_ && port != imapPort_ && port != imapsPort_)
            return port;
    }
}

// Maildir++: an IMAP folder "Faxes" is the subfolder ".Faxes".
std::string DovecotServer::FolderDir(const std::string& user, const std::string& folder) const
{
    return folder.empty() || folder == "INBOX" ? Maildir(user) : Maildir(user) + "/." + folder;
}

int DovecotServer::CountMessages(const std::string& user, const std::string& folder) const
{
    return static_cast<int>(MessageFlags(user, folder).size());
}

std::vector<std::string> DovecotServer::MessageFlags(const std::string& user, const std::string& folder) const
{
    std::vector<std::string> flags;
    for (const char* sub : {"/new", "/cur"})
        for (const QString& name : QDir(QString::fromStdString(FolderDir(user, folder) + sub))
                                       .entryList(QDir::Files | QDir::NoDotAndDotDot)) {
            const qsizetype at = name.indexOf(QStringLiteral(":2,"));
            flags.push_back(at < 0 ? std::string() : name.mid(at + 3).toStdString());
        }
    return flags;
}

std::string DovecotServer::Log() const
{
    std::ifstream in(root_ + "/dovecot.log");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
