// The viewer window's print preview: Qt's preview dialog shows the sheets
// Print makes (one a page, or with Multi-page four on a portrait sheet and
// two on a landscape one, page range and header as printed), writes no file
// and opens no status window while previewing, and its Print prints.
#include "app/platform/message_box.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_printer.h"
#include "fax/view/fax_viewer.h"
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/temp_registry.h"

#include <QApplication>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

QByteArray FileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ViewFormPreview, ShowsTheSheetsThatPrintMakesAndPrintsThem)
{
    TempRegistry registry;
    QStringList boxes;
    SetMessageHandler([&](TMessageKind kind, const QString&, const QString& text) {
        boxes << MessageCaption(kind) + QLatin1String(": ") + text;
        return TMessageAnswer::Ok;
    });
    FaxTempFiles files;
    const std::string pdf = files.Write("earlier.pdf", {'k', 'e', 'p', 't'});
    TViewForm form;
    QPrinter& printer = form.FaxPrinter->Printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setResolution(150);
    form.OpenFax(QString::fromStdString(FaxFixture("multi.apf")));

    struct Seen {
        int portrait = -1;
        int landscape = -1;
        bool statusShown = false;
        QByteArray fileWhilePreviewing;
    };
    // Looks at the preview in the dialog, turns the paper, and then prints
    // from it when `print`, else closes it.
    auto preview = [&](bool print) {
        Seen seen;
        // Looked for until the dialog is up: the preview is made while it opens.
        QTimer looker;
        QObject::connect(&looker, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            auto* widget = dialog ? dialog->findChild<QPrintPreviewWidget*>() : nullptr;
            if (!widget || !dialog->isVisible() || seen.portrait >= 0)
                return;
            seen.portrait = widget->pageCount();
            widget->setLandscapeOrientation();
            widget->updatePreview();
            seen.landscape = widget->pageCount();
            seen.statusShown = form.PrinterStatus->Visible();
            seen.fileWhilePreviewing = FileBytes(pdf);
            widget->setPortraitOrientation();
            if (print)
                widget->print();
            dialog->accept();
        });
        looker.start(50);
        form.PreviewButton->click();
        return seen;
    };

    const Seen single = preview(false);
    EXPECT_EQ(single.portrait, 3);
    EXPECT_EQ(single.landscape, 3);
    EXPECT_FALSE(single.statusShown);
    EXPECT_EQ(single.fileWhilePreviewing, QByteArray("kept")) << "a preview writes no PDF";
    EXPECT_EQ(FileBytes(pdf), QByteArray("kept"));

    form.MultiPageButton->click();
    const Seen multi = preview(true);
    EXPECT_EQ(multi.portrait, 1);
    EXPECT_EQ(multi.landscape, 2);
    EXPECT_EQ(multi.fileWhilePreviewing, QByteArray("kept"));
    ASSERT_EQ(PdfPageCount(pdf), 1) << "Print in the preview prints the sheet it showed";
    EXPECT_TRUE(PdfText(pdf, 1).contains(QStringLiteral("PAGE: 3 of 3")));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    SetMessageHandler({});
}

} // namespace
