#include "sim/Connection.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "sim/MbapFrame.h"
#include "sim/RequestHandler.h"
#include "sim/SimLog.h"

namespace {
// A client that stops in the middle of a frame is given this long to send the rest.
const int kPartialFrameTimeoutSec = 5;
const size_t kReceiveBuffer = 2 * kMaxAduSize;

void SetReceiveTimeout(int fd, int seconds) {
    timeval tv = {seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

// False when the connection is to end after this answer.
bool Answer(Connection& c, const RequestOutcome& outcome, const uint8_t* answer, ConnectionHost& host,
            bool verbose) {
    if (outcome.answerSize == 0) return true;
    if (outcome.plan.delayMs && host.WaitUnlessDropped(c.epoch, outcome.plan.delayMs)) return false;
    if (outcome.plan.close) {
        size_t cut = outcome.plan.closeAfterBytes < outcome.answerSize ? outcome.plan.closeAfterBytes
                                                                       : outcome.answerSize;
        SendAll(c.fd, answer, cut);
        if (verbose) SimLog("%s closed after %zu answer bytes (close fault)", c.peer.c_str(), cut);
        return false;
    }
    return SendAll(c.fd, answer, outcome.answerSize);
}
}  // namespace

void ServeConnection(Connection& c, Unit& unit, Faults& faults, StateStore* store, bool verbose,
                     ConnectionHost& host) {
    RequestHandler handler(unit, faults, store, verbose);
    RequestContext context;
    context.localIp = c.localIp;
    context.peer = c.peer.c_str();
    uint8_t in[kReceiveBuffer];
    uint8_t answer[kMaxAduSize];
    size_t have = 0;
    bool timed = false;
    if (verbose) SimLog("%s connected", c.peer.c_str());
    const char* why = "closed by the client";
    for (;;) {
        size_t frameSize = 0;
        FrameScan scan = ScanFrame(in, have, &frameSize);
        if (scan == FrameScan::kComplete) {
            RequestOutcome outcome = handler.Handle(in, frameSize, answer, context);
            memmove(in, in + frameSize, have - frameSize);
            have -= frameSize;
            bool goOn = Answer(c, outcome, answer, host, verbose);
            if (outcome.reboot) host.RequestReboot();
            if (!goOn) {
                why = c.dropped ? "dropped by the unit" : "closed by the unit (fault)";
                break;
            }
            continue;
        }
        if (scan == FrameScan::kMalformed) {
            why = "malformed frame, closed";
            break;
        }
        // Idle between frames may last any time; inside a frame it is bounded.
        if ((have > 0) != timed) {
            timed = have > 0;
            SetReceiveTimeout(c.fd, timed ? kPartialFrameTimeoutSec : 0);
        }
        ssize_t n = recv(c.fd, in + have, sizeof in - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            why = "incomplete frame timed out, closed";
            break;
        }
        if (n <= 0) {
            if (c.dropped) why = "dropped by the unit";
            break;
        }
        have += (size_t)n;
    }
    shutdown(c.fd, SHUT_RDWR);
    if (verbose) SimLog("%s %s", c.peer.c_str(), why);
    c.done = true;
    host.ConnectionEnded();
}
