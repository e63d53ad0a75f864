// The order in which a fetch commits: DELE may follow a capture at once, but
// a capture takes its name only once it is complete, and all of them, with
// their fax data, are on disk under their names before QUIT; captures are
// extracted only after the server accepted QUIT. A scripted
// POP3 server lets the test stop a retrieval halfway, kill the program
// there, look at the disk when DELE and QUIT arrive, and refuse a logout.
#include "app/core/download.h"
#include "tests/integration/fetch_fixture.h"
#include "tests/support/local_mailbox.h"
#include "tests/support/scripted_server.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace {

struct ScriptedMail {
    std::string uid;
    std::string text; // CR LF lines
    std::string capture; // what its capture file must hold: the mail without its fax data lines
};

ScriptedMail MailFor(const std::string& uid, const QStringList& arguments)
{
    ScriptedMail mail{uid, {}, {}};
    QList<QByteArray> lines = MakeMail(arguments).split('\n');
    lines.removeLast(); // the empty rest behind the final LF
    for (const QByteArray& line : lines) {
        mail.text += line.toStdString() + "\r\n";
        if (!line.contains("{FaxSender}") && !line.contains("{FaxDate}"))
            mail.capture += line.toStdString() + "\r\n";
    }
    return mail;
}

// One POP3 session of the scripted server.
struct Session {
    std::vector<ScriptedMail> mails;
    bool stallInFirstRetr = false; // send half of message 1, then wait to be killed
    bool refuseQuit = false;       // drop the connection instead of answering QUIT
    std::function<void(const std::string& command)> beforeReply; // runs on DELE and QUIT
    int stallAtRetr = 0; // like stallInFirstRetr, for this message number
};

std::string Stuffed(const std::string& text)
{
    std::string out;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find("\r\n", begin);
        end = end == std::string::npos ? text.size() : end + 2;
        if (text[begin] == '.')
            out += '.';
        out.append(text, begin, end - begin);
        begin = end;
    }
    return out;
}

void Serve(ScriptedPeer& p, const Session& s, std::atomic<bool>& stalled)
{
    p.Send("+OK scripted POP3 ready\r\n");
    for (;;) {
        const std::string line = p.ReadLine(30000);
        if (line.empty())
            return;
        const std::string command = line.substr(0, line.find_first_of(" \r\n"));
        const int n = std::atoi(line.c_str() + std::min(line.size(), command.size()));
        const bool known = n >= 1 && n <= int(s.mails.size());
        if (command == "USER" || command == "PASS") {
            p.Send("+OK\r\n");
        } else if (command == "STAT") {
            p.Send("+OK " + std::to_string(s.mails.size()) + " 1000\r\n");
        } else if (command == "UIDL" && known) {
            p.Send("+OK " + std::to_string(n) + " " + s.mails[n - 1].uid + "\r\n");
        } else if (command == "RETR" && known) {
            const std::string body = Stuffed(s.mails[n - 1].text);
            if ((s.stallInFirstRetr && n == 1) || n == s.stallAtRetr) {
                p.Send("+OK\r\n" + body.substr(0, body.size() / 2));
                stalled = true;
                p.WaitForClose(60000);
                return;
            }
            p.Send("+OK\r\n" + body + ".\r\n");
        } else if (command == "DELE" && known) {
            if (s.beforeReply)
                s.beforeReply(line);
            p.Send("+OK\r\n");
        } else if (command == "QUIT") {
            if (s.beforeReply)
                s.beforeReply(line);
            if (!s.refuseQuit)
                p.Send("+OK bye\r\n");
            p.Close();
            return;
        } else {
            p.Send("-ERR not here\r\n");
        }
    }
}

class CaptureCommitTest : public FetchFolderTest {
protected:
    // Serves the sessions in turn, one connection each.
    void StartServer(std::vector<Session> sessions)
    {
        sessions_ = std::move(sessions);
        server_ = std::make_unique<ScriptedServer>(
            [this](ScriptedPeer& p) { Serve(p, sessions_.at(next_++), stalled_); }, int(sessions_.size()));
        StoreMailbox(QStringLiteral("127.0.0.1:") + QString::number(server_->Port()), QStringLiteral("fax"));
    }

    // Runs one fetch to its end; returns its exit status and keeps its output.
    int Fetch()
    {
        QProcess fetch;
        fetch.setWorkingDirectory(work_.path());
        fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
        EXPECT_TRUE(fetch.waitForFinished(120000));
        output_ = QString::fromUtf8(fetch.readAllStandardOutput());
        return fetch.exitStatus() == QProcess::NormalExit ? fetch.exitCode() : -1;
    }

