#pragma once
// Runs the password command of the Configure page, as other mail tools do
// (passwordeval, PassCmd): its standard output, with the final newline cut,
// is the password or token. It runs without a shell unless its text starts
// with "sh -c", has no input, and is stopped at its time limit.
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

struct TPasswordCommandResult {
    bool Ok = false;
    std::string Secret;
    QString Failure;  // one log line when not Ok; never holds the output
};

class TPasswordCommand : public QObject {
public:
    static constexpr int kDefaultLimitMs = 30000;
    // More output than this is no password.
    static constexpr qint64 kMaxOutput = 64 * 1024;

    explicit TPasswordCommand(QObject* parent = nullptr);
    ~TPasswordCommand() override;

    // The program and its arguments for a command text, split into words
    // as a shell would (quotes, backslashes) but never expanded.
    static QStringList Arguments(const QString& command);

    // Starts the command; OnDone follows from the event loop, exactly once.
    void Start(const QString& command);
    // Stops a running command without calling OnDone.
    void Cancel();
    bool Running() const { return process_ != nullptr; }

    int LimitMs = kDefaultLimitMs;
    std::function<void(const TPasswordCommandResult&)> OnDone;

private:
    void Finish(TPasswordCommandResult result);
    void Finished(int exitCode, QProcess::ExitStatus status);

    std::unique_ptr<QProcess> process_;
    QTimer limit_;
    QString program_;  // named in failure lines
    QByteArray output_;
    bool overflow_ = false;
};
