#include "app/download.h"

#include "app/list_file.h"
#include "app/main_window.h"
#include "app/native_path.h"
#include "mail/pop3_client.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <exception>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kOpenRequest = 15; // the high-level connect + USER + PASS request
constexpr uint16_t kHostNotFound = 11001;
constexpr uint16_t kTimedOut = 10060; // also the POP3 client's idle time-out
constexpr uint16_t kFirstSocketError = 10000; // below it: the server's own refusal (500)

std::string Upper(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// The text after the first "marker=" (any case), or nothing when absent.
std::string ValueAfter(const std::string& line, const std::string& marker)
{
    const size_t at = Upper(line).find(Upper(marker));
    return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

// Makes the folder entry of a newly written file durable too.
void SyncFolderOf(const QString& path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool ContainsText(const std::string& text, const std::string& pattern)
{
    return Upper(text).find(Upper(pattern)) != std::string::npos;
}

void SplitHostPort(const QString& text, QString& host, QString& port)
{
    const QString t = text.trimmed();
    host = t;
    port = QStringLiteral("pop3");
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close > 0) {
            host = t.mid(1, close - 1);
            if (t.mid(close + 1).startsWith(QLatin1Char(':')) && close + 2 < t.size())
                port = t.mid(close + 2);
        }
        return;
    }
    // One colon separates a port; several mean a bare IPv6 address.
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    if (colon > 0 && colon == t.lastIndexOf(QLatin1Char(':')) && colon + 1 < t.size()) {
        host = t.left(colon);
        port = t.mid(colon + 1);
    }
}

TMailboxDownload::TMailboxDownload(TForm1& form, TPop3Client& client) : QObject(&form), form_(form), client_(client)
{
    client_.SetPort("pop3");
    client_.SetMsgNum(0);
    client_.SetMsgLines(0);
    InstallMainHandlers();
}

void TMailboxDownload::InstallMainHandlers()
{
    client_.OnRequestDone = [this](auto*, auto rqType, auto error) {
        Pop3ClientRequestDone(static_cast<int>(rqType), static_cast<uint16_t>(error));
    };
    client_.OnMessageBegin = [this](auto*) { Pop3ClientMessageBegin(); };
    client_.OnMessageEnd = [this](auto*) { Pop3ClientMessageEnd(); };
    client_.OnMessageLine = [this](auto*) { Pop3ClientMessageLine(); };
}

void TMailboxDownload::InstallScanHandlers()
{
    client_.OnRequestDone = [this](auto*, auto, auto error) { ScanRequestDone(static_cast<uint16_t>(error)); };
    client_.OnMessageBegin = nullptr;
    client_.OnMessageEnd = nullptr;
    client_.OnMessageLine = [this](auto*) { ScanMessageLine(); };
}

void TMailboxDownload::btnDownloadClick()
{
    if (running_)
        return;
    // Without a catalogue to record them in, no mail may leave the server.
    if (!form_.CatalogueReady()) {
        form_.Log(QStringLiteral("Download refused: ") + form_.CatalogueProblem());
        outcome_ = TRunOutcome::NoCatalogue;
        if (OnRunFinished)
            OnRunFinished(outcome_);
        return;
    }
    running_ = true;
    outcome_ = TRunOutcome::Completed;
    form_.SetControlsEnabled(false);
    form_.SetBusy(true);
    if (!RunRequest(QStringLiteral("Open"), [this] { client_.Open(); })) {
        outcome_ = TRunOutcome::NotConnected;
        form_.Log(QStringLiteral("Could not connect. Quitting."));
        form_.Log(QStringLiteral("No new faxes detected!"));
        FinishRun();
    }
}

bool TMailboxDownload::RunRequest(const QString& label, const std::function<void()>& request)
{
    QString host, port;
    SplitHostPort(form_.edtHost->text(), host, port);
    client_.SetHost(host.toStdString());
    client_.SetPort(port.toStdString());
    client_.SetUserName(form_.edtUserName->text().toLatin1().toStdString());
    client_.SetPassWord(form_.edtPassword->text().toLatin1().toStdString());
    // A deletion keeps the scan's handlers and message number.
    if (label != QLatin1String("Delete")) {
        client_.SetMsgNum(0);
        client_.SetMsgLines(0);
        InstallMainHandlers();
        form_.SetProgress(label + QStringLiteral(" started"));
    }
    try {
        request();
    } catch (const std::exception& e) {
        form_.SetProgress(label + QStringLiteral(" failed (") + QString::fromLocal8Bit(e.what()) + QLatin1Char(')'));
        return false;
    }
    form_.SetProgress(label + QStringLiteral(" ok"));
    return true;
}

void TMailboxDownload::Pop3ClientRequestDone(int rqType, uint16_t error)
{
    if (rqType == kOpenRequest && error != 0) {
        // Not reachable, or reachable but the login was refused: either way
        // nothing can be fetched; log out cleanly and end the run.
        form_.SetBusy(false);
        if (error == kHostNotFound) {
            outcome_ = TRunOutcome::NotConnected;
            form_.Log(QStringLiteral("Could not connect. Quitting."));
        } else if (error == kTimedOut) {
            // The server stopped answering: the run ends early, as when the connection breaks.
            outcome_ = TRunOutcome::ScanFailed;
            form_.Log(QStringLiteral("The mailbox did not answer: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        } else if (error >= kFirstSocketError) {
            outcome_ = TRunOutcome::NotConnected;
            form_.Log(QStringLiteral("Could not connect to the mailbox: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        } else {
            outcome_ = TRunOutcome::NotLoggedIn;
            form_.Log(QStringLiteral("Could not log in to the mailbox: ") + Latin1(client_.ErrorMessage())
                      + QStringLiteral(". Quitting."));
        }
        if (!RunRequest(QStringLiteral("Quit"), [this] { client_.Quit(); }))
            Pop3ClientRequestDone(-1, 0);
        return;
    }
    if (rqType == kOpenRequest) {
        form_.Log(QStringLiteral("Connecting to email account"));
        form_.Log(QStringLiteral("Connected. Checking for faxes."));
        StartMailboxScan();
        return;
    }
    // The logout completed. Captures an earlier run could not extract (its
    // lists, or captures that never reached a list) go with this run's: their
    // mails are already gone from the server.
    const QString listFile = QStringLiteral("temp\\temp.lst");
    const QString faxDataFile = QStringLiteral("temp\\faxdata.lst");
    QStringList captures = ReadListFile(listFile);
    for (const QString& path : form_.MessageList)
        if (!captures.contains(path))
            captures << path;
    const QStringList strays = QDir(QStringLiteral("temp"))
                                   .entryList({QStringLiteral("Msg *.txt")}, QDir::Files, QDir::Name);
    for (const QString& name : strays)
        if (!captures.contains(QStringLiteral("temp\\") + name))
            captures << QStringLiteral("temp\\") + name;
    const QStringList faxData = ReadListFile(faxDataFile) + form_.FaxDataList;
    form_.MessageList.clear();
    form_.FaxDataList.clear();
    if (captures.isEmpty()) {
        form_.Log(QStringLiteral("No new faxes detected!"));
        FinishRun();
        return;
    }
    QString problem;
    if (!WriteListFile(listFile, captures, problem) || !WriteListFile(faxDataFile, faxData, problem)) {
        form_.Log(QStringLiteral("Error: could not save the lists in temp\\: ") + problem);
        outcome_ = TRunOutcome::ScanFailed;
    }
    form_.ListFile = listFile;
    FaxDataFile = faxDataFile;
    if (OnListsSaved)
        OnListsSaved();
    else
        FinishRun();
}

void TMailboxDownload::StartMailboxScan()
{
    TempDir = QStringLiteral("temp\\");
    ScanState = 0;
    Capturing = false;
    captureError_.clear();
    InstallScanHandlers();
    try {
        client_.Stat();
    } catch (const std::exception& e) {
        form_.Log(QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
    }
}

void TMailboxDownload::ScanRequestDone(uint16_t error)
{
    if (error != 0) {
        // A retrieval that did not complete left a truncated capture: remove
        // it, so that its mail (not deleted) is fetched again next time.
        AbandonCapture();
        form_.Log(QStringLiteral("Error ") + Latin1(client_.ErrorMessage()));
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
        return;
    }
    try {
        switch (ScanState) {
        case 0:
            if (client_.MsgCount() >= 1) {
                client_.SetMsgNum(1);
                ScanState = 1;
                client_.Uidl();
            } else {
                form_.Log(QStringLiteral("No message to download."));
                EndScan();
            }
            break;
        case 1:
            CaptureFileName = TempDir + QStringLiteral("Msg ") + SafeFileName(client_.MsgUidl()) + QStringLiteral(".txt");
            if (QFileInfo::exists(NativePath(CaptureFileName))) {
                Advance();
            } else {
                ScanState = 2;
                captureError_.clear();
                client_.Retr();
            }
            break;
        case 2:
            if (!captureError_.isEmpty()) {
                form_.Log(captureError_);
                AbandonCapture();
                outcome_ = TRunOutcome::ScanFailed;
                EndScan();
            } else if (Capturing) {
                QString failure;
                if (!CompleteCapture(failure)) {
                    form_.Log(failure);
                    outcome_ = TRunOutcome::ScanFailed;
                    EndScan();
                    break;
                }
                if (!RunRequest(QStringLiteral("Delete"), [this] { client_.Dele(); })) {
                    outcome_ = TRunOutcome::ScanFailed;
                    EndScan();
                }
            } else {
                Advance();
            }
            break;
        default:
            form_.Log(QStringLiteral("Invalid state"));
            break;
        }
    } catch (const std::exception& e) {
        form_.Log(QStringLiteral("Exception ->Error: ") + QString::fromLocal8Bit(e.what()));
        AbandonCapture();
        outcome_ = TRunOutcome::ScanFailed;
        EndScan();
    }
}

void TMailboxDownload::Advance()
{
    if (client_.MsgNum() < client_.MsgCount()) {
        client_.SetMsgNum(client_.MsgNum() + 1);
        ScanState = 1;
        client_.Uidl();
    } else {
        EndScan();
    }
}

void TMailboxDownload::EndScan()
{
    client_.OnRequestDone = [this](auto*, auto rqType, auto error) {
        Pop3ClientRequestDone(static_cast<int>(rqType), static_cast<uint16_t>(error));
    };
    // Quit also when the scan failed: the server removes the mails marked
    // for deletion, exactly those whose complete captures are listed.
    if (!RunRequest(QStringLiteral("Quit"), [this] { client_.Quit(); }))
        Pop3ClientRequestDone(-1, 0);
}

void TMailboxDownload::BeginCapture()
{
    form_.Log(QStringLiteral("Fax Detected. Preparing to download."));
    faxDataMark_ = form_.FaxDataList.size();
    CaptureFile.setFileName(NativePath(CaptureFileName));
    if (!CaptureFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        captureError_ = QStringLiteral("Error: could not create the capture file ") + CaptureFileName
                        + QStringLiteral(": ") + CaptureFile.errorString();
        return;
    }
    Capturing = true;
}

void TMailboxDownload::WriteCaptureLine(const std::string& line)
{
    std::string bytes = line;
    bytes += "\r\n";
    if (CaptureFile.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        captureError_ = QStringLiteral("Error: could not write the capture file ") + CaptureFileName
                        + QStringLiteral(": ") + CaptureFile.errorString();
}

bool TMailboxDownload::CompleteCapture(QString& error)
{
    Capturing = false;
    bool ok = CaptureFile.flush() && ::fsync(CaptureFile.handle()) == 0;
    CaptureFile.close();
    ok = ok && CaptureFile.error() == QFileDevice::NoError;
    if (!ok) {
        error = QStringLiteral("Error: could not write the capture file ") + CaptureFileName;
        QFile::remove(NativePath(CaptureFileName));
        form_.FaxDataList.resize(faxDataMark_);
        return false;
    }
    SyncFolderOf(NativePath(CaptureFileName));
    form_.MessageList.append(CaptureFileName);
    return true;
}

void TMailboxDownload::AbandonCapture()
{
    if (!Capturing && captureError_.isEmpty())
        return;
    if (CaptureFile.isOpen())
        CaptureFile.close();
    Capturing = false;
    captureError_.clear();
    QFile::remove(NativePath(CaptureFileName));
    if (form_.FaxDataList.size() > faxDataMark_)
        form_.FaxDataList.resize(faxDataMark_);
}

void TMailboxDownload::ScanMessageLine()
{
    const std::string line = client_.LastResponse();
    if (!captureError_.isEmpty())
        return; // this capture failed; the rest of the message is ignored
    if (!Capturing) {
        if (ContainsText(line, "subject:") && ContainsText(line, "{Varnel}"))
            BeginCapture();
        return;
    }
    if (ContainsText(line, "{FaxSender}")) {
        std::string sender = ValueAfter(line, "{FaxSender}=");
        if (!sender.empty())
            sender.pop_back(); // the line's last character is not part of the value
        form_.FaxDataList.append(CaptureFileName);
        form_.FaxDataList.append(Latin1(sender));
    } else if (ContainsText(line, "{FaxDate}")) {
        form_.FaxDataList.append(Latin1(ValueAfter(line, "{FaxDate}=")));
    } else {
        WriteCaptureLine(line);
    }
}

void TMailboxDownload::Pop3ClientMessageBegin()
{
    form_.Log(QStringLiteral("*** Message %1 begin ***").arg(client_.MsgNum()));
}

void TMailboxDownload::Pop3ClientMessageEnd()
{
    form_.Log(QStringLiteral("*** Message %1 end ***").arg(client_.MsgNum()));
}

void TMailboxDownload::Pop3ClientMessageLine() { form_.Log(Latin1(client_.LastResponse())); }

void TMailboxDownload::FinishRun()
{
    form_.SetBusy(false);
    form_.SetControlsEnabled(true);
    running_ = false;
    if (OnRunFinished)
        OnRunFinished(outcome_);
}
