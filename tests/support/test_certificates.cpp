#include "tests/support/test_certificates.h"

#include <QDir>

#include <cstdlib>
#include <fstream>

namespace {

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void Restore(const char* name, bool had, const std::string& value)
{
    if (had)
        setenv(name, value.c_str(), 1);
    else
        unsetenv(name);
}

} // namespace

TestCertificates::TestCertificates()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellimar-certs-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error_ = "cannot create the certificate folder";
        return;
    }
    dir_ = pattern;
    for (const char* ca : {"ca", "other-ca"}) {
        const std::string base = dir_ + "/" + ca;
        if (!Run(std::string("make ") + ca,
                 "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj " +
                     Quote(std::string("/CN=Pellimar Test ") + ca) + " -keyout " + Quote(base + ".key") +
                     " -out " + Quote(base + ".crt") + " -addext basicConstraints=critical,CA:TRUE"))
            return;
    }
}

TestCertificates::~TestCertificates()
{
    if (!dir_.empty())
        QDir(QString::fromStdString(dir_)).removeRecursively();
}

bool TestCertificates::Run(const std::string& description, const std::string& command)
{
    if (!error_.empty())
        return false;
    const std::string log = dir_ + "/openssl.log";
    if (std::system((command + " >>" + Quote(log) + " 2>&1").c_str()) == 0)
        return true;
    std::ifstream in(log);
    error_ = description + " failed: " + std::string(std::istreambuf_iterator<char>(in), {});
    return false;
}

std::string TestCertificates::Issue(const std::string& name, const std::string& subjectAltName, bool expired)
{
    const std::string base = dir_ + "/" + name;
    const std::string ext = base + ".ext";
    std::ofstream(ext) << "subjectAltName=" << subjectAltName << "\nextendedKeyUsage=serverAuth\n";
    Run("request for " + name, "openssl req -newkey rsa:2048 -nodes -subj " + Quote("/CN=" + name) + " -keyout " +
                                   Quote(base + ".key") + " -out " + Quote(base + ".csr"));
    // -days -1 ends the validity a day before it starts.
    Run("certificate for " + name, "openssl x509 -req -in " + Quote(base + ".csr") + " -CA " + Quote(CaFile()) +
                                       " -CAkey " + Quote(dir_ + "/ca.key") + " -CAcreateserial -days " +
                                       (expired ? "-1" : "2") + " -extfile " + Quote(ext) + " -out " +
                                       Quote(base + ".crt"));
    return base;
}

TrustOnly::TrustOnly(const std::string& caFile)
{
    if (const char* f = std::getenv("SSL_CERT_FILE")) {
        hadFile_ = true;
        file_ = f;
    }
    if (const char* d = std::getenv("SSL_CERT_DIR")) {
        hadDir_ = true;
        dir_ = d;
    }
    setenv("SSL_CERT_FILE", caFile.c_str(), 1);
    // No folder either, so that only the given CA is trusted.
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
}

TrustOnly::~TrustOnly()
{
    Restore("SSL_CERT_FILE", hadFile_, file_);
    Restore("SSL_CERT_DIR", hadDir_, dir_);
}
