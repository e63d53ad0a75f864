#include "tests/text/text_fixtures.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QTemporaryDir& Folder()
{
    static QTemporaryDir folder;
    return folder;
}

bool Made()
{
    static const bool made = [] {
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start(QStringLiteral("python3"),
                     {QStringLiteral(PELLIMAR_SOURCE_DIR "/tools/make_text_fixtures.py"), Folder().path()});
        if (!script.waitForFinished(120000) || script.exitCode() != 0) {
            ADD_FAILURE() << "make_text_fixtures.py: " << script.readAll().toStdString();
            return false;
        }
        return true;
    }();
    return made;
}

} // namespace

QString TextFixtureFolder() { return Made() ? Folder().path() : QString(); }

const std::vector<TKnownSentence>& KnownSentences()
{
    static const std::vector<TKnownSentence> sentences = [] {
        std::vector<TKnownSentence> list;
        QFile table(TextFixtureFolder() + QStringLiteral("/sentences.tsv"));
        if (!table.open(QIODevice::ReadOnly))
            return list;
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QStringList cells = QString::fromUtf8(line).split(QLatin1Char('\t'));
            if (cells.size() == 4)
                list.push_back({cells[0], cells[1].toInt(), cells[2].toInt(), cells[3]});
        }
        return list;
    }();
    return sentences;
}

QStringList PlainWords(const QString& text)
{
    QStringList words;
    for (QString word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        while (!word.isEmpty() && !word.front().isLetterOrNumber())
            word.remove(0, 1);
        while (!word.isEmpty() && !word.back().isLetterOrNumber())
            word.chop(1);
        if (!word.isEmpty())
            words << word;
    }
    return words;
}

int WordsMatched(const QStringList& expected, const QStringList& found)
{
    std::vector<std::vector<int>> common(size_t(expected.size()) + 1, std::vector<int>(size_t(found.size()) + 1));
    for (qsizetype i = 1; i <= expected.size(); ++i)
        for (qsizetype j = 1; j <= found.size(); ++j)
            common[size_t(i)][size_t(j)] = expected[i - 1] == found[j - 1]
                                               ? common[size_t(i - 1)][size_t(j - 1)] + 1
                                               : std::max(common[size_t(i - 1)][size_t(j)], common[size_t(i)][size_t(j - 1)]);
    return common[size_t(expected.size())][size_t(found.size())];
}
