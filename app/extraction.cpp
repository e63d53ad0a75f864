#include "app/extraction.h"

#include "app/download.h"
#include "app/durable_file.h"
#include "app/list_file.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/native_path.h"
#include "mail/mime_decoder.h"
#include "mail/mime_fields.h"
#include "qdb/record_view.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QStringDecoder>

#include <exception>
#include <stdexcept>
#include <utility>

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// A decoded parameter as single-byte text: its charset decoded (Latin-1 when
// it names none or one that is not known), characters beyond Latin-1 as "_".
QString ParameterText(const TParameterValue& parameter)
{
    const QByteArray bytes(parameter.value.data(), static_cast<qsizetype>(parameter.value.size()));
    QString text = Latin1(parameter.value);
    if (!parameter.charset.empty()) {
        QStringDecoder decoder(parameter.charset.c_str());
        if (decoder.isValid()) {
            const QString decoded = decoder.decode(bytes);
            if (!decoder.hasError())
                text = decoded;
        }
    }
    for (QChar& c : text)
        if (c.unicode() > 0xFF)
            c = QLatin1Char('_');
    return text;
}

// A catalogue key is "faxes\" + the name, at most 255 characters; on disk a
// file name has at most 255 bytes.
bool FitsAsFaxName(const QString& name)
{
    return name.size() <= 255 - 6 && name.toUtf8().size() <= 255;
}

const QString kFailedFolder = QStringLiteral("temp\\failed\\");
const QString kLedgerSuffix = QStringLiteral(".faxes");
// Extracted captures are committed (synced, catalogued, removed) in groups
// of this many, so the disk waits once per group rather than once per fax.
constexpr qsizetype kCommitEvery = 100;

} // namespace

std::string ExtractFileNameValue(const std::string& line)
{
    const size_t at = Upper(line).find("FILENAME=");
    if (at == std::string::npos)
        return {};
    size_t pos = at + 9;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos < line.size() && line[pos] == '"') {
        const size_t close = line.find('"', pos + 1);
        return line.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
    }
    size_t end = line.find(';', pos);
    std::string token = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '"' || token.back() == '\''))
        token.pop_back();
    while (!token.empty() && (token.front() == '"' || token.front() == '\''))
        token.erase(0, 1);
    return token;
}

QString SafeAttachmentName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    for (char& c : base)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':')
            c = '_';
    while (!base.empty() && base.front() == '.')
        base.front() = '_';
    if (base.empty())
        base = "fax.apf";
    return QString::fromLatin1(base.data(), static_cast<qsizetype>(base.size()));
}

QString FormatEMailDate(const QDateTime& when)
{
    return QLocale::c().toString(when, QStringLiteral("MM/dd/yyyy hh:mm AP"));
}

bool PartHeaderFileName(const char* line, QString& fileName, QString& typeName)
{
    if (!line)
        return false;
    std::string field;
    TFieldCursor value(line);
    if (ReadFieldName(line, field, value)) {
        if (field == "content-disposition") {
            const TParameterValue name = FindParameter(value.Rest(), "filename");
            if (name.found) {
                fileName = ParameterText(name);
                return true;
            }
        } else if (field == "content-type") {
            const TParameterValue name = FindParameter(value.Rest(), "name");
            if (name.found) {
                typeName = ParameterText(name);
                return true;
            }
        }
    }
    if (!ContainsText(line, "filename="))
        return false;
    fileName = Latin1(ExtractFileNameValue(line));
    return true;
}

QString FitFaxFileName(const QString& stem, const QString& suffix, const QString& extension)
{
    QString s = stem;
    while (!s.isEmpty() && !FitsAsFaxName(s + suffix + extension))
        s.chop(1);
    if (!s.isEmpty())
        return s + suffix + extension;
    // An extension that leaves no room for the stem is dropped.
    s = stem;
    while (s.size() > 1 && !FitsAsFaxName(s + suffix))
        s.chop(1);
    return s + suffix;
}

TFaxExtraction::TFaxExtraction(TForm1& form, TMailboxDownload& download)
    : QObject(&form), form_(form), download_(download)
{
    MimeDecoder1 = new TMimeDecoder(this);
    MimeDecoder1->setObjectName(QStringLiteral("MimeDecoder1"));
    MimeDecoder1->OnPartHeaderLine = [this](QObject*) { MimeDecoder1PartHeaderLine(); };
    MimeDecoder1->OnPartBegin = [this](QObject*) { MimeDecoder1PartBegin(); };
    MimeDecoder1->OnPartLine = [this](QObject*, const char* data, int length) { MimeDecoder1PartLine(data, length); };
    MimeDecoder1->OnPartEnd = [this](QObject*) { MimeDecoder1PartEnd(); };
    download_.OnListsSaved = [this] { DecodeFaxes(); };
}

