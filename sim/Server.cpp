#include "sim/Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/SimLog.h"
#include "sim/StateStore.h"
#include "sim/Unit.h"

namespace {
const int kListenBacklog = 16;
const int kRebindRetryMs = 100;
const int kMaxRebindAttempts = 50;

std::string Ipv4Text(uint32_t hostOrder) {
    char text[INET_ADDRSTRLEN];
    uint32_t n = htonl(hostOrder);
    inet_ntop(AF_INET, &n, text, sizeof text);
    return text;
}

struct SignalName {
    int signal;
    const char* name;
};
const SignalName kStopSignals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}};
}  // namespace

Server::Server(const SimConfig& config, Unit& unit, Faults& faults, StateStore* store)
    : config_(config), unit_(unit), faults_(faults), store_(store),
      discovery_(unit, faults, store, config.verbose) {}

Server::~Server() {
    DropConnections();
    Reap(true);
    if (listenFd_ >= 0) close(listenFd_);
    if (signalFd_ >= 0) close(signalFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

bool Server::OpenListener(std::string* error) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(config_.listenIp);
    a.sin_port = htons(tcpPort_);
    socklen_t len = sizeof a;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, (sockaddr*)&a, sizeof a) != 0 || listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, (sockaddr*)&a, &len) != 0) {
        *error = "cannot listen on tcp " + Ipv4Text(config_.listenIp) + ":" + std::to_string(tcpPort_) + ": " +
                 strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    listenFd_ = fd;
    tcpPort_ = ntohs(a.sin_port);
    return true;
}

bool Server::Open(std::string* error) {
    signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    for (const SignalName& s : kStopSignals) sigaddset(&stops, s.signal);
    // Blocked here, before any thread exists, so that only the signalfd sees them.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signalFd_ = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || wakeFd_ < 0) {
        *error = std::string("cannot set up signal handling: ") + strerror(errno);
        return false;
    }
    tcpPort_ = (uint16_t)config_.tcpPort;
    if (!OpenListener(error)) return false;
    int udpPort = config_.udpPort == kUdpPortSameAsTcp ? tcpPort_ : config_.udpPort;
    if (!discovery_.Open(config_.listenIp, udpPort, error)) return false;
    PrintListening();
    return true;
}

void Server::PrintListening() const {
    std::string ip = Ipv4Text(config_.listenIp);
    SimLog("listening tcp %s:%u udp %s:%u", ip.c_str(), tcpPort_, ip.c_str(), discovery_.Port());
}

void Server::Wake() {
    uint64_t one = 1;
    ssize_t n = write(wakeFd_, &one, sizeof one);
    (void)n;
}

void Server::RequestReboot() {
    rebootRequested_ = true;
    Wake();
}

void Server::ConnectionEnded() { Wake(); }

bool Server::WaitUnlessDropped(uint64_t epoch, uint32_t ms) {
    std::unique_lock<std::mutex> lock(epochMutex_);
    return epochChanged_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return epoch_ != epoch; });
}

void Server::Accept() {
    sockaddr_in peer = {}, local = {};
    socklen_t len = sizeof peer;
    int fd = accept4(listenFd_, (sockaddr*)&peer, &len, SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections_.size() >= kMaxConnections) {
        SimError("too many connections, refusing one");
        close(fd);
        return;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    len = sizeof local;
    getsockname(fd, (sockaddr*)&local, &len);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->peer = Ipv4Text(ntohl(peer.sin_addr.s_addr)) + ":" + std::to_string(ntohs(peer.sin_port));
    c->localIp = ntohl(local.sin_addr.s_addr);
    {
        std::lock_guard<std::mutex> lock(epochMutex_);
        c->epoch = epoch_;
    }
    Connection& ref = *c;
    connections_.push_back(std::move(c));
    ref.thread = std::thread(ServeConnection, std::ref(ref), std::ref(unit_), std::ref(faults_), store_,
                             config_.verbose, std::ref(static_cast<ConnectionHost&>(*this)));
}

void Server::Reap(bool all) {
    for (auto it = connections_.begin(); it != connections_.end();) {
        Connection& c = **it;
        if (!all && !c.done) {
            ++it;
            continue;
        }
        if (c.thread.joinable()) c.thread.join();
        close(c.fd);
        it = connections_.erase(it);
    }
}

void Server::DropConnections() {
    {
        std::lock_guard<std::mutex> lock(epochMutex_);
        ++epoch_;
    }
    epochChanged_.notify_all();
    // shutdown wakes a thread blocked in recv; the descriptor stays open until it is joined.
    for (auto& c : connections_) {
        c->dropped = true;
        if (!c->done) shutdown(c->fd, SHUT_RDWR);
    }
}

void Server::BeginReboot() {
    std::string applied;
    {
        std::lock_guard<std::mutex> lock(unit_.Mutex());
        applied = unit_.Reboot();
        if (store_) store_->SaveAll(unit_);
    }
    close(listenFd_);
    listenFd_ = -1;
    DropConnections();
    rebooting_ = true;
    rebindAttempts_ = 0;
    rebootEnds_ = Clock::now() + std::chrono::milliseconds(config_.rebootDelayMs);
    SimLog("rebooting: %s; back in %u ms", applied.c_str(), config_.rebootDelayMs);
}

bool Server::FinishReboot() {
    std::string error;
    if (OpenListener(&error)) {
        rebooting_ = false;
        PrintListening();
        return true;
    }
    if (++rebindAttempts_ >= kMaxRebindAttempts) {
        SimError("%s", error.c_str());
        return false;
    }
    rebootEnds_ = Clock::now() + std::chrono::milliseconds(kRebindRetryMs);
    return true;
}

int Server::Run() {
    for (;;) {
        pollfd fds[4] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {discovery_.Fd(), POLLIN, 0},
                         {listenFd_, POLLIN, 0}};
        nfds_t count = listenFd_ >= 0 ? 4 : 3;
        int timeout = -1;
        if (rebooting_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(rebootEnds_ - Clock::now()).count();
            timeout = left > 0 ? (int)left : 0;
        }
        int ready = poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) {
            SimError("poll: %s", strerror(errno));
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (read(signalFd_, &info, sizeof info) == (ssize_t)sizeof info) {
                const char* name = "signal";
                for (const SignalName& s : kStopSignals)
                    if ((int)info.ssi_signo == s.signal) name = s.name;
                SimLog("stopping on %s", name);
                break;
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t counter;
            ssize_t n = read(wakeFd_, &counter, sizeof counter);
            (void)n;
            if (rebootRequested_.exchange(false) && !rebooting_) BeginReboot();
            Reap(false);
        }
        if (fds[2].revents & POLLIN) discovery_.Serve(rebooting_);
        if (count == 4 && listenFd_ >= 0 && (fds[3].revents & POLLIN)) Accept();
        if (rebooting_ && Clock::now() >= rebootEnds_ && !FinishReboot()) return 1;
    }
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    DropConnections();
    Reap(true);
    if (store_) {
        std::lock_guard<std::mutex> lock(unit_.Mutex());
        store_->SaveAll(unit_);
    }
    SimLog("stopped");
    return 0;
}
