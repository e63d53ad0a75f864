#include "app/core/password_command.h"

#include <QMetaObject>
#include <QPointer>

namespace {

// The text an error of the program itself gives, for the failure line.
QString FirstLine(const QByteArray& bytes)
{
    const QString text = QString::fromLocal8Bit(bytes).trimmed();
    const QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.size() > 200 ? line.left(200) + QStringLiteral("...") : line;
}

}  // namespace

TPasswordCommand::TPasswordCommand(QObject* parent) : QObject(parent)
{
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        if (!process_)
            return;
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(5000);
        TPasswordCommandResult result;
        result.Failure = QStringLiteral("The password command (%1) did not finish within %2 seconds and was stopped; "
                                        "nothing was sent to the server.")
                             .arg(program_)
                             .arg(LimitMs / 1000.0);
        Finish(result);
    });
}

TPasswordCommand::~TPasswordCommand() { Cancel(); }

QStringList TPasswordCommand::Arguments(const QString& command)
{
    // Words as a POSIX shell splits them, without expansions: 'single'
    // quotes keep everything, "double" quotes and a bare backslash escape
    // the next character. "sh -c 'script'" thus runs a real shell.
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quote == QLatin1Char('\'')) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (quote == QLatin1Char('"')) {
            if (c == quote)
                quote = QChar();
            else if (c == QLatin1Char('\\') && i + 1 < command.size() && QStringLiteral("\"\\$`").contains(command.at(i + 1)))
                word += command.at(++i);
            else
                word += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c == QLatin1Char('\\') && i + 1 < command.size()) {
            word += command.at(++i);
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

void TPasswordCommand::Start(const QString& command)
{
    Cancel();
    output_.clear();
    overflow_ = false;
    QStringList arguments = Arguments(command);
    program_ = arguments.isEmpty() ? QString() : arguments.first();
    if (arguments.isEmpty() || program_.isEmpty()) {
        TPasswordCommandResult result;
        result.Failure = QStringLiteral("The password command is empty; nothing was sent to the server.");
        QPointer<TPasswordCommand> self(this);
        QMetaObject::invokeMethod(this, [self, result] { if (self) self->Finish(result); }, Qt::QueuedConnection);
        return;
    }
    arguments.removeFirst();
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_.get(), &QProcess::readyReadStandardOutput, this, [this] {
        output_ += process_->readAllStandardOutput();
        if (output_.size() > kMaxOutput) {
            overflow_ = true;
            process_->kill();
        }
    });
    connect(process_.get(), &QProcess::finished, this, &TPasswordCommand::Finished);
    connect(process_.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        TPasswordCommandResult result;
        result.Failure = QStringLiteral("The password command (%1) could not be started: %2; nothing was sent to "
                                        "the server.")
                             .arg(program_, process_->errorString());
        Finish(result);
    });
    limit_.start(LimitMs);
    process_->start(program_, arguments);
}

void TPasswordCommand::Finished(int exitCode, QProcess::ExitStatus status)
{
    output_ += process_->readAllStandardOutput();
    const QString errorText = FirstLine(process_->readAllStandardError());
    const QString said = errorText.isEmpty() ? QString() : QStringLiteral(" (it said: %1)").arg(errorText);
    TPasswordCommandResult result;
    if (overflow_) {
        result.Failure = QStringLiteral("The password command (%1) printed more than %2 bytes; nothing was sent to "
                                        "the server.")
                             .arg(program_)
                             .arg(kMaxOutput);
    } else if (status != QProcess::NormalExit) {
        result.Failure = QStringLiteral("The password command (%1) was killed before it ended%2; nothing was sent to "
                                        "the server.")
                             .arg(program_, said);
    } else if (exitCode != 0) {
        result.Failure = QStringLiteral("The password command (%1) ended with exit status %2%3; nothing was sent to "
                                        "the server.")
                             .arg(program_)
                             .arg(exitCode)
                             .arg(said);
    } else {
        if (output_.endsWith('\n'))
            output_.chop(1);
        if (output_.endsWith('\r'))
            output_.chop(1);
        if (output_.isEmpty())
            result.Failure = QStringLiteral("The password command (%1) ended with exit status 0 but printed no "
                                            "password; nothing was sent to the server.")
                                 .arg(program_);
        else {
            result.Ok = true;
            result.Secret = output_.toStdString();
        }
    }
    output_.fill('\0');
    output_.clear();
    Finish(result);
}

void TPasswordCommand::Finish(TPasswordCommandResult result)
{
    limit_.stop();
    if (process_) {
        process_->disconnect(this);
        // Deleted from the event loop: this may run inside one of its signals.
        process_.release()->deleteLater();
    }
    if (OnDone)
        OnDone(result);
}

void TPasswordCommand::Cancel()
{
    limit_.stop();
    if (!process_)
        return;
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(5000);
    process_.reset();
}
