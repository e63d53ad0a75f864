#include "mail/tls_net_socket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <QPointer>

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Decrypted bytes held at most before reading from the connection pauses
// until the reader catches up (the kernel's buffers then apply back-pressure).
constexpr std::size_t kPlainLimit = 256 * 1024;
constexpr int kReadChunk = 16 * 1024;

struct ErrorText {
    int number;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {tlserr::HandshakeFailed, "TLS handshake failed"},
    {tlserr::ProtocolVersion, "TLS protocol version not supported (TLS 1.2 or later is required)"},
    {tlserr::CertificateUntrusted, "Certificate not trusted"},
    {tlserr::NameMismatch, "Certificate name mismatch"},
    {tlserr::CertificateExpired, "Certificate expired"},
    {tlserr::CertificateNotYetValid, "Certificate not yet valid"},
    {tlserr::HandshakeTimedOut, "TLS handshake timed out"},
    {tlserr::ClosedInHandshake, "Connection closed during the TLS handshake"},
    {tlserr::StlsNotOffered, "The server does not offer STLS"},
    {tlserr::SetupFailed, "TLS could not be set up"},
};

std::string NameText(const X509_NAME* name)
{
    if (!name)
        return "(none)";
    BIO* out = BIO_new(BIO_s_mem());
    if (!out)
        return "(unknown)";
    X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text(data ? data : "", static_cast<std::size_t>(std::max(length, 0L)));
    BIO_free(out);
    return text;
}

// The newest OpenSSL error of this thread as text, or fallback.
std::string OpenSslErrorText(const char* fallback)
{
    const unsigned long e = ERR_peek_last_error();
    if (e == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(e);
    return reason ? reason : fallback;
}

bool IsIpAddress(const std::string& text)
{
    unsigned char address[16];
    return inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1;
}

}  // namespace

std::string TlsErrorText(int error)
{
    for (const ErrorText& t : kTexts)
        if (t.number == error)
            return t.text;
    return {};
}

// The BIO through which OpenSSL reaches the connection: it reads and writes
// through the layers below (SOCKS, the socket), never the descriptor itself,
// so that their bookkeeping of reads and the proxy's surplus bytes hold.
struct TlsBio {
    static TCustomTlsNetSocket* Socket(BIO* bio) { return static_cast<TCustomTlsNetSocket*>(BIO_get_data(bio)); }

    static int Write(BIO* bio, const char* data, int length)
    {
        BIO_clear_retry_flags(bio);
        const int n = Socket(bio)->LowerWrite(data, length);
        if (n == -2) {
            BIO_set_retry_write(bio);
            return -1;
        }
        return n;
    }

    static int Read(BIO* bio, char* buffer, int size)
    {
        BIO_clear_retry_flags(bio);
        const int n = Socket(bio)->LowerRead(buffer, size);
        if (n == -2) {
            BIO_set_retry_read(bio);
            return -1;
        }
        return n;
    }

    static long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

    static int Create(BIO* bio)
    {
        BIO_set_init(bio, 1);
        return 1;
    }

    static BIO_METHOD* Method()
    {
        // Created once and kept for the life of the process.
        static BIO_METHOD* method = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pellimar socket");
            if (m) {
                BIO_meth_set_write(m, Write);
                BIO_meth_set_read(m, Read);
                BIO_meth_set_ctrl(m, Control);
                BIO_meth_set_create(m, Create);
            }
            return m;
        }();
        return method;
    }
};

TCustomTlsNetSocket::TCustomTlsNetSocket(QObject* owner) : TCustomSocksNetSocket(owner)
{
    handshakeTimer_.setSingleShot(true);
    QObject::connect(&handshakeTimer_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Handshake)
            FinishHandshake(tlserr::HandshakeTimedOut,
                            "no answer from the server within " + std::to_string(handshakeTimeout_ / 1000) + " s");
    });
    writeRetry_.setSingleShot(true);
    QObject::connect(&writeRetry_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Handshake)
            ContinueHandshake();
    });
}

