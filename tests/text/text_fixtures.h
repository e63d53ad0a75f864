#pragma once
// The faxes with known sentences of tools/make_text_fixtures.py, made once
// per test program in a temporary folder, and the sentences they hold.
#include <QString>
#include <QStringList>

#include <vector>

struct TKnownSentence {
    QString File; // "text-fine.apf" or "text-standard.apf"
    int Page = 0;
    int PointSize = 0;
    QString Text;
};

// The folder holding the faxes; empty (after a test failure) when the
// fixture script failed.
QString TextFixtureFolder();
const std::vector<TKnownSentence>& KnownSentences();

// The words of `text` as recognition should give them: split at white
// space, with the punctuation around each word taken off.
QStringList PlainWords(const QString& text);

// How many of `expected` appear, in order, in `found` (longest common
// subsequence): a word recognised wrongly, left out or split counts as missed.
int WordsMatched(const QStringList& expected, const QStringList& found);
