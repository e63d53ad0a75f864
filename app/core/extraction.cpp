#include "app/core/extraction.h"

#include "app/core/download.h"
#include "app/core/fax_catalogue.h"
#include "app/core/fax_content_check.h"
#include "app/core/fax_rules.h"
#include "app/core/list_file.h"
#include "app/platform/durable_file.h"
#include "app/platform/message_box.h"
#include "app/platform/native_path.h"
#include "mail/mime_decoder.h"
#include "mail/mime_fields.h"

#include <QDir>
#include <QFileInfo>

#include <exception>
#include <stdexcept>
#include <utility>

namespace {

const QString kFailedFolder = QStringLiteral("temp\\failed\\");
const QString kLedgerSuffix = QStringLiteral(".faxes");
// Extracted captures are committed (synced, catalogued, removed) in groups
// of this many, so the disk waits once per group rather than once per fax.
constexpr qsizetype kCommitEvery = 100;

} // namespace


TFaxExtraction::TFaxExtraction(TRunHost& host, TRunState& state, TFaxCatalogue& catalogue,
                               TMailboxDownload& download, QObject* parent)
    : QObject(parent), host_(host), state_(state), catalogue_(catalogue), download_(download)
{
    MimeDecoder1 = new TMimeDecoder(this);
    MimeDecoder1->setObjectName(QStringLiteral("MimeDecoder1"));
    // A mail whose whole body is the fax is extracted like an attachment.
    MimeDecoder1->SetDecodeSinglePartBody(true);
    MimeDecoder1->OnHeaderLine = [this](QObject*) { MimeDecoder1HeaderLine(); };
    MimeDecoder1->OnHeaderEnd = [this](QObject*) { MimeDecoder1HeaderEnd(); };
    MimeDecoder1->OnPartHeaderLine = [this](QObject*) { MimeDecoder1PartHeaderLine(); };
    MimeDecoder1->OnPartBegin = [this](QObject*) { MimeDecoder1PartBegin(); };
    MimeDecoder1->OnPartLine = [this](QObject*, const char* data, int length) { MimeDecoder1PartLine(data, length); };
    MimeDecoder1->OnPartEnd = [this](QObject*) { MimeDecoder1PartEnd(); };
    download_.OnListsSaved = [this] { DecodeFaxes(); };
}

TFaxExtraction::~TFaxExtraction() = default;

void TFaxExtraction::DecodeFaxes()
{
    const QString listFile = state_.ListFile;
    if (listFile.isEmpty() || !QFileInfo::exists(NativePath(listFile))) {
        ShowMessageBox(TMessageKind::Information,
                       QStringLiteral("In DecodeFaxes: ListFile ") + listFile + QStringLiteral(" not found."));
        download_.FinishRun();
        return;
    }
    state_.MessageList = ReadListFile(listFile);
    if (!download_.FaxDataFile.isEmpty() && QFileInfo::exists(NativePath(download_.FaxDataFile)))
        state_.FaxDataList = ReadListFile(download_.FaxDataFile);
    ReserveLedgerNames();

    // Each capture on its own: one that fails does not hold up the others.
    QStringList kept; // captures left listed for the next run
    QStringList done;
    QStringList extracted; // not yet committed
    for (const QString& capture : std::as_const(state_.MessageList)) {
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
            host_.Log(QStringLiteral("Error extracting ") + capture + QStringLiteral(": ") + error
                      + QStringLiteral(". It stays in temp\\ for the next download."));
            kept << capture;
            download_.NoteExtractionFailed();
            break;
        }
    }
    CommitExtracted(extracted, kept);
    SaveWhatRemains(kept);
    host_.Log(QStringLiteral("A total of %1 Faxes where added.").arg(state_.FaxCount));
    catalogue_.NoteChanged();
    download_.FinishRun();
}

