// Real Tesseract on faxes of known sentences: how many words come out
// exactly at fine and at standard resolution, and the text index built from
// the catalogue in the background: each sentence's search finds its own fax
// and page and no other, --search and --text print them, a removed fax's
// text goes, and a deleted index is built again.
#include "app/cli/text_commands.h"
#include "app/core/fax_catalogue.h"
#include "app/core/fax_text.h"
#include "app/core/page_reader.h"
#include "app/platform/message_box.h"
#include "fax/fax_document.h"
#include "tests/support/event_wait.h"
#include "tests/support/temp_current_dir.h"
#include "tests/support/temp_registry.h"
#include "tests/text/text_fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

const QString kFine = QStringLiteral("text-fine.apf");
const QString kStandard = QStringLiteral("text-standard.apf");

// The two longest words of a sentence: together they are its own.
QStringList Distinctive(const QString& sentence)
{
    QStringList words = PlainWords(sentence);
    std::stable_sort(words.begin(), words.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return words.mid(0, 2);
}

std::set<std::pair<QString, int>> Hits(const TTextIndex& index, const QStringList& words)
{
    std::set<std::pair<QString, int>> hits;
    for (const TTextHit& hit : index.Search(words))
        hits.insert({hit.Key, hit.Page});
    return hits;
}

class TextSearch : public ::testing::Test {
protected:
    TextSearch()
    {
        SetMessageHandler([](TMessageKind, const QString&, const QString& text) {
            ADD_FAILURE() << "box: " << text.toStdString();
            return TMessageAnswer::Ok;
        });
        QDir().mkpath(QStringLiteral("faxes"));
        for (const QString& name : {kFine, kStandard})
            QFile::copy(TextFixtureFolder() + QLatin1Char('/') + name, QStringLiteral("faxes/") + name);
        QFile junk(QStringLiteral("faxes/junk.apf"));
        junk.open(QIODevice::WriteOnly);
        junk.write("this is no fax at all");
    }
    ~TextSearch() override { SetMessageHandler({}); }

    void Catalogue(TFaxCatalogue& catalogue)
    {
        catalogue.Open();
        const TFaxCatalogue::TChangeScope change(catalogue);
        for (const QString& name : {kFine, kStandard, QStringLiteral("junk.apf")})
            catalogue.Add({QStringLiteral("New"), CatalogueKey(name), QStringLiteral("555-0100"), {}, {}});
        catalogue.Flush();
    }

    static bool ReadAll(TFaxText& text)
    {
        return RunEventsUntil([&] { return text.FaxesLeft() == 0; }, 180000);
    }

    void ExpectEverySentenceFound(const TTextIndex& index, const QSet<QString>& files)
    {
        for (const TKnownSentence& sentence : KnownSentences()) {
            const QStringList words = Distinctive(sentence.Text);
            std::set<std::pair<QString, int>> expected;
            if (files.contains(sentence.File))
                expected.insert({CatalogueKey(sentence.File), sentence.Page});
            EXPECT_EQ(Hits(index, words), expected) << words.join(' ').toStdString();
        }
    }

    TempRegistry registry_;
    TempCurrentDir folder_;
};

} // namespace

TEST(TextRecognition, ReadsTheWordsOfFineAndStandardFaxes)
{
    ASSERT_FALSE(TextFixtureFolder().isEmpty());
    TPageReader reader;
    const std::atomic<bool> never{false};
    const struct {
        QString file;
        double least;
    } faxes[] = {{kFine, 0.97}, {kStandard, 0.90}};
    for (const auto& fax : faxes) {
        const QString path = TextFixtureFolder() + QLatin1Char('/') + fax.file;
        std::vector<TPageText> pages;
        int pageCount = 0;
        QString problem;
        ASSERT_EQ(ReadFaxFile(reader, path, QStringLiteral("eng"), {}, never,
                              [&](TPageText&& page) { pages.push_back(std::move(page)); }, pageCount, problem),
                  TFaxReadOutcome::Read)
            << problem.toStdString();
        ASSERT_EQ(int(pages.size()), pageCount);
        std::unique_ptr<FaxDocument> document;
        ASSERT_EQ(OpenFaxDocument(path.toStdString(), document), 0);
        int expectedWords = 0, matched = 0, smallWords = 0, smallMatched = 0;
        for (const TPageText& page : pages) {
            FaxPageFormat format;
            QImage bitmap;
            ASSERT_EQ(document->RenderPage(page.Page, bitmap, format), 0);
            const QStringList found = PlainWords(page.Text);
            for (const TKnownSentence& sentence : KnownSentences()) {
                if (sentence.File != fax.file || sentence.Page != page.Page)
                    continue;
                const QStringList expected = PlainWords(sentence.Text);
                const int hits = WordsMatched(expected, found);
                expectedWords += int(expected.size());
                matched += hits;
                if (sentence.PointSize < 12) {
                    smallWords += int(expected.size());
                    smallMatched += hits;
                }
            }
            // Word boxes are in the page's own pixels.
            ASSERT_FALSE(page.Words.empty());
            for (const TTextWord& word : page.Words)
                EXPECT_TRUE(QRect(0, 0, format.width, format.height).contains(word.Box)) << word.Text.toStdString();
        }
        const double accuracy = double(matched) / expectedWords;
        std::printf("%s: %d of %d words exact (%.1f %%), small type %d of %d\n", qPrintable(fax.file), matched,
                    expectedWords, 100 * accuracy, smallMatched, smallWords);
        EXPECT_GE(accuracy, fax.least) << fax.file.toStdString();
    }
}

