#include "app/ui/registry_variable.h"

#include "app/ui/form.h"
#include "app/platform/message_box.h"

#include <QDateTime>
#include <QPointer>

#include <cmath>
#include <cstring>
#include <limits>

const char* const TQlRegistryVariable::kReadErrorText =
    "Some Error Occurred Retrieving the Data\nfrom the registry.Values are not restored";
const char* const TQlRegistryVariable::kWriteErrorText =
    "Some Error Occurred Saving the Data\nto the registry.Variable is not Saved";

namespace {

constexpr const char* kBookkeepingCompany = "Tessaline";
constexpr const char* kBookkeepingApplication = "QlRegistryVariable";
constexpr const char* kDefaultStore = "QlVariableStore";
const QDate kDayZero(1899, 12, 30);

std::string LittleEndian(uint64_t bits, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

uint64_t FromLittleEndian(const std::string& data)
{
    uint64_t bits = 0;
    for (size_t i = data.size(); i-- > 0;)
        bits = bits << 8 | static_cast<unsigned char>(data[i]);
    return bits;
}

std::string DoubleBytes(double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return LittleEndian(bits, 8);
}

double BytesDouble(const std::string& data)
{
    uint64_t bits = FromLittleEndian(data);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::optional<double> ToNumber(const QVariant& v)
{
    bool ok = false;
    double d = 0;
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? -1.0 : 0.0; // a true Boolean is -1 as a number
    case QMetaType::QString: d = v.toString().trimmed().toDouble(&ok); break;
    case QMetaType::QByteArray: d = v.toByteArray().trimmed().toDouble(&ok); break;
    case QMetaType::QDateTime: return DateTimeToDayCount(v.toDateTime());
    case QMetaType::QDate: return DateTimeToDayCount(v.toDate().startOfDay());
    default: d = v.toDouble(&ok); break;
    }
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<bool> ToBool(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    if (auto n = ToNumber(v))
        return *n != 0;
    return std::nullopt;
}

std::string JoinKeys(std::initializer_list<std::string> parts)
{
    std::string path;
    for (const std::string& part : parts) {
        if (part.empty())
            continue; // an empty name opens the same key again
        if (!path.empty())
            path += '\\';
        path += part;
    }
    return path;
}

// The fixed box text, followed by the store's own reason when there is one
// (it names the settings file), so the user knows which file to repair.
QString WithReason(const char* text, const std::string& reason)
{
    QString message = QString::fromLatin1(text);
    if (!reason.empty())
        message += QStringLiteral("\n\n") + QString::fromLocal8Bit(reason.c_str());
    return message;
}

} // namespace

double DateTimeToDayCount(const QDateTime& when)
{
    const double days = static_cast<double>(kDayZero.daysTo(when.date()));
    const double fraction = when.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the day zero the fraction still counts forward within its day.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime DayCountToDateTime(double days)
{
    const double whole = std::trunc(days);
    const double fraction = std::fabs(days - whole);
    int msecs = static_cast<int>(std::llround(fraction * 86400000.0));
    qint64 dayOffset = static_cast<qint64>(whole);
    if (msecs >= 86400000) {
        msecs -= 86400000;
        dayOffset += days >= 0 ? 1 : -1;
    }
    return QDateTime(kDayZero.addDays(dayOffset), QTime::fromMSecsSinceStartOfDay(msecs));
}

std::string RegistryRootName(TVarRegistryKeys key)
{
    switch (key) {
    case TVarRegistryKeys::rk_HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case TVarRegistryKeys::rk_HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case TVarRegistryKeys::rk_HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case TVarRegistryKeys::rk_HKEY_CURRRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    }
    return "HKEY_CURRENT_USER";
}

uint32_t RegistryRootHandle(TVarRegistryKeys key)
{
    switch (key) {
    case TVarRegistryKeys::rk_HKEY_CLASSES_ROOT: return 0x80000000u;
    case TVarRegistryKeys::rk_HKEY_CURRENT_USER: return 0x80000001u;
    case TVarRegistryKeys::rk_HKEY_LOCAL_MACHINE: return 0x80000002u;
    case TVarRegistryKeys::rk_HKEY_CURRRENT_CONFIG: return 0x80000005u;
    }
    return 0x80000001u;
}

std::optional<TRegValue> EncodeRegistryValue(TVarRegistryTypes type, const QVariant& value)
{
    if (!value.isValid())
        return std::nullopt;
    switch (type) {
    case TVarRegistryTypes::regBool: {
        auto b = ToBool(value);
        if (!b)
            return std::nullopt;
        return TRegValue{REG_DWORD, LittleEndian(*b ? 1 : 0, 4)};
    }
    case TVarRegistryTypes::regCurrency: {
        auto n = ToNumber(value);
        if (!n || std::fabs(*n) > 922337203685477.0)
            return std::nullopt;
        return TRegValue{REG_BINARY, LittleEndian(static_cast<uint64_t>(std::llround(*n * 10000.0)), 8)};
    }
    case TVarRegistryTypes::regDate:
    case TVarRegistryTypes::regDateTime:
    case TVarRegistryTypes::regTime: {
        auto n = ToNumber(value);
        if (!n)
            return std::nullopt;
        return TRegValue{REG_BINARY, DoubleBytes(*n)};
    }
    case TVarRegistryTypes::regFloat: {
        auto n = ToNumber(value);
        if (!n)
            return std::nullopt;
        return TRegValue{REG_BINARY, DoubleBytes(*n)};
    }
    case TVarRegistryTypes::regInteger: {
        auto n = ToNumber(value);
        if (!n || *n < std::numeric_limits<int32_t>::min() || *n > std::numeric_limits<int32_t>::max())
            return std::nullopt;
        const auto i = static_cast<int32_t>(std::nearbyint(*n));
        return TRegValue{REG_DWORD, LittleEndian(static_cast<uint32_t>(i), 4)};
    }
    case TVarRegistryTypes::regString: {
        const QByteArray text = value.toString().toLatin1();
        return TRegValue{REG_SZ, std::string(text.constData(), static_cast<size_t>(text.size())) + '\0'};
    }
    }
    return std::nullopt;
}

std::optional<QVariant> DecodeRegistryValue(TVarRegistryTypes type, const TRegValue& stored)
{
    switch (type) {
    case TVarRegistryTypes::regBool:
        if (stored.type != REG_DWORD || stored.data.size() != 4)
            return std::nullopt;
        return QVariant(FromLittleEndian(stored.data) != 0);
    case TVarRegistryTypes::regCurrency:
        if (stored.type != REG_BINARY || stored.data.size() != 8)
            return std::nullopt;
        return QVariant(static_cast<double>(static_cast<int64_t>(FromLittleEndian(stored.data))) / 10000.0);
    case TVarRegistryTypes::regDate:
    case TVarRegistryTypes::regDateTime:
    case TVarRegistryTypes::regTime: {
        if (stored.type != REG_BINARY || stored.data.size() != 8)
            return std::nullopt;
        const double days = BytesDouble(stored.data);
        if (!std::isfinite(days) || std::fabs(days) > 2958466.0) // beyond year 9999
            return std::nullopt;
        return QVariant(DayCountToDateTime(days));
    }
    case TVarRegistryTypes::regFloat:
        if (stored.type != REG_BINARY || stored.data.size() != 8)
            return std::nullopt;
        return QVariant(BytesDouble(stored.data));
    case TVarRegistryTypes::regInteger:
        if (stored.type != REG_DWORD || stored.data.size() != 4)
            return std::nullopt;
        return QVariant(static_cast<int32_t>(static_cast<uint32_t>(FromLittleEndian(stored.data))));
    case TVarRegistryTypes::regString: {
        if (stored.type != REG_SZ && stored.type != REG_EXPAND_SZ)
            return std::nullopt;
        // The text ends at the first NUL; no environment references are expanded.
        const std::string text = stored.data.substr(0, stored.data.find('\0'));
        return QVariant(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    }
    }
    return std::nullopt;
}

TQlRegistryVariable::TQlRegistryVariable(TForm* owner, bool designing) : QObject(owner)
{
    if (designing) {
        std::optional<TRegValue> company, application, store;
        try {
            const std::string key = BookkeepingKeyPath();
            company = store_.ReadValue(key, "RegCompanyNameString");
            application = store_.ReadValue(key, "RegAppNameString");
            store = store_.ReadValue(key, "RegStoreNameString");
        } catch (const ERegistryError&) {
        }
        auto text = [](const std::optional<TRegValue>& v) {
            return v ? DecodeRegistryValue(TVarRegistryTypes::regString, *v) : std::nullopt;
        };
        auto c = text(company), a = text(application), s = text(store);
        if (c && a && s) {
            companyName_ = c->toString().toStdString();
            applicationName_ = a->toString().toStdString();
            storeName_ = s->toString().toStdString();
        } else {
            companyName_ = kBookkeepingCompany;
            applicationName_ = kBookkeepingApplication;
            storeName_ = kDefaultStore;
        }
        return;
    }
    if (!owner)
        return;
    // Chain onto the owner's close handler: the variable created last runs
    // first and then calls the handler that was there before it.
    QPointer<TQlRegistryVariable> self(this);
    auto previous = owner->OnClose;
    owner->OnClose = [self, previous](QObject* sender, TCloseAction& action) {
        action = TCloseAction::caFree;
        if (previous)
            previous(sender, action);
        if (self && (action == TCloseAction::caHide || action == TCloseAction::caFree))
            self->WriteBookkeeping();
    };
}

std::string TQlRegistryVariable::ValueKeyPath() const
{
    return JoinKeys({RegistryRootName(baseKey_), subKey_, companyName_, applicationName_, storeName_});
}

std::string TQlRegistryVariable::BookkeepingKeyPath() const
{
    return JoinKeys({"HKEY_CURRENT_USER", subKey_, kBookkeepingCompany, kBookkeepingApplication});
}

bool TQlRegistryVariable::VariableExists() const
{
    lastError_.clear();
    try {
        const std::string key = ValueKeyPath();
        return store_.KeyExists(key) && store_.ReadValue(key, variableName_).has_value();
    } catch (const ERegistryError& e) {
        lastError_ = e.what();
        return false;
    }
}

void TQlRegistryVariable::ReadVariable(QVariant& value)
{
    try {
        if (!VariableExists()) {
            ReportReadError();
            return;
        }
        const std::optional<TRegValue> stored = store_.ReadValue(ValueKeyPath(), variableName_);
        const std::optional<QVariant> decoded = stored ? DecodeRegistryValue(variableType_, *stored) : std::nullopt;
        if (!decoded) {
            ReportReadError();
            return;
        }
        value = *decoded;
    } catch (const ERegistryError& e) {
        lastError_ = e.what();
        ReportReadError();
    }
}

void TQlRegistryVariable::WriteVariable(const QVariant& value)
{
    const std::optional<TRegValue> encoded = EncodeRegistryValue(variableType_, value);
    if (!encoded) {
        ReportWriteError();
        return;
    }
    lastError_.clear();
    try {
        store_.WriteValue(ValueKeyPath(), variableName_, *encoded);
    } catch (const ERegistryError& e) {
        lastError_ = e.what();
        ReportWriteError();
    }
}

void TQlRegistryVariable::WriteBookkeeping()
{
    const std::string key = BookkeepingKeyPath();
    const std::pair<const char*, std::string> values[] = {
        {"RegCompanyNameString", companyName_},
        {"RegAppNameString", applicationName_},
        {"RegStoreNameString", storeName_},
    };
    for (const auto& [name, text] : values) {
        try {
            store_.WriteValue(key, name, TRegValue{REG_SZ, text + '\0'});
        } catch (const ERegistryError&) {
            // Bookkeeping is best effort; the next value is still attempted.
        }
    }
}

void TQlRegistryVariable::ReportReadError()
{
    if (OnReadError)
        OnReadError(this);
    else
        ShowMessageBox(TMessageKind::Error, WithReason(kReadErrorText, lastError_));
}

void TQlRegistryVariable::ReportWriteError()
{
    if (OnWriteError)
        OnWriteError(this);
    else
        ShowMessageBox(TMessageKind::Error, WithReason(kWriteErrorText, lastError_));
}

QVariant ReadPellimarSetting(const char* name, bool& damageReported)
{
    TQlRegistryVariable variable(nullptr);
    SetUpPellimarSetting(variable, name);
    QVariant value;
    if (variable.VariableExists()) {
        variable.ReadVariable(value);
    } else if (!variable.LastError().empty() && !damageReported) {
        variable.ReadVariable(value);
        damageReported = true;
    }
    return value;
}

void SetUpPellimarSetting(TQlRegistryVariable& variable, const char* name)
{
    variable.setObjectName(QLatin1String(name));
    variable.SetRegBaseKey(TVarRegistryKeys::rk_HKEY_CURRENT_USER);
    variable.SetRegSubKey("Software");
    variable.SetRegCompanyName("Quenlo");
    variable.SetRegApplicationName("Dravimex");
    variable.SetRegStoreName("QlVariableStore");
    variable.SetRegVariableName(name);
    variable.SetRegVariableType(TVarRegistryTypes::regString);
}