TCustomTlsNetSocket::~TCustomTlsNetSocket()
{
    FreeSession();
}

void TCustomTlsNetSocket::FreeSession()
{
    handshakeTimer_.stop();
    writeRetry_.stop();
    if (ssl_)
        SSL_free(ssl_);  // frees the BIO too
    ssl_ = nullptr;
    if (context_)
        SSL_CTX_free(context_);
    context_ = nullptr;
    phase_ = Phase::Off;
    plain_.clear();
    plainStart_ = 0;
    pendingWrite_ = 0;
    peerClosed_ = false;
}

void TCustomTlsNetSocket::ResetToDefaults()
{
    TCustomSocksNetSocket::ResetToDefaults();
    FreeSession();
}

// ---------------------------------------------------------------- handshake

void TCustomTlsNetSocket::StartTls(const std::string& serverName)
{
    if (State() != wsConnected) {
        ReportError("StartTls: socket not connected");
        return;
    }
    if (phase_ != Phase::Off) {
        ReportError("StartTls: TLS already started");
        return;
    }
    serverName_ = TrimSocketText(serverName);
    protocol_.clear();
    cipher_.clear();
    errorMessage_.clear();
    untrustedSubject_.clear();
    untrustedIssuer_.clear();
    phase_ = Phase::Handshake;

    // A context per session, so that the trust store is read as the
    // environment (SSL_CERT_FILE, SSL_CERT_DIR) says at this moment.
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    BIO* bio = TlsBio::Method() ? BIO_new(TlsBio::Method()) : nullptr;
    bool ready = context_ && bio && SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION) == 1 &&
                 SSL_CTX_set_default_verify_paths(context_) == 1;
    if (ready) {
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, VerifyCallback);
        SSL_CTX_set_options(context_, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        ssl_ = SSL_new(context_);
        ready = ssl_ != nullptr;
    }
    if (ready) {
        BIO_set_data(bio, this);
        SSL_set_bio(ssl_, bio, bio);
        bio = nullptr;
        SSL_set_app_data(ssl_, this);
        if (IsIpAddress(serverName_)) {
            ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), serverName_.c_str()) == 1;
        } else {
            SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            ready = !serverName_.empty() && SSL_set_tlsext_host_name(ssl_, serverName_.c_str()) == 1 &&
                    SSL_set1_host(ssl_, serverName_.c_str()) == 1;
        }
        SSL_set_connect_state(ssl_);
    }
    if (bio)
        BIO_free(bio);
    if (!ready) {
        const std::string why = "cannot use the server name \"" + serverName_ + "\"";
        FinishHandshake(tlserr::SetupFailed, OpenSslErrorText(why.c_str()));
        return;
    }
    if (handshakeTimeout_ > 0)
        handshakeTimer_.start(handshakeTimeout_);
    ContinueHandshake();
}

void TCustomTlsNetSocket::ContinueHandshake()
{
    if (phase_ != Phase::Handshake || !ssl_)
        return;
    writeRetry_.stop();
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
        FinishHandshake(0, {});
        return;
    }
    const int e = SSL_get_error(ssl_, rc);
    if (e == SSL_ERROR_WANT_READ && !peerClosed_)
        return;  // the next data notification continues
    if (e == SSL_ERROR_WANT_WRITE) {
        // The connection takes no more bytes right now; try again shortly.
        writeRetry_.start(10);
        return;
    }
    std::string message;
    const int error = ClassifyHandshakeFailure(message);
    FinishHandshake(error, message);
}

