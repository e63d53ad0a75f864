#pragma once
// Non-blocking TCP/UDP socket driven by events on the GUI thread.
//
// Every operation returns at once; progress arrives later as events. The
// platform layer is a non-blocking POSIX socket watched by QSocketNotifiers;
// readiness is turned into the connect / read / write / accept / close
// notifications and handled in that fixed order. Errors are reported with
// Windows Sockets numbers (see socket_errors.h).
#include "mail/buffer.h"
#include "mail/net_socket_resolve.h"
#include "mail/socket_errors.h"

#include <QObject>
#include <QPointer>

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <QSocketNotifier>

enum TSocketState {
    wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

using TDataAvailable = std::function<void(QObject* Sender, std::uint16_t Error)>;
using TDataSent = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionAvailable = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TDnsLookupDone = TDataAvailable;
using TChangeState = std::function<void(QObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TNotifyEvent = std::function<void(QObject* Sender)>;

class TCustomNetSocket : public QObject {
public:
    // Event bits of a socket notification.
    enum : unsigned { FdRead = 1, FdWrite = 2, FdAccept = 8, FdConnect = 16, FdClose = 32 };

    explicit TCustomNetSocket(QObject* owner = nullptr);
    ~TCustomNetSocket() override;
    TCustomNetSocket(const TCustomNetSocket&) = delete;
    TCustomNetSocket& operator=(const TCustomNetSocket&) = delete;

    // --- properties
    const std::string& Addr() const { return addr_; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return port_; }
    virtual void SetPort(const std::string& value);
    const std::string& Proto() const { return proto_; }
    virtual void SetProto(const std::string& value);
    const std::string& DnsResult() const { return dnsResult_; }
    const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
    TSocketState State() const { return state_; }
    int ReadCount() const { return readCount_; }
    // Bytes waiting to be read; -1 (and an "ioctlSocket" error) if the query fails.
    virtual int RcvdCount();
    int LastError() const { return lastError_; }
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool value) { multiThreaded_ = value; }
    int FlushTimeout() const { return flushTimeout_; }
    void SetFlushTimeout(int value) { flushTimeout_ = value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(int value);
    TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
    void SetLingerOnOff(TSocketLingerOnOff value) { lingerOnOff_ = value; }
    int LingerTimeout() const { return lingerTimeout_; }
    void SetLingerTimeout(int value) { lingerTimeout_ = value; }
    int Handle() const { return handle_; }
    std::uint16_t LocalPortNumber() const { return localPort_; }
    bool AllSent() const { return allSent_; }

    // --- operations
    virtual void Connect();
    virtual void Close();
    virtual void Abort();
    virtual void Flush();
    virtual void DrainUntilClosed();
    virtual void Listen();
    virtual int Accept();
    int Receive(void* buffer, int size);
    std::string ReceiveStr();
    int ReceiveFrom(void* buffer, int size, sockaddr_in& from, socklen_t& fromLength);
    int Send(const void* data, int length);
    int SendStr(const std::string& text);
    void DnsLookup(const std::string& hostName);
    void ReverseDnsLookup(const std::string& dottedAddress);
    void CancelDnsLookup();
    std::string PeerAddress();
    int PeerName(sockaddr_in& name, socklen_t& length);
    std::string LocalPort();
    int LocalName(sockaddr_in& name, socklen_t& length);
    void Dup(int handle);
    void Shutdown(int how);
    int Pause();
    int Resume();

    // --- events (an empty function is unassigned and skipped)
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionConnected OnSocksConnected;
    TChangeState OnChangeState;
    TNotifyEvent OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;

protected:
    // Handles one socket notification; ignored unless it belongs to the
    // current handle and session and the socket is not paused.
    virtual void HandleSocketEvent(int handle, unsigned session, unsigned bits, std::uint16_t error);
    virtual void ResetToDefaults();
    virtual void DoClose(bool shutdownFirst, std::uint16_t error);
    virtual void BindLocal();
    virtual int SendRaw(const char* data, int length);
    virtual void ReportError(const std::string& message);
    void ReportSocketError(const std::string& function);
    virtual bool NotifyDataAvailable(std::uint16_t error);
    virtual void NotifySessionAvailable(std::uint16_t error);
    virtual void NotifySessionConnected(std::uint16_t error);
    virtual void NotifySessionClosed(std::uint16_t error);
    virtual void NotifyDataSent(std::uint16_t error);
    virtual void NotifyChangeState(TSocketState oldState, TSocketState newState);
    virtual void NotifyDnsLookupDone(std::uint16_t error);
    virtual void NotifyError();
    // One receive from the layer below; -1 with the error in PlatformError().
    virtual int RecvRaw(char* buffer, int size, int flags);

    void SetState(TSocketState value);
    void TryToSend();
    // Lets pending events run (the owning thread's queue).
    void ProcessMessages();
    // Lets events run, sleeping until one comes or maxMilliseconds passed.
    void WaitForEvents(int maxMilliseconds);
    // The platform's count of waiting bytes, -1 on failure (no report).
    int PlatformWaitingCount();
    // The last platform error, as a Windows Sockets number.
    int PlatformError() const { return platformError_; }
    void SetPlatformError(int error) { platformError_ = error; }
    // Counts platform receives, so that a pass that consumed nothing is seen.
    unsigned long PlatformReads() const { return platformReads_; }
    bool Destroying() const { return destroying_; }
    bool ClosedNotified() const { return closedNotified_; }
    void SetClosedNotified(bool value) { closedNotified_ = value; }
    // Runs fn from the event loop unless this socket is gone by then.
    void Post(std::function<void()> fn);
    // Whether a notification belongs to the current handle and session and
    // is not to be ignored (the socket is not paused).
    bool IsCurrentEvent(int handle, unsigned session) const
    {
        return handle == handle_ && session == session_ && !paused_ && handle_ != -1;
    }
    // Makes the next Connect go to this address instead of resolving Addr
    // and Port (used when a proxy stands between the socket and Addr).
    void SetResolvedRemote(const TSocketAddress& address);

private:
    bool ChangeTarget(std::string& field, bool& assigned, bool& resolved, const std::string& value,
                      const char* refusal);
    bool OpenHandle(const char* prefix, const char* socketFunction);
    void ReceiveLoop(std::uint16_t error);
    void ApplyLinger();
    bool SetBoolOption(int level, int option, const char* function);
    void AsyncSelect(unsigned mask, const char* function);
    void UpdateNotifiers();
    void DropNotifiers();
    void OnReadable();
    void OnWritable();
    void ClearChain();
    void Resolve(const char* prefix);
    void StartLookup(const std::string& name, bool reverse);
    void LookupFinished(int id, bool reverse, std::uint16_t error, std::vector<std::string> results);
    int CloseHandleNow();
    void FailConnect(const char* function);

    int handle_ = -1;
    unsigned session_ = 0;  // changes with every adopted handle
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = false;
    bool addrResolved_ = false, portResolved_ = false, protoResolved_ = false;
    std::uint16_t localPort_ = 0;
    int acceptedHandle_ = -1;
    int flushTimeout_ = 60;
    std::deque<TBuffer> chain_;
    int chunkSize_ = TBuffer::DefaultSize;
    int sendFlags_ = 0;
    int lastError_ = 0;
    int platformError_ = 0;
    TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
    int lingerTimeout_ = 0;
    bool allSent_ = true;
    bool paused_ = false;
    bool closedNotified_ = false;
    int readCount_ = 0;
    std::string dnsResult_;
    std::vector<std::string> dnsResultList_;
    bool multiThreaded_ = false;
    int pendingLookup_ = -1;
    bool destroying_ = false;
    std::string addr_, port_, proto_ = "tcp";
    std::uint16_t portNumber_ = 0;
    int socketType_ = 1;  // 1 stream, 2 datagram
    int protocolNumber_ = 6;
    TSocketAddress remote_;
    TSocketState state_ = wsClosed;

    unsigned selectMask_ = 0;
    bool readSuspended_ = false;  // a read/accept readiness went unanswered
    bool acceptCalled_ = false;
    unsigned long platformReads_ = 0;
    // Children of the socket; dropped with deleteLater because a notifier
    // may be dropped from inside its own activation.
    QPointer<QSocketNotifier> readNotifier_;
    QPointer<QSocketNotifier> writeNotifier_;
};
