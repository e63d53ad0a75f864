#include "mail/net_socket.h"

#include "mail/net_socket_resolve.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr unsigned kMaskAll = TCustomNetSocket::FdRead | TCustomNetSocket::FdWrite | TCustomNetSocket::FdAccept |
                              TCustomNetSocket::FdConnect | TCustomNetSocket::FdClose;  // 59
constexpr unsigned kMaskConnected = kMaskAll & ~TCustomNetSocket::FdAccept;               // 51
constexpr unsigned kMaskListening = kMaskAll & ~TCustomNetSocket::FdConnect;              // 43

bool SetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int LastErrno()
{
    return WinSockErrorFromErrno(errno);
}

}  // namespace

TCustomNetSocket::TCustomNetSocket(QObject* owner) : QObject(owner)
{
    ResetToDefaults();
}

TCustomNetSocket::~TCustomNetSocket()
{
    destroying_ = true;
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (state_ != wsClosed)
            DoClose(true, 0);
    } catch (...) {
    }
    CloseHandleNow();
}

// ---------------------------------------------------------------- properties

// The shared rule of the Addr, Port and Proto setters.
bool TCustomNetSocket::ChangeTarget(std::string& field, bool& assigned, bool& resolved, const std::string& value,
                                    const char* refusal)
{
    if (assigned && value == field)
        return false;
    if (state_ != wsClosed) {
        ReportError(refusal);
        return false;
    }
    field = TrimSocketText(value);
    resolved = false;
    assigned = !field.empty();
    return true;
}

void TCustomNetSocket::SetAddr(const std::string& value)
{
    ChangeTarget(addr_, addrAssigned_, addrResolved_, value, "Cannot change Addr if not closed");
}

void TCustomNetSocket::SetPort(const std::string& value)
{
    ChangeTarget(port_, portAssigned_, portResolved_, value, "Cannot change Port if not closed");
}

void TCustomNetSocket::SetProto(const std::string& value)
{
    ChangeTarget(proto_, protoAssigned_, protoResolved_, value, "Cannot change Proto if not closed");
}

TSocketSendFlags TCustomNetSocket::SendFlags()
{
    if (sendFlags_ != 0 && sendFlags_ != 1)
        ReportError("Invalid internal SendFlags");
    return sendFlags_ == 1 ? wsSendUrgent : wsSendNormal;
}

void TCustomNetSocket::SetSendFlags(int value)
{
    if (value != wsSendNormal && value != wsSendUrgent) {
        ReportError("Invalid SendFlags");
        return;
    }
    sendFlags_ = value == wsSendUrgent ? MSG_OOB : 0;
}

int TCustomNetSocket::RcvdCount()
{
    const int n = PlatformWaitingCount();
    if (n < 0)
        ReportSocketError("ioctlSocket");
    return n;
}

int TCustomNetSocket::PlatformWaitingCount()
{
    int n = 0;
    if (handle_ == -1 || ioctl(handle_, FIONREAD, &n) != 0) {
        platformError_ = handle_ == -1 ? wsa::NotSocket : LastErrno();
        return -1;
    }
    return n;
}

// ---------------------------------------------------------------- state and errors

void TCustomNetSocket::SetState(TSocketState value)
{
    const TSocketState old = state_;
    state_ = value;
    NotifyChangeState(old, value);
}

void TCustomNetSocket::ResetToDefaults()
{
    remote_ = TSocketAddress::Any(AF_INET);
    addrAssigned_ = portAssigned_ = false;
    addrResolved_ = portResolved_ = protoResolved_ = false;
    proto_ = "tcp";
    protoAssigned_ = true;
    protocolNumber_ = 6;
    socketType_ = 1;
    lingerOnOff_ = wsLingerOn;
    lingerTimeout_ = 0;
    handle_ = -1;
    state_ = wsClosed;
    allSent_ = true;
    paused_ = false;
    readCount_ = 0;
    closedNotified_ = false;
    flushTimeout_ = 60;
}

