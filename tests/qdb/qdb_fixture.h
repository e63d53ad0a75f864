#pragma once
// Shared fixture of the engine tests: a private folder for the database and
// the working files, and small file helpers.
#include "qdb/file_routines.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

// Database files written byte by byte, for damage the engine never writes.
namespace qdb_bytes {
inline std::string Int32(int32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
    return s;
}
inline std::string File(const std::string& data, const std::string& index)
{
    return std::string("QDB\0", 4) + Int32(int32_t(data.size())) + data + std::string("QIX\0", 4) +
           Int32(int32_t(index.size())) + index;
}
inline std::string Entry(const std::string& key, int32_t offset, int32_t size, int32_t flags)
{
    return key + '\0' + Int32(offset) + Int32(size) + Int32(flags);
}
} // namespace qdb_bytes

class QdbFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = Path("tmp");
        mkdir(temp.c_str(), 0700);
        qdb::TempFolder = temp;
    }
    void TearDown() override { qdb::TempFolder.clear(); }

    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void WriteFile(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    int WorkingFileCount() const
    {
        int n = 0;
        DIR* d = opendir(temp.c_str());
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }

    QTemporaryDir dir;
    std::string temp;
};
