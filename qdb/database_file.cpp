#include "qdb/database_file.h"

#include "qdb/file_routines.h"
#include "qdb/new_file.h"
#include "qdb/protection.h"
#include "qdb/qdb_error.h"
#include "qdb/record_layout.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qdb {

namespace {
constexpr char SignatureMarker[4] = {'Q', 'D', 'B', 0};
constexpr char PasswordMarker[4] = {'Q', 'P', 'W', 0};
constexpr char IndexMarker[4] = {'Q', 'I', 'X', 0};

// Sequential reader over the database file that knows how much is left.
class SourceFile {
public:
    SourceFile(const std::string& path) : path_(path)
    {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            RaiseErrno(errno, msg::NotValid, path);
        struct stat st;
        if (::fstat(fd_, &st) != 0) {
            const int err = errno;
            ::close(fd_);
            RaiseErrno(err, msg::NotValid, path);
        }
        size_ = st.st_size;
    }
    ~SourceFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // Hands the open file over to the caller.
    int Release() { return std::exchange(fd_, -1); }
    int64_t Remaining() const { return size_ - position_; }
    bool Read(char* data, size_t n)
    {
        if (int64_t(n) > Remaining() || !ReadAllAt(fd_, data, n, position_, path_))
            return false;
        position_ += int64_t(n);
        return true;
    }
    void Back(int64_t n) { position_ -= n; }
    void Skip(int64_t n) { position_ += n; }
    int Descriptor() const { return fd_; }
    int64_t Position() const { return position_; }
    [[noreturn]] void Invalid() const { throw EQDBFileError(Format(msg::NotValid, path_)); }

private:
    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
};

// Reads a 32-bit section length and checks that the file holds that much.
int32_t ReadSectionLength(SourceFile& in)
{
    char raw[4];
    if (!in.Read(raw, 4))
        in.Invalid();
    const int32_t length = LoadInt32(raw);
    if (length < 0 || length > in.Remaining())
        in.Invalid();
    return length;
}

void CopySection(SourceFile& in, int32_t length, const std::string& target, const PasswordKey* key,
                 const std::string& reportName)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        RaiseErrno(errno, msg::NotValid, reportName);
    try {
        // A plain section needs no deciphering: the kernel copies it.
        int32_t done = 0;
        if (!key) {
            done = int32_t(KernelCopy(in.Descriptor(), in.Position(), fd, length, reportName));
            in.Skip(done);
        }
        const int32_t z = ChunkSize(length);
        std::vector<char> chunk(done < length ? size_t(z) : 0);
        while (done < length) {
            const int32_t n = std::min(z, length - done);
            if (!in.Read(chunk.data(), size_t(n)))
                in.Invalid();
            if (key)
                CipherChunk(chunk.data(), size_t(n), key->seed);
            WriteAll(fd, chunk.data(), size_t(n), reportName);
            done += n;
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

std::string SiblingName(const std::string& dataName, const char* prefix)
{
    const auto slash = dataName.rfind('/');
    std::string name = dataName;
    name.replace(slash + 1, 3, prefix);
    return name;
}

// Appends one section (length, then content in chunks) to the new file and
// returns its length. The section is the pieces one after the other.
int32_t WriteSection(int out, const std::vector<FileSection>& pieces, const PasswordKey* key,
                     const std::string& reportName)
{
    int64_t total = 0;
    for (const FileSection& piece : pieces)
        total += piece.length;
    if (total > INT32_MAX)
        RaiseFileError(-1, msg::CannotExtend, reportName);
    const int32_t length = int32_t(total);
    std::string header;
    AppendInt32(header, length);
    WriteAll(out, header.data(), header.size(), reportName);
    if (!key) {
        int64_t at = ::lseek(out, 0, SEEK_CUR);
        if (at < 0)
            RaiseErrno(errno, msg::CannotExtend, reportName);
        for (const FileSection& piece : pieces) {
            CopyRange(piece.fd, piece.offset, out, at, piece.length, reportName);
            at += piece.length;
        }
        if (::lseek(out, at, SEEK_SET) < 0)
            RaiseErrno(errno, msg::CannotExtend, reportName);
        return length;
    }
    // Enciphered in chunks of the section's chunk size, which may span pieces.
    const int32_t z = ChunkSize(length);
    std::vector<char> chunk(static_cast<size_t>(z));
    size_t piece = 0;
    int64_t inPiece = 0;
    for (int32_t done = 0; done < length;) {
        const int32_t n = std::min(z, length - done);
        for (int32_t filled = 0; filled < n;) {
            while (inPiece == pieces[piece].length) {
                ++piece;
                inPiece = 0;
            }
            const int64_t take = std::min<int64_t>(n - filled, pieces[piece].length - inPiece);
            if (!ReadAllAt(pieces[piece].fd, chunk.data() + filled, size_t(take), pieces[piece].offset + inPiece,
                           reportName))
                RaiseFileError(-1, msg::NotValid, reportName);
            filled += int32_t(take);
            inPiece += take;
        }
        CipherChunk(chunk.data(), size_t(n), key->seed);
        WriteAll(out, chunk.data(), size_t(n), reportName);
        done += n;
    }
    return length;
}

} // namespace

namespace {
std::string TemplateBytes()
{
    std::string bytes(SignatureMarker, 4);
    AppendInt32(bytes, 0);
    bytes.append(IndexMarker, 4);
    AppendInt32(bytes, 5);
    AppendInt32(bytes, 0);
    bytes.push_back('\0');
    return bytes;
}
} // namespace

// Written completely beside the target before it gets the target's name: a
// crash never leaves a name without its content.
void WriteTemplate(const std::string& path)
{
    TNewFile file(path, path);
    const std::string bytes = TemplateBytes();
    WriteAll(file.Descriptor(), bytes.data(), bytes.size(), path);
    if (!file.CreateTarget())
        RaiseErrno(EEXIST, msg::NotValid, path);
}

void ReplaceWithTemplate(const std::string& path)
{
    TNewFile file(path, path);
    const std::string bytes = TemplateBytes();
    WriteAll(file.Descriptor(), bytes.data(), bytes.size(), path);
    file.ReplaceTarget();
}

TSectionFile::TSectionFile(const std::string& path, const std::string& reportName)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        const int err = errno;
        if (fd_ >= 0)
            ::close(fd_);
        RaiseErrno(err, msg::NotValid, reportName);
    }
    length_ = st.st_size;
}

