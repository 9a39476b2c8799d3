#include "FloorRelay.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ProcStat.h"

namespace zevload {

namespace {

constexpr int kBatch = 64;
constexpr int kMaxPeers = 1024;
constexpr int kBufferSize = 2048;

struct RelayState {
    sockaddr_in peers[kMaxPeers];
    int peerCount = 0;
    unsigned char buffers[kBatch][kBufferSize];
    sockaddr_in from[kBatch];
    iovec inVectors[kBatch];
    mmsghdr in[kBatch];
    mmsghdr out[kMaxPeers];
};

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

int findPeer(const RelayState& state, const sockaddr_in& address) {
    for (int i = 0; i < state.peerCount; ++i) {
        if (sameAddress(state.peers[i], address)) return i;
    }
    return -1;
}

// One copy to every registered peer but the sender, in one call (more only when the kernel
// takes fewer messages than offered).
void fanOut(RelayState& state, int fd, int sender, iovec* vector) {
    int count = 0;
    for (int i = 0; i < state.peerCount; ++i) {
        if (i == sender) continue;
        msghdr& header = state.out[count++].msg_hdr;
        header.msg_name = &state.peers[i];
        header.msg_iov = vector;
    }
    for (int done = 0; done < count;) {
        int sent = sendmmsg(fd, state.out + done, static_cast<unsigned>(count - done), 0);
        if (sent <= 0) return;
        done += sent;
    }
}

[[noreturn]] void runRelay(int fd) {
    static RelayState state;
    for (int i = 0; i < kBatch; ++i) {
        state.inVectors[i] = iovec{state.buffers[i], kBufferSize};
        msghdr& header = state.in[i].msg_hdr;
        header.msg_name = &state.from[i];
        header.msg_iov = &state.inVectors[i];
        header.msg_iovlen = 1;
    }
    for (mmsghdr& message : state.out) {
        message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
        message.msg_hdr.msg_iovlen = 1;
    }
    while (true) {
        for (int i = 0; i < kBatch; ++i) state.in[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        int count = recvmmsg(fd, state.in, kBatch, MSG_WAITFORONE, nullptr);
        if (count < 0) {
            if (errno == EINTR) continue;
            _exit(1);
        }
        for (int i = 0; i < count; ++i) {
            iovec vector{state.buffers[i], state.in[i].msg_len};
            int sender = findPeer(state, state.from[i]);
            if (sender < 0) {
                if (state.peerCount < kMaxPeers) state.peers[state.peerCount++] = state.from[i];
                sendto(fd, vector.iov_base, vector.iov_len, 0,
                       reinterpret_cast<const sockaddr*>(&state.from[i]), sizeof(sockaddr_in));
                continue;
            }
            fanOut(state, fd, sender, &vector);
        }
    }
}

}  // namespace

bool startFloorRelay(int cpu, FloorRelay* relay) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "zevload: cannot open the floor relay's socket: %s\n",
                     std::strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "zevload: cannot fork the floor relay: %s\n", std::strerror(errno));
        close(fd);
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(0);
        if (cpu < 0) unpin();
        if (cpu >= 0 && !pinToCpu(cpu)) {
            std::fprintf(stderr, "zevload: cannot pin the floor relay to CPU %d\n", cpu);
        }
        runRelay(fd);
    }
    close(fd);
    relay->pid = pid;
    relay->port = ntohs(address.sin_port);
    return true;
}

void stopFloorRelay(FloorRelay* relay) {
    if (relay->pid <= 0) return;
    kill(relay->pid, SIGKILL);
    waitpid(relay->pid, nullptr, 0);
    relay->pid = -1;
}

}  // namespace zevload
