#include "tests/support/dante_server.h"

#include "tests/support/scripted_server.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace {

const char* const kPasswordFile = "/var/tmp/pellimar-socks-user.password";
const char* const kLockFile = "/var/tmp/pellimar-socks-user.lock";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string RandomPassword()
{
    static const char kChars[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::random_device device;
    std::string password;
    for (int i = 0; i < 16; ++i)
        password += kChars[device() % (sizeof kChars - 1)];
    // Characters a proxy URL must percent-escape.
    return password + "@%/";
}

// The test user and its password, shared by every test process: the
// password is set once, when the user is created, and kept in a file only
// root can read, so that tests running side by side agree on it.
bool EnsureTestUser(std::string& password, std::string* error)
{
    const int lock = open(kLockFile, O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (error)
            *error = "cannot lock " + std::string(kLockFile);
        return false;
    }
    bool ok = true;
    const bool exists = getpwnam(DanteServer::User()) != nullptr;
    if (!exists && QProcess::execute("useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                                                 DanteServer::User()}) != 0) {
        ok = false;
        if (error)
            *error = "useradd failed";
    }
    password = ReadText(kPasswordFile);
    if (ok && (!exists || password.empty())) {
        password = RandomPassword();
        QProcess chpasswd;
        chpasswd.start("chpasswd", {});
        chpasswd.write(QByteArray::fromStdString(std::string(DanteServer::User()) + ":" + password + "\n"));
        chpasswd.closeWriteChannel();
        ok = chpasswd.waitForFinished(30000) && chpasswd.exitCode() == 0;
        const int fd = open(kPasswordFile, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        ok = ok && fd >= 0 && write(fd, password.data(), password.size()) == static_cast<ssize_t>(password.size());
        if (fd >= 0)
            close(fd);
        if (!ok && error)
            *error = "cannot set the test user's password";
    }
    flock(lock, LOCK_UN);
    close(lock);
    return ok;
}

}  // namespace

bool DanteServer::Available(std::string* why)
{
    if (QStandardPaths::findExecutable("danted", {"/usr/sbin", "/usr/bin"}).isEmpty()) {
        if (why)
            *why = "danted is not installed (package dante-server)";
        return false;
    }
    if (geteuid() != 0 || !getpwnam("nobody")) {
        if (why)
            *why = "danted needs root and the user nobody";
        return false;
    }
    return true;
}

DanteServer::DanteServer()
{
    std::string pattern = QDir::tempPath().toStdString() + "/pellimar-dante-XXXXXX";
    if (mkdtemp(pattern.data()))
        root_ = pattern;
}

DanteServer::~DanteServer()
{
    Stop();
    if (!root_.empty())
        QDir(QString::fromStdString(root_)).removeRecursively();
}

bool DanteServer::Start(std::string* error)
{
    if (root_.empty() || !EnsureTestUser(password_, error))
        return false;
    port_ = FreeLoopbackPort();
    const std::string conf = root_ + "/danted.conf";
    {
        std::ofstream c(conf);
        c << "logoutput: " << root_ << "/danted.log\n"
          << "internal: 127.0.0.1 port = " << port_ << "\n"
          << "external: 127.0.0.1\n"
          << "clientmethod: none\n"
          << "socksmethod: username none\n"
          << "user.privileged: root\n"
          << "user.unprivileged: nobody\n"
          << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
          << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  log: connect\n}\n";
    }
    const std::string pidFile = root_ + "/danted.pid";
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execlp("danted", "danted", "-f", conf.c_str(), "-p", pidFile.c_str(), "-N", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (LoopbackAccepts("127.0.0.1", port_))
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (error)
        *error = "danted did not start: " + Log();
    Stop();
    return false;
}

void DanteServer::Stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string DanteServer::Log() const
{
    return ReadText(root_ + "/danted.log");
}