int TCustomTlsNetSocket::ClassifyHandshakeFailure(std::string& message)
{
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
        switch (verify) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            message = "the server's certificate is not valid for \"" + serverName_ + "\"";
            return tlserr::NameMismatch;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            message = "the server's certificate (" + untrustedSubject_ + ") has expired";
            return tlserr::CertificateExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            message = "the server's certificate (" + untrustedSubject_ + ") is not valid yet";
            return tlserr::CertificateNotYetValid;
        default:
            message = "subject \"" + untrustedSubject_ + "\", issuer \"" + untrustedIssuer_ + "\" (" +
                      X509_verify_cert_error_string(verify) + ")";
            return tlserr::CertificateUntrusted;
        }
    }
    if (peerClosed_) {
        message = "the server closed the connection";
        return tlserr::ClosedInHandshake;
    }
    const int reason = ERR_GET_REASON(ERR_peek_last_error());
    if (reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
        reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_VERSION_TOO_LOW) {
        message = OpenSslErrorText("no common protocol version");
        return tlserr::ProtocolVersion;
    }
    if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_PACKET_LENGTH_TOO_LONG) {
        message = "the server did not answer in TLS (is the port right for the chosen security?)";
        return tlserr::HandshakeFailed;
    }
    message = OpenSslErrorText("the connection broke");
    return tlserr::HandshakeFailed;
}

int TCustomTlsNetSocket::VerifyCallback(int ok, x509_store_ctx_st* store)
{
    if (ok)
        return ok;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<TCustomTlsNetSocket*>(SSL_get_app_data(ssl)) : nullptr;
    if (self && self->untrustedSubject_.empty()) {
        // The server's own certificate is what the user recognises.
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        self->untrustedSubject_ = leaf ? NameText(X509_get_subject_name(leaf)) : "(none)";
        self->untrustedIssuer_ = leaf ? NameText(X509_get_issuer_name(leaf)) : "(none)";
    }
    return ok;
}

void TCustomTlsNetSocket::FinishHandshake(int error, const std::string& message, bool closeAfterFailure)
{
    handshakeTimer_.stop();
    writeRetry_.stop();
    if (error == 0) {
        phase_ = Phase::Established;
        protocol_ = SSL_get_version(ssl_);
        cipher_ = SSL_get_cipher_name(ssl_);
    } else {
        errorMessage_ = TlsErrorText(error) + (message.empty() ? "" : ": " + message);
        FreeSession();
    }
    QPointer<TCustomTlsNetSocket> self(this);
    if (OnTlsDone)
        OnTlsDone(this, static_cast<std::uint16_t>(error));
    if (!self)
        return;
    if (error != 0) {
        if (closeAfterFailure && State() != wsClosed)
            Close();
        return;
    }
    // Whatever was queued while the handshake ran goes out now.
    if (!AllSent())
        TryToSend();
    // Bytes that came with the end of the handshake are offered at once.
    Pump();
    if (PlainCount() > 0)
        Post([this] {
            if (phase_ == Phase::Established && PlainCount() > 0)
                NotifyDataAvailable(0);
        });
}

// ---------------------------------------------------------------- data

int TCustomTlsNetSocket::LowerRead(char* buffer, int size)
{
    const int n = TCustomSocksNetSocket::RecvRaw(buffer, size, 0);
    if (n < 0 && PlatformError() == wsa::WouldBlock)
        return -2;
    // An orderly close and a reset both end the session.
    if (n <= 0)
        peerClosed_ = true;
    return n;
}

int TCustomTlsNetSocket::LowerWrite(const char* data, int length)
{
    const int n = TCustomSocksNetSocket::SendRaw(data, length);
    if (n < 0)
        return PlatformError() == wsa::WouldBlock ? -2 : -1;
    return n;
}

// Decrypts what the connection has into the plain-text buffer.
void TCustomTlsNetSocket::Pump()
{
    if (phase_ != Phase::Established || peerClosed_)
        return;
    if (plainStart_ > 0 && (plainStart_ == plain_.size() || plainStart_ >= kPlainLimit)) {
        plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(plainStart_));
        plainStart_ = 0;
    }
    while (PlainCount() < kPlainLimit) {
        const std::size_t old = plain_.size();
        plain_.resize(old + kReadChunk);
        ERR_clear_error();
        const int n = SSL_read(ssl_, plain_.data() + old, kReadChunk);
        plain_.resize(old + static_cast<std::size_t>(std::max(n, 0)));
        if (n > 0)
            continue;
        const int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
            return;
        peerClosed_ = true;
        if (e != SSL_ERROR_ZERO_RETURN && !(e == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0)) {
            // A broken record: nothing after it can be trusted.
            errorMessage_ = "TLS error: " + OpenSslErrorText("bad record");
            Post([this] {
                if (State() != wsClosed)
                    Abort();
            });
        }
        return;
    }
}

