#include "app/platform/system_info.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QSysInfo>

#include <algorithm>
#include <limits>

#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr qint64 kProcFileLimit = 1 << 20;

uint32_t Cap32(uint64_t value)
{
    return uint32_t(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

QByteArray ReadProcFile(const char* path)
{
    QFile file{QString::fromLatin1(path)};
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kProcFileLimit);
}

// The first "name : value" line of a /proc text file, as a number; -1 when absent.
int64_t ProcField(const char* path, const char* name)
{
    const QString text = QString::fromLatin1(ReadProcFile(path));
    const QRegularExpression pattern(QStringLiteral("^%1\\s*:\\s*(\\d+)").arg(QRegularExpression::escape(QLatin1String(name))),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(text);
    bool ok = false;
    const qlonglong value = match.hasMatch() ? match.captured(1).toLongLong(&ok) : -1;
    return ok ? value : -1;
}

struct Memory {
    uint64_t total = 0, available = 0, swapTotal = 0, swapFree = 0;
};

Memory ReadMemory()
{
    Memory memory;
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return memory;
    const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    memory.total = uint64_t(info.totalram) * unit;
    memory.swapTotal = uint64_t(info.totalswap) * unit;
    memory.swapFree = uint64_t(info.freeswap) * unit;
    const int64_t availableKb = ProcField("/proc/meminfo", "MemAvailable");
    memory.available = availableKb >= 0 ? uint64_t(availableKb) * 1024 : uint64_t(info.freeram) * unit;
    return memory;
}

uint64_t AddressSpace()
{
    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return limit.rlim_cur;
    return uint64_t(1) << (sizeof(void*) == 8 ? 47 : 32);
}

bool IsX86(const QString& arch) { return arch == QLatin1String("x86_64") || arch == QLatin1String("i386"); }

QString FormatTime(const QDateTime& time) { return QLocale::system().toString(time, QLocale::ShortFormat); }

} // namespace

TtvAPIThing::TtvAPIThing(QObject* parent) : QObject(parent) {}

QString TtvAPIThing::UserName() const
{
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QString TtvAPIThing::ComputerName() const { return QSysInfo::machineHostName(); }
QString TtvAPIThing::WindowsDirectory() const { return {}; }
QString TtvAPIThing::SystemDirectory() const { return {}; }
QString TtvAPIThing::SystemTime() const { return FormatTime(QDateTime::currentDateTimeUtc()); }
QString TtvAPIThing::LocalTime() const { return FormatTime(QDateTime::currentDateTime()); }
QString TtvAPIThing::CurrentDirectory() const { return QDir::currentPath(); }

QString TtvAPIThing::TempPath() const
{
    QString path = QDir::tempPath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString TtvAPIThing::LogicalDrives() const
{
    QString letters;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (letters.size() == 26)
            break;
        if (volume.isValid() && volume.isReady())
            letters += QLatin1Char(char('A' + letters.size()));
    }
    return letters;
}

QString TtvAPIThing::OSVersion() const
{
    struct utsname name {};
    if (uname(&name) != 0)
        return {};
    // The release reads "major.minor.build-extra".
    const QStringList parts = QString::fromLatin1(name.release).split(QRegularExpression(QStringLiteral("[.\\-+]")));
    const auto part = [&parts](int i) { return i < parts.size() ? parts[i].toUInt() : 0u; };
    return QStringLiteral("%1 Version %2.%3\r\n (Build %4: %5)")
        .arg(QString::fromLatin1(name.sysname))
        .arg(part(0))
        .arg(part(1))
        .arg(part(2))
        .arg(QString::fromLatin1(name.version));
}

uint32_t TtvAPIThing::dwMemoryLoad() const
{
    const Memory memory = ReadMemory();
    if (memory.total == 0)
        return 0;
    const uint64_t used = memory.total - std::min(memory.available, memory.total);
    return uint32_t(used * 100 / memory.total);
}

uint32_t TtvAPIThing::dwTotalPhys() const { return Cap32(ReadMemory().total); }
uint32_t TtvAPIThing::dwAvailPhys() const { return Cap32(ReadMemory().available); }

uint32_t TtvAPIThing::dwTotalPageFile() const
{
    const Memory memory = ReadMemory();
    return Cap32(memory.total + memory.swapTotal);
}

uint32_t TtvAPIThing::dwAvailPageFile() const
{
    const Memory memory = ReadMemory();
    return Cap32(memory.available + memory.swapFree);
}

uint32_t TtvAPIThing::dwTotalVirtual() const { return Cap32(AddressSpace()); }

uint32_t TtvAPIThing::dwAvailVirtual() const
{
    const int64_t usedKb = ProcField("/proc/self/status", "VmSize");
    const uint64_t used = usedKb > 0 ? uint64_t(usedKb) * 1024 : 0;
    const uint64_t total = AddressSpace();
    return Cap32(total - std::min(used, total));
}

uint16_t TtvAPIThing::ProcessorArchitecture() const
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    if (arch == QLatin1String("i386"))
        return 0;
    if (arch == QLatin1String("arm"))
        return 5;
    if (arch == QLatin1String("x86_64"))
        return 9;
    if (arch == QLatin1String("arm64"))
        return 12;
    return 0xFFFF;
}

uint16_t TtvAPIThing::ProcessorLevel() const
{
    if (!IsX86(QSysInfo::currentCpuArchitecture()))
        return 0;
    const int64_t family = ProcField("/proc/cpuinfo", "cpu family");
    return family > 0 ? uint16_t(std::min<int64_t>(family, 0xFFFF)) : 0;
}

uint16_t TtvAPIThing::ProcessorRevision() const
{
    if (!IsX86(QSysInfo::currentCpuArchitecture()))
        return 0;
    const int64_t model = ProcField("/proc/cpuinfo", "model");
    const int64_t stepping = ProcField("/proc/cpuinfo", "stepping");
    if (model < 0 || stepping < 0)
        return 0;
    return uint16_t((std::min<int64_t>(model, 0xFF) << 8) | std::min<int64_t>(stepping, 0xFF));
}

uint32_t TtvAPIThing::PageSize() const
{
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? Cap32(uint64_t(size)) : 0;
}

uint32_t TtvAPIThing::ActiveProcessorMask() const
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return 0;
    uint32_t mask = 0;
    for (int cpu = 0; cpu < 32; ++cpu)
        if (CPU_ISSET(cpu, &set))
            mask |= 1u << cpu;
    return mask;
}

uint32_t TtvAPIThing::NumberOfProcessors() const
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? uint32_t(count) : 0;
}

uint32_t TtvAPIThing::ProcessorType() const
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    if (arch == QLatin1String("x86_64"))
        return 8664;
    if (arch != QLatin1String("i386"))
        return 0;
    const uint16_t level = ProcessorLevel();
    return level >= 5 ? 586 : level == 4 ? 486 : 386;
}

// Memory is mapped in whole pages.
uint32_t TtvAPIThing::AllocationGranularity() const { return PageSize(); }