TFaxExtraction::TCaptureResult TFaxExtraction::ExtractCapture(const QString& capture, QString& error)
{
    ledgerPath_ = capture + kLedgerSuffix;
    ledger_ = ReadListFile(ledgerPath_);
    attachmentCount_ = 0;
    partFileName_.clear();
    partTypeName_.clear();
    faxContentOnly_ = false;
    sniffing_ = false;
    state_.AttachmentPending = false;
    try {
        MimeDecoder1->DecodeFile(NativePath(capture));
        if (sniffing_)
            DecideOnContent();
        if (state_.AttachmentOpen)
            CatalogueFax(); // a part left open at the end of the mail
    } catch (const std::exception& e) {
        CloseAttachment();
        state_.AttachmentPending = false;
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
            catalogue_.Flush();
        } catch (const std::exception& e) {
            ok = false;
            problem = QStringLiteral("could not save the catalogue: ") + QString::fromLocal8Bit(e.what());
        }
    }
    unsynced_.clear();
    change_.reset();
    if (!ok) {
        for (const QString& capture : std::as_const(extracted))
            host_.Log(QStringLiteral("Error extracting ") + capture + QStringLiteral(": ") + problem
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
        host_.Log(QStringLiteral("No fax file found in ") + capture + QStringLiteral("; it could not be moved to ")
                  + kFailedFolder + QStringLiteral(" (") + problem + QStringLiteral(") and stays in temp\\."));
        return false;
    }
    if (QFileInfo::exists(NativePath(ledgerPath_)))
        RenameDurably(NativePath(ledgerPath_), NativePath(target + kLedgerSuffix), problem);
    host_.Log(QStringLiteral("No fax file found in ") + capture + QStringLiteral("; it is kept as ") + target
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
        QFile::remove(NativePath(state_.ListFile));
    else if (!WriteListFile(state_.ListFile, kept, problem))
        host_.Log(QStringLiteral("Error: could not save ") + state_.ListFile + QStringLiteral(": ") + problem);
    QStringList faxData;
    for (qsizetype g = 0; g + 2 < state_.FaxDataList.size(); g += 3)
        if (QFileInfo::exists(NativePath(state_.FaxDataList[g])))
            faxData << state_.FaxDataList.mid(g, 3);
    if (faxData.isEmpty())
        QFile::remove(NativePath(download_.FaxDataFile));
    else if (!WriteListFile(download_.FaxDataFile, faxData, problem))
        host_.Log(QStringLiteral("Error: could not save ") + download_.FaxDataFile + QStringLiteral(": ") + problem);
    state_.MessageList.clear();
    state_.FaxDataList.clear();
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

void TFaxExtraction::MimeDecoder1HeaderLine()
{
    const std::string_view line = MimeDecoder1->CurrentLine();
    if (StartsWithNoCase(line, "x-pellimar-fax-rule:"))
        faxContentOnly_ = true;
    // The message's own type and disposition name the file of a single-part mail.
    else if (StartsWithNoCase(line, "content-"))
        MimeDecoder1PartHeaderLine();
}

void TFaxExtraction::MimeDecoder1HeaderEnd()
{
    if (!MimeDecoder1->Boundary().empty()) { // the parts name their own files
        state_.AttachmentPending = false;
        partFileName_.clear();
        partTypeName_.clear();
    }
}

void TFaxExtraction::MimeDecoder1PartHeaderLine()
{
    if (PartHeaderFileName(MimeDecoder1->CurrentLine(), partFileName_, partTypeName_))
        state_.AttachmentPending = true;
}

bool TFaxExtraction::Catalogued(const QString& fileName) const
{
    return catalogue_.Contains(CatalogueKey(fileName));
}

bool TFaxExtraction::NameTaken(const QString& name) const
{
    return QFileInfo::exists(NativePath(QStringLiteral("faxes\\") + name)) || reserved_.contains(name.toLower())
           || Catalogued(name);
}

QString TFaxExtraction::ChooseFileName(const QString& wanted) const
{
    return ChooseFreeFaxName(wanted, [this](const QString& name) { return NameTaken(name); });
}

void TFaxExtraction::MimeDecoder1PartBegin()
{
    if (!state_.AttachmentPending)
        return;
    CloseAttachment();
    if (faxContentOnly_) {
        sniffing_ = true;
        head_.clear();
        return;
    }
    OpenAttachment();
}

void TFaxExtraction::DecideOnContent()
{
    sniffing_ = false;
    const QString wanted = partFileName_.isEmpty() ? partTypeName_ : partFileName_;
    if (!IsFaxDocumentContent(head_)) {
        host_.Log(QStringLiteral("Left out the attachment ") + wanted + QStringLiteral(" of ") + CurrentMessageFile
                  + QStringLiteral(": it is not a fax document."));
        return;
    }
    OpenAttachment();
    MimeDecoder1PartLine(head_.constData(), static_cast<int>(head_.size()));
}

void TFaxExtraction::OpenAttachment()
{
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
    state_.AttachmentOpen = true;
}

void TFaxExtraction::MimeDecoder1PartLine(const char* data, int length)
{
    if (sniffing_ && length > 0) {
        head_.append(data, length);
        if (head_.size() >= kFaxSignatureLength)
            DecideOnContent();
        return;
    }
    if (!state_.AttachmentOpen || length <= 0)
        return;
    if (AttachmentFile.write(data, length) != length)
        throw std::runtime_error("could not write " + AttachmentFileName.toStdString() + ": "
                                 + AttachmentFile.errorString().toStdString());
}

void TFaxExtraction::MimeDecoder1PartEnd()
{
    if (sniffing_) // a part shorter than a signature
        DecideOnContent();
    state_.AttachmentPending = false;
    partFileName_.clear();
    partTypeName_.clear();
    // Catalogued even when the mail carried no fax data: its mail is gone.
    if (state_.AttachmentOpen)
        CatalogueFax();
}

void TFaxExtraction::CloseAttachment()
{
    if (AttachmentFile.isOpen())
        AttachmentFile.close();
    state_.AttachmentOpen = false;
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
    // The change lasts until the records are flushed (CommitExtracted).
    if (!change_)
        change_.emplace(catalogue_);
    const TFaxRecord record{QStringLiteral("New"), AttachmentFileName, LookupSender(CurrentMessageFile),
                            FormatEMailDate(QDateTime::currentDateTime()), LookupFaxDate(CurrentMessageFile)};
    catalogue_.Add(record);
    host_.Log(QStringLiteral("Added Fax SenderId: ") + record.SenderID + QStringLiteral(" Received On: ")
              + record.FaxDate + QStringLiteral(" File: ") + AttachmentFileName);
    ++state_.FaxCount;
}

int TFaxExtraction::FindFaxData(const QString& capturePath) const
{
    const std::string wanted = Upper(capturePath.toLatin1().toStdString());
    const qsizetype groups = state_.FaxDataList.size() / 3;
    for (qsizetype g = 0; g < groups; ++g)
        if (Upper(state_.FaxDataList[g * 3].toLatin1().toStdString()) == wanted)
            return static_cast<int>(g);
    return -1;
}

QString TFaxExtraction::LookupSender(const QString& capturePath) const
{
    const int g = FindFaxData(capturePath);
    return g < 0 ? QString() : state_.FaxDataList[g * 3 + 1];
}

QString TFaxExtraction::LookupFaxDate(const QString& capturePath) const
{
    const int g = FindFaxData(capturePath);
    return g < 0 ? QString() : state_.FaxDataList[g * 3 + 2];
}
