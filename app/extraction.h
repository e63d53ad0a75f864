#pragma once
// After a download: every captured mail is decoded on its own, each
// attachment that names a file is written into "faxes\" under a name not yet
// taken and catalogued with the sender ID and fax date the mail carried. A
// capture goes once all its faxes are catalogued; one that holds no fax file
// is moved to "temp\failed\", one whose faxes could not be written stays for
// the next run.
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QSet>
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

// The file name a part header line gives: Content-Disposition's filename
// (plain, or in RFC 2231 form with a charset and sections) as fileName,
// Content-Type's name as typeName; other lines that hold "filename=" give
// fileName as ExtractFileNameValue reads it. Names come as single-byte text
// (characters beyond Latin-1 become "_"). False when the line names nothing.
bool PartHeaderFileName(const char* line, QString& fileName, QString& typeName);

// A name for a file in "faxes\": stem, suffix (such as " (2)") and
// extension, the stem shortened until the whole fits both a catalogue key
// ("faxes\" + name, 255 characters) and a file name (255 bytes on disk).
QString FitFaxFileName(const QString& stem, const QString& suffix, const QString& extension);

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
    enum class TCaptureResult { Extracted, NoFaxFile, Failed };
    TCaptureResult ExtractCapture(const QString& capture, QString& error);
    void CommitExtracted(QStringList& extracted, QStringList& kept);
    void RemoveCapture(const QString& capture);
    bool SetAside(const QString& capture);
    void SaveWhatRemains(const QStringList& kept);
    void ReserveLedgerNames();
    QString ChooseFileName(const QString& wanted) const;
    bool NameTaken(const QString& name) const;
    bool Catalogued(const QString& fileName) const;
    int FindFaxData(const QString& capturePath) const;
    void CatalogueFax();
    void CloseAttachment();

    TForm1& form_;
    TMailboxDownload& download_;
    QFile AttachmentFile;
    // Names the current part's header gave so far.
    QString partFileName_, partTypeName_;
    // The capture's ledger ("temp\Msg 1.txt.faxes"): the file name given to
    // each of its attachments, in order, written before the file itself. A
    // run cut short after cataloguing some of them thus neither writes them
    // twice nor catalogues them twice when the capture is extracted again.
    QString ledgerPath_;
    QStringList ledger_;
    QSet<QString> reserved_; // names in any ledger, in lower case
    int attachmentCount_ = 0; // named attachments met in the current capture
    QStringList unsynced_;    // fax files and ledgers written since the last commit (native paths)
};
