#include "app/core/fax_catalogue.h"

#include "app/platform/message_box.h"
#include "qdb/record_view.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

QString CatalogueKey(const QString& fileName) { return QStringLiteral("faxes\\") + fileName; }

bool KeyHoldsName(const QString& key)
{
    if (key.size() > kMaxCatalogueKeyLength)
        return false;
    for (QChar c : key)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

TFaxCatalogue::TFaxCatalogue(QObject* parent) : QObject(parent), panel_(new QWidget)
{
    panel_->setObjectName(QStringLiteral("RcvdPanel"));
    // Created in panel order, which is the order of the record's fields.
    auto makeEdit = [this](const char* name) {
        auto* edit = new QLineEdit(panel_);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    edtFilename = makeEdit("edtFilename");
    edteMailDate = makeEdit("edteMailDate");
    edtSenderID = makeEdit("edtSenderID");
    edtFaxDate = makeEdit("edtFaxDate");
    edtStatus = makeEdit("edtStatus");

    view_ = std::make_unique<qdb::TQDBView>();
    view_->SetAutoEdit(false);
    view_->SetReadOnly(false);
    view_->SetSaveOnClose(true);
    view_->SetExpandedFileNames(true);
    view_->SetCompression(false);
    view_->SetUseGrepMatch(false);
    view_->SetAggressiveUpdate(false);
    view_->SetCacheSize(65536);
    view_->SetCacheFrequency(0);
    view_->DateTimeFormatStr.assign(1, 'c'); // assigning the literal trips a false GCC 12 -Wrestrict
    view_->SetActiveColor(QApplication::palette().color(QPalette::Base));
    view_->SetInactiveColor(QColor(0xC0, 0xC0, 0xC0));
    view_->SetExcludeTag(-999);
    view_->AfterPost = [this](qdb::TQDB*) {
        if (OnEmptyChanged)
            OnEmptyChanged(false);
        emit RecordAdded(edtSenderID->text());
    };
    view_->WarnNoData = [this](qdb::TQDB*) {
        if (OnEmptyChanged)
            OnEmptyChanged(true);
    };
    view_->OnKey = [this](qdb::TQDB*, std::string& key) {
        key = edtFilename->text().toLatin1().left(kMaxCatalogueKeyLength).toStdString();
    };
    view_->SetPanel(panel_); // no database is open yet, so this cannot fail
}

TFaxCatalogue::~TFaxCatalogue()
{
    Close();
    view_.reset();
    // A panel that no window took over is this object's own.
    if (panel_ && !panel_->parent())
        delete panel_.data();
}

void TFaxCatalogue::Open(const std::string& fileName)
{
    problem_.clear();
    try {
        view_->SetFileName(fileName);
    } catch (const std::exception& e) {
        if (view_->Ready()) {
            // Only a record is damaged: the catalogue is open and takes new faxes.
            ShowMessageBox(TMessageKind::Error, QString::fromLocal8Bit(e.what()));
            return;
        }
        problem_ = QStringLiteral("The catalogue %1 could not be opened: %2")
                       .arg(QDir::current().absoluteFilePath(QString::fromLocal8Bit(fileName.c_str())),
                            QString::fromLocal8Bit(e.what()));
        ShowMessageBox(TMessageKind::Error, problem_);
    }
}

void TFaxCatalogue::Close()
{
    if (!view_ || !view_->Ready())
        return;
    const QString name = QString::fromLocal8Bit(view_->FileName().c_str());
    try {
        view_->SetFileName({});
    } catch (const std::exception& e) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("The catalogue %1 could not be saved: %2")
                                                .arg(name, QString::fromLocal8Bit(e.what())));
    }
}

bool TFaxCatalogue::Ready() const { return view_->Ready() && !view_->ReadOnly(); }

QString TFaxCatalogue::Problem() const
{
    if (Ready())
        return {};
    if (!problem_.isEmpty())
        return problem_;
    if (view_->Ready())
        return QStringLiteral("The catalogue %1 is read-only").arg(QString::fromLocal8Bit(view_->FileName().c_str()));
    return QStringLiteral("The catalogue faxes.qdb is not open");
}

void TFaxCatalogue::Add(const TFaxRecord& record)
{
    view_->Insert();
    edtFilename->setText(record.FileName);
    edtStatus->setText(record.Status);
    edtSenderID->setText(record.SenderID);
    edteMailDate->setText(record.EMailDate);
    edtFaxDate->setText(record.FaxDate);
    view_->Post();
}

bool TFaxCatalogue::Contains(const QString& key) { return view_->FindKey(key.toLatin1().toStdString()); }

void TFaxCatalogue::Flush() { view_->Flush(); }

TFaxRecord TFaxCatalogue::Current() const
{
    return {edtStatus->text(), edtFilename->text(), edtSenderID->text(), edteMailDate->text(), edtFaxDate->text()};
}
