#pragma once
// Line mode: cuts the incoming byte stream into lines ending in LineEnd and
// offers them one at a time through OnDataAvailable; the handler reads the
// line (terminator included) with Receive.
#include "mail/tls_net_socket.h"

#include <vector>

class TCustomLineNetSocket : public TCustomTlsNetSocket {
public:
    explicit TCustomLineNetSocket(QObject* owner = nullptr);

    bool LineMode() const { return lineMode_; }
    virtual void SetLineMode(bool value);
    const std::string& LineEnd() const { return lineEnd_; }
    void SetLineEnd(const std::string& value) { lineEnd_ = value; }
    // Bytes of the line being delivered (terminator included), 0 when none.
    int LineLength() const { return lineLength_; }
    int HeldCount() const { return heldCount_; }
    // While a line is being delivered: its remaining bytes; with line mode
    // off and bytes held: the held bytes; else what the network has waiting.
    int RcvdCount() override;

protected:
    bool NotifyDataAvailable(std::uint16_t error) override;
    int RecvRaw(char* buffer, int size, int flags) override;
    void NotifySessionClosed(std::uint16_t error) override;

private:
    void DeliverLines(std::uint16_t error);
    bool DeliverCurrentLine(std::uint16_t error);
    void Redeliver();
    void DropFront(int n);
    void Compact();

    std::vector<char> held_;  // from heldStart_: heldCount_ bytes, then a NUL
    int heldStart_ = 0;
    int heldCount_ = 0;
    int searchFrom_ = 0;
    std::string lineEnd_ = "\r\n";
    bool lineMode_ = false;
    int lineLength_ = 0;
};
