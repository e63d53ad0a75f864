// The viewer window's controls: the tool strip along the top, the viewer
// control below it, and the printer with its status window.
#include "app/ui/view_form.h"

#include "fax/view/fax_printer.h"
#include "fax/view/fax_printer_status.h"
#include "fax/view/fax_viewer.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A magnifying glass with a plus or minus in its lens, for desktops whose
// icon theme has no zoom icons.
QIcon DrawnZoomGlyph(bool zoomIn)
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawEllipse(QRectF(2, 2, 11, 11));
    painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(12.5, 12.5), QPointF(18, 18));
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(QPointF(5, 7.5), QPointF(10, 7.5));
    if (zoomIn)
        painter.drawLine(QPointF(7.5, 5), QPointF(7.5, 10));
    painter.end();
    return QIcon(pixmap);
}

QIcon ZoomGlyph(bool zoomIn)
{
    const QIcon themed = QIcon::fromTheme(zoomIn ? QStringLiteral("zoom-in") : QStringLiteral("zoom-out"));
    return themed.isNull() ? DrawnZoomGlyph(zoomIn) : themed;
}

// A flat button that never takes the keyboard focus, so that the viewer's
// keys keep working after a click.
QToolButton* FlatButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setText(caption);
    button->setAccessibleName(caption.isEmpty() ? QLatin1String(name) : caption);
    return button;
}

QLabel* LabelStrip(QWidget* parent, const char* name, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setAccessibleName(caption);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMargin(2);
    return label;
}

QComboBox* EditableCombo(QWidget* parent, const char* name, const QStringList& items, const QString& text)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setAccessibleName(QLatin1String(name));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    combo->setEditText(text);
    combo->lineEdit()->setAccessibleName(QLatin1String(name));
    combo->setMinimumContentsLength(4);
    return combo;
}

} // namespace

void TViewForm::CreateToolStrip()
{
    StatusPanel = new QWidget(this);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusPanel->setAccessibleName(QStringLiteral("StatusPanel"));
    // The window may be narrower than the strip, which is then cut at its end.
    StatusPanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* strip = new QHBoxLayout(StatusPanel);
    strip->setContentsMargins(4, 2, 4, 2);

    SpeedButton1 = FlatButton(StatusPanel, "SpeedButton1", QStringLiteral("Prev"));
    SpeedButton2 = FlatButton(StatusPanel, "SpeedButton2", QStringLiteral("Next"));
    PageBox = new QSpinBox(StatusPanel);
    PageBox->setObjectName(QStringLiteral("PageBox"));
    PageBox->setAccessibleName(QStringLiteral("Page"));
    PageBox->setToolTip(QStringLiteral("Go to page"));
    PageBox->setRange(0, 0);
    PageBox->setKeyboardTracking(false); // a typed number applies on Enter
    if (auto* editor = PageBox->findChild<QLineEdit*>())
        editor->setAccessibleName(QStringLiteral("Page"));
    SpeedButton3 = FlatButton(StatusPanel, "SpeedButton3", QString());
    SpeedButton3->setIcon(ZoomGlyph(true));
    SpeedButton3->setToolTip(QStringLiteral("Zoom in"));
    Panel2 = LabelStrip(StatusPanel, "Panel2", QStringLiteral("+ Zoom -"));
    SpeedButton5 = FlatButton(StatusPanel, "SpeedButton5", QString());
    SpeedButton5->setIcon(ZoomGlyph(false));
    SpeedButton5->setToolTip(QStringLiteral("Zoom out"));
    // Fit width (key W) and Fit page (key F) follow the window's size.
    PercentCombo = EditableCombo(StatusPanel, "PercentCombo",
                                 {QStringLiteral(" 25"), QStringLiteral(" 50"), QStringLiteral(" 75"),
                                  QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("400"),
                                  QStringLiteral("Fit width"), QStringLiteral("Fit page")},
                                 QStringLiteral("100"));
    PercentCombo->setMinimumContentsLength(9);
    Panel1 = LabelStrip(StatusPanel, "Panel1", QStringLiteral("Rotate:"));
    RotateCombo = EditableCombo(StatusPanel, "RotateCombo",
                                {QStringLiteral("  0"), QStringLiteral(" 90"), QStringLiteral("180"),
                                 QStringLiteral("270")},
                                QStringLiteral("  0"));
    SpeedButton7 = FlatButton(StatusPanel, "SpeedButton7", QStringLiteral("Setup"));
    SpeedButton6 = FlatButton(StatusPanel, "SpeedButton6", QStringLiteral("Print"));
    PrintRangeButton = FlatButton(StatusPanel, "PrintRangeButton", QStringLiteral("Print..."));
    PrintRangeButton->setToolTip(QStringLiteral("Print the pages chosen"));
    PreviewButton = FlatButton(StatusPanel, "PreviewButton", QStringLiteral("Preview..."));
    PreviewButton->setToolTip(QStringLiteral("The printed sheets on the screen"));
    MultiPageButton = FlatButton(StatusPanel, "MultiPageButton", QStringLiteral("Multi-page"));
    MultiPageButton->setToolTip(QStringLiteral("Four pages on a portrait sheet, two on a landscape one"));
    MultiPageButton->setCheckable(true);
    SpeedButton4 = FlatButton(StatusPanel, "SpeedButton4", QStringLiteral("Close"));
    ThumbnailsButton = FlatButton(StatusPanel, "ThumbnailsButton", QStringLiteral("Thumbnails"));
    ThumbnailsButton->setToolTip(QStringLiteral("Show or hide the page thumbnails (T)"));
    ThumbnailsButton->setCheckable(true);

    for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton1, SpeedButton2, PageBox, SpeedButton3, Panel2, SpeedButton5,
                                                      PercentCombo, Panel1, RotateCombo, SpeedButton7, SpeedButton6,
                                                      PrintRangeButton, PreviewButton, MultiPageButton, ThumbnailsButton, SpeedButton4})
        strip->addWidget(w);
    strip->addStretch(1);

    connect(SpeedButton1, &QToolButton::clicked, this, &TViewForm::PrevClick);
    connect(SpeedButton2, &QToolButton::clicked, this, &TViewForm::NextClick);
    connect(PageBox, &QSpinBox::valueChanged, this, &TViewForm::PageBoxChange);
    connect(SpeedButton3, &QToolButton::clicked, this, &TViewForm::SpeedButton3Click);
    connect(SpeedButton5, &QToolButton::clicked, this, &TViewForm::SpeedButton5Click);
    // Typing applies on Enter, not at every key; picking an item applies it
    // even when it is the text already shown.
    connect(PercentCombo, &QComboBox::textActivated, this, &TViewForm::PercentComboChange);
    connect(PercentCombo->lineEdit(), &QLineEdit::returnPressed, this, &TViewForm::PercentComboChange);
    connect(RotateCombo, &QComboBox::textActivated, this, &TViewForm::RotateComboChange);
    connect(RotateCombo->lineEdit(), &QLineEdit::returnPressed, this, &TViewForm::RotateComboChange);
    connect(SpeedButton7, &QToolButton::clicked, this, &TViewForm::SpeedButton7Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TViewForm::SpeedButton6Click);
    connect(PrintRangeButton, &QToolButton::clicked, this, &TViewForm::PrintRangeClick);
    connect(PreviewButton, &QToolButton::clicked, this, &TViewForm::PreviewClick);
    connect(SpeedButton4, &QToolButton::clicked, this, &TViewForm::SpeedButton4Click);
    connect(ThumbnailsButton, &QToolButton::toggled, this, &TViewForm::SetThumbnailsShown);
}