int TCustomTlsNetSocket::RcvdCount()
{
    if (phase_ == Phase::Off)
        return TCustomSocksNetSocket::RcvdCount();
    if (phase_ == Phase::Handshake)
        ContinueHandshake();
    Pump();
    return static_cast<int>(std::min<std::size_t>(PlainCount(), INT_MAX));
}

int TCustomTlsNetSocket::RecvRaw(char* buffer, int size, int flags)
{
    if (phase_ == Phase::Off)
        return TCustomSocksNetSocket::RecvRaw(buffer, size, flags);
    if (phase_ == Phase::Handshake)
        ContinueHandshake();
    Pump();
    if (phase_ != Phase::Established || (PlainCount() == 0 && !peerClosed_)) {
        SetPlatformError(wsa::WouldBlock);
        return -1;
    }
    const std::size_t n = std::min<std::size_t>(PlainCount(), static_cast<std::size_t>(std::max(size, 0)));
    std::memcpy(buffer, plain_.data() + plainStart_, n);
    plainStart_ += n;
    if (plainStart_ == plain_.size()) {
        plain_.clear();
        plainStart_ = 0;
    }
    ++plainTaken_;
    return static_cast<int>(n);
}

bool TCustomTlsNetSocket::NotifyDataAvailable(std::uint16_t error)
{
    if (phase_ == Phase::Off)
        return TCustomSocksNetSocket::NotifyDataAvailable(error);
    if (phase_ == Phase::Handshake) {
        // Handshake records are not the user's data.
        ContinueHandshake();
        if (phase_ != Phase::Established)
            return true;
        Pump();
        if (PlainCount() == 0)
            return true;
    }
    bool assigned = TCustomSocksNetSocket::NotifyDataAvailable(error);
    // The connection may have nothing more while decrypted bytes wait here:
    // keep offering them as long as the handler reads.
    while (assigned && phase_ == Phase::Established && PlainCount() > 0) {
        const unsigned long before = plainTaken_;
        assigned = TCustomSocksNetSocket::NotifyDataAvailable(error);
        if (plainTaken_ == before)
            break;
    }
    return assigned;
}

int TCustomTlsNetSocket::SendRaw(const char* data, int length)
{
    if (phase_ == Phase::Off)
        return TCustomSocksNetSocket::SendRaw(data, length);
    if (phase_ == Phase::Handshake) {
        SetPlatformError(wsa::WouldBlock);  // held until the session is up
        return -1;
    }
    // A write that could not finish must be repeated with the same length.
    if (pendingWrite_ > 0)
        length = std::min(length, pendingWrite_);
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, length);
    if (n > 0) {
        pendingWrite_ = 0;
        return n;
    }
    const int e = SSL_get_error(ssl_, n);
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
        pendingWrite_ = length;
        SetPlatformError(wsa::WouldBlock);
        return -1;
    }
    errorMessage_ = "TLS error: " + OpenSslErrorText("cannot send");
    SetPlatformError(wsa::ConnectionReset);
    return -1;
}

// ---------------------------------------------------------------- closing

void TCustomTlsNetSocket::NotifySessionClosed(std::uint16_t error)
{
    if (phase_ == Phase::Handshake)
        FinishHandshake(tlserr::ClosedInHandshake, "the server closed the connection", false);
    TCustomSocksNetSocket::NotifySessionClosed(error);
}

void TCustomTlsNetSocket::DoClose(bool shutdownFirst, std::uint16_t error)
{
    // A graceful close tells the server the session ends here (close_notify);
    // its answer is not waited for.
    if (shutdownFirst && phase_ == Phase::Established && ssl_ && State() == wsConnected && !peerClosed_) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
    }
    TCustomSocksNetSocket::DoClose(shutdownFirst, error);
}
