#pragma once
// After a download: every captured mail is decoded on its own, each
// attachment that names a file is written into "faxes\" under a name not yet
// taken and catalogued with the sender ID and fax date the mail carried (a
// mail that a further fax-mail rule took: only the attachments that are fax
// documents by content; a single-part mail: its body, when it names a file). A
// capture goes once all its faxes are catalogued; one that holds no fax file
// is moved to "temp\failed\", one whose faxes could not be written stays for
// the next run.
#include "app/core/fax_catalogue.h"
#include "app/core/run_host.h"

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>
#include <string>

class TMailboxDownload;
class TMimeDecoder;

class TFaxExtraction : public QObject {
    Q_OBJECT
public:
    TFaxExtraction(TRunHost& host, TRunState& state, TFaxCatalogue& catalogue, TMailboxDownload& download,
                   QObject* parent = nullptr);
    ~TFaxExtraction() override;

    // Decodes the captures listed in ListFile and ends the run.
    void DecodeFaxes();

    void MimeDecoder1HeaderLine();
    void MimeDecoder1HeaderEnd();
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
    void OpenAttachment();
    void DecideOnContent();

    TRunHost& host_;
    TRunState& state_;
    TFaxCatalogue& catalogue_;
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
    // The capture was taken by a further fax-mail rule: only attachments
    // that are fax documents by content are catalogued. While sniffing_,
    // the first bytes of a named part are held in head_ until they tell.
    bool faxContentOnly_ = false;
    bool sniffing_ = false;
    QByteArray head_;
    QStringList unsynced_;    // fax files and ledgers written since the last commit (native paths)
    // Open from the first record added to the flush that commits it.
    std::optional<TFaxCatalogue::TChangeScope> change_;
};
