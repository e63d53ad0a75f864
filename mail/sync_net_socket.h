#pragma once
// The synchronous wait on top of the line socket, and TNetSocket, the socket
// class the rest of the program uses.
#include "mail/line_net_socket.h"

#include <functional>

class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
    static constexpr int WaitTimedOut = 12001;

    explicit TCustomSyncNetSocket(QObject* owner = nullptr);

    // Milliseconds; 0 waits without limit.
    int SyncTimeout() const { return syncTimeout_; }
    void SetSyncTimeout(int value) { syncTimeout_ = value; }

    // Lets events run until an event handler sets flag; 0 then, 12001 when
    // the time-out passed or the application is shutting down.
    virtual int WaitForFlag(volatile char& flag);
    // Clears flag, runs procedure(data) if given, then waits for the flag.
    virtual int RunAndWait(volatile char& flag, const std::function<void(void*)>& procedure, void* data);

private:
    int syncTimeout_ = 0;
};

class TNetSocket : public TCustomSyncNetSocket {
public:
    explicit TNetSocket(QObject* owner = nullptr) : TCustomSyncNetSocket(owner) {}
};