TFaxExtraction::~TFaxExtraction() = default;

void TFaxExtraction::DecodeFaxes()
{
    const QString listFile = form_.ListFile;
    if (listFile.isEmpty() || !QFileInfo::exists(NativePath(listFile))) {
        ShowMessageBox(TMessageKind::Information,
                       QStringLiteral("In DecodeFaxes: ListFile ") + listFile + QStringLiteral(" not found."));
        download_.FinishRun();
        return;
    }
    form_.MessageList = ReadListFile(listFile);
    if (!download_.FaxDataFile.isEmpty() && QFileInfo::exists(NativePath(download_.FaxDataFile)))
        form_.FaxDataList = ReadListFile(download_.FaxDataFile);
    ReserveLedgerNames();

    // Each capture on its own: one that fails does not hold up the others.
    QStringList kept; // captures left listed for the next run
    QStringList done;
    QStringList extracted; // not yet committed
    for (const QString& capture : std::as_const(form_.MessageList)) {
        // A capture already handled (listed twice, or extracted by a run
        // that was cut short before it could shorten the list) is skipped.
        if (done.contains(capture) || !QFileInfo::exists(NativePath(capture)))
            continue;
        done << capture;
        CurrentMessageFile = capture;
        QString error;
        switch (ExtractCapture(capture, error)) {
        case TCaptureResult::Extracted:
            extracted << capture;
            if (extracted.size() >= kCommitEvery)
                CommitExtracted(extracted, kept);
            break;
        case TCaptureResult::NoFaxFile:
            if (!SetAside(capture))
                kept << capture;
            download_.NoteExtractionFailed();
            break;
        case TCaptureResult::Failed:
            // Writing into faxes\ or the catalogue failed: a matter of this
            // computer, not of the mail, so the next run tries again.
            form_.Log(QStringLiteral("Error extracting ") + capture + QStringLiteral(": ") + error
                      + QStringLiteral(". It stays in temp\\ for the next download."));
            kept << capture;
            download_.NoteExtractionFailed();
            break;
        }
    }
    CommitExtracted(extracted, kept);
    SaveWhatRemains(kept);
    form_.Log(QStringLiteral("A total of %1 Faxes where added.").arg(form_.FaxCount));
    emit form_.CatalogueChanged();
    download_.FinishRun();
}

TFaxExtraction::TCaptureResult TFaxExtraction::ExtractCapture(const QString& capture, QString& error)
{
    ledgerPath_ = capture + kLedgerSuffix;
    ledger_ = ReadListFile(ledgerPath_);
    attachmentCount_ = 0;
    partFileName_.clear();
    partTypeName_.clear();
    form_.AttachmentPending = false;
    try {
        MimeDecoder1->DecodeFile(NativePath(capture));
        if (form_.AttachmentOpen)
            CatalogueFax(); // a part left open at the end of the mail
    } catch (const std::exception& e) {
        CloseAttachment();
        form_.AttachmentPending = false;
        error = QString::fromLocal8Bit(e.what());
        return TCaptureResult::Failed;
    }
    return attachmentCount_ > 0 ? TCaptureResult::Extracted : TCaptureResult::NoFaxFile;
}

void TFaxExtraction::CommitExtracted(QStringList& extracted, QStringList& kept)
{
    // The fax files written so far, and the ledgers naming them, reach the
    // disk before the catalogue records them; the captures go only after
    // that: a crash never leaves a record without its file, nor loses a
    // capture whose faxes are not recorded yet.
    QString problem;
    bool ok = SyncFiles(unsynced_, problem);
    if (!ok)
        problem = QStringLiteral("could not write ") + problem;
    if (ok && !unsynced_.isEmpty()) {
        SyncFolder(NativePath(QStringLiteral("faxes")));
        SyncFolder(NativePath(QStringLiteral("temp")));
        try {
            form_.QDBView->Flush();
        } catch (const std::exception& e) {
            ok = false;
            problem = QStringLiteral("could not save the catalogue: ") + QString::fromLocal8Bit(e.what());
        }
    }
    unsynced_.clear();
    if (!ok) {
        for (const QString& capture : std::as_const(extracted))
            form_.Log(QStringLiteral("Error extracting ") + capture + QStringLiteral(": ") + problem
                      + QStringLiteral(". It stays in temp\\ for the next download."));
        kept << extracted;
        download_.NoteExtractionFailed();
    } else {
        for (const QString& capture : std::as_const(extracted))
            RemoveCapture(capture);
        if (!extracted.isEmpty())
            SyncFolder(NativePath(QStringLiteral("temp")));
    }
    extracted.clear();
}

