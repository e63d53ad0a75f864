#include "app/ui/help_form.h"

#include "app/ui/pellimar_resources.h"

#include <QEvent>
#include <QDir>
#include <QFile>
#include <QHideEvent>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

struct HelpPage {
    const char* caption;
    const char* resource;
};

constexpr HelpPage kPages[THelpForm::kPageCount] = {
    {"Overview", "overview.html"},
    {"Configuration", "configuration.html"},
    {"Getting Faxes", "getting_faxes.html"},
    {"Browsing Faxes", "browsing_faxes.html"},
    {"Importing Faxes", "importing_faxes.html"},
    {"License", "license.html"},
    {"Contacting Us", "contacting_us.html"},
};

const QColor kNavy(0x00, 0x00, 0x80);

QString HelpText(const char* resource)
{
    QFile file(QStringLiteral(":/pellimar/help/") + QLatin1String(resource));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QTextEdit* MakeTextArea(const char* resource, QWidget* page)
{
    auto* text = new QTextEdit(page);
    text->setReadOnly(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette palette = text->palette();
    palette.setColor(QPalette::Text, kNavy);
    text->setPalette(palette);
    // The overview names the working folder in use.
    text->setHtml(HelpText(resource).replace(QStringLiteral("@WORKING_FOLDER@"),
                                             QDir::currentPath().toHtmlEscaped()));
    return text;
}

} // namespace

THelpForm::THelpForm(QWidget* parent) : TForm(parent)
{
    InitPellimarResources();
    setObjectName(QStringLiteral("HelpForm"));
    setWindowTitle(QStringLiteral("Pellimar Help"));
    resize(800, 600);
    setWindowState(Qt::WindowMaximized);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setUsesScrollButtons(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);

    for (int i = 0; i < kPageCount; ++i) {
        auto* page = new QWidget;
        page->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
        auto* text = MakeTextArea(kPages[i].resource, page);
        text->setObjectName(QStringLiteral("RichEdit%1").arg(i + 1));
        text->setAccessibleName(QLatin1String(kPages[i].caption));
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        pageLayout->addWidget(text);
        PageControl1->addTab(page, QLatin1String(kPages[i].caption));
        Pages[size_t(i)] = page;
        Texts[size_t(i)] = text;
    }
}

QString THelpForm::PageCaption(int page)
{
    return page >= 0 && page < kPageCount ? QLatin1String(kPages[page].caption) : QString();
}

void THelpForm::FormActivate()
{
    // Every page fills the page control's page area and every text area its
    // page, whatever was moved or resized since.
    auto* stack = PageControl1->findChild<QStackedWidget*>();
    const QRect pageArea = stack ? stack->rect() : PageControl1->rect();
    for (int i = 0; i < kPageCount; ++i) {
        Pages[size_t(i)]->setGeometry(pageArea);
        Texts[size_t(i)]->setGeometry(QRect(QPoint(0, 0), pageArea.size()));
    }
}

bool THelpForm::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return TForm::event(event);
}

void THelpForm::hideEvent(QHideEvent* event)
{
    // The window opens maximised every time it is shown.
    if (!event->spontaneous())
        setWindowState(windowState() | Qt::WindowMaximized);
    TForm::hideEvent(event);
}