    std::vector<Session> sessions_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> stalled_{false};
    std::unique_ptr<ScriptedServer> server_;
    QString output_;
};

TEST_F(CaptureCommitTest, CapturesAreCommittedBeforeQuitAndExtractedOnlyAfterIt)
{
    const ScriptedMail a = MailFor("uid-a", {QStringLiteral("--sender"), QStringLiteral("A"), QStringLiteral("--date"),
                                              QStringLiteral("1"), QStringLiteral("--attach"),
                                              QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf")});
    const ScriptedMail b = MailFor("uid-b", {QStringLiteral("--sender"), QStringLiteral("B"), QStringLiteral("--date"),
                                              QStringLiteral("2"), QStringLiteral("--attach"),
                                              QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/wide.apf")});
    // What the disk holds when the server is asked to delete or to log out.
    std::mutex seenMutex;
    std::vector<std::string> seen;
    auto look = [&](const std::string& command) {
        std::string state = command.substr(0, command.find('\r')) + ":";
        for (const QString& name : Entries(QStringLiteral("temp")))
            state += " " + name.toStdString();
        const QByteArray a1 = ReadFile(WorkPath(QStringLiteral("temp/Msg uid-a.txt")));
        const QByteArray b1 = ReadFile(WorkPath(QStringLiteral("temp/Msg uid-b.txt")));
        state += a1.isEmpty() ? "" : a1 == QByteArray::fromStdString(a.capture) ? " a-complete" : " a-WRONG";
        state += b1.isEmpty() ? "" : b1 == QByteArray::fromStdString(b.capture) ? " b-complete" : " b-WRONG";
        const QByteArray data = ReadFile(WorkPath(QStringLiteral("temp/faxdata.lst")));
        state += data.contains("temp\\Msg uid-a.txt\r\nA\r\n1\r\n") ? " a-data" : "";
        state += data.contains("temp\\Msg uid-b.txt\r\nB\r\n2\r\n") ? " b-data" : "";
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.push_back(state);
    };
    StartServer({
        {{a}, true, false, {}},      // 1: killed while message a arrives
        {{a, b}, false, true, look}, // 2: both captured and deleted, but the logout is refused
        {{a, b}, false, false, look}, // 3: the mails are still there: deleted again, then extracted
    });

    // 1. Killed halfway through the retrieval: the capture is not under its name.
    QProcess fetch;
    fetch.setWorkingDirectory(work_.path());
    fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
    QByteArray out;
    for (QDeadlineTimer limit(60000); !limit.hasExpired() && !(stalled_ && out.contains("Fax Detected"));)
        if (fetch.waitForReadyRead(100))
            out += fetch.readAllStandardOutput();
    ASSERT_TRUE(stalled_ && out.contains("Fax Detected")) << out.toStdString();
    fetch.kill();
    fetch.waitForFinished(10000);
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList{QStringLiteral("Msg uid-a.txt.part")});

    // 2. The leftover is dropped, never extracted. At each DELE nothing is
    // committed yet; QUIT finds both captures complete with their fax data.
    // As QUIT is refused, nothing is extracted.
    EXPECT_EQ(Fetch(), int(TRunOutcome::ScanFailed)) << output_.toStdString();
    EXPECT_TRUE(output_.section(QLatin1Char('\n'), 1).startsWith(QStringLiteral(
        "Removed the incomplete capture temp\\Msg uid-a.txt.part; its mail is fetched again.\n")))
        << output_.toStdString();
    EXPECT_TRUE(output_.contains(QStringLiteral("Error: the server did not confirm the logout")));
    EXPECT_EQ(Entries(QStringLiteral("faxes")), QStringList());
    EXPECT_EQ(Entries(QStringLiteral("temp")), (QStringList{QStringLiteral("Msg uid-a.txt"), QStringLiteral("Msg uid-b.txt"),
                                                            QStringLiteral("faxdata.lst")}));

    // 3. The next run deletes the mails it finds captured and extracts them once.
    EXPECT_EQ(Fetch(), 0) << output_.toStdString();
    EXPECT_EQ(output_.count(QStringLiteral("Fax already downloaded. Deleting it from the server.")), 2);
    EXPECT_TRUE(output_.contains(QStringLiteral("Added Fax SenderId: A Received On: 1 File: faxes\\multi.apf")));
    EXPECT_TRUE(output_.endsWith(QStringLiteral("A total of 2 Faxes where added.\n"))) << output_.toStdString();
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/multi.apf"))), SampleFax("multi.apf"));
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("faxes/wide.apf"))), SampleFax("wide.apf"));
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList());
    server_->Join();

    const std::vector<std::string> expected = {
        "DELE 1: Msg uid-a.txt.part",
        "DELE 2: Msg uid-a.txt.part Msg uid-b.txt.part",
        "QUIT: Msg uid-a.txt Msg uid-b.txt faxdata.lst a-complete b-complete a-data b-data",
        "DELE 1: Msg uid-a.txt Msg uid-b.txt faxdata.lst a-complete b-complete a-data b-data",
        "DELE 2: Msg uid-a.txt Msg uid-b.txt faxdata.lst a-complete b-complete a-data b-data",
        "QUIT: Msg uid-a.txt Msg uid-b.txt faxdata.lst a-complete b-complete a-data b-data",
    };
    EXPECT_EQ(seen, expected);
}

