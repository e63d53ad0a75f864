#pragma once
// Pellimar's registry: keys and typed values kept in one text file in the
// registry-export format (REGEDIT4), shared by every Pellimar process of the
// user. Each operation reads the file afresh under a lock and, when it
// changes something, replaces the file atomically, so concurrent writers never
// lose each other's values. A file that cannot be parsed is never rewritten.
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

enum TRegDataType : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
};

struct TRegValue {
    uint32_t type = REG_NONE;
    std::string data; // the stored bytes; REG_SZ includes its terminating NUL

    bool operator==(const TRegValue&) const = default;
};

// A settings file that cannot be read, parsed or written; the message names the file.
class ERegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The in-memory form of a store file: keys in file order, values in key order.
// Key and value names compare without regard to ASCII letter case.
class TRegistryDocument {
public:
    struct Key {
        std::string path; // full path, e.g. "HKEY_CURRENT_USER\Software"
        std::vector<std::pair<std::string, TRegValue>> values;
    };

    // Throws ERegistryError (with "line N: reason", without the file name) on malformed text.
    static TRegistryDocument Parse(const std::string& text);
    std::string Serialize() const;

    bool HasKey(const std::string& path) const;
    const Key* FindKey(const std::string& path) const;
    Key& CreateKey(const std::string& path); // creates missing parent keys too
    const std::vector<Key>& Keys() const { return keys_; }

private:
    std::vector<Key> keys_;
};

class TRegistryStore {
public:
    // An empty path means the default store (see DefaultPath), resolved at each operation.
    explicit TRegistryStore(QString path = QString());

    // $PELLIMAR_REGISTRY, else $XDG_CONFIG_HOME/pellimar/registry.reg, else
    // ~/.config/pellimar/registry.reg.
    static QString DefaultPath();
    QString Path() const;

    // Key paths start with a root (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
    // HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG) and use "\" between keys.
    bool KeyExists(const std::string& keyPath) const;
    std::optional<TRegValue> ReadValue(const std::string& keyPath, const std::string& name) const;
    void CreateKey(const std::string& keyPath);
    void WriteValue(const std::string& keyPath, const std::string& name, const TRegValue& value);

private:
    TRegistryDocument Load(const QString& path) const;
    void Save(const QString& path, const TRegistryDocument& doc);

    QString path_;
};

// True when the path's first key is one of the four roots.
bool IsRegistryRoot(const std::string& keyPath);
