#pragma once
// A private CUPS scheduler for printing tests: cupsd with configuration,
// spool and state folders of its own under one temporary folder, listening
// on a socket there, with one cups-pdf queue (the scheduler's default) that
// writes the PDFs it receives into the folder. The queue's cups-pdf
// settings file has to live in /etc/cups (cups-pdf reads nothing else); it
// carries the fixture's unique name and is removed when the fixture stops.
//
// Creating the fixture sets CUPS_SERVER to its socket for the whole process,
// so that QPrinter only ever sees the private queue. libcups reads the
// variable once, so create the fixture before the first QPrinter.
#include <QProcess>

#include <memory>
#include <string>
#include <vector>

class CupsServer {
public:
    // True when cupsd, the cups-pdf backend and the tools are installed and
    // the process may run them (root, /etc/cups writable).
    static bool Available(std::string* why = nullptr);

    CupsServer();
    ~CupsServer();
    CupsServer(const CupsServer&) = delete;
    CupsServer& operator=(const CupsServer&) = delete;

    // Starts the scheduler, waits for it and adds the queue.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool Running() const { return process_ != nullptr; }

    const std::string& QueueName() const { return queue_; }
    const std::string& Socket() const { return socket_; }
    // Waits until the queue holds no more jobs (at most `limitMs`), then
    // returns the PDFs that arrived since the previous call, oldest first.
    std::vector<std::string> TakeOutput(int limitMs = 120000);
    // The scheduler's error log, for failure messages.
    std::string Log() const;

private:
    bool Tool(const QString& program, const QStringList& args, QString* output = nullptr) const;
    bool QueueEmpty() const;

    std::string root_;
    std::string socket_;
    std::string queue_ = "PellimarPDF";
    std::string cupsPdfName_;
    std::unique_ptr<QProcess> process_;
    std::vector<std::string> seen_;
};
