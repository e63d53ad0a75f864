// Catalogue files can be damaged or replaced: opening any bytes as a
// catalogue and reading every item either works or throws the database's own
// error. A file that opens then takes one more item: after the flush, the
// file holds it, whatever odd layout it had.
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
        return 0;
    }
    const std::string key = "zz-added-by-fuzzing";
    qdb::TQDB writer;
    writer.OnDemandPassword = db.OnDemandPassword;
    try {
        writer.SetFileName(path.toStdString());
        if (writer.FindKey(key))
            return 0;
        writer.AddItem("added", key);
        writer.Flush();
    } catch (const qdb::EQDBError&) {
        return 0;
    }
    // Read back while the writer is still open, as after a crash; an error
    // here escapes and counts as a failure.
    qdb::TQDB reader;
    reader.SetReadOnly(true);
    reader.OnDemandPassword = db.OnDemandPassword;
    reader.SetFileName(path.toStdString());
    if (!reader.FindKey(key) || reader.GetItem() != "added")
        __builtin_trap();
    reader.SetFileName("");
    writer.SetSaveOnClose(false);
    writer.SetReadOnly(true);
    writer.SetFileName("");
    return 0;
}
