// Catalogue files can be damaged or replaced: opening any bytes as a
// catalogue and reading every item either works or throws the database's own
// error. The file is never written back.
#include "qdb/file_routines.h"
#include "qdb/qdb.h"
#include "qdb/qdb_error.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.qdb"));
    qdb::TempFolder = dir.path().toStdString();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    qdb::TQDB db;
    db.SetSaveOnClose(false);
    db.SetReadOnly(true);
    db.OnDemandPassword = [](qdb::TQDB*, std::string& password) { password = "fuzz"; };
    try {
        db.SetFileName(path.toStdString());
        for (int32_t i = 0; i < db.Count(); ++i) {
            db.GoTo(i);
            db.GetItem();
        }
        std::vector<std::string> keys;
        db.ListAdminKeys(keys, "");
        for (const std::string& key : keys)
            db.GetAdminString(key);
        db.SetFileName("");
    } catch (const qdb::EQDBError&) {
    }
    return 0;
}