void TCustomNetSocket::ReportError(const std::string& message)
{
    if (OnError) {
        NotifyError();
        return;
    }
    throw ESocketException(message);
}

void TCustomNetSocket::ReportSocketError(const std::string& function)
{
    const int n = platformError_;
    const std::string text = "Error " + std::to_string(n) + " in function " + function + "\r\n" + SocketErrorText(n);
    if (n == wsa::ConnectionReset || n == wsa::NotConnected) {
        CloseHandleNow();
        SetState(wsClosed);
    }
    lastError_ = n;
    ReportError(text);
}

void TCustomNetSocket::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TCustomNetSocket::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TCustomNetSocket::WaitForEvents(int maxMilliseconds)
{
    // A timer bounds the wait so that a loop re-checks its condition even
    // when no socket event comes; the thread sleeps in between.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(std::max(maxMilliseconds, 1));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// ---------------------------------------------------------------- notifications

bool TCustomNetSocket::NotifyDataAvailable(std::uint16_t error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, error);
    return true;
}

void TCustomNetSocket::NotifySessionAvailable(std::uint16_t error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, error);
}

void TCustomNetSocket::NotifySessionConnected(std::uint16_t error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, error);
}

void TCustomNetSocket::NotifySessionClosed(std::uint16_t error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, error);
}

void TCustomNetSocket::NotifyDataSent(std::uint16_t error)
{
    if (OnDataSent)
        OnDataSent(this, error);
}

void TCustomNetSocket::NotifyChangeState(TSocketState oldState, TSocketState newState)
{
    if (OnChangeState)
        OnChangeState(this, oldState, newState);
}

