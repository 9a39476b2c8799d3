#include "core/MainLoop.h"

#include <csignal>
#include <cstring>
#include <memory>

#include "core/Background.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "net/AdminServer.h"
#include "net/Server.h"
#include "net/SocketWait.h"

namespace {

constexpr int kBufferSize = 1024;

void runPeriodicTasks(ServerContext& context, unsigned due) {
    GameSession& session = *context.session;
    if ((due & Schedule::kHousekeeping) != 0) {
        session.handleChatFloodingPlayers(context.chatFloodMaxCount);
        session.resetChatFloodCountForAllPlayers();
        session.handleJoinFloodingPlayers();
        session.removeTimedOutPlayers(15);
        session.updateAllPlayerTimeouts(1);
        session.pingAllPlayers();
        session.reportSuppressedLogLines();
    }
    if ((due & Schedule::kSendPeriod) != 0) {
        context.server->resetBytesSentSinceReset();
        // The admin endpoint reads the same limit; without a new period of its own, its first
        // full period would silence it for good.
        context.adminServer->resetBytesSentSinceReset();
    }
    if ((due & Schedule::kClientCheck) != 0) session.handleClientCRCForAllPlayers();
    if ((due & Schedule::kTime) != 0) session.sendTime();
    if ((due & Schedule::kWeather) != 0) session.sendWeather();
    if ((due & Schedule::kClock) != 0) session.tickClock();
    if ((due & Schedule::kMetrics) != 0) writeMetrics(context, true);
}

// Datagrams read with one system call.
constexpr int kReadBatch = 32;

// Returns true when the port still had datagrams waiting after the cap.
bool drainGamePort(ServerContext& context, ReceivedDatagram* batch) {
    for (int handled = 0; handled < kMaxDatagramsPerTurn;) {
        int count = context.server->readBatch(batch, kReadBatch);
        if (count <= 0) return false;
        for (int i = 0; i < count; ++i) {
            ReceivedDatagram& datagram = batch[i];
            unsigned char* buffer = datagram.data;
            int length =
                context.session->decryptUniqueData(&datagram.from, buffer, datagram.length);
            if (length == -1) length = context.session->decryptGeneralData(buffer, datagram.length);
            if (length <= 0) continue;
            context.session->processCommand(static_cast<signed char>(buffer[0]), buffer + 1,
                                            &datagram.from, length);
        }
        handled += count;
        if (count < kReadBatch) return false;
    }
    return true;
}

bool drainAdminPort(ServerContext& context, unsigned char* buffer) {
    if (!context.adminEnabled) return false;
    sockaddr_in sender{};
    for (int handled = 0; handled < kMaxDatagramsPerTurn; ++handled) {
        int count = context.adminServer->readData(&sender, buffer, kBufferSize);
        if (count <= 0) return false;
        context.session->processAdminCommand(static_cast<signed char>(buffer[0]), buffer + 1,
                                             &sender, count);
    }
    return true;
}

bool shouldStop(const ServerContext& context) {
    return !context.server->isListening() || nKeepServerGoing == 0 || context.session->killServer();
}

}  // namespace

void runDueTasks(ServerContext& context, Schedule& schedule) {
    runPeriodicTasks(context, schedule.takeDue(Clock::monotonicSeconds()));
}

void runMainLoop(ServerContext& context) {
    // In background mode the handled signals are held back during a turn and let through only
    // inside the wait, so a SIGTERM can never slip in between the stop test and the wait.
    sigset_t waitMask;
    const sigset_t* waitMaskPtr = nullptr;
    if (context.background) {
        sigset_t handled;
        fillHandledSignals(&handled);
        sigprocmask(SIG_BLOCK, &handled, &waitMask);
        waitMaskPtr = &waitMask;
    }

    unsigned char buffer[kBufferSize];
    std::memset(buffer, 0, sizeof(buffer));
    auto batch = std::make_unique<ReceivedDatagram[]>(kReadBatch);
    Schedule schedule;
    schedule.start(Clock::monotonicSeconds());

    while (!shouldStop(context)) {
        if (nReopenLog != 0) {
            nReopenLog = 0;
            Log::getInstance()->reopenLog();
        }
        runDueTasks(context, schedule);
        bool backlog = drainGamePort(context, batch.get());
        backlog = drainAdminPort(context, buffer) || backlog;
        if (context.listingResponder) context.listingResponder->Update();

        // A backlog left by the caps is read at once; otherwise sleep until a datagram arrives
        // or the next periodic task is due.
        std::int64_t timeout = 0;
        if (!backlog) timeout = schedule.nextDue() * 1000 - Clock::monotonicMillis();
        int sockets[3] = {
            context.server->getSocketHandle(),
            context.adminEnabled ? context.adminServer->getSocketHandle() : -1,
            context.listingResponder ? context.listingResponder->getSocketHandle() : -1};
        waitForSockets(sockets, 3, timeout, waitMaskPtr);
    }
}
