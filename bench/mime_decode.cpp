// Decoding a fax mail with a large base64 attachment into a file, side by
// side with Python's email parser and get_payload(decode=True) on the same
// mail. Reports MB/s, the peak resident memory each needed, and the ratio.
// Also: a hostile 1.5 MB mail that declares 20 000 nested boundaries.
#include "mail/mime_decoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

QTemporaryDir& WorkDir()
{
    static QTemporaryDir dir;
    return dir;
}

// The benchmark mail for an attachment of megabytes MB, made once.
QString MailFile(int megabytes)
{
    const QString path = WorkDir().path() + QString("/mail-%1.eml").arg(megabytes);
    if (!QFileInfo::exists(path)) {
        QProcess maker;
        maker.start("python3", {PELLIMAR_SOURCE_DIR "/tools/make_mime_bench_mail.py",
                                QString::number(megabytes * 1000000), path});
        maker.waitForFinished(-1);
    }
    return path;
}

// Resident memory figures of this process in KiB ("VmRSS", "VmHWM").
long StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    long value = 0;
    while (status >> name) {
        if (name == field + ":") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

// Resets the resident high-water mark, so VmHWM shows the peak from now on.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}


void BM_TMimeDecoder(benchmark::State& state)
{
    const QString mail = MailFile(int(state.range(0)));
    const QString out = WorkDir().path() + "/decoded.apf";
    const double mailBytes = double(QFileInfo(mail).size());
    const long baseline = StatusKiB("VmRSS");
    ResetPeak();
    for (auto _ : state) {
        TMimeDecoder decoder;
        QFile file(out);
        bool open = false;
        decoder.OnPartBegin = [&](QObject*) {
            if (!decoder.PartFileName().empty())
                open = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        };
        decoder.OnPartLine = [&](QObject*, const char* data, int length) {
            if (open)
                file.write(data, length);
        };
        decoder.OnPartEnd = [&](QObject*) {
            if (open)
                file.close();
            open = false;
        };
        decoder.DecodeFile(mail);
    }
    state.SetBytesProcessed(int64_t(mailBytes) * state.iterations());
    state.counters["peak_rss_growth_KiB"] = double(StatusKiB("VmHWM") - baseline);
    state.counters["decoded_bytes"] = double(QFileInfo(out).size());
}

// Python's own timing of parse + decode + write, without interpreter start-up.
const char* kPythonPeer = R"(
import email, resource, sys, time
t = time.perf_counter()
with open(sys.argv[1], 'rb') as f:
    msg = email.message_from_binary_file(f)
for part in msg.walk():
    if part.get_filename():
        with open(sys.argv[2], 'wb') as out:
            out.write(part.get_payload(decode=True))
print(time.perf_counter() - t, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
)";

void BM_PythonEmail(benchmark::State& state)
{
    const QString mail = MailFile(int(state.range(0)));
    const QString out = WorkDir().path() + "/python.apf";
    const double mailBytes = double(QFileInfo(mail).size());
    double peakKiB = 0;
    for (auto _ : state) {
        QProcess python;
        python.start("python3", {"-c", kPythonPeer, mail, out});
        python.waitForFinished(-1);
        const QList<QByteArray> fields = python.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() != 2) {
            state.SkipWithError("python peer failed");
            return;
        }
        state.SetIterationTime(fields[0].toDouble());
        peakKiB = fields[1].toDouble();
    }
    state.SetBytesProcessed(int64_t(mailBytes) * state.iterations());
    state.counters["peak_rss_KiB"] = peakKiB;
    state.counters["decoded_bytes"] = double(QFileInfo(out).size());
}

// Every part declares a multipart of its own: 20 000 boundaries, each
// followed by a part header and a line of text, about 1.5 MB in all.
QByteArray ManyBoundariesMail()
{
    constexpr int kParts = 20000;
    QByteArray mail = "Content-Type: multipart/mixed; boundary=\"b00000\"\r\n\r\n";
    for (int i = 0; i < kParts; ++i) {
        const QByteArray name = QByteArray::number(i).rightJustified(5, '0');
        const QByteArray next = QByteArray::number(i + 1).rightJustified(5, '0');
        mail += "--b" + name + "\r\nContent-Type: multipart/mixed; boundary=\"b" + next + "\"\r\n\r\n";
        mail += "some text of part " + name + "\r\n";
    }
    return mail;
}

void BM_ManyBoundaries(benchmark::State& state)
{
    const QByteArray mail = ManyBoundariesMail();
    int64_t parts = 0;
    for (auto _ : state) {
        TMimeDecoder decoder;
        parts = 0;
        decoder.OnPartEnd = [&](QObject*) { ++parts; };
        QBuffer buffer;
        buffer.setData(mail);
        buffer.open(QIODevice::ReadOnly);
        decoder.DecodeStream(&buffer);
    }
    state.SetBytesProcessed(int64_t(mail.size()) * state.iterations());
    state.counters["mail_bytes"] = double(mail.size());
    state.counters["parts"] = double(parts);
}

BENCHMARK(BM_ManyBoundaries)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TMimeDecoder)->Arg(5)->Arg(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonEmail)->Arg(5)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Prints the throughput ratio of each pair after the normal report.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end())
                rates_[run.benchmark_name()] = rate->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"5", "20"}) {
            const double ours = rates_[std::string("BM_TMimeDecoder/") + size + "/real_time"];
            const double python = rates_[std::string("BM_PythonEmail/") + size + "/manual_time"];
            if (ours > 0 && python > 0)
                std::printf("%s MB attachment: TMimeDecoder %.1f MB/s, Python email %.1f MB/s, ratio %.2f\n", size,
                            ours / 1e6, python / 1e6, ours / python);
        }
    }

private:
    std::map<std::string, double> rates_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
