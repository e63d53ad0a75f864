// Compressor and decompressor against zlib's deflate at level 1 on catalogue
// records and fax data, and writing and reading an index of 100 000 keys.
#include "bench/qdb_bench_data.h"
#include "qdb/bf_stream.h"
#include "qdb/compressor.h"
#include "qdb/string_list.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <unistd.h>

namespace {
constexpr size_t DataSize = 4 << 20;

const std::string& Data(int kind)
{
    static const std::string records = qdb_bench::Records(DataSize);
    static const std::string fax = qdb_bench::FaxData(DataSize);
    return kind == 0 ? records : fax;
}

void Label(benchmark::State& state)
{
    state.SetLabel(state.range(0) == 0 ? "catalogue records" : "fax data");
}

void BM_QdbCompress(benchmark::State& state)
{
    const std::string& data = Data(int(state.range(0)));
    size_t out = 0;
    for (auto _ : state) {
        const std::string stream = qdb::CompressItem(data);
        out = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
    state.counters["ratio"] = double(data.size()) / double(out);
    Label(state);
}

void BM_QdbDecompress(benchmark::State& state)
{
    const std::string& data = Data(int(state.range(0)));
    const std::string stream = qdb::CompressItem(data);
    for (auto _ : state) {
        std::string back;
        back.reserve(data.size());
        if (!qdb::DecompressItem(stream, back) || back.size() != data.size())
            state.SkipWithError("round trip failed");
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
    Label(state);
}

void BM_ZlibCompress(benchmark::State& state)
{
    const std::string& data = Data(int(state.range(0)));
    std::string out(compressBound(uLong(data.size())), '\0');
    uLongf size = 0;
    for (auto _ : state) {
        size = uLongf(out.size());
        compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                  uLong(data.size()), 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
    state.counters["ratio"] = double(data.size()) / double(size);
    Label(state);
}

void BM_ZlibDecompress(benchmark::State& state)
{
    const std::string& data = Data(int(state.range(0)));
    std::string packed(compressBound(uLong(data.size())), '\0');
    uLongf size = uLongf(packed.size());
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              uLong(data.size()), 1);
    std::string out(data.size(), '\0');
    for (auto _ : state) {
        uLongf outSize = uLongf(out.size());
        uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize, reinterpret_cast<const Bytef*>(packed.data()), size);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * data.size()));
    Label(state);
}

constexpr int IndexKeys = 100000;

void WriteIndex(const std::string& name)
{
    qdb::TBFStream out(name, 32768, qdb::TBFStream::Mode::Create);
    out.WriteInt32(IndexKeys);
    for (int i = IndexKeys - 1; i >= 0; --i) {
        out.WriteText(qdb_bench::RecordKey(i));
        out.WriteInt32(i * 100);
        out.WriteInt32(100);
        out.WriteInt32(0);
    }
    out.Finish();
}

void BM_IndexWrite(benchmark::State& state)
{
    const std::string name = "/tmp/qdb_bench_index";
    for (auto _ : state)
        WriteIndex(name);
    unlink(name.c_str());
}

void BM_IndexRead(benchmark::State& state)
{
    const std::string name = "/tmp/qdb_bench_index";
    WriteIndex(name);
    for (auto _ : state) {
        qdb::TBFStream in(name, -1, qdb::TBFStream::Mode::Read);
        qdb::TIndexList list;
        int32_t n = 0;
        in.ReadInt32(n);
        list.SetCapacity(n);
        for (int32_t i = 0; i < n; ++i) {
            std::string key;
            auto* entry = new qdb::TIndex;
            in.ReadText(key);
            in.ReadInt32(entry->offset);
            in.ReadInt32(entry->size);
            in.ReadInt32(entry->flags);
            list.Add(key, entry);
        }
        list.ReverseAndSort();
        benchmark::DoNotOptimize(list.Count());
    }
    unlink(name.c_str());
}
} // namespace

BENCHMARK(BM_QdbCompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QdbDecompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDecompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexRead)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
