#include "app/core/fax_import.h"

#include "app/core/fax_catalogue.h"
#include "app/core/fax_rules.h"
#include "app/core/run_host.h"
#include "app/platform/flying_op.h"
#include "app/platform/message_box.h"
#include "fax/fax_document.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

const QString kNoneAvailable = QStringLiteral("<none available>");

bool Refuse(const QString& text)
{
    ShowMessageBox(TMessageKind::Error, text);
    return false;
}

// True when both files hold the same bytes.
bool SameContents(const QString& a, const QString& b)
{
    QFile first(a), second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 256 * 1024;
    while (!first.atEnd())
        if (first.read(kChunk) != second.read(kChunk))
            return false;
    return true;
}

} // namespace

void CatalogueImportedFax(TFaxCatalogue& catalogue, TRunHost& host, const QString& path, const QString& name)
{
    catalogue.Add({QStringLiteral("New"), CatalogueKey(name), kNoneAvailable,
                   FormatEMailDate(QDateTime::currentDateTime()), kNoneAvailable});
    catalogue.Flush();
    host.Log(QStringLiteral("Added 1 Fax: ") + path);
}

bool IsFaxFile(const QString& path)
{
    int pages = 0;
    return FaxDocumentPageCount(QFile::encodeName(path).toStdString(), pages) == 0;
}

bool ImportFaxFile(TFaxCatalogue& catalogue, TRunHost& host, TFlyingOp& op, const QString& workFolder, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo source(path);
    const QString full = source.absoluteFilePath();
    if (source.isDir())
        return Refuse(QStringLiteral("Cannot import %1: it is a folder, not a fax file.").arg(full));
    if (!source.isFile())
        return Refuse(QStringLiteral("Cannot import %1: the file does not exist.").arg(full));
    if (!IsFaxFile(full))
        return Refuse(QStringLiteral("Cannot import %1: it is not a readable fax file (APF, TIFF or PDF).").arg(full));
    if (!KeyHoldsName(CatalogueKey(source.fileName())))
        return Refuse(QStringLiteral("Cannot import %1: the catalogue cannot hold its name (at most %2 characters, "
                                     "Latin-1 letters only). Rename the file and import it again.")
                          .arg(full)
                          .arg(kMaxCatalogueKeyLength - CatalogueKey({}).size()));
    if (!catalogue.Ready())
        return Refuse(QStringLiteral("Cannot import %1: %2.").arg(full, catalogue.Problem()));
    // The copy and the catalogue let pending events run; a second import or
    // a download run's extraction must not write the catalogue meanwhile.
    if (catalogue.Busy())
        return Refuse(QStringLiteral("Cannot import %1 now: the catalogue is busy with another import or a download. "
                                     "Try again when it has finished.")
                          .arg(full));
    const TFaxCatalogue::TBusyScope busy(catalogue);

    // From the choice of a free name to the record: what other Pellimar
    // processes catalogued meanwhile is seen, and none of them writes.
    std::optional<TFaxCatalogue::TChangeScope> change;
    try {
        change.emplace(catalogue);
    } catch (const std::exception& e) {
        return Refuse(QStringLiteral("Cannot import %1: %2.").arg(full, QString::fromLocal8Bit(e.what())));
    }

    const QString folder = workFolder + QStringLiteral("/faxes/");
    // The name as downloads make it safe; the same fax already lying under a
    // name is taken as it is, any other file, link or record keeps its name
    // and the import gets the next free one ("fax (2).apf").
    QString name;
    bool present = false;
    try {
        name = ChooseFreeFaxName(SafeAttachmentName(source.fileName().toLatin1().toStdString()),
                                 [&](const QString& candidate) {
                                     const QFileInfo there(folder + candidate);
                                     if (!there.isSymLink() && there.isFile() && SameContents(full, there.filePath())) {
                                         present = true;
                                         return false;
                                     }
                                     return there.exists() || there.isSymLink()
                                         || catalogue.Contains(CatalogueKey(candidate));
                                 });
    } catch (const std::exception& e) {
        return Refuse(QStringLiteral("Cannot import %1: %2").arg(full, QString::fromLocal8Bit(e.what())));
    }
    const QString destination = folder + name;
    if (present && catalogue.Contains(CatalogueKey(name))) {
        // The record a download wrote stays, with its sender ID and fax date.
        host.Log(QStringLiteral("Already catalogued: ") + full);
        return true;
    }
    if (!present && op.CopyFileAs(full, destination) != TShellResult::Done)
        return false;
    const QFileInfo copied(destination);
    if (copied.isSymLink() || !copied.isFile())
        return false;
    try {
        CatalogueImportedFax(catalogue, host, full, name);
    } catch (const std::exception& e) {
        return Refuse(QStringLiteral("%1 was copied into faxes/ but could not be catalogued: %2")
                          .arg(full, QString::fromLocal8Bit(e.what())));
    }
    catalogue.NoteChanged();
    return true;
}
