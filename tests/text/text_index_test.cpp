// The text index on its own, with texts stored directly: which pages a
// search finds (all words, any order, letter case and accents ignored,
// whole words only), removal, and an index file that is missing, damaged or
// of another kind being started afresh instead of stopping the program.
#include "app/core/text_index.h"
#include "tests/support/temp_current_dir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>

namespace {

using THits = std::set<std::pair<QString, int>>;

THits Hits(const TTextIndex& index, const QString& typed)
{
    THits hits;
    for (const TTextHit& hit : index.Search(SearchWords(typed)))
        hits.insert({hit.Key, hit.Page});
    return hits;
}

void Store(TTextIndex& index, const QString& key, int page, const QString& text)
{
    ASSERT_TRUE(index.StorePage(key, {page, text, {{QRect(10, 20, 30, 8), text.section(QLatin1Char(' '), 0, 0)}}, QSize(1728, 1100)}))
        << index.Problem().toStdString();
}

} // namespace

TEST(TextIndex, FindsPagesHoldingEveryWordInAnyOrderIgnoringCaseAndAccents)
{
    TempCurrentDir folder;
    TTextIndex index;
    ASSERT_TRUE(index.Open(QStringLiteral("faxes.text.db"))) << index.Problem().toStdString();
    EXPECT_TRUE(index.StartedAfresh());
    const QString a = QStringLiteral("faxes\\a.apf"), b = QStringLiteral("faxes\\B.apf");
    Store(index, a, 1, QStringLiteral("Order for part 4711, delivered last spring."));
    Store(index, a, 2, QStringLiteral("Café Müller pays the invoice."));
    Store(index, b, 1, QStringLiteral("Spring cleaning of the ORDER desk"));
    ASSERT_TRUE(index.MarkComplete(a, 2));

    const struct {
        const char* typed;
        THits expected;
    } cases[] = {
        {"part 4711", {{a, 1}}},
        {"4711 PART", {{a, 1}}},                 // any order, any case
        {"spring order", {{a, 1}, {b, 1}}},      // both pages hold both words
        {"cafe muller", {{a, 2}}},               // accents ignored
        {"CAFÉ", {{a, 2}}},
        {"order invoice", {}},                   // on different pages: no page holds both
        {"par", {}},                             // whole words only
        {"  ,;  ", {}},                          // no word at all
        {"\"order\" OR NEAR(", {}},              // query syntax is taken as words, never run
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hits(index, QString::fromUtf8(c.typed)), c.expected) << c.typed;

    EXPECT_EQ(index.MatchingKeys(SearchWords(QStringLiteral("spring"))),
              QSet<QString>({a.toLower(), b.toLower()}));
    EXPECT_EQ(index.MatchingPages(a, SearchWords(QStringLiteral("the"))), std::vector<int>({2}));
    const std::vector<TPageText> pages = index.Pages(a);
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[1].Words.size(), 1u);
    EXPECT_EQ(pages[1].Words[0].Box, QRect(10, 20, 30, 8));
    EXPECT_EQ(pages[1].Words[0].Text, QStringLiteral("Café"));
    EXPECT_EQ(pages[1].Size, QSize(1728, 1100));
    EXPECT_EQ(index.CompleteKeys(), QSet<QString>({a.toLower()}));

    // Storing a page again replaces it; removing a fax (any letter case of its key) takes all its text.
    Store(index, b, 1, QStringLiteral("nothing here"));
    EXPECT_EQ(Hits(index, QStringLiteral("spring")), THits({{a, 1}}));
    ASSERT_TRUE(index.Remove(QStringLiteral("FAXES\\A.APF")));
    EXPECT_EQ(Hits(index, QStringLiteral("spring")), THits());
    EXPECT_EQ(Hits(index, QStringLiteral("cafe")), THits());
    EXPECT_TRUE(index.CompleteKeys().isEmpty());
    EXPECT_EQ(index.StoredKeys(), QStringList({b}));

    // What was stored is there after reopening.
    index.Close();
    ASSERT_TRUE(index.Open(QStringLiteral("faxes.text.db")));
    EXPECT_FALSE(index.StartedAfresh());
    EXPECT_EQ(Hits(index, QStringLiteral("nothing")), THits({{b, 1}}));
}

TEST(TextIndex, AnUnusableFileIsStartedAfreshAndAMissingOneIsNotCreatedByReaders)
{
    TempCurrentDir folder;
    TTextIndex reader;
    EXPECT_FALSE(reader.OpenForReading(QStringLiteral("faxes.text.db")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("faxes.text.db")));

    const struct {
        const char* what;
        std::function<void(QFile&)> spoil;
    } spoils[] = {
        {"not a database", [](QFile& f) { f.resize(0); f.write(QByteArray(5000, 'x')); }},
        {"pages overwritten", [](QFile& f) { f.seek(f.size() / 2); f.write(QByteArray(8192, '\xff')); }},
        {"cut short", [](QFile& f) { f.resize(f.size() / 3); }},
    };
    for (const auto& spoil : spoils) {
        QFile::remove(QStringLiteral("faxes.text.db"));
        {
            TTextIndex index;
            ASSERT_TRUE(index.Open(QStringLiteral("faxes.text.db")));
            for (int page = 1; page <= 200; ++page)
                Store(index, QStringLiteral("faxes\\big.apf"), page, QString(QStringLiteral("word%1 ")).arg(page).repeated(50));
        }
        QFile file(QStringLiteral("faxes.text.db"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        spoil.spoil(file);
        file.close();
        TTextIndex index;
        EXPECT_TRUE(index.Open(QStringLiteral("faxes.text.db"))) << spoil.what << ": " << index.Problem().toStdString();
        // The damage is found and the index begun again (the faxes refill it).
        EXPECT_TRUE(index.StartedAfresh()) << spoil.what;
        EXPECT_TRUE(index.Search({QStringLiteral("word7")}).empty()) << spoil.what;
        Store(index, QStringLiteral("faxes\\new.apf"), 1, QStringLiteral("fresh text"));
        EXPECT_EQ(Hits(index, QStringLiteral("fresh")), THits({{QStringLiteral("faxes\\new.apf"), 1}})) << spoil.what;
    }
}
