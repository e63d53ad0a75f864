#include "app/fax_import.h"

#include "app/extraction.h"
#include "app/flying_op.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "fax/apf_file.h"
#include "qdb/record_view.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTabWidget>
#include <QUrl>

namespace {

const QString kNoneAvailable = QStringLiteral("<none available>");
constexpr qsizetype kMaxKeyLength = 255;

QString CatalogueKey(const QString& fileName) { return QStringLiteral("faxes\\") + fileName; }

// The catalogue keeps single-byte keys of at most 255 characters: a name
// that does not fit would be stored under another name than its file's.
bool KeyHoldsName(const QString& key)
{
    if (key.size() > kMaxKeyLength)
        return false;
    for (QChar c : key)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

bool Refuse(const QString& text)
{
    ShowMessageBox(TMessageKind::Error, text);
    return false;
}

} // namespace

void CatalogueImportedFax(TForm1& form, const QString& path)
{
    form.QDBView->Insert();
    form.edtFilename->setText(CatalogueKey(QFileInfo(path).fileName()));
    form.edtStatus->setText(QStringLiteral("New"));
    form.edtSenderID->setText(kNoneAvailable);
    form.edteMailDate->setText(FormatEMailDate(QDateTime::currentDateTime()));
    form.edtFaxDate->setText(kNoneAvailable);
    form.QDBView->Post();
    form.QDBView->Flush();
    form.Log(QStringLiteral("Added 1 Fax: ") + path);
}

bool ImportFaxFile(TForm1& form, TFlyingOp& op, const QString& workFolder, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo source(path);
    const QString full = source.absoluteFilePath();
    if (!source.isFile())
        return Refuse(QStringLiteral("Cannot import %1: the file does not exist.").arg(full));
    ApfFileHeader header;
    if (ApfReadFileHeader(QFile::encodeName(full).toStdString(), header) != 0)
        return Refuse(QStringLiteral("Cannot import %1: it is not a readable APF fax file.").arg(full));
    if (!KeyHoldsName(CatalogueKey(source.fileName())))
        return Refuse(QStringLiteral("Cannot import %1: the catalogue cannot hold its name (at most %2 characters, "
                                     "Latin-1 letters only). Rename the file and import it again.")
                          .arg(full)
                          .arg(kMaxKeyLength - CatalogueKey({}).size()));
    if (!form.CatalogueReady())
        return Refuse(QStringLiteral("Cannot import %1: %2.").arg(full, form.CatalogueProblem()));
    // The copy and the catalogue let pending events run; a second import or
    // a download run's extraction must not write the catalogue meanwhile.
    static bool importing = false;
    if (importing || !form.pgCntrl->isEnabled())
        return Refuse(QStringLiteral("Cannot import %1 now: the catalogue is busy with another import or a download. "
                                     "Try again when it has finished.")
                          .arg(full));
    const QScopedValueRollback busy(importing, true);

    op.SetSourceDirectory(source.absolutePath() + QLatin1Char('/'));
    op.SetDestinationDirectory(workFolder + QStringLiteral("/faxes/"));
    op.SetFileList({full});
    const TShellResult copied = op.CopyFiles();
    // Only a fax that lies in faxes/ now is catalogued: copied there, or
    // already there and kept by the user.
    const QString destination = op.DestinationDirectory() + source.fileName();
    if (copied != TShellResult::Done || !QFileInfo(destination).isFile())
        return false;
    try {
        // A kept file that has its record already keeps that record, with
        // the sender ID and fax date a download gave it.
        if (op.Kept().contains(destination)
            && form.QDBView->FindKey(CatalogueKey(source.fileName()).toLatin1().toStdString())) {
            form.Log(QStringLiteral("Already catalogued: ") + full);
            return true;
        }
        CatalogueImportedFax(form, full);
    } catch (const std::exception& e) {
        return Refuse(QStringLiteral("%1 was copied into faxes/ but could not be catalogued: %2")
                          .arg(full, QString::fromLocal8Bit(e.what())));
    }
    emit form.CatalogueChanged();
    return true;
}

QStringList DroppedLocalFiles(const QMimeData* data)
{
    QStringList files;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}
