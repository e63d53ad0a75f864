// Decoding a fax mail with a large base64 attachment into a file, side by
// side with GMime 3 and with Python's email parser and
// get_payload(decode=True) on the same mail. Reports MB/s, the peak resident
// memory each needed, and the ratios.
// Also: a hostile 1.5 MB mail that declares 20 000 nested boundaries.
#include "mail/mime_decoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
// GLib's headers name struct fields "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")

#include <fcntl.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

// The mails and decoded files live in memory when the machine allows it, so
// that the figures show the decoders and not a disk shared with other work.
QTemporaryDir& WorkDir()
{
    static QTemporaryDir dir(QFileInfo("/dev/shm").isWritable() ? QString("/dev/shm/pellimar-mime-bench-XXXXXX")
                                                                 : QString());
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

// Files the first attached part of a parsed message to the output stream,
// decoding its transfer encoding; the rest of the message is walked as well.
struct TGMimeSink {
    GMimeStream* out;
    int64_t written;
};

void WriteAttachment(GMimeObject*, GMimeObject* object, gpointer data)
{
    auto* sink = static_cast<TGMimeSink*>(data);
    if (!GMIME_IS_PART(object) || !g_mime_part_get_filename(GMIME_PART(object)))
        return;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    if (content)
        sink->written += g_mime_data_wrapper_write_to_stream(content, sink->out);
}

// GMime 3 does the same work: it parses the mail file, finds the part that
// names a file and decodes its content into a file.
void BM_GMime(benchmark::State& state)
{
    const QString mail = MailFile(int(state.range(0)));
    const std::string in = mail.toStdString();
    const std::string out = (WorkDir().path() + "/gmime.apf").toStdString();
    const double mailBytes = double(QFileInfo(mail).size());
    const long baseline = StatusKiB("VmRSS");
    ResetPeak();
    for (auto _ : state) {
        GMimeStream* input = g_mime_stream_fs_open(in.c_str(), O_RDONLY, 0, nullptr);
        GMimeStream* output = g_mime_stream_fs_open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644, nullptr);
        if (!input || !output) {
            state.SkipWithError("cannot open the GMime streams");
            return;
        }
        GMimeParser* parser = g_mime_parser_new_with_stream(input);
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        TGMimeSink sink{output, 0};
        if (message) {
            g_mime_message_foreach(message, WriteAttachment, &sink);
            g_object_unref(message);
        }
        g_object_unref(parser);
        g_object_unref(output);
        g_object_unref(input);
        benchmark::DoNotOptimize(sink.written);
    }
    state.SetBytesProcessed(int64_t(mailBytes) * state.iterations());
    state.counters["peak_rss_growth_KiB"] = double(StatusKiB("VmHWM") - baseline);
    state.counters["decoded_bytes"] = double(QFileInfo(QString::fromStdString(out)).size());
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
BENCHMARK(BM_GMime)->Arg(5)->Arg(20)->UseRealTime()->Unit(benchmark::kMillisecond);
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
            cpuTimes_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"5", "20"}) {
            const double ours = rates_[std::string("BM_TMimeDecoder/") + size + "/real_time"];
            const std::string gmimeName = std::string("BM_GMime/") + size + "/real_time";
            const double gmime = rates_[gmimeName];
            const double python = rates_[std::string("BM_PythonEmail/") + size + "/manual_time"];
            // On a loaded machine the wall times wait for the processor; the
            // ratio of processor times shows the work each did.
            const double ourCpu = cpuTimes_[std::string("BM_TMimeDecoder/") + size + "/real_time"];
            if (ours > 0 && gmime > 0 && ourCpu > 0)
                std::printf("%s MB attachment: TMimeDecoder %.1f MB/s, GMime %.1f MB/s, ratio %.2f (CPU time %.2f)\n",
                            size, ours / 1e6, gmime / 1e6, ours / gmime, cpuTimes_[gmimeName] / ourCpu);
            if (ours > 0 && python > 0)
                std::printf("%s MB attachment: TMimeDecoder %.1f MB/s, Python email %.1f MB/s, ratio %.2f\n", size,
                            ours / 1e6, python / 1e6, ours / python);
        }
    }

private:
    std::map<std::string, double> rates_;
    std::map<std::string, double> cpuTimes_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_mime_init();
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    g_mime_shutdown();
    return 0;
}
