#include "fax/apf_file.h"

#include "fax/kiv_errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint8_t kSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }

} // namespace

// A missing file is "File not found"; a missing folder on its path is
// "Path not found".
int ApfOpenErrorCode(int error, const std::string& fileName)
{
    switch (error) {
    case ENOENT: {
        const std::size_t slash = fileName.rfind('/');
        struct stat info;
        if (slash != std::string::npos && slash > 0 && stat(fileName.substr(0, slash).c_str(), &info) != 0)
            return kErrPathNotFound;
        return kErrFileNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
        return kErrPathNotFound;
    case EMFILE:
    case ENFILE:
        return kErrTooManyOpenFiles;
    case ENOMEM:
        return kErrOutOfMemory;
    default:
        return kErrAccessDenied;
    }
}

namespace {

int ReadErrorCode(int error)
{
    switch (error) {
    case EISDIR:
    case EACCES:
    case EPERM:
        return kErrAccessDenied;
    case ENOMEM:
        return kErrOutOfMemory;
    default:
        return kErrRead;
    }
}

} // namespace

bool ApfFileHeader::SignatureOk() const { return std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0; }
uint16_t ApfFileHeader::PageCount() const { return U16(bytes.data() + 32); }
uint32_t ApfFileHeader::FirstPageOffset() const { return U32(bytes.data() + 34); }
uint32_t ApfPageHeader::ImageLength() const { return U32(bytes.data()); }
uint16_t ApfPageHeader::Flags() const { return U16(bytes.data() + 4); }

ApfReader::~ApfReader() { Close(); }

int ApfReader::Open(const std::string& fileName)
{
    Close();
    if (fileName.empty())
        return kErrFileNotFound;
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ < 0 ? ApfOpenErrorCode(errno, fileName) : 0;
}

void ApfReader::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int ApfReader::Read(uint8_t* data, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd_, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadErrorCode(errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int ApfReader::ReadExact(uint8_t* data, std::size_t size)
{
    std::size_t got = 0;
    if (const int rc = Read(data, size, got))
        return rc;
    return got == size ? 0 : kErrReadBeyondEnd;
}

int ApfReader::SeekTo(uint64_t offset)
{
    if (offset > static_cast<uint64_t>(INT64_MAX) || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return kErrSeek;
    return 0;
}

int ApfReader::ReadFileHeader(ApfFileHeader& header)
{
    if (const int rc = SeekTo(0))
        return rc;
    if (const int rc = ReadExact(header.bytes.data(), header.bytes.size()))
        return rc;
    return header.SignatureOk() ? 0 : kErrFaxBadFormat;
}

int ApfReader::SeekPage(const ApfFileHeader& header, int page, ApfPageHeader& pageHeader)
{
    const int wanted = page < 1 ? 1 : page;
    if (header.PageCount() < wanted)
        return kErrFaxBadFormat;
    // 64-bit positions: a 32-bit sum of lengths could wrap around.
    uint64_t position = header.FirstPageOffset();
    for (int read = 0; read < wanted; ++read) {
        if (read > 0)
            position += kApfPageHeaderSize + static_cast<uint64_t>(pageHeader.ImageLength());
        if (const int rc = SeekTo(position))
            return rc;
        if (const int rc = ReadExact(pageHeader.bytes.data(), pageHeader.bytes.size()))
            return rc;
    }
    return 0;
}

bool ApfProbeSignature(const std::string& fileName)
{
    ApfReader reader;
    uint8_t bytes[sizeof kSignature];
    return reader.Open(fileName) == 0 && reader.ReadExact(bytes, sizeof bytes) == 0 &&
           std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

int ApfReadFileHeader(const std::string& fileName, ApfFileHeader& header)
{
    ApfReader reader;
    if (const int rc = reader.Open(fileName))
        return rc;
    return reader.ReadFileHeader(header);
}

int ApfFindPageHeader(const std::string& fileName, int page, ApfPageHeader& pageHeader)
{
    ApfReader reader;
    ApfFileHeader header;
    if (const int rc = reader.Open(fileName))
        return rc;
    if (const int rc = reader.ReadFileHeader(header))
        return rc;
    if (page <= 0)
        return 0;
    return reader.SeekPage(header, page, pageHeader);
}
