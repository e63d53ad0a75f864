#include "app/cli/text_commands.h"

#include "app/core/fax_catalogue.h"
#include "app/core/fax_text.h"
#include "app/core/page_reader.h"

#include <QDir>
#include <QFileInfo>

#include <map>

namespace {

// Opens the index for reading; false after saying why.
bool OpenIndex(TTextIndex& index, QTextStream& err)
{
    if (index.OpenForReading(QDir::current().absoluteFilePath(QLatin1String(kTextIndexFileName))))
        return true;
    err << "pellimar: " << index.Problem() << "." << Qt::endl;
    return false;
}

QString ChosenLanguage(const TSettingReader& readSetting)
{
    bool damageReported = true; // a command prints no box for the settings
    const QString language = readSetting ? readSetting("rgTextLanguage", damageReported).toString() : QString();
    return language.isEmpty() ? QLatin1String(kDefaultTextLanguage) : language;
}

void PrintPages(const std::vector<TPageText>& pages, QTextStream& out)
{
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0)
            out << '\f';
        out << pages[i].Text;
        if (!pages[i].Text.endsWith(QLatin1Char('\n')))
            out << '\n';
    }
    out.flush();
}

} // namespace

int RunTextSearch(const QStringList& words, QTextStream& out, QTextStream& err)
{
    const QStringList searched = SearchWords(words.join(QLatin1Char(' ')));
    if (searched.isEmpty()) {
        err << "pellimar: --search needs at least one word of letters or digits." << Qt::endl;
        return 1;
    }
    TTextIndex index;
    if (!OpenIndex(index, err))
        return 1;
    // One line per fax, in key order: its pages, and the piece of its first.
    std::map<QString, std::pair<QStringList, QString>> faxes;
    QStringList order;
    for (const TTextHit& hit : index.Search(searched, 100000)) {
        auto [at, added] = faxes.try_emplace(hit.Key.toLower());
        if (added) {
            order << hit.Key;
            at->second.second = hit.Snippet;
        }
        at->second.first << QString::number(hit.Page);
    }
    for (const QString& key : order) {
        const auto& [pages, snippet] = faxes[key.toLower()];
        out << key << '\t' << (pages.size() == 1 ? "page " : "pages ") << pages.join(QLatin1Char(',')) << '\t'
            << snippet << '\n';
    }
    out.flush();
    return order.isEmpty() ? 1 : 0;
}

int RunTextPrint(const QString& fax, QTextStream& out, QTextStream& err, const TSettingReader& readSetting)
{
    const QFileInfo file(fax);
    const QString key = fax.contains(QLatin1Char('\\')) ? fax : CatalogueKey(file.fileName());
    TTextIndex index;
    if (QFileInfo::exists(QLatin1String(kTextIndexFileName)) && OpenIndex(index, err)) {
        const std::vector<TPageText> pages = index.Pages(key);
        if (!pages.empty() && index.CompleteKeys().contains(key.toLower())) {
            PrintPages(pages, out);
            return 0;
        }
    }
    if (!file.isFile()) {
        err << "pellimar: no text of " << fax << " is known, and it names no fax file." << Qt::endl;
        return 1;
    }
    // Not read yet (or not catalogued): read now.
    TPageReader reader;
    const std::atomic<bool> never{false};
    std::vector<TPageText> pages;
    int pageCount = 0;
    QString problem;
    const TFaxReadOutcome outcome =
        ReadFaxFile(reader, file.absoluteFilePath(), ChosenLanguage(readSetting), {}, never,
                    [&](TPageText&& page) { pages.push_back(std::move(page)); }, pageCount, problem);
    if (outcome != TFaxReadOutcome::Read) {
        err << "pellimar: the text of " << fax << " could not be read: " << problem << Qt::endl;
        return 1;
    }
    PrintPages(pages, out);
    return 0;
}
