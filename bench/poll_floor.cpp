// The least that polling a bus costs on this machine: a loop that does only what a poller
// cannot avoid, 20 times a second (sleep until the next 50 ms tick, read the reply waiting on
// the terminal, write an 8-byte request), against a child that answers every request at once
// on a pseudo-terminal. Its CPU time per second is the floor under zuzavadi-log's figure: on a
// virtual machine a wake-up and a terminal write can cost far more than on bare hardware.
//
//   zuzavadi-poll-floor [SECONDS]     default 60
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

[[noreturn]] void Answer(int master) {
    unsigned char request[64];
    unsigned char reply[20] = {0xAA, 0x55, 20, 0x82};
    for (;;) {
        if (read(master, request, sizeof request) <= 0) _exit(0);
        if (write(master, reply, sizeof reply) < 0) _exit(0);
    }
}

long long NsUntil(const timespec& when) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (when.tv_sec - now.tv_sec) * 1000000000LL + (when.tv_nsec - now.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: zuzavadi-poll-floor [SECONDS]\n");
        return 2;
    }
    int master = -1, slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        close(slave);
        Answer(master);
    }
    close(master);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);

    const unsigned char request[8] = {0xAA, 0x55, 8, 0x02, 1, 0, 0, 0};
    unsigned char reply[100];
    timespec tick{};
    clock_gettime(CLOCK_MONOTONIC, &tick);
    for (int i = 0; i < seconds * 20; ++i) {
        tick.tv_nsec += 50000000;
        if (tick.tv_nsec >= 1000000000) {
            tick.tv_nsec -= 1000000000;
            ++tick.tv_sec;
        }
        for (long long ns; (ns = NsUntil(tick)) > 0;) {
            const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            pollfd hangUp{slave, 0, 0};
            ppoll(&hangUp, 1, &wait, nullptr);
        }
        // The reply to the last request, if it has come; a poller has nothing else to do with it.
        [[maybe_unused]] const ssize_t got = read(slave, reply, sizeof reply);
        if (write(slave, request, sizeof request) != static_cast<ssize_t>(sizeof request)) {
            std::perror("write");
            return 1;
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    std::printf("floor: %d s of 20 requests a second on a pseudo-terminal, nothing else: %.1f ms, %.2f ms per second = %.3f %% of one core\n",
                seconds, ms, ms / seconds, ms / seconds / 10);
    close(slave);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return 0;
}
