// The catalogue engine against SQLite (one table keyed by the name, one
// transaction per flush) on 100 000 catalogue records: add all and flush,
// close, reopen, find each key, walk all; and one flush at 10 000 records.
#include "bench/qdb_bench_data.h"
#include "qdb/qdb.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr int Records = 100000;

const std::vector<std::string>& RecordData()
{
    static const std::vector<std::string> data = [] {
        std::vector<std::string> v;
        for (int i = 0; i < Records; ++i)
            v.push_back(qdb_bench::Record(i));
        return v;
    }();
    return data;
}

std::string QdbName() { return "/tmp/qdb_bench_engine.qdb"; }
std::string SqliteName() { return "/tmp/qdb_bench_engine.sqlite"; }

// --- Catalogue engine ---

void QdbBuild(int count)
{
    std::remove(QdbName().c_str());
    qdb::TQDB db;
    db.SetFileName(QdbName());
    for (int i = 0; i < count; ++i)
        db.AddItem(RecordData()[size_t(i)], qdb_bench::RecordKey(i));
    db.Flush();
    db.SetFileName("");
}

void BM_Qdb_AddAllAndFlush(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(QdbName().c_str());
        qdb::TQDB db;
        db.SetFileName(QdbName());
        state.ResumeTiming();
        for (int i = 0; i < Records; ++i)
            db.AddItem(RecordData()[size_t(i)], qdb_bench::RecordKey(i));
        db.Flush();
        state.PauseTiming();
        db.SetSaveOnClose(false);
        db.SetFileName("");
        state.ResumeTiming();
    }
}

void BM_Qdb_Close(benchmark::State& state)
{
    QdbBuild(Records);
    for (auto _ : state) {
        state.PauseTiming();
        qdb::TQDB db;
        db.SetFileName(QdbName());
        state.ResumeTiming();
        db.SetFileName("");
    }
}

void BM_Qdb_Reopen(benchmark::State& state)
{
    QdbBuild(Records);
    for (auto _ : state) {
        qdb::TQDB db;
        db.SetFileName(QdbName());
        state.PauseTiming();
        db.SetSaveOnClose(false);
        db.SetReadOnly(true);
        db.SetFileName("");
        state.ResumeTiming();
    }
}

void BM_Qdb_FindEach(benchmark::State& state)
{
    QdbBuild(Records);
    qdb::TQDB db;
    db.SetFileName(QdbName());
    for (auto _ : state) {
        for (int i = 0; i < Records; ++i) {
            db.FindKey(qdb_bench::RecordKey(i));
            benchmark::DoNotOptimize(db.GetItem());
        }
    }
    db.SetReadOnly(true);
}

void BM_Qdb_WalkAll(benchmark::State& state)
{
    QdbBuild(Records);
    qdb::TQDB db;
    db.SetFileName(QdbName());
    for (auto _ : state) {
        db.First();
        while (true) {
            benchmark::DoNotOptimize(db.GetItem());
            db.Next();
            if (db.Eof() && db.ItemIndex() == db.Count() - 1)
                break;
        }
    }
    db.SetReadOnly(true);
}

void BM_Qdb_FlushOneAt10000(benchmark::State& state)
{
    QdbBuild(10000);
    qdb::TQDB db;
    db.SetFileName(QdbName());
    int i = 10000;
    for (auto _ : state) {
        db.AddItem(RecordData()[size_t(i % Records)], qdb_bench::RecordKey(i));
        db.Flush();
        ++i;
    }
}

// --- SQLite ---

void Exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        std::abort();
}

struct Sqlite {
    sqlite3* db = nullptr;
    explicit Sqlite(bool create)
    {
        if (create)
            std::remove(SqliteName().c_str());
        sqlite3_open(SqliteName().c_str(), &db);
        if (create)
            Exec(db, "CREATE TABLE items (name TEXT PRIMARY KEY, data BLOB) WITHOUT ROWID");
    }
    ~Sqlite() { sqlite3_close(db); }
    void Insert(int from, int to)
    {
        Exec(db, "BEGIN");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO items VALUES (?, ?)", -1, &st, nullptr);
        for (int i = from; i < to; ++i) {
            const std::string key = qdb_bench::RecordKey(i);
            const std::string& data = RecordData()[size_t(i % Records)];
            sqlite3_bind_text(st, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
            sqlite3_bind_blob(st, 2, data.data(), int(data.size()), SQLITE_STATIC);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        Exec(db, "COMMIT");
    }
};

void SqliteBuild(int count)
{
    Sqlite s(true);
    s.Insert(0, count);
}

void BM_Sqlite_AddAllAndFlush(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Sqlite s(true);
        state.ResumeTiming();
        s.Insert(0, Records);
    }
}

void BM_Sqlite_Close(benchmark::State& state)
{
    SqliteBuild(Records);
    for (auto _ : state) {
        state.PauseTiming();
        auto s = std::make_unique<Sqlite>(false);
        state.ResumeTiming();
        s.reset();
    }
}

void BM_Sqlite_Reopen(benchmark::State& state)
{
    SqliteBuild(Records);
    for (auto _ : state) {
        auto s = std::make_unique<Sqlite>(false);
        // Opening is lazy in SQLite: read the schema so the file is really open.
        Exec(s->db, "SELECT count(*) FROM sqlite_master");
        state.PauseTiming();
        s.reset();
        state.ResumeTiming();
    }
}

void BM_Sqlite_FindEach(benchmark::State& state)
{
    SqliteBuild(Records);
    Sqlite s(false);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(s.db, "SELECT data FROM items WHERE name = ?", -1, &st, nullptr);
    for (auto _ : state) {
        for (int i = 0; i < Records; ++i) {
            const std::string key = qdb_bench::RecordKey(i);
            sqlite3_bind_text(st, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW)
                benchmark::DoNotOptimize(std::string(static_cast<const char*>(sqlite3_column_blob(st, 0)),
                                                     size_t(sqlite3_column_bytes(st, 0))));
            sqlite3_reset(st);
        }
    }
    sqlite3_finalize(st);
}

void BM_Sqlite_WalkAll(benchmark::State& state)
{
    SqliteBuild(Records);
    Sqlite s(false);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(s.db, "SELECT name, data FROM items ORDER BY name", -1, &st, nullptr);
    for (auto _ : state) {
        while (sqlite3_step(st) == SQLITE_ROW)
            benchmark::DoNotOptimize(std::string(static_cast<const char*>(sqlite3_column_blob(st, 1)),
                                                 size_t(sqlite3_column_bytes(st, 1))));
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
}

void BM_Sqlite_FlushOneAt10000(benchmark::State& state)
{
    SqliteBuild(10000);
    Sqlite s(false);
    int i = 10000;
    for (auto _ : state) {
        s.Insert(i, i + 1);
        ++i;
    }
}
} // namespace

BENCHMARK(BM_Qdb_AddAllAndFlush)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sqlite_AddAllAndFlush)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Qdb_Close)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sqlite_Close)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Qdb_Reopen)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sqlite_Reopen)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Qdb_FindEach)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sqlite_FindEach)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Qdb_WalkAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Sqlite_WalkAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Qdb_FlushOneAt10000)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_Sqlite_FlushOneAt10000)->Unit(benchmark::kMillisecond)->Iterations(50);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::remove(QdbName().c_str());
    std::remove(SqliteName().c_str());
    return 0;
}