void TFaxExtraction::RemoveCapture(const QString& capture)
{
    // The capture goes before its ledger: a capture is never left without
    // the record of what was already taken from it.
    if (!QFile::remove(NativePath(capture))) {
        ShowMessageBox(TMessageKind::Information, QStringLiteral("Could not delete ") + capture);
        return;
    }
    QFile::remove(NativePath(capture + kLedgerSuffix));
}

bool TFaxExtraction::SetAside(const QString& capture)
{
    const QString name = capture.mid(capture.lastIndexOf(QLatin1Char('\\')) + 1);
    QString target = kFailedFolder + name;
    for (int n = 2; QFileInfo::exists(NativePath(target)); ++n)
        target = kFailedFolder + QStringLiteral("%1 (%2)").arg(name).arg(n);
    QString problem;
    if (!QDir().mkpath(NativePath(kFailedFolder))
        || !RenameDurably(NativePath(capture), NativePath(target), problem)) {
        form_.Log(QStringLiteral("No fax file found in ") + capture + QStringLiteral("; it could not be moved to ")
                  + kFailedFolder + QStringLiteral(" (") + problem + QStringLiteral(") and stays in temp\\."));
        return false;
    }
    if (QFileInfo::exists(NativePath(ledgerPath_)))
        RenameDurably(NativePath(ledgerPath_), NativePath(target + kLedgerSuffix), problem);
    form_.Log(QStringLiteral("No fax file found in ") + capture + QStringLiteral("; it is kept as ") + target
              + QLatin1Char('.'));
    return true;
}

void TFaxExtraction::SaveWhatRemains(const QStringList& kept)
{
    // The lists keep what is still to be extracted: the captures left
    // listed, and the fax data of every capture still in temp\ (also of
    // those a later run will list).
    QString problem;
    if (kept.isEmpty())
        QFile::remove(NativePath(form_.ListFile));
    else if (!WriteListFile(form_.ListFile, kept, problem))
        form_.Log(QStringLiteral("Error: could not save ") + form_.ListFile + QStringLiteral(": ") + problem);
    QStringList faxData;
    for (qsizetype g = 0; g + 2 < form_.FaxDataList.size(); g += 3)
        if (QFileInfo::exists(NativePath(form_.FaxDataList[g])))
            faxData << form_.FaxDataList.mid(g, 3);
    if (faxData.isEmpty())
        QFile::remove(NativePath(download_.FaxDataFile));
    else if (!WriteListFile(download_.FaxDataFile, faxData, problem))
        form_.Log(QStringLiteral("Error: could not save ") + download_.FaxDataFile + QStringLiteral(": ") + problem);
    form_.MessageList.clear();
    form_.FaxDataList.clear();
}

void TFaxExtraction::ReserveLedgerNames()
{
    // A ledger may name a file its interrupted extraction never created; no
    // other capture may take that name. Ledgers whose capture is gone are
    // left over from a run cut short while removing them.
    reserved_.clear();
    const QStringList ledgers = QDir(QStringLiteral("temp")).entryList({QStringLiteral("Msg *.txt") + kLedgerSuffix},
                                                                      QDir::Files);
    for (const QString& name : ledgers) {
        const QString ledger = QStringLiteral("temp\\") + name;
        if (!QFileInfo::exists(NativePath(ledger.chopped(kLedgerSuffix.size())))) {
            QFile::remove(NativePath(ledger));
            continue;
        }
        for (const QString& fileName : ReadListFile(ledger))
            reserved_.insert(fileName.toLower());
    }
}

void TFaxExtraction::MimeDecoder1PartHeaderLine()
{
    if (PartHeaderFileName(MimeDecoder1->CurrentLine(), partFileName_, partTypeName_))
        form_.AttachmentPending = true;
}

bool TFaxExtraction::Catalogued(const QString& fileName) const
{
    return form_.QDBView->FindKey((QStringLiteral("faxes\\") + fileName).toLatin1().toStdString());
}

bool TFaxExtraction::NameTaken(const QString& name) const
{
    return QFileInfo::exists(NativePath(QStringLiteral("faxes\\") + name)) || reserved_.contains(name.toLower())
           || Catalogued(name);
}