void TCustomNetSocket::NotifyDnsLookupDone(std::uint16_t error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TCustomNetSocket::NotifyError()
{
    if (OnError)
        OnError(this);
}

// ---------------------------------------------------------------- platform watching

void TCustomNetSocket::AsyncSelect(unsigned mask, const char* function)
{
    if (handle_ == -1) {
        platformError_ = wsa::NotSocket;
        ReportSocketError(function);
        return;
    }
    selectMask_ = mask;
    readSuspended_ = false;
    if (!readNotifier_) {
        readNotifier_ = new QSocketNotifier(handle_, QSocketNotifier::Read, this);
        connect(readNotifier_.data(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
        writeNotifier_ = new QSocketNotifier(handle_, QSocketNotifier::Write, this);
        connect(writeNotifier_.data(), &QSocketNotifier::activated, this, [this] { OnWritable(); });
    }
    UpdateNotifiers();
}

void TCustomNetSocket::UpdateNotifiers()
{
    if (!readNotifier_)
        return;
    const bool live = handle_ != -1 && !paused_ && state_ != wsClosed;
    const bool wantRead = live && state_ != wsConnecting && !readSuspended_ &&
                          (selectMask_ & (FdRead | FdAccept | FdClose));
    const bool wantWrite = live && ((state_ == wsConnecting && (selectMask_ & FdConnect)) ||
                                    (state_ != wsConnecting && !allSent_ && (selectMask_ & FdWrite)));
    if (readNotifier_->isEnabled() != wantRead)
        readNotifier_->setEnabled(wantRead);
    if (writeNotifier_->isEnabled() != wantWrite)
        writeNotifier_->setEnabled(wantWrite);
}

void TCustomNetSocket::DropNotifiers()
{
    for (QPointer<QSocketNotifier>* notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
        }
        *notifier = nullptr;
    }
    selectMask_ = 0;
}

// Turns read readiness into read, accept or close notifications.
void TCustomNetSocket::OnReadable()
{
    const int handle = handle_;
    if (handle == -1)
        return;
    if (state_ == wsListening && socketType_ == 1) {
        acceptCalled_ = false;
        HandleSocketEvent(handle, session_, FdAccept, 0);
        if (!acceptCalled_ && handle_ == handle) {
            // Nobody accepted: wait for Accept instead of spinning.
            readSuspended_ = true;
            UpdateNotifiers();
        }
        return;
    }
    if (socketType_ != 1) {
        HandleSocketEvent(handle, session_, FdRead, 0);
        return;
    }
    if (PlatformWaitingCount() > 0) {
        HandleSocketEvent(handle, session_, FdRead, 0);
        return;
    }
    char probe = 0;
    const ssize_t n = ::recv(handle, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        HandleSocketEvent(handle, session_, FdRead, 0);
    } else if (n == 0) {
        HandleSocketEvent(handle, session_, FdClose, 0);
    } else if (errno != EAGAIN && errno != EINTR) {
        HandleSocketEvent(handle, session_, FdClose, static_cast<std::uint16_t>(LastErrno()));
    }
}

// Turns write readiness into the connect result or a write notification.
void TCustomNetSocket::OnWritable()
{
    const int handle = handle_;
    if (handle == -1)
        return;
    if (state_ == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        HandleSocketEvent(handle, session_, FdConnect, static_cast<std::uint16_t>(WinSockErrorFromErrno(err)));
        return;
    }
    HandleSocketEvent(handle, session_, FdWrite, 0);
}

void TCustomNetSocket::HandleSocketEvent(int handle, unsigned session, unsigned bits, std::uint16_t error)
{
    if (handle != handle_ || session != session_ || paused_ || handle_ == -1)
        return;
    // Exceptions from handlers end the dispatch here; they never reach the
    // event loop.
    try {
        if (bits & FdConnect) {
            if (error != 0)
                lastError_ = error;
            SetState(wsConnected);
            NotifySessionConnected(error);
            if (error != 0 && state_ != wsClosed)
                Close();
        }
        if ((bits & FdRead) && handle == handle_)
            ReceiveLoop(error);
        if ((bits & FdWrite) && handle == handle_) {
            TryToSend();
            if (allSent_ && OnDataSent)
                NotifyDataSent(error);
        }
        if ((bits & FdAccept) && handle == handle_)
            NotifySessionAvailable(error);
        if ((bits & FdClose) && handle == handle_ && state_ != wsConnecting) {
            ReceiveLoop(0);
            if (OnSessionClosed && !closedNotified_) {
                closedNotified_ = true;
                NotifySessionClosed(error);
            }
            if (state_ != wsClosed)
                Close();
        }
    } catch (...) {
    }
    if (handle == handle_)
        UpdateNotifiers();
}

void TCustomNetSocket::ReceiveLoop(std::uint16_t error)
{
    try {
        for (;;) {
            const unsigned long readsBefore = platformReads_;
            lastError_ = 0;
            if (!NotifyDataAvailable(error)) {
                char discard[1024];
                if (RecvRaw(discard, sizeof discard, 0) < 0) {
                    if (platformError_ == wsa::WouldBlock) {
                        lastError_ = 0;
                        break;
                    }
                    lastError_ = platformError_;
                }
            }
            if (lastError_ != 0 || handle_ == -1)
                break;
            const int waiting = PlatformWaitingCount();
            if (waiting < 0) {
                lastError_ = platformError_;
                break;
            }
            if (waiting == 0)
                break;
            if (platformReads_ == readsBefore) {
                // The handler left the waiting bytes alone: stop offering them
                // until it reads again, instead of calling it forever.
                readSuspended_ = true;
                break;
            }
        }
    } catch (...) {
    }
}

// ---------------------------------------------------------------- connect and listen

void TCustomNetSocket::Resolve(const char* prefix)
{
    try {
        if (!protoResolved_) {
            protocolNumber_ = NetSocketResolveProto(proto_);
            socketType_ = protocolNumber_ == 17 ? 2 : 1;
            protoResolved_ = true;
        }
        if (!portResolved_) {
            portNumber_ = NetSocketResolvePort(port_, proto_);
            remote_.SetPort(portNumber_);
            portResolved_ = true;
        }
        if (!addrResolved_) {
            remote_ = NetSocketResolveAddress(addr_);
            remote_.SetPort(portNumber_);
            addrResolved_ = true;
        }
    } catch (const std::runtime_error& e) {
        throw ESocketException(std::string(prefix) + e.what());
    }
}

void TCustomNetSocket::SetResolvedRemote(const TSocketAddress& address)
{
    remote_ = address;
    portNumber_ = address.Port();
    addrResolved_ = portResolved_ = true;
}

// Resolves what changed since the last time, empties the send chain and
// creates the platform socket; false (after a report) on failure.
bool TCustomNetSocket::OpenHandle(const char* prefix, const char* socketFunction)
{
    try {
        Resolve(prefix);
    } catch (const ESocketException& e) {
        ReportError(e.what());
        return false;
    }
    ClearChain();
    const int fd = ::socket(remote_.Family(), (socketType_ == 2 ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            protocolNumber_);
    if (fd < 0) {
        platformError_ = LastErrno();
        ReportSocketError(socketFunction);
        return false;
    }
    handle_ = fd;
    ++session_;
    return true;
}

void TCustomNetSocket::Connect()
{
    if (handle_ != -1 && state_ != wsClosed) {
        ReportError("Connect: Socket already in use");
        return;
    }
    if (!portAssigned_) {
        ReportError("Connect: No Port Specified");
        return;
    }
    if (!addrAssigned_) {
        ReportError("Connect: No IP Address Specified");
        return;
    }
    if (!protoAssigned_) {
        ReportError("Connect: No Protocol Specified");
        return;
    }
    lastError_ = 0;
    if (!OpenHandle("connect: ", "Connect (socket)"))
        return;
    const int fd = handle_;
    SetState(wsOpened);
    if (socketType_ == 2) {
        BindLocal();
        if (handle_ == -1)
            return;
        if (remote_.IsIPv4Broadcast() && !SetBoolOption(SOL_SOCKET, SO_BROADCAST, "setsockopt(SO_BROADCAST)"))
            return;
    } else {
        ApplyLinger();
        if (!SetBoolOption(SOL_SOCKET, SO_KEEPALIVE, "setsockopt(SO_KEEPALIVE)") ||
            !SetBoolOption(SOL_SOCKET, SO_REUSEADDR, "setsockopt(SO_REUSEADDR)"))
            return;
    }
    if (socketType_ == 2) {
        AsyncSelect(kMaskAll, "WSAAsyncSelect");
        SetState(wsConnected);
        UpdateNotifiers();
        NotifySessionConnected(0);
        return;
    }
    const int rc = ::connect(fd, remote_.Get(), remote_.length);
    if (rc == 0 || errno == EINPROGRESS || errno == EAGAIN) {
        SetState(wsConnecting);
        AsyncSelect(kMaskAll, "WSAAsyncSelect");
        if (rc == 0)
            UpdateNotifiers();  // the write readiness reports the connect
        return;
    }
    // Refused at once (no route, a broadcast or multicast address): reported
    // from the event loop like a connect that failed later, which closes the
    // socket, so that the next Connect starts afresh.
    const int error = LastErrno();
    lastError_ = error;
    SetState(wsConnecting);
    const unsigned session = session_;
    Post([this, fd, session, error] { HandleSocketEvent(fd, session, FdConnect, static_cast<std::uint16_t>(error)); });
}

// A failure while setting up a new connection: the handle is closed before
// the report, so that the socket is ready for the next Connect.
void TCustomNetSocket::FailConnect(const char* function)
{
    const int error = platformError_;
    CloseHandleNow();
    SetState(wsClosed);
    ResetToDefaults();
    platformError_ = error;
    ReportSocketError(function);
}

bool TCustomNetSocket::SetBoolOption(int level, int option, const char* function)
{
    const int on = 1;
    if (setsockopt(handle_, level, option, &on, sizeof on) == 0)
        return true;
    platformError_ = LastErrno();
    FailConnect(function);
    return false;
}

void TCustomNetSocket::ApplyLinger()
{
    if (lingerOnOff_ == wsLingerNoSet)
        return;
    if (handle_ == -1) {
        ReportError("Cannot set linger option at this time");
        return;
    }
    linger value{};
    value.l_onoff = lingerOnOff_ == wsLingerOn ? 1 : 0;
    value.l_linger = lingerTimeout_ & 0xFFFF;
    if (setsockopt(handle_, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
        platformError_ = LastErrno();
        ReportSocketError("setsockopt(SO_LINGER)");
    }
}

void TCustomNetSocket::BindLocal()
{
    TSocketAddress local = TSocketAddress::Any(remote_.Family());
    if (::bind(handle_, local.Get(), local.length) != 0) {
        ReportError("winsock.bind failed, error #" + std::to_string(LastErrno()));
        return;
    }
    local.length = sizeof local.storage;
    if (getsockname(handle_, local.Get(), &local.length) != 0) {
        ReportError("winsock.getsockname failed, error #" + std::to_string(LastErrno()));
        return;
    }
    localPort_ = local.Port();
}

void TCustomNetSocket::Listen()
{
    const char* missing = !portAssigned_ ? "listen: port not assigned"
                          : !protoAssigned_ ? "listen: protocol not assigned"
                          : !addrAssigned_  ? "listen: address not assigned"
                                            : nullptr;
    if (missing) {
        platformError_ = wsa::InvalidArgument;
        ReportSocketError(missing);
        return;
    }
    if (!OpenHandle("listen: ", "socket"))
        return;
    const int fd = handle_;
    if (::bind(fd, remote_.Get(), remote_.length) != 0) {
        platformError_ = LastErrno();
        lastError_ = platformError_;
        const std::string text = "Error " + std::to_string(platformError_) + " in function Bind\r\n" +
                                 SocketErrorText(platformError_);
        CloseHandleNow();
        ResetToDefaults();
        ReportError(text);
        return;
    }
    SetState(wsBound);
    if (socketType_ == 2) {
        SetState(wsListening);
        SetState(wsConnected);
        AsyncSelect(kMaskListening, "WSAASyncSelect");
        NotifySessionConnected(0);
        return;
    }
    if (::listen(fd, 5) != 0) {
        platformError_ = LastErrno();
        ReportSocketError("Listen");
        return;
    }
    SetState(wsListening);
    AsyncSelect(kMaskListening, "WSAASyncSelect");
}

int TCustomNetSocket::Accept()
{
    if (state_ != wsListening) {
        platformError_ = wsa::InvalidArgument;
        ReportSocketError("not a listening socket");
        return -1;
    }
    acceptCalled_ = true;
    if (readSuspended_) {
        readSuspended_ = false;
        UpdateNotifiers();
    }
    remote_.length = sizeof remote_.storage;
    const int fd = ::accept4(handle_, remote_.Get(), &remote_.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        platformError_ = LastErrno();
        ReportSocketError("Accept");
        return -1;
    }
    acceptedHandle_ = fd;
    return fd;
}

void TCustomNetSocket::Dup(int handle)
{
    if (handle <= 0) {
        platformError_ = wsa::InvalidArgument;
        ReportSocketError("Dup");
        return;
    }
    if (state_ != wsClosed) {
        if (CloseHandleNow() != 0) {
            ReportSocketError("Dup (closesocket)");
            return;
        }
        SetState(wsClosed);
    }
    if (!SetNonBlocking(handle)) {
        platformError_ = LastErrno();
        ReportSocketError("Dup");
        return;
    }
    handle_ = handle;
    ++session_;
    socketType_ = 1;
    ApplyLinger();
    AsyncSelect(kMaskConnected, "WSAAsyncSelect");
    SetState(wsConnected);
    UpdateNotifiers();
}

// ---------------------------------------------------------------- closing

int TCustomNetSocket::CloseHandleNow()
{
    DropNotifiers();
    if (handle_ == -1)
        return 0;
    const int fd = handle_;
    handle_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        platformError_ = LastErrno();
        return -1;
    }
    return 0;
}

void TCustomNetSocket::Close()
{
    DoClose(true, 0);
}

void TCustomNetSocket::Abort()
{
    CancelDnsLookup();
    ClearChain();
    if (state_ == wsConnected) {
        lingerOnOff_ = wsLingerOff;
        ApplyLinger();
    }
    DoClose(false, 0);
}

void TCustomNetSocket::DoClose(bool shutdownFirst, std::uint16_t error)
{
    if (handle_ == -1) {
        if (state_ != wsClosed) {
            state_ = wsClosed;
            ResetToDefaults();
        }
        return;
    }
    if (state_ == wsClosed)
        return;
    if (shutdownFirst)
        ::shutdown(handle_, SHUT_WR);
    if (CloseHandleNow() != 0) {
        lastError_ = platformError_;
        SetState(wsClosed);
        ResetToDefaults();
        ReportSocketError("Disconnect (closesocket)");
        return;
    }
    SetState(wsClosed);
    if (!destroying_ && !closedNotified_ && OnSessionClosed) {
        closedNotified_ = true;
        NotifySessionClosed(error);
    }
    try {
        ResetToDefaults();
    } catch (...) {
    }
}

void TCustomNetSocket::Shutdown(int how)
{
    if (handle_ != -1)
        ::shutdown(handle_, how);
}

int TCustomNetSocket::Pause()
{
    paused_ = true;
    UpdateNotifiers();
    return 0;
}

int TCustomNetSocket::Resume()
{
    paused_ = false;
    if (handle_ != -1)
        AsyncSelect(kMaskConnected, "WSAAsyncSelect");
    return 0;
}

// ---------------------------------------------------------------- receiving

int TCustomNetSocket::RecvRaw(char* buffer, int size, int flags)
{
    if (handle_ == -1) {
        platformError_ = wsa::NotSocket;
        return -1;
    }
    ++platformReads_;
    if (readSuspended_) {
        readSuspended_ = false;
        UpdateNotifiers();
    }
    const ssize_t n = ::recv(handle_, buffer, static_cast<size_t>(std::max(size, 0)), flags | MSG_DONTWAIT);
    if (n < 0) {
        platformError_ = LastErrno();
        return -1;
    }
    return static_cast<int>(n);
}

int TCustomNetSocket::Receive(void* buffer, int size)
{
    const int n = RecvRaw(static_cast<char*>(buffer), size, 0);
    if (n < 0)
        lastError_ = platformError_;
    else
        readCount_ += n;
    return n;
}

std::string TCustomNetSocket::ReceiveStr()
{
    const int n = RcvdCount();
    if (n <= 0)
        return {};
    std::string text(static_cast<size_t>(n), '\0');
    const int got = RecvRaw(text.data(), n, 0);
    if (got <= 0)
        return {};
    readCount_ += got;
    text.resize(static_cast<size_t>(got));
    return text;
}

int TCustomNetSocket::ReceiveFrom(void* buffer, int size, sockaddr_in& from, socklen_t& fromLength)
{
    if (handle_ == -1) {
        lastError_ = platformError_ = wsa::NotSocket;
        return -1;
    }
    ++platformReads_;
    if (readSuspended_) {
        readSuspended_ = false;
        UpdateNotifiers();
    }
    const ssize_t n = ::recvfrom(handle_, buffer, static_cast<size_t>(std::max(size, 0)), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        lastError_ = platformError_ = LastErrno();
        return -1;
    }
    readCount_ += static_cast<int>(n);
    return static_cast<int>(n);
}

void TCustomNetSocket::DrainUntilClosed()
{
    while (handle_ != -1 && state_ != wsClosed) {
        ProcessMessages();
        const int n = PlatformWaitingCount();
        if (n < 0)
            break;
        if (n > 0)
            NotifyDataAvailable(0);
        if (handle_ == -1)
            break;
        char probe = 0;
        const ssize_t rc = ::recv(handle_, &probe, 0, MSG_DONTWAIT);
        if (rc < 0 && errno != EAGAIN)
            break;
        WaitForEvents(100);
    }
}

// ---------------------------------------------------------------- sending

void TCustomNetSocket::ClearChain()
{
    chain_.clear();
}

int TCustomNetSocket::Send(const void* data, int length)
{
    if (state_ != wsConnected) {
        platformError_ = wsa::NotConnected;
        ReportSocketError("Send");
        return -1;
    }
    allSent_ = false;
    if (length < 0)
        length = 0;
    const char* bytes = static_cast<const char*>(data);
    int done = 0;
    while (done < length) {
        if (chain_.empty() || chain_.back().WriteCount() >= chain_.back().Size())
            chain_.emplace_back(chunkSize_);
        done += chain_.back().Write(bytes + done, length - done);
    }
    TryToSend();
    if (allSent_) {
        // OnDataSent always comes from the event loop, after Send returned.
        const int handle = handle_;
        const unsigned session = session_;
        Post([this, handle, session] { HandleSocketEvent(handle, session, FdWrite, 0); });
    }
    UpdateNotifiers();
    return length;
}

int TCustomNetSocket::SendStr(const std::string& text)
{
    return Send(text.data(), static_cast<int>(text.size()));
}

int TCustomNetSocket::SendRaw(const char* data, int length)
{
    ssize_t n;
    if (socketType_ == 2)
        n = ::sendto(handle_, data, static_cast<size_t>(length), sendFlags_ | MSG_NOSIGNAL, remote_.Get(),
                     remote_.length);
    else
        n = ::send(handle_, data, static_cast<size_t>(length), sendFlags_ | MSG_NOSIGNAL);
    if (n < 0) {
        platformError_ = LastErrno();
        return -1;
    }
    return static_cast<int>(n);
}

void TCustomNetSocket::TryToSend()
{
    if (handle_ == -1 || chain_.empty())
        return;
    for (;;) {
        TBuffer& first = chain_.front();
        auto [data, length] = first.Peek();
        if (length > 0) {
            const int n = SendRaw(data, length);
            if (n < 0) {
                const int err = platformError_;
                if (err == wsa::InvalidArgument || err == wsa::NotSocket || err == wsa::ConnectionReset ||
                    err == wsa::NotConnected) {
                    closedNotified_ = true;
                    Close();
                    NotifySessionClosed(static_cast<std::uint16_t>(err));
                } else if (err != wsa::WouldBlock) {
                    ReportSocketError("TryToSend failed");
                }
                break;
            }
            if (n == 0)
                break;
            first.Remove(n);
            if (n < length)
                break;
        } else if (chain_.size() > 1) {
            chain_.pop_front();
        } else {
            allSent_ = true;
            break;
        }
    }
    UpdateNotifiers();
}

void TCustomNetSocket::Flush()
{
    while (handle_ != -1 && !allSent_) {
        TryToSend();
        if (handle_ != -1 && !allSent_)
            WaitForEvents(100);
    }
}

// ---------------------------------------------------------------- addresses

std::string TCustomNetSocket::PeerAddress()
{
    if (state_ != wsConnected)
        return "error";
    TSocketAddress peer;
    peer.length = sizeof peer.storage;
    if (getpeername(handle_, peer.Get(), &peer.length) != 0) {
        if (socketType_ == 2)
            return remote_.Numeric();
        return "error";
    }
    return peer.Numeric();
}

int TCustomNetSocket::PeerName(sockaddr_in& name, socklen_t& length)
{
    if (state_ != wsConnected)
        return -1;
    if (getpeername(handle_, reinterpret_cast<sockaddr*>(&name), &length) != 0) {
        platformError_ = LastErrno();
        ReportSocketError("GetPeerName");
        return -1;
    }
    return 0;
}

std::string TCustomNetSocket::LocalPort()
{
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening)
        return "error";
    TSocketAddress local;
    local.length = sizeof local.storage;
    if (getsockname(handle_, local.Get(), &local.length) != 0)
        return "error";
    return std::to_string(local.Port());
}

int TCustomNetSocket::LocalName(sockaddr_in& name, socklen_t& length)
{
    if (handle_ == -1)
        return -1;
    return getsockname(handle_, reinterpret_cast<sockaddr*>(&name), &length);
}
