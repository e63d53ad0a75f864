#pragma once
// Drives a TPop3Client request by request in tests and benchmarks: starts a
// request, runs the event loop until its OnRequestDone, and keeps what the
// client reported.
#include "mail/pop3_client.h"

#include <functional>
#include <string>
#include <vector>

struct Pop3Done {
    TPop3Request request;
    std::uint16_t error;
};

class Pop3Session {
public:
    explicit Pop3Session(const std::string& port, const std::string& host = "127.0.0.1");

    // Runs one request to its end; returns the error of its OnRequestDone,
    // or -1 when it did not finish within the limit.
    int Run(const std::function<void()>& start, int limitMs = 30000);

    TPop3Client client;
    std::vector<Pop3Done> done;
    std::vector<std::string> display;
    std::vector<std::string> lines;  // OnMessageLine / OnListLine / OnUidlLine, in order
    int sessionClosed = 0;
};