// A long walk commits its captures in groups, so that a run cut short keeps
// what it fetched: the next run only deletes those mails again.
TEST_F(CaptureCommitTest, ALongWalkCommitsItsCapturesInGroups)
{
    const ScriptedMail fax = MailFor("", {QStringLiteral("--sender"), QStringLiteral("S"), QStringLiteral("--date"),
                                          QStringLiteral("1"), QStringLiteral("--attach"),
                                          QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf")});
    std::vector<ScriptedMail> mails;
    for (int i = 1; i <= 101; ++i) {
        mails.push_back(fax);
        mails.back().uid = "uid-" + std::to_string(i);
    }
    Session cut{mails, false, false, {}};
    cut.stallAtRetr = 101; // the line drops while the 101st mail arrives
    StartServer({cut, {mails, false, false, {}}});

    QProcess fetch;
    fetch.setWorkingDirectory(work_.path());
    fetch.start(PellimarProgram(), {QStringLiteral("--fetch")});
    for (QDeadlineTimer limit(90000); !limit.hasExpired() && !stalled_;)
        fetch.waitForFinished(100);
    ASSERT_TRUE(stalled_);
    fetch.kill();
    fetch.waitForFinished(10000);
    const QStringList left = Entries(QStringLiteral("temp"));
    EXPECT_EQ(left.size(), 102) << left.join(QLatin1Char(' ')).toStdString(); // 100 captures, the list, one part
    EXPECT_TRUE(left.contains(QStringLiteral("Msg uid-101.txt.part")));
    EXPECT_EQ(ReadFile(WorkPath(QStringLiteral("temp/Msg uid-100.txt"))), QByteArray::fromStdString(fax.capture));

    EXPECT_EQ(Fetch(), 0) << output_.toStdString();
    EXPECT_EQ(output_.count(QStringLiteral("Fax already downloaded. Deleting it from the server.")), 100);
    EXPECT_TRUE(output_.endsWith(QStringLiteral("A total of 101 Faxes where added.\n"))) << output_.toStdString();
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList());
    server_->Join();
}

TEST_F(CaptureCommitTest, CapturesThatCannotBeCommittedKeepTheirMailsOnTheServer)
{
    // The fax data list cannot be saved (a folder holds its name): the
    // captures are not committed, so the session must end without QUIT.
    const ScriptedMail a = MailFor("uid-a", {QStringLiteral("--sender"), QStringLiteral("A"), QStringLiteral("--date"),
                                              QStringLiteral("1"), QStringLiteral("--attach"),
                                              QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf")});
    std::atomic<bool> quitSeen{false};
    StartServer({{{a}, false, false, [&](const std::string& command) {
                      if (command.rfind("QUIT", 0) == 0)
                          quitSeen = true;
                  }}});
    ASSERT_TRUE(QDir(work_.path()).mkpath(QStringLiteral("temp/faxdata.lst")));

    EXPECT_EQ(Fetch(), int(TRunOutcome::ScanFailed)) << output_.toStdString();
    EXPECT_TRUE(output_.contains(QStringLiteral("no mail is deleted from the server"))) << output_.toStdString();
    server_->Join();
    EXPECT_FALSE(quitSeen);
    EXPECT_EQ(Entries(QStringLiteral("temp")), QStringList{QStringLiteral("faxdata.lst")});
    EXPECT_EQ(Entries(QStringLiteral("faxes")), QStringList());
}

} // namespace
