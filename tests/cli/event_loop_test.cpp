// The logger's loop with real descriptors (pipes): handlers that change the watch list while a
// round is being handed out, and a hang-up that a handler answers by unwatching. Runs end on
// a timer or a handler's Quit, so nothing here depends on the machine's speed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "cli/event_loop.h"

namespace zuz::cli {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fd, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    int ReadEnd() const { return fd[0]; }
    void Send() { EXPECT_EQ(write(fd[1], "x", 1), 1); }
    void Drain() {
        char buffer[16];
        while (read(fd[0], buffer, sizeof buffer) > 0) {
        }
    }
    void CloseWriteEnd() {
        close(fd[1]);
        fd[1] = -1;
    }
};

TEST(EventLoopTest, DescriptorUnwatchedDuringARoundIsNotCalledInIt) {
    EventLoop loop;
    Pipe a, b;
    int aCalls = 0, bCalls = 0;
    // Whichever comes first in the round removes the other.
    loop.Watch(a.ReadEnd(), [&](short) {
        ++aCalls;
        a.Drain();
        loop.Unwatch(b.ReadEnd());
        loop.Quit();
    });
    loop.Watch(b.ReadEnd(), [&](short) {
        ++bCalls;
        b.Drain();
        loop.Unwatch(a.ReadEnd());
        loop.Quit();
    });
    a.Send();
    b.Send();
    loop.Run();
    EXPECT_EQ(aCalls + bCalls, 1);
}

TEST(EventLoopTest, HandlerMayAddWatchesWhileBeingCalled) {
    // Enough new entries to move the list's storage under the running handler.
    EventLoop loop;
    Pipe first;
    std::vector<Pipe> more(40);
    int added = 0, calledLater = 0;
    loop.Watch(first.ReadEnd(), [&](short) {
        first.Drain();
        for (Pipe& p : more) {
            loop.Watch(p.ReadEnd(), [&](short) {
                ++calledLater;
                p.Drain();
                if (calledLater == int(more.size())) loop.Quit();
            });
            ++added;
        }
        for (Pipe& p : more) p.Send();
        loop.Unwatch(first.ReadEnd());
    });
    first.Send();
    loop.Run();
    EXPECT_EQ(added, 40);
    EXPECT_EQ(calledLater, 40);
}

TEST(EventLoopTest, HangUpIsReportedAndUnwatchingEndsIt) {
    EventLoop loop;
    Pipe p;
    std::vector<short> seen;
    loop.Watch(p.ReadEnd(), [&](short revents) {
        seen.push_back(revents);
        p.Drain();
        if (revents & POLLHUP) loop.Unwatch(p.ReadEnd());
    });
    p.Send();
    p.CloseWriteEnd();
    // The loop goes on waiting after the hang-up; a timer ends the run.
    loop.onTimer = [&](unsigned) { loop.Quit(); };
    loop.StartTimer(1, 30);
    loop.Run();
    ASSERT_EQ(seen.size(), 1u) << "no call after unwatching";
    EXPECT_TRUE(seen[0] & POLLHUP);
    EXPECT_TRUE(seen[0] & POLLIN) << "bytes sent before the hang-up are still there to read";
    EXPECT_LE(loop.WakeUps(), 3u) << "the loop did not spin on the closed pipe";
}

}  // namespace
}  // namespace zuz::cli
