// The administrative items of a database: named values kept apart from the
// records (the record layout, settings such as case sensitivity), in an
// index of their own that the record walk never visits.
#include "qdb/qdb.h"

#include <algorithm>

namespace qdb {

void TQDB::AddAdminItem(const void* data, int32_t size, const TKey& key)
{
    RequireReady();
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    const int32_t end = DataEnd();
    int32_t at = 0;
    if (admin_.Find(key.substr(0, 255), at))
        throw EQDBIndexError(msg::Duplicate);
    WriteData(std::string(static_cast<const char*>(data), size_t(std::max(size, 0))), end);
    TIndex* entry = admin_.MakeIndex({end, std::max(size, 0), FlagAdmin});
    try {
        adminIndex_ = admin_.Add(key, entry);
    } catch (const EQDBListError&) {
        admin_.FreeIndex(entry);
        throw EQDBIndexError(Format(msg::CannotExtend, fileName_));
    }
    MarkModified();
}

void TQDB::ChangeAdminItem(const void* data, int32_t size)
{
    RequireReady();
    if (admin_.Count() == 0)
        return Warn(Warning::NoData);
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    TIndex* entry = admin_.Index(adminIndex_);
    const std::string bytes(static_cast<const char*>(data), size_t(std::max(size, 0)));
    int32_t offset = entry->offset;
    if (int64_t(bytes.size()) > entry->size) {
        if (data_.Size() > INT32_MAX)
            RaiseFileError(-1, msg::CannotExtend, fileName_);
        offset = int32_t(data_.Size());
    }
    WriteData(bytes, offset);
    entry->offset = offset;
    entry->size = int32_t(bytes.size());
    MarkModified();
}

void TQDB::SetAdminString(const TKey& key, const std::string& text)
{
    const std::string bytes = text + '\0';
    if (AdminItemExists(key))
        ChangeAdminItem(bytes.data(), int32_t(bytes.size()));
    else
        AddAdminItem(bytes.data(), int32_t(bytes.size()), key);
}

std::string TQDB::GetAdminString(const TKey& key)
{
    RequireReady();
    if (!AdminItemExists(key))
        throw EQDBBadKey(Format(msg::BadKey, key));
    const std::string data = ReadEntry(*admin_.Index(adminIndex_));
    return data.substr(0, data.find('\0'));
}

bool TQDB::AdminItemExists(const TKey& key)
{
    int32_t at = 0;
    if (!admin_.Find(key.substr(0, 255), at))
        return false;
    adminIndex_ = at;
    return true;
}

bool TQDB::AdminItemIsTrue(const TKey& key)
{
    RequireReady();
    if (!AdminItemExists(key))
        throw EQDBBadKey(Format(msg::BadKey, key));
    return ReadEntry(*admin_.Index(adminIndex_)) == std::string(1, '\x01');
}

void TQDB::DeleteAdminItem(const TKey& key)
{
    RequireReady();
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    if (!AdminItemExists(key))
        throw EQDBBadKey(Format(msg::BadKey, key));
    admin_.FreeIndex(admin_.Index(adminIndex_));
    static_cast<TQDBStringList&>(admin_).Delete(adminIndex_);
    if (adminIndex_ > 0)
        --adminIndex_;
    MarkModified();
}

void TQDB::DeleteAdminItems(const std::string& prefix)
{
    RequireReady();
    if (readOnly_)
        return Warn(Warning::ReadOnly);
    for (int32_t i = admin_.Count() - 1; i >= 0; --i) {
        if (admin_.GetKey(i).compare(0, prefix.size(), prefix) == 0) {
            admin_.FreeIndex(admin_.Index(i));
            static_cast<TQDBStringList&>(admin_).Delete(i);
        }
    }
    adminIndex_ = 0;
    MarkModified();
}

int32_t TQDB::ListAdminKeys(std::vector<std::string>& list, const std::string& prefix)
{
    list.clear();
    for (int32_t i = 0; i < admin_.Count(); ++i)
        if (admin_.GetKey(i).compare(0, prefix.size(), prefix) == 0)
            list.emplace_back(admin_.GetKey(i));
    return int32_t(list.size());
}

} // namespace qdb