TEST_F(TextSearch, FindsEachSentencesFaxAndPageFollowsRemovalAndRebuildsAMissingIndex)
{
    ASSERT_FALSE(TextFixtureFolder().isEmpty());
    TFaxCatalogue catalogue;
    Catalogue(catalogue);
    QStringList notices;
    {
        TFaxText text(catalogue, 2);
        QObject::connect(&text, &TFaxText::Notice, [&](const QString& line) { notices << line; });
        text.Start(QStringLiteral("eng"));
        ASSERT_TRUE(ReadAll(text));
        ExpectEverySentenceFound(text.Index(), {kFine, kStandard});
        // The file that is no fax is named once and not read again.
        EXPECT_TRUE(notices.filter(QStringLiteral("junk.apf")).size() == 1) << notices.join('\n').toStdString();
        EXPECT_TRUE(text.Index().CompleteKeys().contains(QStringLiteral("faxes\\junk.apf")));

        // The command line reads the same index while the window's is open.
        QString printed, errors;
        QTextStream out(&printed), err(&errors);
        EXPECT_EQ(RunTextSearch({QStringLiteral("INVOICE"), QStringLiteral("4711")}, out, err), 0);
        EXPECT_TRUE(printed.startsWith(QStringLiteral("faxes\\text-fine.apf\tpage 1\t"))) << printed.toStdString();
        EXPECT_TRUE(printed.contains(QStringLiteral("4711"))) << printed.toStdString();
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 1);
        printed.clear();
        EXPECT_EQ(RunTextSearch({QStringLiteral("invoice")}, out, err), 0);
        EXPECT_EQ(printed.count(QLatin1Char('\n')), 2) << "one line per fax: " << printed.toStdString();
        printed.clear();
        EXPECT_EQ(RunTextSearch({QStringLiteral("zebra")}, out, err), 1);
        EXPECT_TRUE(printed.isEmpty());
        EXPECT_EQ(RunTextPrint(QStringLiteral("faxes\\text-standard.apf"), out, err), 0);
        EXPECT_TRUE(printed.contains(QStringLiteral("Laboratory samples arrived"))) << printed.toStdString();
        EXPECT_EQ(printed.count(QLatin1Char('\f')), 1) << "two pages";
        EXPECT_EQ(RunTextPrint(QStringLiteral("faxes\\nothing.apf"), out, err), 1);

        // A removed fax takes its text with it.
        text.FaxRemoved(CatalogueKey(kFine));
        ExpectEverySentenceFound(text.Index(), {kStandard});
    }

    // A missing index is built again from the catalogued faxes.
    ASSERT_TRUE(QFile::remove(QLatin1String(kTextIndexFileName)));
    TFaxText text(catalogue, 2);
    notices.clear();
    QObject::connect(&text, &TFaxText::Notice, [&](const QString& line) { notices << line; });
    text.Start(QStringLiteral("eng"));
    EXPECT_GE(text.FaxesLeft(), 2);
    EXPECT_FALSE(notices.filter(QStringLiteral("being built")).isEmpty());
    ASSERT_TRUE(ReadAll(text));
    ExpectEverySentenceFound(text.Index(), {kFine, kStandard});
}