void TViewForm::CreateViewer()
{
    FaxViewer = new TKivFaxViewer(this);
    FaxViewer->setObjectName(QStringLiteral("FaxViewer"));
    FaxViewer->SetScaling(false);
    FaxViewer->SetAutoScaleMode(asHalfWidth);
    FaxViewer->SetBusyCursor(crHourGlass);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    FaxViewer->setFont(font);
    FaxViewer->setFocusPolicy(Qt::StrongFocus);
    FaxViewer->OnDropFile = [this](TKivCustomFaxViewer* sender, const QString& name) {
        FaxViewerDropFile(sender, name);
    };
    FaxViewer->OnPageChange = [this](TKivCustomFaxViewer* sender) { FaxViewerPageChange(sender); };
    FaxViewer->OnViewerError = [this](TKivCustomFaxViewer* sender, int code) { FaxViewerViewerError(sender, code); };
    // Ctrl+wheel zooms; the plain wheel scrolls, as the scroll area does.
    FaxViewer->viewport()->installEventFilter(this);
}

void TViewForm::CreatePrinter()
{
    // The status window first: the printer takes the first one it finds.
    PrinterStatus = new TKivFaxPrinterStatus(this);
    PrinterStatus->setObjectName(QStringLiteral("PrinterStatus"));
    PrinterStatus->SetCaption(QStringLiteral("Print Status"));
    PrinterStatus->SetPosition(poScreenCenter);
    FaxPrinter = new TKivFaxPrinter(this);
    FaxPrinter->setObjectName(QStringLiteral("FaxPrinter"));
    FaxPrinter->SetCaption(QStringLiteral("KIV Fax Printer"));
    const QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    FaxPrinter->FaxHeader().SetEnabled(true);
    FaxPrinter->FaxHeader().SetCaption(QStringLiteral("FILE: $F"));
    FaxPrinter->FaxHeader().SetFont(system);
    FaxPrinter->FaxFooter().SetEnabled(true);
    FaxPrinter->FaxFooter().SetCaption(QStringLiteral("PAGE: $P of $N"));
    FaxPrinter->FaxFooter().SetFont(system);
    FaxPrinter->SetMultiPage(false);
    FaxPrinter->SetStatusDisplay(PrinterStatus);
}
