#pragma once
// Reading APF fax files: a 64-byte file header, then pages, each a 16-byte
// page header followed by its coded image data. All integers little-endian.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;

// Page flags.
constexpr uint16_t kApfFine = 0x0001;        // fine vertical resolution
constexpr uint16_t kApfWide = 0x0002;        // 2048-pixel lines
constexpr uint16_t kApfLengthWords = 0x0004; // data framed in length-word blocks

struct ApfFileHeader {
    std::array<uint8_t, kApfFileHeaderSize> bytes{};
    bool SignatureOk() const;
    uint16_t PageCount() const;
    uint32_t FirstPageOffset() const;
};

struct ApfPageHeader {
    std::array<uint8_t, kApfPageHeaderSize> bytes{};
    uint32_t ImageLength() const;
    uint16_t Flags() const;
};

// An APF file opened read-only; every failure is an error code (the negated
// input/output error number, -8001 for a bad format).
class ApfReader {
public:
    ApfReader() = default;
    ApfReader(const ApfReader&) = delete;
    ApfReader& operator=(const ApfReader&) = delete;
    ~ApfReader();

    int Open(const std::string& fileName);
    void Close();

    // Reads and checks the file header at offset 0.
    int ReadFileHeader(ApfFileHeader& header);
    // Walks to page `page` (0 and 1 both mean the first) and leaves the file
    // at the start of its image data. Requires the page count to cover it.
    int SeekPage(const ApfFileHeader& header, int page, ApfPageHeader& pageHeader);

    // Reads up to `size` bytes; `got` is 0 at the end of the file.
    int Read(uint8_t* data, std::size_t size, std::size_t& got);
    // Reads exactly `size` bytes; a short file gives -100.
    int ReadExact(uint8_t* data, std::size_t size);

private:
    int SeekTo(uint64_t offset);
    int fd_ = -1;
};

// The error code for a failed open() of `fileName` with errno `error`.
int ApfOpenErrorCode(int error, const std::string& fileName);

// Reads the first six bytes and compares them with the signature; any
// failure gives false.
bool ApfProbeSignature(const std::string& fileName);

// Fills `header` from the file; 0 or a negative code.
int ApfReadFileHeader(const std::string& fileName, ApfFileHeader& header);

// Fills `pageHeader` with the header of page `page` (1-based). Page 0
// succeeds after the file-header check without reading a page header.
int ApfFindPageHeader(const std::string& fileName, int page, ApfPageHeader& pageHeader);
