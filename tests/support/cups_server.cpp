#include "tests/support/cups_server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

const char* const kCupsPdfConfigFolder = "/etc/cups";
const char* const kCupsPdfPpd = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// cupsd and lpadmin live in /usr/sbin, which a user's PATH may lack.
QString ToolPath(const QString& tool)
{
    return QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin"});
}

void MakeDir(const std::string& path, mode_t mode)
{
    QDir().mkpath(QString::fromStdString(path));
    chmod(path.c_str(), mode);
}

} // namespace

bool CupsServer::Available(std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    for (const char* tool : {"cupsd", "lpadmin", "lpstat"})
        if (ToolPath(tool).isEmpty())
            return fail(std::string(tool) + " is not installed (packages cups-daemon, cups-client)");
    if (!QFileInfo::exists("/usr/lib/cups/backend/cups-pdf") || !QFileInfo::exists(kCupsPdfPpd))
        return fail("the cups-pdf backend is not installed (package printer-driver-cups-pdf)");
    if (QStandardPaths::findExecutable("pdftocairo").isEmpty())
        return fail("pdftocairo is not installed (package poppler-utils)");
    if (geteuid() != 0 || access(kCupsPdfConfigFolder, W_OK) != 0)
        return fail("the CUPS fixture needs root and a writable /etc/cups for its cups-pdf settings");
    return true;
}

CupsServer::CupsServer()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellimar-cups-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the CUPS folder");
    root_ = pattern;
    socket_ = root_ + "/cups.sock";
    cupsPdfName_ = "pellimar-" + QFileInfo(QString::fromStdString(root_)).fileName().toStdString();
    setenv("CUPS_SERVER", socket_.c_str(), 1);
}

CupsServer::~CupsServer()
{
    Stop();
    QDir(QString::fromStdString(root_)).removeRecursively();
}

bool CupsServer::Start(std::string* error)
{
    auto fail = [this, error](const std::string& reason) {
        if (error)
            *error = reason + "\n" + Log();
        Stop();
        return false;
    };
    // The scheduler's filters run as lp: the folders they use must let it in.
    chmod(root_.c_str(), 0755);
    for (const char* sub : {"/etc", "/etc/ppd", "/spool", "/cache", "/state", "/log", "/out"})
        MakeDir(root_ + sub, 0755);
    MakeDir(root_ + "/tmp", 01777);
    std::ostringstream cupsd;
    cupsd << "LogLevel debug\nListen " << socket_ << "\nBrowsing No\nWebInterface No\n"
          << "DefaultAuthType None\nErrorPolicy abort-job\nMaxJobs 0\n"
          << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
          << "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
          << "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
          << "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    std::ostringstream files;
    files << "ServerRoot " << root_ << "/etc\nRequestRoot " << root_ << "/spool\nTempDir " << root_ << "/tmp\n"
          << "CacheDir " << root_ << "/cache\nStateDir " << root_ << "/state\n"
          << "ErrorLog " << root_ << "/log/error_log\nAccessLog " << root_ << "/log/access_log\n"
          << "PageLog " << root_ << "/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n";
    std::ostringstream cupsPdf;
    cupsPdf << "Out " << root_ << "/out\nSpool " << root_ << "/cups-pdf-spool\nLog " << root_ << "/log\n"
            << "LogType 1\nGrp root\n";
    try {
        WriteFile(root_ + "/etc/cupsd.conf", cupsd.str());
        WriteFile(root_ + "/etc/cups-files.conf", files.str());
        WriteFile(std::string(kCupsPdfConfigFolder) + "/cups-pdf-" + cupsPdfName_ + ".conf", cupsPdf.str());
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardOutputFile(QString::fromStdString(root_ + "/log/cupsd.out"));
    process_->start(ToolPath("cupsd"), {"-f", "-c", QString::fromStdString(root_ + "/etc/cupsd.conf"), "-s",
                              QString::fromStdString(root_ + "/etc/cups-files.conf")});
    if (!process_->waitForStarted(10000))
        return fail("cupsd does not start");
    QElapsedTimer clock;
    clock.start();
    while (!Tool("lpstat", {"-r"})) {
        if (process_->state() != QProcess::Running || clock.elapsed() > 20000)
            return fail("cupsd does not answer on " + socket_);
        QThread::msleep(100);
    }
    const QString queue = QString::fromStdString(queue_);
    // pdftocairo keeps the text of the pages findable in the PDF that
    // cups-pdf makes from its PostScript.
    // Just after start-up the scheduler may still be reloading its
    // configuration and refuse the queue for a moment.
    QString said;
    auto addQueue = [&] {
        return Tool("lpadmin", {"-p", queue, "-v", QString::fromStdString("cups-pdf:/" + cupsPdfName_), "-P",
                                kCupsPdfPpd, "-o", "pdftops-renderer-default=pdftocairo", "-E"}, &said) &&
               Tool("lpadmin", {"-d", queue}, &said);
    };
    while (!addQueue()) {
        if (clock.elapsed() > 30000)
            return fail("lpadmin cannot add the cups-pdf queue: " + said.toStdString());
        QThread::msleep(250);
    }
    return true;
}

void CupsServer::Stop()
{
    if (process_) {
        process_->terminate();
        if (!process_->waitForFinished(10000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
    }
    if (!cupsPdfName_.empty())
        std::remove((std::string(kCupsPdfConfigFolder) + "/cups-pdf-" + cupsPdfName_ + ".conf").c_str());
}

bool CupsServer::Tool(const QString& program, const QStringList& args, QString* output) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CUPS_SERVER", QString::fromStdString(socket_));
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(ToolPath(program), args);
    if (!tool.waitForFinished(30000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(tool.readAll());
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

bool CupsServer::QueueEmpty() const
{
    QString jobs;
    return Tool("lpstat", {"-o", QString::fromStdString(queue_)}, &jobs) && jobs.trimmed().isEmpty();
}

std::vector<std::string> CupsServer::TakeOutput(int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!QueueEmpty() && clock.elapsed() < limitMs)
        QThread::msleep(200);
    // cups-pdf names each file after the job's title and number ("...job_7.pdf").
    auto jobNumber = [](const std::string& path) {
        const std::size_t at = path.rfind("job_");
        return at == std::string::npos ? 0 : std::atoi(path.c_str() + at + 4);
    };
    QDir out(QString::fromStdString(root_ + "/out"));
    std::vector<std::string> fresh;
    for (const QFileInfo& file : out.entryInfoList({"*.pdf"}, QDir::Files)) {
        const std::string path = file.absoluteFilePath().toStdString();
        if (std::find(seen_.begin(), seen_.end(), path) == seen_.end()) {
            seen_.push_back(path);
            fresh.push_back(path);
        }
    }
    std::sort(fresh.begin(), fresh.end(),
              [&](const std::string& a, const std::string& b) { return jobNumber(a) < jobNumber(b); });
    return fresh;
}

std::string CupsServer::Log() const
{
    std::ifstream in(root_ + "/log/error_log");
    std::ostringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    // The end of the log is what explains a failure.
    return log.size() > 4000 ? log.substr(log.size() - 4000) : log;
}
