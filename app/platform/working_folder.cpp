#include "app/platform/working_folder.h"

#include "app/platform/registry_store.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char kSettingsKey[] = "HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore";
const char kFolderValue[] = "WorkingFolder";

QString RememberedWorkingFolder()
{
    try {
        const std::optional<TRegValue> value = TRegistryStore().ReadValue(kSettingsKey, kFolderValue);
        if (value && value->type == REG_SZ)
            return QString::fromUtf8(value->data.substr(0, value->data.find('\0')));
    } catch (const ERegistryError&) {
        // A damaged store is reported where the settings are read.
    }
    return {};
}

} // namespace

void RememberWorkingFolder(const QString& folder)
{
    try {
        TRegistryStore store;
        store.CreateKey(kSettingsKey);
        store.WriteValue(kSettingsKey, kFolderValue, {REG_SZ, folder.toUtf8().toStdString() + '\0'});
    } catch (const ERegistryError&) {
        // Then the next start asks again.
    }
}

TWorkingFolder ChooseWorkingFolder(const QString& homeOption)
{
    if (!homeOption.isEmpty())
        return {QDir(homeOption).absolutePath(), TWorkingFolder::TSource::Option};
    const QString environment = qEnvironmentVariable("PELLIMAR_HOME");
    if (!environment.isEmpty())
        return {QDir(environment).absolutePath(), TWorkingFolder::TSource::Environment};
    if (IsWorkingFolder(QDir::currentPath()))
        return {QDir::currentPath(), TWorkingFolder::TSource::Current};
    const QString remembered = RememberedWorkingFolder();
    if (!remembered.isEmpty())
        return {remembered, TWorkingFolder::TSource::Remembered};
    return {DefaultWorkingFolder(), TWorkingFolder::TSource::Default};
}

QString DefaultWorkingFolder() { return QDir::home().absoluteFilePath(QStringLiteral("Pellimar")); }

bool IsWorkingFolder(const QString& folder)
{
    const QDir dir(folder);
    return QFileInfo(dir.filePath(QStringLiteral("faxes.qdb"))).isFile()
           || QFileInfo(dir.filePath(QStringLiteral("temp"))).isDir()
           || QFileInfo(dir.filePath(QStringLiteral("faxes"))).isDir();
}

bool MakeWorkingFolder(const QString& folder, QString& error)
{
    const QDir dir(folder);
    for (const char* sub : {"temp", "faxes"})
        if (!dir.mkpath(QLatin1String(sub))) {
            error = QStringLiteral("could not create %1").arg(dir.filePath(QLatin1String(sub)));
            return false;
        }
    return true;
}
