#include "app/extraction.h"

#include "app/download.h"
#include "app/list_file.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/native_path.h"
#include "mail/mime_decoder.h"
#include "qdb/record_view.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>

#include <exception>
#include <stdexcept>

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

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

    for (qsizetype i = 0; i < form_.MessageList.size(); ++i) {
        CurrentMessageFile = form_.MessageList[i];
        try {
            MimeDecoder1->DecodeFile(NativePath(CurrentMessageFile));
            if (form_.AttachmentOpen)
                CatalogueFax(); // a part left open at the end of the mail
        } catch (const std::exception& e) {
            // The mail is gone from the server: keep its capture and the lists,
            // so that the next run extracts it again.
            CloseAttachment();
            form_.AttachmentPending = false;
            form_.Log(QStringLiteral("Error extracting ") + CurrentMessageFile + QStringLiteral(": ")
                      + QString::fromLocal8Bit(e.what()));
            KeepRemainingCaptures(i);
            download_.FinishRun();
            return;
        }
        if (!QFile::remove(NativePath(CurrentMessageFile)))
            ShowMessageBox(TMessageKind::Information, QStringLiteral("Could not delete ") + CurrentMessageFile);
    }
    form_.MessageList.clear();
    form_.FaxDataList.clear();
    QFile::remove(NativePath(listFile));
    QFile::remove(NativePath(download_.FaxDataFile));
    form_.Log(QStringLiteral("A total of %1 Faxes where added.").arg(form_.FaxCount));
    download_.FinishRun();
}

void TFaxExtraction::KeepRemainingCaptures(qsizetype from)
{
    QString error;
    if (!WriteListFile(form_.ListFile, form_.MessageList.mid(from), error))
        form_.Log(QStringLiteral("Error: could not save ") + form_.ListFile + QStringLiteral(": ") + error);
    form_.MessageList.clear();
    form_.FaxDataList.clear();
}

void TFaxExtraction::MimeDecoder1PartHeaderLine()
{
    const char* line = MimeDecoder1->CurrentLine();
    if (!line || !ContainsText(line, "filename="))
        return;
    form_.AttachmentPending = true;
    AttachmentFileName = QStringLiteral("faxes\\") + SafeAttachmentName(ExtractFileNameValue(line));
}

void TFaxExtraction::MimeDecoder1PartBegin()
{
    if (!form_.AttachmentPending)
        return;
    CloseAttachment();
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
    const bool written = AttachmentFile.flush();
    CloseAttachment();
    if (!written || AttachmentFile.error() != QFileDevice::NoError)
        throw std::runtime_error("could not write " + AttachmentFileName.toStdString());
    form_.QDBView->Insert();
    form_.edtFilename->setText(AttachmentFileName);
    form_.edtStatus->setText(QStringLiteral("New"));
    form_.edtSenderID->setText(LookupSender(CurrentMessageFile));
    form_.edteMailDate->setText(FormatEMailDate(QDateTime::currentDateTime()));
    form_.edtFaxDate->setText(LookupFaxDate(CurrentMessageFile));
    form_.QDBView->Post();
    form_.QDBView->Flush();
    form_.Log(QStringLiteral("Added Fax SenderId: ") + form_.edtSenderID->text() + QStringLiteral(" Received On: ")
              + form_.edtFaxDate->text());
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