QString TFaxExtraction::ChooseFileName(const QString& wanted) const
{
    // "fax.apf", then "fax (2).apf", "fax (3).apf", ...
    const qsizetype dot = wanted.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? wanted.left(dot) : wanted;
    const QString extension = dot > 0 ? wanted.mid(dot) : QString();
    for (int n = 1; n <= 100000; ++n) {
        const QString name = FitFaxFileName(stem, n == 1 ? QString() : QStringLiteral(" (%1)").arg(n), extension);
        if (!NameTaken(name))
            return name;
    }
    throw std::runtime_error("no free file name in faxes\\ for " + wanted.toStdString());
}

void TFaxExtraction::MimeDecoder1PartBegin()
{
    if (!form_.AttachmentPending)
        return;
    CloseAttachment();
    const QString wanted = partFileName_.isEmpty() ? partTypeName_ : partFileName_;
    QString name;
    if (attachmentCount_ < ledger_.size()) {
        // Named by an earlier, interrupted extraction of this capture.
        name = ledger_[attachmentCount_++];
        if (Catalogued(name))
            return; // and catalogued by it, too
    } else {
        ++attachmentCount_;
        name = ChooseFileName(SafeAttachmentName(wanted.toLatin1().toStdString()));
        ledger_ << name;
        reserved_.insert(name.toLower());
        QString problem;
        if (!WriteListFile(ledgerPath_, ledger_, problem, TListSync::Later))
            throw std::runtime_error("could not save " + ledgerPath_.toStdString() + ": " + problem.toStdString());
        if (!unsynced_.contains(NativePath(ledgerPath_)))
            unsynced_ << NativePath(ledgerPath_);
    }
    AttachmentFileName = QStringLiteral("faxes\\") + name;
    AttachmentFile.setFileName(NativePath(AttachmentFileName));
    if (!AttachmentFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("could not create " + AttachmentFileName.toStdString() + ": "
                                 + AttachmentFile.errorString().toStdString());
    form_.AttachmentOpen = true;
}

void TFaxExtraction::MimeDecoder1PartLine(const char* data, int length)
{
    if (!form_.AttachmentOpen || length <= 0)
        return;
    if (AttachmentFile.write(data, length) != length)
        throw std::runtime_error("could not write " + AttachmentFileName.toStdString() + ": "
                                 + AttachmentFile.errorString().toStdString());
}

void TFaxExtraction::MimeDecoder1PartEnd()
{
    form_.AttachmentPending = false;
    partFileName_.clear();
    partTypeName_.clear();
    // Catalogued even when the mail carried no fax data: its mail is gone.
    if (form_.AttachmentOpen)
        CatalogueFax();
}

void TFaxExtraction::CloseAttachment()
{
    if (AttachmentFile.isOpen())
        AttachmentFile.close();
    form_.AttachmentOpen = false;
}

void TFaxExtraction::CatalogueFax()
{
    // The fax reaches the disk before the catalogue is saved with its
    // record (CommitExtracted).
    const bool written = AttachmentFile.flush();
    CloseAttachment();
    if (!written || AttachmentFile.error() != QFileDevice::NoError)
        throw std::runtime_error("could not write " + AttachmentFileName.toStdString());
    unsynced_ << NativePath(AttachmentFileName);
    form_.QDBView->Insert();
    form_.edtFilename->setText(AttachmentFileName);
    form_.edtStatus->setText(QStringLiteral("New"));
    form_.edtSenderID->setText(LookupSender(CurrentMessageFile));
    form_.edteMailDate->setText(FormatEMailDate(QDateTime::currentDateTime()));
    form_.edtFaxDate->setText(LookupFaxDate(CurrentMessageFile));
    form_.QDBView->Post();
    form_.Log(QStringLiteral("Added Fax SenderId: ") + form_.edtSenderID->text() + QStringLiteral(" Received On: ")
              + form_.edtFaxDate->text() + QStringLiteral(" File: ") + AttachmentFileName);
    ++form_.FaxCount;
}

int TFaxExtraction::FindFaxData(const QString& capturePath) const
{
    const std::string wanted = Upper(capturePath.toLatin1().toStdString());
    const qsizetype groups = form_.FaxDataList.size() / 3;
    for (qsizetype g = 0; g < groups; ++g)
        if (Upper(form_.FaxDataList[g * 3].toLatin1().toStdString()) == wanted)
            return static_cast<int>(g);
    return -1;
}

QString TFaxExtraction::LookupSender(const QString& capturePath) const
{
    const int g = FindFaxData(capturePath);
    return g < 0 ? QString() : form_.FaxDataList[g * 3 + 1];
}

QString TFaxExtraction::LookupFaxDate(const QString& capturePath) const
{
    const int g = FindFaxData(capturePath);
    return g < 0 ? QString() : form_.FaxDataList[g * 3 + 2];
}
