#pragma once
// TLS on top of the (possibly proxied) connection. A connected socket turns
// into a TLS session with StartTls; the handshake runs on the event loop and
// ends with exactly one OnTlsDone. From then on Send, Receive and the line
// layer above carry plain text, which is encrypted and decrypted here.
//
// OpenSSL 3 does the work: TLS 1.2 or later, server name indication, the
// system trust store through OpenSSL's default verify paths (SSL_CERT_FILE
// and SSL_CERT_DIR apply), and the certificate checked against the host name
// or IP address the user gave. A failed check ends the session; there is no
// way to carry on unverified.
#include "mail/socks_net_socket.h"

#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;
struct x509_store_ctx_st;

// TLS error numbers, reported through OnTlsDone, the socket's LastError and
// the POP3 client's completion. The block 21001-21010 sits above the SOCKS
// numbers (20001-20015) and below nothing else the socket uses.
namespace tlserr {
constexpr int HandshakeFailed = 21001;
constexpr int ProtocolVersion = 21002;
constexpr int CertificateUntrusted = 21003;
constexpr int NameMismatch = 21004;
constexpr int CertificateExpired = 21005;
constexpr int CertificateNotYetValid = 21006;
constexpr int HandshakeTimedOut = 21007;
constexpr int ClosedInHandshake = 21008;
constexpr int StlsNotOffered = 21009;  // used by the POP3 client
constexpr int SetupFailed = 21010;
constexpr int First = HandshakeFailed, Last = SetupFailed;
}  // namespace tlserr

// The short text of a TLS error number; empty for numbers outside the block.
std::string TlsErrorText(int error);

class TCustomTlsNetSocket : public TCustomSocksNetSocket {
public:
    static constexpr int DefaultHandshakeTimeout = 60000;  // milliseconds

    explicit TCustomTlsNetSocket(QObject* owner = nullptr);
    ~TCustomTlsNetSocket() override;

    // Starts the client handshake on the connected socket. serverName is the
    // name the user typed (or an IP address): it is sent as SNI and the
    // certificate must match it. Reports misuse through ReportError.
    void StartTls(const std::string& serverName);

    // True once the handshake succeeded, until the connection closes.
    bool TlsActive() const { return phase_ == Phase::Established; }
    bool TlsHandshaking() const { return phase_ == Phase::Handshake; }
    // Agreed protocol version and cipher ("TLSv1.3", "TLS_AES_256_GCM_SHA384").
    const std::string& TlsProtocol() const { return protocol_; }
    const std::string& TlsCipher() const { return cipher_; }
    // The full text of the last TLS failure (names the certificate's subject
    // and issuer when it was not trusted).
    const std::string& TlsErrorMessage() const { return errorMessage_; }

    // Milliseconds the handshake may take (0: no limit).
    int HandshakeTimeout() const { return handshakeTimeout_; }
    void SetHandshakeTimeout(int milliseconds) { handshakeTimeout_ = milliseconds; }

    int RcvdCount() override;

    // Fires once per StartTls: 0 when the session is up, else a TLS error
    // number (the connection is then closed right after).
    TSessionConnected OnTlsDone;

protected:
    void ResetToDefaults() override;
    void DoClose(bool shutdownFirst, std::uint16_t error) override;
    int SendRaw(const char* data, int length) override;
    int RecvRaw(char* buffer, int size, int flags) override;
    bool NotifyDataAvailable(std::uint16_t error) override;
    void NotifySessionClosed(std::uint16_t error) override;

private:
    enum class Phase { Off, Handshake, Established };

    friend struct TlsBio;
    int LowerRead(char* buffer, int size);
    int LowerWrite(const char* data, int length);
    static int VerifyCallback(int ok, x509_store_ctx_st* store);

    void ContinueHandshake();
    void FinishHandshake(int error, const std::string& message, bool closeAfterFailure = true);
    int ClassifyHandshakeFailure(std::string& message);
    void Pump();
    std::size_t PlainCount() const { return plain_.size() - plainStart_; }
    void FreeSession();

    Phase phase_ = Phase::Off;
    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    std::string serverName_, protocol_, cipher_, errorMessage_;
    std::string untrustedSubject_, untrustedIssuer_;
    int handshakeTimeout_ = DefaultHandshakeTimeout;
    QTimer handshakeTimer_;
    QTimer writeRetry_;
    std::vector<char> plain_;  // decrypted bytes not read yet, from plainStart_
    std::size_t plainStart_ = 0;
    unsigned long plainTaken_ = 0;  // counts reads of decrypted bytes
    int pendingWrite_ = 0;  // length of an SSL_write that must be repeated
    bool peerClosed_ = false;
};
