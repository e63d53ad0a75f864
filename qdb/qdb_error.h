#pragma once
// Exception classes of the catalogue database.
#include <stdexcept>
#include <string>

namespace qdb {

class EQDBError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EQDBListError : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBFileError : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBIndexError : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBInvalidPW : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBNoCompress : public EQDBError { public: using EQDBError::EQDBError; };
class EQDBBadKey : public EQDBError { public: using EQDBError::EQDBError; };

class EQDBOutOfBounds : public EQDBIndexError { public: using EQDBIndexError::EQDBIndexError; };
class EQDBNoData : public EQDBIndexError { public: using EQDBIndexError::EQDBIndexError; };
class EQDBReadOnly : public EQDBIndexError { public: using EQDBIndexError::EQDBIndexError; };
class EQDBNoFile : public EQDBIndexError { public: using EQDBIndexError::EQDBIndexError; };

// Message texts shared by several components.
namespace msg {
inline constexpr const char* OutOfBounds = "The list index is out of bounds";
inline constexpr const char* NoMemory = "Insufficient memory to compress or expand";
inline constexpr const char* Duplicate = "Duplicate keys are not allowed";
inline constexpr const char* NoTempFile = "Could not create a necessary temporary file";
inline constexpr const char* NotValid = "The file %s is not a valid QDB file";
inline constexpr const char* CannotExtend = "Unable to extend the file %s";
inline constexpr const char* IndexMemory = "Not enough memory to extend the index to %s";
inline constexpr const char* InvalidPassword = "The password you have provided is invalid";
inline constexpr const char* NoFile = "Illegal operation - no file assigned";
inline constexpr const char* ReadOnly = "%s is marked as read-only";
inline constexpr const char* Empty = "File %s is empty";
inline constexpr const char* BadKey = "The key '%s' does not exist";
inline constexpr const char* EmptyFileReplaced = "The file %s held no bytes and now holds a new, empty database";
} // namespace msg

// Replaces the first "%s" in a message by the given text.
inline std::string Format(const char* message, const std::string& arg)
{
    std::string text(message);
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, arg);
    return text;
}

} // namespace qdb
