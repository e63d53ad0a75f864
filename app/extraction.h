#pragma once
// After a download: every captured mail is decoded, each attachment that
// names a file is written into "faxes\" and catalogued with the sender ID
// and fax date the mail carried. Capture and list files go once done.
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>

#include <string>

class TForm1;
class TMailboxDownload;
class TMimeDecoder;

// The file name a part header line names after "filename=" (any case):
// the quoted text, or the token up to ";" or the end of the line.
std::string ExtractFileNameValue(const std::string& line);

// Only the last path component of a name taken from mail, with anything that
// could leave the folder or hide the file ("..", control characters, a
// leading dot) replaced; never empty.
QString SafeAttachmentName(const std::string& name);

// "mm/dd/yyyy hh:mm AM/PM".
QString FormatEMailDate(const QDateTime& when);

class TFaxExtraction : public QObject {
    Q_OBJECT
public:
    TFaxExtraction(TForm1& form, TMailboxDownload& download);
    ~TFaxExtraction() override;

    // Decodes the captures listed in ListFile and ends the run.
    void DecodeFaxes();

    void MimeDecoder1PartHeaderLine();
    void MimeDecoder1PartBegin();
    void MimeDecoder1PartLine(const char* data, int length);
    void MimeDecoder1PartEnd();
    QString LookupSender(const QString& capturePath) const;
    QString LookupFaxDate(const QString& capturePath) const;

    TMimeDecoder* MimeDecoder1 = nullptr;
    QString CurrentMessageFile;
    QString AttachmentFileName;

private:
    int FindFaxData(const QString& capturePath) const;
    void CatalogueFax();
    void CloseAttachment();
    void KeepRemainingCaptures(qsizetype from);

    TForm1& form_;
    TMailboxDownload& download_;
    QFile AttachmentFile;
};
