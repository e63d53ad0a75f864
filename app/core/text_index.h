#pragma once
// The text index "faxes.text.db" beside the catalogue: the recognised text
// of every fax page, with the box of every word on the page, in an SQLite
// database whose full-text table matches words with letter case and accents
// ignored. It is keyed by the catalogue key and the page number and holds
// nothing else of a fax: the catalogue stays the one list of faxes.
//
// The index can always be made again from the faxes, so it is never a
// reason to stop: a missing file is created, and a damaged one (or one of
// another layout) is set aside and started afresh.
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct sqlite3;

// One recognised word and where it stands, in pixels of the page as the fax
// holds it (before any stretching for recognition).
struct TTextWord {
    QRect Box;
    QString Text;
};

// One recognised page.
struct TPageText {
    int Page = 0; // 1-based
    QString Text;
    std::vector<TTextWord> Words;
    QSize Size; // the page's pixels, which the word boxes are in
};

// A page whose text holds every word looked for.
struct TTextHit {
    QString Key;
    int Page = 0;
    QString Snippet;
};

// The words of a typed text that the index can look for: runs of letters
// and digits, as the index's tokenizer splits them.
QStringList SearchWords(const QString& text);

// `word` with letter case and accents taken off, as the index compares words.
QString FoldedWord(const QString& word);

class TTextIndex {
public:
    TTextIndex();
    ~TTextIndex();
    TTextIndex(const TTextIndex&) = delete;
    TTextIndex& operator=(const TTextIndex&) = delete;

    // Opens (creating or starting afresh when needed) the index at `path`.
    // False only when no index can be kept there at all (an unwritable
    // folder); Problem() then says why and every query answers nothing.
    bool Open(const QString& path);
    // Opens an existing index for reading only; false when there is none
    // or it cannot be read (nothing is created or repaired).
    bool OpenForReading(const QString& path);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    QString Problem() const { return problem_; }
    // True when Open found the file missing or unusable and began a new one.
    bool StartedAfresh() const { return startedAfresh_; }

    // Stores one page of `key` (replacing what it had).
    bool StorePage(const QString& key, const TPageText& page);
    // Notes that every one of the `pageCount` pages of `key` is stored.
    bool MarkComplete(const QString& key, int pageCount);
    // Removes the text of `key`.
    bool Remove(const QString& key);

    // The keys whose every page is stored, folded to lower case.
    QSet<QString> CompleteKeys() const;
    // Every key with text or a completion mark, as stored.
    QStringList StoredKeys() const;
    // The pages of `key` already stored.
    QSet<int> StoredPages(const QString& key) const;

    // The keys (folded to lower case) with a page holding every word of
    // `words`; one query whatever the number of faxes.
    QSet<QString> MatchingKeys(const QStringList& words) const;
    // Every page holding every word, in key and page order; at most `limit`.
    std::vector<TTextHit> Search(const QStringList& words, int limit = 1000) const;
    // The pages of `key` holding every word, in page order.
    std::vector<int> MatchingPages(const QString& key, const QStringList& words) const;
    // The stored pages of `key` in page order.
    std::vector<TPageText> Pages(const QString& key) const;

private:
    bool OpenFile(const QString& path, bool readOnly);
    bool CreateTables();
    bool Execute(const char* sql);
    // Runs `body` in one write transaction; on failure it is rolled back and
    // Problem() starts with `failure`.
    bool InTransaction(const std::function<bool()>& body, const QString& failure);
    QString Query(const char* sql) const;
    void Fail(const QString& what);

    sqlite3* db_ = nullptr;
    QString problem_;
    bool startedAfresh_ = false;
};
