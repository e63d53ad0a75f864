#include "app/core/text_index.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <utility>

namespace {

// Raised with every change of the tables' layout: an index of another layout
// is started afresh rather than read wrongly.
constexpr int kLayoutVersion = 1;

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS page(id INTEGER PRIMARY KEY, key TEXT NOT NULL COLLATE NOCASE, "
    "page INTEGER NOT NULL, width INTEGER NOT NULL, height INTEGER NOT NULL, words TEXT NOT NULL, "
    "UNIQUE(key, page))",
    "CREATE VIRTUAL TABLE IF NOT EXISTS page_text USING fts5(text, tokenize = 'unicode61 remove_diacritics 2')",
    "CREATE TABLE IF NOT EXISTS complete(key TEXT PRIMARY KEY COLLATE NOCASE, pages INTEGER NOT NULL)",
};

// One prepared statement, finalised when it goes out of scope.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql)
    {
        if (db)
            sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
    }
    ~TStatement() { sqlite3_finalize(statement_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool Ok() const { return statement_ != nullptr; }
    TStatement& Bind(int at, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(statement_, at, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    TStatement& Bind(int at, int value)
    {
        sqlite3_bind_int(statement_, at, value);
        return *this;
    }
    // True while a row is there to read.
    bool Step()
    {
        result_ = statement_ ? sqlite3_step(statement_) : SQLITE_MISUSE;
        return result_ == SQLITE_ROW;
    }
    // True when the statement ran to its end.
    bool Done() { return !Step() && result_ == SQLITE_DONE; }
    int Result() const { return result_; }
    QString Text(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return QString::fromUtf8(text, sqlite3_column_bytes(statement_, column));
    }
    int Int(int column) const { return sqlite3_column_int(statement_, column); }

private:
    sqlite3_stmt* statement_ = nullptr;
    int result_ = SQLITE_OK;
};

// The FTS5 query for `words`: each a quoted string, all of them required.
QString MatchExpression(const QStringList& words)
{
    QStringList quoted;
    for (const QString& word : words)
        quoted << QLatin1Char('"') + QString(word).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return quoted.join(QLatin1Char(' '));
}

// Words as stored beside a page: one a line, "left top width height text".
QString EncodeWords(const std::vector<TTextWord>& words)
{
    QString out;
    for (const TTextWord& word : words)
        out += QStringLiteral("%1 %2 %3 %4 ")
                   .arg(word.Box.left())
                   .arg(word.Box.top())
                   .arg(word.Box.width())
                   .arg(word.Box.height())
               + QString(word.Text).replace(QLatin1Char('\n'), QLatin1Char(' ')) + QLatin1Char('\n');
    return out;
}

// A line that does not read as a word is left out: the boxes serve only to
// show where words stand.
std::vector<TTextWord> DecodeWords(const QString& text)
{
    std::vector<TTextWord> words;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() < 5)
            continue;
        bool ok[4] = {};
        const int left = parts[0].toInt(&ok[0]), top = parts[1].toInt(&ok[1]);
        const int width = parts[2].toInt(&ok[2]), height = parts[3].toInt(&ok[3]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || width < 0 || height < 0)
            continue;
        words.push_back({QRect(left, top, width, height), parts.mid(4).join(QLatin1Char(' '))});
    }
    return words;
}

void RemoveDatabaseFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

QStringList SearchWords(const QString& text)
{
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || c.category() == QChar::Mark_NonSpacing) {
            word += c;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

QString FoldedWord(const QString& word)
{
    const QString decomposed = word.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.isLetterOrNumber())
            folded += c.toCaseFolded();
    return folded;
}

TTextIndex::TTextIndex() = default;

TTextIndex::~TTextIndex() { Close(); }

void TTextIndex::Close()
{
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

void TTextIndex::Fail(const QString& what)
{
    problem_ = what + QStringLiteral(": ") + QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "out of memory");
}

bool TTextIndex::Execute(const char* sql)
{
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    Fail(QStringLiteral("The text index could not be written"));
    return false;
}

bool TTextIndex::OpenFile(const QString& path, bool readOnly)
{
    Close();
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        Fail(QStringLiteral("The text index could not be opened"));
        Close();
        return false;
    }
    // The window writes while a command-line search reads.
    sqlite3_busy_timeout(db_, 3000);
    return true;
}

// The first column of the first row `sql` gives; empty when it gives none.
// The statement is done with before it returns, so no read stays open.
QString TTextIndex::Query(const char* sql) const
{
    TStatement statement(db_, sql);
    return statement.Step() ? statement.Text(0) : QString();
}

// True when the file is an index of this layout whose pages read back sound.
bool TTextIndex::CreateTables()
{
    const QString version = Query("PRAGMA user_version");
    const QString tables = Query("SELECT count(*) FROM sqlite_master");
    if (version.isEmpty() || tables.isEmpty())
        return false;
    const bool ours = version.toInt() == kLayoutVersion;
    if (!ours && tables.toInt() != 0)
        return false;
    if (Query("PRAGMA quick_check") != QLatin1String("ok"))
        return false;
    if (Query("PRAGMA journal_mode = WAL") != QLatin1String("wal"))
        return false;
    // A power cut may lose the last pages stored, never the file's
    // consistency; lost pages are simply read again.
    if (!Execute("PRAGMA synchronous = NORMAL"))
        return false;
    for (const char* sql : kTables)
        if (!Execute(sql))
            return false;
    // The full-text table checks its own structure against its content.
    if (ours && !Execute("INSERT INTO page_text(page_text, rank) VALUES('integrity-check', 1)"))
        return false;
    return Execute(("PRAGMA user_version = " + std::to_string(kLayoutVersion)).c_str());
}

bool TTextIndex::Open(const QString& path)
{
    problem_.clear();
    startedAfresh_ = !QFileInfo::exists(path);
    if (OpenFile(path, false) && CreateTables())
        return true;
    // Whatever is there cannot serve: it is made again from the faxes.
    Close();
    RemoveDatabaseFiles(path);
    startedAfresh_ = true;
    if (OpenFile(path, false) && CreateTables())
        return true;
    if (problem_.isEmpty())
        problem_ = QStringLiteral("The text index %1 could not be created").arg(path);
    Close();
    return false;
}

bool TTextIndex::OpenForReading(const QString& path)
{
    problem_.clear();
    if (!QFileInfo::exists(path)) {
        problem_ = QStringLiteral("There is no text index yet");
        return false;
    }
    if (!OpenFile(path, true))
        return false;
    if (Query("PRAGMA user_version").toInt() != kLayoutVersion) {
        problem_ = QStringLiteral("The text index cannot be read; Pellimar builds it again when its window opens");
        Close();
        return false;
    }
    return true;
}

bool TTextIndex::InTransaction(const std::function<bool()>& body, const QString& failure)
{
    if (!db_ || !Execute("BEGIN IMMEDIATE"))
        return false;
    if (body() && Execute("COMMIT"))
        return true;
    Fail(failure);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool TTextIndex::StorePage(const QString& key, const TPageText& page)
{
    return InTransaction(
        [&] {
            TStatement old(db_, "DELETE FROM page_text WHERE rowid IN "
                                "(SELECT id FROM page WHERE key = ?1 AND page = ?2)");
            TStatement oldPage(db_, "DELETE FROM page WHERE key = ?1 AND page = ?2");
            TStatement add(db_, "INSERT INTO page(key, page, words, width, height) VALUES(?1, ?2, ?3, ?4, ?5)");
            TStatement text(db_, "INSERT INTO page_text(rowid, text) VALUES(last_insert_rowid(), ?1)");
            return old.Bind(1, key).Bind(2, page.Page).Done() && oldPage.Bind(1, key).Bind(2, page.Page).Done()
                   && add.Bind(1, key)
                          .Bind(2, page.Page)
                          .Bind(3, EncodeWords(page.Words))
                          .Bind(4, page.Size.width())
                          .Bind(5, page.Size.height())
                          .Done()
                   && text.Bind(1, page.Text).Done();
        },
        QStringLiteral("The text of %1 could not be stored").arg(key));
}

bool TTextIndex::MarkComplete(const QString& key, int pageCount)
{
    TStatement mark(db_, "INSERT OR REPLACE INTO complete(key, pages) VALUES(?1, ?2)");
    if (mark.Bind(1, key).Bind(2, pageCount).Done())
        return true;
    Fail(QStringLiteral("The text of %1 could not be stored").arg(key));
    return false;
}

bool TTextIndex::Remove(const QString& key)
{
    return InTransaction(
        [&] {
            TStatement text(db_, "DELETE FROM page_text WHERE rowid IN (SELECT id FROM page WHERE key = ?1)");
            TStatement pages(db_, "DELETE FROM page WHERE key = ?1");
            TStatement complete(db_, "DELETE FROM complete WHERE key = ?1");
            return text.Bind(1, key).Done() && pages.Bind(1, key).Done() && complete.Bind(1, key).Done();
        },
        QStringLiteral("The text of %1 could not be removed").arg(key));
}

QSet<QString> TTextIndex::CompleteKeys() const
{
    QSet<QString> keys;
    TStatement all(db_, "SELECT key FROM complete");
    while (all.Step())
        keys.insert(all.Text(0).toLower());
    return keys;
}

QStringList TTextIndex::StoredKeys() const
{
    QStringList keys;
    TStatement all(db_, "SELECT key FROM complete UNION SELECT key FROM page");
    while (all.Step())
        keys << all.Text(0);
    return keys;
}

QSet<int> TTextIndex::StoredPages(const QString& key) const
{
    QSet<int> pages;
    TStatement stored(db_, "SELECT page FROM page WHERE key = ?1");
    stored.Bind(1, key);
    while (stored.Step())
        pages.insert(stored.Int(0));
    return pages;
}

QSet<QString> TTextIndex::MatchingKeys(const QStringList& words) const
{
    QSet<QString> keys;
    if (words.isEmpty())
        return keys;
    TStatement match(db_, "SELECT DISTINCT p.key FROM page_text JOIN page p ON p.id = page_text.rowid "
                          "WHERE page_text MATCH ?1");
    match.Bind(1, MatchExpression(words));
    while (match.Step())
        keys.insert(match.Text(0).toLower());
    return keys;
}

std::vector<TTextHit> TTextIndex::Search(const QStringList& words, int limit) const
{
    std::vector<TTextHit> hits;
    if (words.isEmpty())
        return hits;
    TStatement match(db_, "SELECT p.key, p.page, snippet(page_text, 0, '', '', '...', 10) "
                          "FROM page_text JOIN page p ON p.id = page_text.rowid WHERE page_text MATCH ?1 "
                          "ORDER BY p.key, p.page LIMIT ?2");
    match.Bind(1, MatchExpression(words)).Bind(2, limit);
    while (match.Step())
        hits.push_back({match.Text(0), match.Int(1), match.Text(2).simplified()});
    return hits;
}

std::vector<int> TTextIndex::MatchingPages(const QString& key, const QStringList& words) const
{
    std::vector<int> pages;
    if (words.isEmpty())
        return pages;
    TStatement match(db_, "SELECT p.page FROM page_text JOIN page p ON p.id = page_text.rowid "
                          "WHERE page_text MATCH ?1 AND p.key = ?2 ORDER BY p.page");
    match.Bind(1, MatchExpression(words)).Bind(2, key);
    while (match.Step())
        pages.push_back(match.Int(0));
    return pages;
}

std::vector<TPageText> TTextIndex::Pages(const QString& key) const
{
    std::vector<TPageText> pages;
    TStatement all(db_, "SELECT p.page, t.text, p.words, p.width, p.height FROM page p "
                        "JOIN page_text t ON t.rowid = p.id WHERE p.key = ?1 ORDER BY p.page");
    all.Bind(1, key);
    while (all.Step())
        pages.push_back({all.Int(0), all.Text(1), DecodeWords(all.Text(2)), QSize(all.Int(3), all.Int(4))});
    return pages;
}
