// The discovery responder: answers a Modbus TCP frame that arrives as one UDP datagram
// (normally the read of file 1, record 0) with one datagram back to the sender's port.
#pragma once
#include <cstdint>
#include <string>

#include "sim/RequestHandler.h"

class DiscoveryResponder {
public:
    DiscoveryResponder(Unit& unit, Faults& faults, StateStore* store, bool verbose);
    ~DiscoveryResponder();
    // Binds ip:port (host order; port 0 picks one). False with *error on failure.
    bool Open(uint32_t ip, int port, std::string* error);
    int Fd() const { return fd_; }
    uint16_t Port() const { return port_; }
    // Takes one datagram off the socket; answers it unless ignore is set (a rebooting unit).
    void Serve(bool ignore);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    Faults& faults_;
    RequestHandler handler_;
    bool verbose_;
};
