#include "app/core/mail_capture.h"

#include "app/core/fax_rules.h"
#include "app/core/list_file.h"
#include "app/platform/durable_file.h"
#include "app/platform/native_path.h"

#include <QDir>

#include <cstring>

namespace {

const QString kPartSuffix = QStringLiteral(".part");
// Written into the header of a capture that a further fax-mail rule took,
// so that its extraction, in this run or a later one, catalogues only the
// attachments that are fax documents.
const std::string kRuleField = "X-Pellimar-Fax-Rule: ";

// The text after the first "marker=" (any case), or nothing when absent.
std::string ValueAfter(const std::string& line, const std::string& marker)
{
    const size_t at = Upper(line).find(Upper(marker));
    return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

} // namespace

void TMailCapture::StartRun(const TFaxMailRules& rules)
{
    rules_ = rules;
    completed_.clear();
    completedFaxData_.clear();
    earlier_.clear();
    capturing_ = false;
    partError_.clear();
}

void TMailCapture::RemoveIncomplete()
{
    // A capture still under its temporary name was cut short (the program
    // was killed while writing it): its mail was not removed, so it is
    // simply fetched again.
    const QStringList parts = QDir(QStringLiteral("temp")).entryList({QStringLiteral("Msg *.txt") + kPartSuffix},
                                                                    QDir::Files, QDir::Name);
    for (const QString& name : parts) {
        QFile::remove(QStringLiteral("temp/") + name);
        host_.Log(QStringLiteral("Removed the incomplete capture temp\\") + name
                  + QStringLiteral("; its mail is fetched again."));
    }
    // A list or ledger is saved under a temporary name beside it and renamed
    // over it when complete; a run killed in between leaves that copy, while
    // the list itself is whole. Only the run holding the folder's lock gets
    // here, so no such copy is still being written.
    const QStringList copies = QDir(QStringLiteral("temp")).entryList(
        {QStringLiteral("temp.lst.*"), QStringLiteral("faxdata.lst.*"), QStringLiteral("Msg *.txt.faxes.*")}, QDir::Files);
    for (const QString& name : copies)
        QFile::remove(QStringLiteral("temp/") + name);
}

void TMailCapture::Open(const QString& name)
{
    // Every retrieved mail is written under a temporary name; only a fax
    // mail that arrived completely gets its capture name. A mail that is no
    // fax mail is dropped again, so a failure to write it does not matter.
    name_ = name;
    capturing_ = false;
    partError_.clear();
    sender_.reset();
    faxDate_.reset();
    header_.Clear();
    inHeader_ = true;
    ruleMatched_ = false;
    pendingLine_.clear();
    if (file_.isOpen())
        file_.close();
    file_.setFileName(NativePath(name_ + kPartSuffix));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        partError_ = QStringLiteral("Error: could not create the capture file ") + name_ + QStringLiteral(": ")
                     + file_.errorString();
}

void TMailCapture::Write(const std::string& line)
{
    if (!partError_.isEmpty() || !file_.isOpen())
        return;
    std::string bytes = line;
    bytes += "\r\n";
    if (file_.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        partError_ = QStringLiteral("Error: could not write the capture file ") + name_ + QStringLiteral(": ")
                     + file_.errorString();
}

void TMailCapture::TakeLine(const std::string& line)
{
    const bool headerEnds = inHeader_ && line.empty();
    if (inHeader_ && !headerEnds)
        header_.AddLine(line);
    inHeader_ = inHeader_ && !headerEnds;
    if (!capturing_ && ContainsText(line, "subject:") && ContainsText(line, "{Varnel}")) {
        host_.Log(QStringLiteral("Fax Detected. Preparing to download."));
        capturing_ = true;
    } else if (!capturing_ && headerEnds && MatchFurtherRules()) {
        capturing_ = true;
    } else if (capturing_ && ContainsText(line, "{FaxSender}")) {
        // Fax data lines go to the fax data list, not into the capture; the
        // first value of each kind in the mail counts.
        std::string sender = ValueAfter(line, "{FaxSender}=");
        if (!sender.empty())
            sender.pop_back(); // the line's last character is not part of the value
        if (!sender_)
            sender_ = Latin1(sender);
        return;
    } else if (capturing_ && ContainsText(line, "{FaxDate}")) {
        if (!faxDate_)
            faxDate_ = Latin1(ValueAfter(line, "{FaxDate}="));
        return;
    }
    Write(line); // the whole mail, header lines included
}

void TMailCapture::TakeBytes(const char* data, std::size_t length)
{
    while (length > 0) {
        const void* lf = std::memchr(data, '\n', length);
        const std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : length;
        if (pendingLine_.size() + take > MaxLineLength) {
            if (partError_.isEmpty())
                partError_ = QStringLiteral("Error: the mail for ") + name_ + QStringLiteral(" has a line longer than ")
                             + QString::number(MaxLineLength) + QStringLiteral(" bytes");
            pendingLine_.clear();
        } else {
            pendingLine_.append(data, take);
        }
        data += take;
        length -= take;
        if (!lf)
            return;
        ++data;
        --length;
        if (!pendingLine_.empty() && pendingLine_.back() == '\r')
            pendingLine_.pop_back();
        TakeLine(pendingLine_);
        pendingLine_.clear();
    }
}

bool TMailCapture::MatchFurtherRules()
{
    const int rule = MatchingFaxMailRule(rules_, header_.Fields());
    if (rule < 0)
        return false;
    const QString description = DescribeFaxMailRule(rules_[rule]);
    host_.Log(QStringLiteral("Fax Detected (rule: %1). Preparing to download.").arg(description));
    ruleMatched_ = true;
    Write(kRuleField + description.toUtf8().toStdString());
    return true;
}

void TMailCapture::TakeHeaderFaxData()
{
    // Fax data lines, when the mail has them, win over what its header says.
    const TMailHeader header = header_.Fields();
    if (!sender_)
        sender_ = SenderIdFromHeader(header);
    if (!faxDate_)
        faxDate_ = FaxDateFromHeader(header.Date, QTimeZone::systemTimeZone());
}

bool TMailCapture::Complete(QString& error)
{
    if (!pendingLine_.empty()) { // a last line without its line end
        TakeLine(pendingLine_);
        pendingLine_.clear();
    }
    if (!capturing_) {
        Discard(); // not a fax mail
        return true;
    }
    if (ruleMatched_)
        TakeHeaderFaxData();
    // The capture stays under its temporary name until the commit.
    capturing_ = false;
    bool ok = partError_.isEmpty() && file_.flush();
    file_.close();
    ok = ok && file_.error() == QFileDevice::NoError;
    error = partError_.isEmpty() ? QStringLiteral("Error: could not write the capture file ") + name_ : partError_;
    partError_.clear();
    if (!ok) {
        QFile::remove(NativePath(name_ + kPartSuffix));
        return false;
    }
    completed_ << name_;
    if (sender_ || faxDate_) // one group of three; a missing value is an empty line
        completedFaxData_ << name_ << sender_.value_or(QString()) << faxDate_.value_or(QString());
    return true;
}

void TMailCapture::Discard()
{
    if (file_.isOpen())
        file_.close();
    QFile::remove(NativePath(name_ + kPartSuffix));
    partError_.clear();
    pendingLine_.clear();
}

void TMailCapture::Abandon()
{
    capturing_ = false;
    if (file_.isOpen() || !partError_.isEmpty())
        Discard();
}

void TMailCapture::AddEarlier(const QString& name) { earlier_ << NativePath(name); }

bool TMailCapture::Commit(TRunState& state, QString& error)
{
    // The captures' data and their fax data reach the disk before any of
    // them takes its final name: a capture under its final name is
    // complete and has its data.
    QStringList files = earlier_;
    for (const QString& capture : std::as_const(completed_))
        files << NativePath(capture + kPartSuffix);
    QString failed;
    bool ok = SyncFiles(files, failed);
    if (!ok)
        error = QStringLiteral("Error: could not write the capture file ") + failed;
    if (ok && !completedFaxData_.isEmpty()) {
        QString problem;
        ok = WriteListFile(kFaxDataListFile, ReadListFile(kFaxDataListFile) + completedFaxData_, problem);
        if (!ok)
            error = QStringLiteral("Error: could not save ") + kFaxDataListFile + QStringLiteral(": ") + problem;
    }
    ok = ok && NameCompleted(state, error);
    for (const QString& capture : std::as_const(completed_))
        QFile::remove(NativePath(capture + kPartSuffix)); // left only by a failure
    completed_.clear();
    completedFaxData_.clear();
    earlier_.clear();
    return ok;
}

bool TMailCapture::NameCompleted(TRunState& state, QString& error)
{
    bool ok = true;
    for (const QString& capture : std::as_const(completed_)) {
        QString problem;
        if (!RenameReplacing(NativePath(capture + kPartSuffix), NativePath(capture), problem)) {
            error = QStringLiteral("Error: could not name the capture file ") + capture + QStringLiteral(": ")
                    + problem;
            ok = false;
            break;
        }
        state.MessageList.append(capture);
    }
    if (!completed_.isEmpty())
        SyncFolderOf(NativePath(completed_.first()));
    state.FaxDataList.append(completedFaxData_);
    return ok;
}
