#include "app/platform/registry_store.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kHeader = "REGEDIT4";
// A settings file is a few hundred bytes; anything far larger is not ours.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
           });
}

[[noreturn]] void Fail(size_t line, const std::string& reason)
{
    throw ERegistryError("line " + std::to_string(line) + ": " + reason);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at text[pos] == '"'; leaves pos after the closing quote.
std::string ParseQuoted(const std::string& text, size_t& pos, size_t line)
{
    std::string out;
    ++pos;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"')
            return out;
        if (c == '\\') {
            if (pos >= text.size())
                break;
            out += text[pos++];
        } else {
            out += c;
        }
    }
    Fail(line, "missing closing quote");
}

std::string ParseHexBytes(const std::string& text, size_t line)
{
    std::string out;
    size_t pos = 0;
    auto skipBlanks = [&] { while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos; };
    skipBlanks();
    if (pos == text.size())
        return out;
    for (;;) {
        skipBlanks();
        if (pos + 2 > text.size() || HexDigit(text[pos]) < 0 || HexDigit(text[pos + 1]) < 0)
            Fail(line, "bad hexadecimal byte");
        out += static_cast<char>(HexDigit(text[pos]) * 16 + HexDigit(text[pos + 1]));
        pos += 2;
        skipBlanks();
        if (pos == text.size())
            return out;
        if (text[pos] != ',')
            Fail(line, "expected ',' between bytes");
        ++pos;
    }
}

TRegValue ParseData(const std::string& text, size_t line)
{
    TRegValue value;
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        value.type = REG_SZ;
        value.data = ParseQuoted(text, pos, line);
        if (text.find_first_not_of(" \t", pos) != std::string::npos)
            Fail(line, "text after the closing quote");
        value.data += '\0';
        return value;
    }
    if (text.rfind("dword:", 0) == 0) {
        std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8)
            Fail(line, "bad dword value");
        uint32_t number = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0)
                Fail(line, "bad dword value");
            number = number * 16 + static_cast<uint32_t>(d);
        }
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return value;
    }
    if (text.rfind("hex:", 0) == 0) {
        value.type = REG_BINARY;
        value.data = ParseHexBytes(text.substr(4), line);
        return value;
    }
    if (text.rfind("hex(", 0) == 0) {
        size_t close = text.find("):");
        if (close == std::string::npos || close == 4 || close > 12)
            Fail(line, "bad value type");
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            int d = HexDigit(text[i]);
            if (d < 0)
                Fail(line, "bad value type");
            type = type * 16 + static_cast<uint32_t>(d);
        }
        value.type = type;
        value.data = ParseHexBytes(text.substr(close + 2), line);
        return value;
    }
    Fail(line, "unknown value format");
}

