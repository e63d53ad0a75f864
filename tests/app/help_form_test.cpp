// The help window: its pages, how it opens, and that its texts describe the
// program as it runs here.
#include "app/ui/help_form.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

QString SourceFile(const char* path)
{
    QFile file(QStringLiteral(PELLIMAR_SOURCE_DIR "/") + QLatin1String(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString AllText(const THelpForm& help)
{
    QString text;
    for (QTextEdit* edit : help.Texts)
        text += edit->toPlainText() + QLatin1Char('\n');
    return text;
}

QString PageText(const THelpForm& help, const char* caption)
{
    for (int i = 0; i < THelpForm::kPageCount; ++i)
        if (help.PageControl1->tabText(i) == QLatin1String(caption))
            return help.Texts[size_t(i)]->toPlainText();
    return {};
}

} // namespace

TEST(HelpForm, HoldsSevenReadOnlyNavyPagesInOrder)
{
    THelpForm help;
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Pellimar Help"));
    const char* captions[] = {"Overview", "Configuration", "Getting Faxes", "Browsing Faxes",
                              "Importing Faxes", "License", "Contacting Us"};
    ASSERT_EQ(help.PageControl1->count(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(help.PageControl1->tabText(i), QLatin1String(captions[i]));
        QTextEdit* text = help.Texts[size_t(i)];
        EXPECT_EQ(text->parentWidget(), help.PageControl1->widget(i));
        EXPECT_TRUE(text->isReadOnly());
        EXPECT_EQ(text->palette().color(QPalette::Text), QColor(0, 0, 0x80));
        EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_GT(text->toPlainText().size(), 100) << captions[i];
    }
}

TEST(HelpForm, OpensMaximisedEachTime)
{
    THelpForm help;
    help.show();
    EXPECT_TRUE(help.windowState() & Qt::WindowMaximized);
    help.showNormal();
    help.close();
    EXPECT_FALSE(help.isVisible());
    help.show();
    EXPECT_TRUE(help.windowState() & Qt::WindowMaximized);
    help.close();
}

TEST(HelpForm, ActivationPutsPagesAndTextsBackInPlace)
{
    THelpForm help;
    help.show();
    QApplication::processEvents();
    auto* stack = help.PageControl1->findChild<QStackedWidget*>();
    ASSERT_NE(stack, nullptr);
    for (int i = 0; i < THelpForm::kPageCount; ++i) {
        help.Pages[size_t(i)]->setGeometry(30, 40, 100, 80);
        help.Texts[size_t(i)]->setGeometry(7, 9, 50, 20);
    }
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&help, &activate);
    for (int i = 0; i < THelpForm::kPageCount; ++i) {
        EXPECT_EQ(help.Pages[size_t(i)]->geometry(), stack->rect()) << i;
        EXPECT_EQ(help.Texts[size_t(i)]->geometry(), QRect(QPoint(0, 0), stack->size())) << i;
    }
    help.close();
}

TEST(HelpForm, TextsNameTheFilesAndFoldersThisBuildUses)
{
    THelpForm help;
    const QString overview = PageText(help, "Overview");
    for (const char* fact : {"registry.reg", "XDG_CONFIG_HOME", "PELLIMAR_REGISTRY", "~/Pellimar", "PELLIMAR_HOME",
                             "temp/", "faxes/", "faxes.qdb", "./run.sh", "{Varnel}"})
        EXPECT_TRUE(overview.contains(QLatin1String(fact))) << fact;

    // The places named are the ones the program and its start script use.
    const QString runScript = SourceFile("run.sh");
    EXPECT_TRUE(runScript.contains(QLatin1String("${PELLIMAR_HOME:-$HOME/Pellimar}")));
    EXPECT_TRUE(runScript.contains(QLatin1String("mkdir -p \"$work/temp\" \"$work/faxes\"")));
    const QString store = SourceFile("app/platform/registry_store.cpp");
    EXPECT_TRUE(store.contains(QLatin1String("\"PELLIMAR_REGISTRY\"")));
    EXPECT_TRUE(store.contains(QLatin1String("/pellimar/registry.reg")));

    // The texts speak of this system, not of the platform the design came from.
    const QString all = AllText(help);
    for (const char* foreign : {"Windows", "registry editor", "C:\\", "temp\\", "faxes\\", "Dial-Up Networking"})
        EXPECT_FALSE(all.contains(QLatin1String(foreign), Qt::CaseInsensitive)) << foreign;
}

TEST(HelpForm, PagesDescribeTheControlsTheWindowsShow)
{
    THelpForm help;
    const QString configuration = PageText(help, "Configuration");
    for (const char* label : {"Connection:", "Host:", "User Name:", "Password:", "Save", "Cancel", "None Selected",
                              "None Supplied", "/etc/ppp/peers"})
        EXPECT_TRUE(configuration.contains(QLatin1String(label))) << label;
    const QString getting = PageText(help, "Getting Faxes");
    for (const char* label : {"Download", "Import Fax...", "Help", "Close", "Messages:", "status log"})
        EXPECT_TRUE(getting.contains(QLatin1String(label))) << label;
    EXPECT_TRUE(PageText(help, "Importing Faxes").contains(QLatin1String("Pellimar Import Fax")));
    EXPECT_TRUE(PageText(help, "Browsing Faxes").contains(QLatin1String("Import Fax...")));
}

TEST(HelpForm, LicensePageCarriesTheLicenceFileAndContactPointsToTheReadme)
{
    THelpForm help;
    const QString license = SourceFile("LICENSE");
    ASSERT_FALSE(license.isEmpty());
    const QString page = PageText(help, "License").simplified();
    EXPECT_TRUE(page.contains(QStringLiteral("MIT License")));
    // The terms word for word, from the permission to the disclaimer's end.
    const QString terms = license.mid(license.indexOf(QStringLiteral("Permission"))).simplified();
    EXPECT_TRUE(page.contains(terms)) << page.toStdString();
    EXPECT_TRUE(page.contains(license.section(QLatin1Char('\n'), 2, 2))) << "the copyright line";

    const QString contact = PageText(help, "Contacting Us");
    EXPECT_TRUE(contact.contains(QStringLiteral("README")));
    EXPECT_TRUE(SourceFile("README.md").contains(QStringLiteral("\n## Contact\n")));
}
