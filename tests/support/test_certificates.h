#pragma once
// Test certificates made with the openssl tool in a temporary folder (removed
// again with the object): a test CA, a second CA that nothing should trust,
// and server certificates signed by the test CA.
#include <string>

class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // False (with the reason in Error) when openssl is missing or failed.
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // Issues a certificate for subjectAltName (for example
    // "DNS:localhost,IP:127.0.0.1"); expired gives it a validity that ended
    // before it began. Returns the base path: base + ".crt" and base + ".key".
    std::string Issue(const std::string& name, const std::string& subjectAltName, bool expired = false);

    std::string CaFile() const { return dir_ + "/ca.crt"; }
    std::string OtherCaFile() const { return dir_ + "/other-ca.crt"; }

private:
    bool Run(const std::string& description, const std::string& command);
    std::string dir_;
    std::string error_;
};

// Sets SSL_CERT_FILE (and clears SSL_CERT_DIR) for the life of the object,
// restoring what was there before.
class TrustOnly {
public:
    explicit TrustOnly(const std::string& caFile);
    ~TrustOnly();
    TrustOnly(const TrustOnly&) = delete;
    TrustOnly& operator=(const TrustOnly&) = delete;

private:
    bool hadFile_ = false, hadDir_ = false;
    std::string file_, dir_;
};
