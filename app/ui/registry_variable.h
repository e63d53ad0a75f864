#pragma once
// TQlRegistryVariable binds one named, typed registry value to the form that
// owns it, and leaves three bookkeeping values in the registry when that form
// closes.
#include "app/platform/registry_store.h"

#include <QObject>
#include <QVariant>

#include <functional>
#include <string>

class TForm;

enum class TVarRegistryKeys {
    rk_HKEY_CLASSES_ROOT,
    rk_HKEY_CURRENT_USER,
    rk_HKEY_LOCAL_MACHINE,
    rk_HKEY_CURRRENT_CONFIG,
};

enum class TVarRegistryTypes {
    regBool,
    regCurrency,
    regDate,
    regDateTime,
    regTime,
    regFloat,
    regInteger,
    regString,
};

// The root name ("HKEY_CURRENT_USER", ...) and the platform handle value (0x80000001, ...).
std::string RegistryRootName(TVarRegistryKeys key);
uint32_t RegistryRootHandle(TVarRegistryKeys key);

// The stored bytes of a value of the given type, or nothing when the variant
// cannot be converted to it. Currency is passed as a number (the amount),
// dates and times as QDateTime (or a number in the day-count layout).
std::optional<TRegValue> EncodeRegistryValue(TVarRegistryTypes type, const QVariant& value);
// The variant read from stored bytes, or nothing when the type or size is not accepted.
std::optional<QVariant> DecodeRegistryValue(TVarRegistryTypes type, const TRegValue& stored);

// Day-count date layout: days since 30 December 1899, the fraction the time of day.
double DateTimeToDayCount(const QDateTime& when);
QDateTime DayCountToDateTime(double days);

class TQlRegistryVariable : public QObject {
    Q_OBJECT
public:
    // Created at run time with an owner form, the variable hooks the owner's
    // OnClose. Created in design mode it instead pre-fills the company,
    // application and store names from the bookkeeping values.
    explicit TQlRegistryVariable(TForm* owner, bool designing = false);

    TVarRegistryKeys RegBaseKey() const { return baseKey_; }
    void SetRegBaseKey(TVarRegistryKeys v) { if (v != baseKey_) baseKey_ = v; }
    std::string RegSubKey() const { return subKey_; }
    void SetRegSubKey(const std::string& v) { if (v != subKey_) subKey_ = v; }
    std::string RegCompanyName() const { return companyName_; }
    void SetRegCompanyName(const std::string& v) { if (v != companyName_) companyName_ = v; }
    std::string RegApplicationName() const { return applicationName_; }
    void SetRegApplicationName(const std::string& v) { if (v != applicationName_) applicationName_ = v; }
    std::string RegStoreName() const { return storeName_; }
    void SetRegStoreName(const std::string& v) { if (v != storeName_) storeName_ = v; }
    std::string RegVariableName() const { return variableName_; }
    void SetRegVariableName(const std::string& v) { if (v != variableName_) variableName_ = v; }
    TVarRegistryTypes RegVariableType() const { return variableType_; }
    void SetRegVariableType(TVarRegistryTypes v) { if (v != variableType_) variableType_ = v; }

    std::function<void(QObject* sender)> OnReadError;
    std::function<void(QObject* sender)> OnWriteError;
    std::function<void(QObject* sender)> OnDeleteError;            // declared; never raised
    std::function<void(QObject* sender)> OnDeleteVariableNotFound; // declared; never raised

    bool VariableExists() const;
    void ReadVariable(QVariant& value);
    void WriteVariable(const QVariant& value);

    // Where values live: the process-wide default store unless set (tests).
    void SetStore(const TRegistryStore& store) { store_ = store; }

    // Why the last operation failed when the store itself could not be used
    // (damaged or unreadable file); empty otherwise.
    const std::string& LastError() const { return lastError_; }

    static const char* const kReadErrorText;
    static const char* const kWriteErrorText;

private:
    std::string ValueKeyPath() const;
    std::string BookkeepingKeyPath() const;
    void WriteBookkeeping();
    void ReportReadError();
    void ReportWriteError();

    TVarRegistryKeys baseKey_ = TVarRegistryKeys::rk_HKEY_CURRENT_USER;
    std::string subKey_ = "Software";
    std::string companyName_;
    std::string applicationName_;
    std::string storeName_;
    std::string variableName_;
    TVarRegistryTypes variableType_ = TVarRegistryTypes::regString;
    TRegistryStore store_;
    mutable std::string lastError_;
};

// Gives `variable` the place where Pellimar keeps the setting `name` (a
// string value of the mailbox settings: rgHost, rgUserName, ...).
void SetUpPellimarSetting(TQlRegistryVariable& variable, const char* name);

// The stored value of the setting `name`, invalid when none is stored. A
// damaged settings file is reported in a box once: the first read that meets
// it sets damageReported, and later reads say nothing more.
QVariant ReadPellimarSetting(const char* name, bool& damageReported);
