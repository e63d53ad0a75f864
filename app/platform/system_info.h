#pragma once
// System information: read-only facts about the user, the machine and the
// running system, read afresh at each access. Texts are empty and numbers 0
// where Linux has no equivalent; 32-bit amounts are capped at 0xFFFFFFFF.
#include <QObject>
#include <QString>

#include <cstdint>

class TtvAPIThing : public QObject {
    Q_OBJECT
public:
    explicit TtvAPIThing(QObject* parent = nullptr);

    QString UserName() const;
    QString ComputerName() const;
    QString WindowsDirectory() const; // none on Linux: empty
    QString SystemDirectory() const;  // none on Linux: empty
    QString SystemTime() const;       // UTC, in the system's short date-time format
    QString LocalTime() const;
    QString CurrentDirectory() const;
    QString TempPath() const;         // with a trailing "/"
    // One letter per mounted volume, from A, in mount order (at most 26).
    QString LogicalDrives() const;
    // "Linux Version 6.1\r\n (Build 12: #1 SMP ...)" from uname; empty when it fails.
    QString OSVersion() const;

    // Memory status in bytes (load in percent).
    uint32_t dwMemoryLoad() const;
    uint32_t dwTotalPhys() const;
    uint32_t dwAvailPhys() const;
    uint32_t dwTotalPageFile() const; // memory plus swap
    uint32_t dwAvailPageFile() const;
    uint32_t dwTotalVirtual() const;  // address space of this process
    uint32_t dwAvailVirtual() const;

    // Processor facts in the numbering other systems use for them
    // (architecture 0 x86, 5 ARM, 9 x86-64, 12 ARM64, 0xFFFF unknown).
    uint16_t ProcessorArchitecture() const;
    uint16_t ProcessorLevel() const;    // x86: the cpu family
    uint16_t ProcessorRevision() const; // x86: model * 256 + stepping
    uint32_t PageSize() const;
    uint32_t ActiveProcessorMask() const; // processors 0..31 this process may run on
    uint32_t NumberOfProcessors() const;
    uint32_t ProcessorType() const;       // 386, 486, 586, 8664, or 0
    uint32_t AllocationGranularity() const;
};