FileSection WholeFile(int fd, const std::string& reportName)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        RaiseErrno(errno, msg::NotValid, reportName);
    return {fd, 0, st.st_size};
}

TSectionFile::~TSectionFile()
{
    ::close(fd_);
}

TSectionBytes::TSectionBytes(const FileSection& section, const std::string& reportName)
    : bytes_(new char[size_t(section.length)]), length_(size_t(section.length))
{
    if (!ReadAllAt(section.fd, bytes_.get(), length_, section.offset, reportName))
        throw EQDBFileError(Format(msg::NotValid, reportName));
}

void TPackedSource::Close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    data = index = {};
}

WorkingFiles CreateWorkingFiles()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        WorkingFiles files;
        files.data = TempFileName("QDB");
        if (files.data.empty())
            break;
        files.index = SiblingName(files.data, "QIX");
        const int fd = ::open(files.index.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return files;
        }
        ::unlink(files.data.c_str());
    }
    throw EQDBIndexError(msg::NoTempFile);
}

void RemoveWorkingFiles(const WorkingFiles& files)
{
    if (!files.data.empty())
        ::unlink(files.data.c_str());
    if (!files.index.empty())
        ::unlink(files.index.c_str());
}

WorkingFiles UnpackDatabase(const std::string& path, std::string& password,
                            const std::function<void(std::string&)>& demandPassword, StoredLayout* layout,
                            TPackedSource* source)
{
    SourceFile in(path);
    char marker[4];
    if (!in.Read(marker, 4) || std::memcmp(marker, SignatureMarker, 4) != 0)
        in.Invalid();

    PasswordKey key;
    bool protectedFile = false;
    if (in.Read(marker, 4)) {
        if (std::memcmp(marker, PasswordMarker, 4) == 0) {
            char check[20];
            if (!in.Read(check, 20))
                in.Invalid();
            if (password.empty() && demandPassword)
                demandPassword(password);
            key = DerivePasswordKey(password.substr(0, 255));
            if (key.check != std::string(check, 20))
                throw EQDBInvalidPW(msg::InvalidPassword);
            protectedFile = true;
        } else {
            in.Back(4);
        }
    }

    const int32_t dataLength = ReadSectionLength(in);
    if (source && !protectedFile) {
        // Read in place: only the lengths and markers are checked here.
        const int64_t dataStart = in.Position();
        in.Skip(dataLength);
        if (!in.Read(marker, 4) || std::memcmp(marker, IndexMarker, 4) != 0)
            in.Invalid();
        const int32_t indexLength = ReadSectionLength(in);
        const int64_t indexStart = in.Position();
        if (layout)
            *layout = {dataLength, indexLength, in.Remaining() - indexLength, false};
        source->Close();
        source->fd = in.Release();
        source->data = {source->fd, dataStart, dataLength};
        source->index = {source->fd, indexStart, indexLength};
        return {};
    }
    WorkingFiles files = CreateWorkingFiles();
    try {
        CopySection(in, dataLength, files.data, protectedFile ? &key : nullptr, path);
        if (!in.Read(marker, 4) || std::memcmp(marker, IndexMarker, 4) != 0)
            in.Invalid();
        const int32_t indexLength = ReadSectionLength(in);
        CopySection(in, indexLength, files.index, protectedFile ? &key : nullptr, path);
        if (layout)
            *layout = {dataLength, indexLength, in.Remaining(), protectedFile};
    } catch (...) {
        RemoveWorkingFiles(files);
        throw;
    }
    return files;
}

StoredLayout PackDatabase(const std::string& target, const WorkingFiles& files, const std::string& password,
                          const std::string& reportName)
{
    const TSectionFile data(files.data, reportName), index(files.index, reportName);
    return PackDatabase(target, {data.Section()}, index.Section(), password, reportName);
}

StoredLayout PackDatabase(const std::string& target, const std::vector<FileSection>& data, const FileSection& index,
                          const std::string& password, const std::string& reportName)
{
    StoredLayout layout;
    TNewFile file(target, reportName);
    const int out = file.Descriptor();
    std::string header(SignatureMarker, 4);
    PasswordKey key;
    const bool protect = !password.empty();
    if (protect) {
        key = DerivePasswordKey(password.substr(0, 255));
        header.append(PasswordMarker, 4);
        header += key.check;
    }
    WriteAll(out, header.data(), header.size(), reportName);
    layout.dataLength = WriteSection(out, data, protect ? &key : nullptr, reportName);
    WriteAll(out, IndexMarker, 4, reportName);
    layout.indexLength = WriteSection(out, {index}, protect ? &key : nullptr, reportName);
    layout.protectedFile = protect;
    file.ReplaceTarget();
    return layout;
}

} // namespace qdb
