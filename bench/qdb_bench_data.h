#pragma once
// Data shared by the catalogue benchmarks: catalogue records in their stored
// layout, and Group 3 fax data made by ghostscript.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace qdb_bench {

inline std::string Field(const std::string& text)
{
    std::string out;
    const uint32_t n = uint32_t(text.size() + 1);
    for (int i = 0; i < 4; ++i)
        out.push_back(char((n >> (8 * i)) & 0xFF));
    return out + text + '\0';
}

inline std::string RecordKey(int i)
{
    return "faxes\\fax" + std::to_string(100000 + i) + ".apf";
}

// One catalogue record: file name, mail date, sender, fax date, status.
inline std::string Record(int i)
{
    const int day = 1 + i % 28, month = 1 + i % 12, hour = 1 + i % 12, minute = i % 60;
    char date[32];
    std::snprintf(date, sizeof date, "%02d/%02d/2026 %02d:%02d %s", month, day, hour, minute, i % 2 ? "PM" : "AM");
    return Field(RecordKey(i)) + Field(date) + Field("+49 30 " + std::to_string(5550000 + i % 977)) + Field(date) +
           Field(i % 3 ? "Viewed" : "New");
}

inline std::string Records(size_t bytes)
{
    std::string out;
    for (int i = 0; out.size() < bytes; ++i)
        out += Record(i);
    return out;
}

// A text page rendered by ghostscript's faxg3 device, repeated to the size.
inline std::string FaxData(size_t bytes)
{
    char ps[] = "/tmp/qdb_bench_XXXXXX";
    const int fd = mkstemp(ps);
    const std::string page =
        "/Courier findfont 11 scalefont setfont\n"
        "0 1 60 { /i exch def 40 780 i 12 mul sub moveto (Invoice 2026-12-08  Customer account 4711  "
        "Amount due 1234.56 EUR  line ) show i 10 string cvs show } for\nshowpage\n";
    if (write(fd, page.data(), page.size()) != ssize_t(page.size()))
        std::abort();
    close(fd);
    const std::string g3 = std::string(ps) + ".g3";
    const std::string command = "gs -q -dNOPAUSE -dBATCH -sDEVICE=faxg3 -r204x196 -sOutputFile=" + g3 + " " + ps;
    if (std::system(command.c_str()) != 0)
        std::abort();
    std::ifstream in(g3, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    unlink(ps);
    unlink(g3.c_str());
    std::string out;
    while (out.size() < bytes)
        out += s.str();
    return out.substr(0, bytes);
}

} // namespace qdb_bench
