#include "fax/view/fax_printer_status_display.h"

#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_status.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* AddValue(QFormLayout* form, const QString& caption, const QString& name)
{
    auto* value = new QLabel;
    value->setObjectName(name);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setMinimumWidth(120);
    auto* label = new QLabel(caption);
    label->setBuddy(value);
    value->setAccessibleName(caption);
    form->addRow(label, value);
    return value;
}

} // namespace

TStandardFaxPrinterStatusDisplay::TStandardFaxPrinterStatusDisplay(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("StandardFaxPrinterStatusDisplay"));
    setWindowTitle(QStringLiteral("Print Status"));
    setProperty("Position", static_cast<int>(poScreenCenter));
    setProperty("Ctl3D", true);

    auto* information = new QGroupBox(QStringLiteral("Fax Information"));
    information->setObjectName(QStringLiteral("grpFaxInformation"));
    auto* values = new QFormLayout(information);
    txtFileName = AddValue(values, QStringLiteral("Filename"), QStringLiteral("txtFileName"));
    txtTotalPages = AddValue(values, QStringLiteral("Total Pages"), QStringLiteral("txtTotalPages"));
    txtResolution = AddValue(values, QStringLiteral("Resolution"), QStringLiteral("txtResolution"));
    txtWidth = AddValue(values, QStringLiteral("Width"), QStringLiteral("txtWidth"));
    txtFirstPage = AddValue(values, QStringLiteral("First Page to Print"), QStringLiteral("txtFirstPage"));
    txtLastPage = AddValue(values, QStringLiteral("Last Page to Print"), QStringLiteral("txtLastPage"));

    auto* status = new QGroupBox(QStringLiteral("Status"));
    status->setObjectName(QStringLiteral("grpStatus"));
    txtStatus = new QLabel(QStringLiteral("Idle"));
    txtStatus->setObjectName(QStringLiteral("txtStatus"));
    txtStatus->setAccessibleName(QStringLiteral("Status"));
    txtStatus->setAlignment(Qt::AlignCenter);
    auto* statusLines = new QVBoxLayout(status);
    statusLines->addWidget(txtStatus);
    txtNotPrinted = new QLabel;
    txtNotPrinted->setObjectName(QStringLiteral("txtNotPrinted"));
    txtNotPrinted->setAccessibleName(QStringLiteral("Pages not printed"));
    txtNotPrinted->setAlignment(Qt::AlignCenter);
    txtNotPrinted->setWordWrap(true);
    txtNotPrinted->hide();
    statusLines->addWidget(txtNotPrinted);

    btnAbort = new QPushButton(QStringLiteral("Abort"));
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setAccessibleName(QStringLiteral("Abort"));
    connect(btnAbort, &QPushButton::clicked, this, &TStandardFaxPrinterStatusDisplay::btnAbortClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(information);
    layout->addWidget(status);
    layout->addWidget(btnAbort, 0, Qt::AlignHCenter);
}

void TStandardFaxPrinterStatusDisplay::UpdateValues(TKivCustomFaxPrinter* printer)
{
    if (!printer)
        return;
    txtFileName->setText(QFileInfo(printer->FileName()).fileName().toUpper());
    txtTotalPages->setText(QString::number(printer->PageCount()));
    txtResolution->setText(printer->FirstPageFine() ? QStringLiteral("high") : QStringLiteral("standard"));
    txtWidth->setText(printer->FirstPageWide() ? QStringLiteral("2048") : QStringLiteral("1728"));
    txtFirstPage->setText(QString::number(printer->FirstPageToPrint()));
    txtLastPage->setText(QString::number(printer->LastPageToPrint()));
    txtStatus->setText(QStringLiteral("%1 %2 of %3")
                           .arg(FaxPrintStatusText(printer->Status()))
                           .arg(printer->CurrentPage())
                           .arg(printer->LastPageToPrint()));
    QStringList pages;
    for (const TPageNotPrinted& page : printer->PagesNotPrinted())
        pages << QString::number(page.page);
    txtNotPrinted->setText((pages.size() == 1 ? QStringLiteral("Not printed: page ") : QStringLiteral("Not printed: pages ")) +
                           pages.join(QStringLiteral(", ")));
    txtNotPrinted->setVisible(!pages.isEmpty());
}

void TStandardFaxPrinterStatusDisplay::btnAbortClick()
{
    if (printer_)
        printer_->AbortPrint();
}
