// Catalogue files can be damaged or replaced: opening any bytes as a
// catalogue and reading every item either works or throws the database's own
// error. A file that opens then takes two more items, one per flush: after
// each flush the file holds them, whatever odd layout it had.
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
    // Two flushes, each read back while the writer is still open, as after
    // a crash; an error while reading back escapes and counts as a failure.
    qdb::TQDB writer;
    writer.OnDemandPassword = db.OnDemandPassword;
    const std::string keys[2] = {"zz-added-by-fuzzing", "zz-added-by-fuzzing-too"};
    for (int round = 0; round < 2; ++round) {
        try {
            if (round == 0)
                writer.SetFileName(path.toStdString());
            if (writer.FindKey(keys[round]))
                return 0;
            writer.AddItem("added " + std::to_string(round), keys[round]);
            writer.Flush();
        } catch (const qdb::EQDBError&) {
            return 0;
        }
        qdb::TQDB reader;
        reader.SetReadOnly(true);
        reader.OnDemandPassword = db.OnDemandPassword;
        reader.SetFileName(path.toStdString());
        for (int added = 0; added <= round; ++added)
            if (!reader.FindKey(keys[added]) || reader.GetItem() != "added " + std::to_string(added))
                __builtin_trap();
        reader.SetFileName("");
    }
    writer.SetSaveOnClose(false);
    writer.SetReadOnly(true);
    writer.SetFileName("");
    return 0;
}