std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool Printable(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

std::string HexList(const std::string& prefix, const std::string& data)
{
    static const char* digits = "0123456789abcdef";
    std::string out = prefix;
    size_t column = prefix.size();
    for (size_t i = 0; i < data.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\r\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string FormatValue(const std::string& name, const TRegValue& value)
{
    std::string out = name.empty() ? "@=" : Quote(name) + "=";
    const std::string& d = value.data;
    if (value.type == REG_SZ && !d.empty() && d.back() == '\0' && Printable(d.substr(0, d.size() - 1)))
        return out + Quote(d.substr(0, d.size() - 1));
    if (value.type == REG_DWORD && d.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = number << 8 | static_cast<unsigned char>(d[static_cast<size_t>(i)]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", number);
        return out + buf;
    }
    if (value.type == REG_BINARY)
        return HexList(out + "hex:", d);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    return HexList(out + prefix, d);
}

std::string ParentOf(const std::string& path)
{
    size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

QString ErrnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Holds an flock on "<store>.lock" for the lifetime of the object.
class StoreLock {
public:
    StoreLock(const QString& storePath, bool exclusive)
    {
        const QByteArray lockPath = QFile::encodeName(storePath + QStringLiteral(".lock"));
        fd_ = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return; // a read-only folder: reading still works, writing fails later
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

[[noreturn]] void FailFile(const QString& path, const QString& what)
{
    throw ERegistryError(QStringLiteral("The settings file %1 %2").arg(path, what).toStdString());
}

} // namespace

bool IsRegistryRoot(const std::string& keyPath)
{
    const std::string root = keyPath.substr(0, keyPath.find('\\'));
    for (const char* known : {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_CONFIG"})
        if (EqualNoCase(root, known))
            return true;
    return false;
}

TRegistryDocument TRegistryDocument::Parse(const std::string& text)
{
    TRegistryDocument doc;
    Key* current = nullptr;
    bool headerSeen = false;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        // Gather one logical line; a hex list may continue over lines ending in '\'.
        std::string line;
        size_t firstLine = lineNumber + 1;
        for (;;) {
            size_t end = text.find('\n', pos);
            std::string physical = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? text.size() : end + 1;
            ++lineNumber;
            if (!physical.empty() && physical.back() == '\r')
                physical.pop_back();
            if (!line.empty()) {
                size_t start = physical.find_first_not_of(" \t");
                physical = start == std::string::npos ? std::string() : physical.substr(start);
            }
            line += physical;
            bool continued = !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
            if (!continued || pos >= text.size())
                break;
            line.pop_back();
        }
        if (line.find('\0') != std::string::npos)
            Fail(firstLine, "NUL byte in the text");
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';')
            continue;
        line = line.substr(start);
        if (!headerSeen) {
            if (line != kHeader)
                Fail(firstLine, "the file does not start with REGEDIT4");
            headerSeen = true;
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos || line.find_first_not_of(" \t", close + 1) != std::string::npos)
                Fail(firstLine, "bad key line");
            std::string path = line.substr(1, close - 1);
            if (path.empty() || path[0] == '-' || !IsRegistryRoot(path) || path.back() == '\\'
                || path.find("\\\\") != std::string::npos)
                Fail(firstLine, "bad key name");
            current = &doc.CreateKey(path);
            continue;
        }
        if (!current)
            Fail(firstLine, "a value before the first key");
        std::string name;
        size_t p = 0;
        if (line[0] == '@') {
            p = 1;
        } else if (line[0] == '"') {
            name = ParseQuoted(line, p, firstLine);
        } else {
            Fail(firstLine, "unknown line");
        }
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
            ++p;
        if (p >= line.size() || line[p] != '=')
            Fail(firstLine, "expected '=' after the value name");
        ++p;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
            ++p;
        TRegValue value = ParseData(line.substr(p), firstLine);
        auto it = std::find_if(current->values.begin(), current->values.end(),
                               [&](const auto& v) { return EqualNoCase(v.first, name); });
        if (it != current->values.end())
            it->second = value;
        else
            current->values.emplace_back(name, value);
    }
    if (!headerSeen && !text.empty())
        Fail(1, "the file does not start with REGEDIT4");
    return doc;
}

std::string TRegistryDocument::Serialize() const
{
    std::string out = std::string(kHeader) + "\r\n";
    for (const Key& key : keys_) {
        out += "\r\n[" + key.path + "]\r\n";
        for (const auto& [name, value] : key.values)
            out += FormatValue(name, value) + "\r\n";
    }
    out += "\r\n";
    return out;
}

const TRegistryDocument::Key* TRegistryDocument::FindKey(const std::string& path) const
{
    for (const Key& key : keys_)
        if (EqualNoCase(key.path, path))
            return &key;
    return nullptr;
}

bool TRegistryDocument::HasKey(const std::string& path) const
{
    if (FindKey(path))
        return true;
    // A key exists also when it only appears as the parent of another key.
    for (const Key& key : keys_)
        if (key.path.size() > path.size() && key.path[path.size()] == '\\' && EqualNoCase(key.path.substr(0, path.size()), path))
            return true;
    return false;
}

TRegistryDocument::Key& TRegistryDocument::CreateKey(const std::string& path)
{
    if (const Key* existing = FindKey(path))
        return const_cast<Key&>(*existing);
    std::string parent = ParentOf(path);
    if (!parent.empty() && !FindKey(parent))
        CreateKey(parent);
    keys_.push_back(Key{path, {}});
    return keys_.back();
}

TRegistryStore::TRegistryStore(QString path) : path_(std::move(path)) {}

QString TRegistryStore::DefaultPath()
{
    const QString explicitPath = qEnvironmentVariable("PELLIMAR_REGISTRY");
    if (!explicitPath.isEmpty())
        return explicitPath;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/pellimar/registry.reg");
}

QString TRegistryStore::Path() const { return path_.isEmpty() ? DefaultPath() : path_; }

TRegistryDocument TRegistryStore::Load(const QString& path) const
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        FailFile(path, QStringLiteral("cannot be opened: ") + ErrnoText());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
        ::close(fd);
        FailFile(path, QStringLiteral("is not a settings file"));
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    try {
        return TRegistryDocument::Parse(text);
    } catch (const ERegistryError& e) {
        FailFile(path, QStringLiteral("is damaged (%1) and is left unchanged").arg(QString::fromStdString(e.what())));
    }
}

void TRegistryStore::Save(const QString& path, const TRegistryDocument& doc)
{
    const std::string text = doc.Serialize();
    const QString tempPath = path + QStringLiteral(".new");
    const QByteArray nativeTemp = QFile::encodeName(tempPath);
    int fd = ::open(nativeTemp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        FailFile(path, QStringLiteral("cannot be written: ") + ErrnoText());
    ::fchmod(fd, 0600);
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    int savedErrno = errno;
    ::close(fd);
    if (!ok || ::rename(nativeTemp.constData(), QFile::encodeName(path).constData()) != 0) {
        if (ok)
            savedErrno = errno;
        ::unlink(nativeTemp.constData());
        errno = savedErrno;
        FailFile(path, QStringLiteral("cannot be written: ") + ErrnoText());
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

bool TRegistryStore::KeyExists(const std::string& keyPath) const
{
    const QString path = Path();
    StoreLock lock(path, false);
    return IsRegistryRoot(keyPath) && (keyPath.find('\\') == std::string::npos || Load(path).HasKey(keyPath));
}

std::optional<TRegValue> TRegistryStore::ReadValue(const std::string& keyPath, const std::string& name) const
{
    const QString path = Path();
    StoreLock lock(path, false);
    const TRegistryDocument doc = Load(path);
    const TRegistryDocument::Key* key = doc.FindKey(keyPath);
    if (!key)
        return std::nullopt;
    for (const auto& [valueName, value] : key->values)
        if (EqualNoCase(valueName, name))
            return value;
    return std::nullopt;
}

void TRegistryStore::CreateKey(const std::string& keyPath)
{
    WriteValue(keyPath, std::string(), TRegValue{REG_NONE, {}});
}

void TRegistryStore::WriteValue(const std::string& keyPath, const std::string& name, const TRegValue& value)
{
    if (!IsRegistryRoot(keyPath) || keyPath.find('\n') != std::string::npos)
        throw ERegistryError("Not a registry key: " + keyPath);
    const QString path = Path();
    QDir().mkpath(QFileInfo(path).absolutePath());
    StoreLock lock(path, true);
    TRegistryDocument doc = Load(path);
    TRegistryDocument::Key& key = doc.CreateKey(keyPath);
    if (value.type != REG_NONE || !name.empty()) {
        auto it = std::find_if(key.values.begin(), key.values.end(),
                               [&](const auto& v) { return EqualNoCase(v.first, name); });
        if (it != key.values.end())
            it->second = value;
        else
            key.values.emplace_back(name, value);
    }
    Save(path, doc);
}
