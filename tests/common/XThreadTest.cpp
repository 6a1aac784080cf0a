#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "common/XThread.h"
#include "platform/Event.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testsupport::WaitUntil;

class Worker : public XThread {
public:
    std::atomic<platform::Event*> gate{nullptr};  // Run waits for it (at most 10 s) when set
    std::atomic<int> runs{0}, runsDone{0}, exits{0};

    int Run() override {
        ++runs;
        if (platform::Event* g = gate.load()) g->Wait(10000);
        ++runsDone;  // also orders the gate's last use before the test moves on
        return 42;
    }
    void OnExit() override { ++exits; }
};

TEST(XThreadTest, StopReturnsAtOnceWithoutAWorkerAndAfterItFinishedEvenRacingItsEnd) {
    int threads = testsupport::SettledThreadCount();
    Worker w;
    auto start = Clock::now();
    EXPECT_EQ(0, w.Stop(5000));  // never started
    ASSERT_EQ(0, w.Start());
    ASSERT_TRUE(WaitUntil([&] { return w.exits == 1; }));
    EXPECT_EQ(0, w.Stop(5000));  // finished
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    for (int i = 2; i <= 200; ++i) {
        ASSERT_EQ(0, w.Start());
        EXPECT_EQ(0, w.Stop(5000));
        EXPECT_EQ(0, w.IsRunning());
        ASSERT_EQ(i, w.exits.load());  // the worker finished in time, so it made its last call
    }
    EXPECT_TRUE(WaitUntil([&] { return testsupport::CountThreads() == threads; }));
}

TEST(XThreadTest, StopOfRunThatIgnoresItReturnsNearItsLimitAndRestartWorks) {
    int threads = testsupport::SettledThreadCount();
    platform::Event oldGate(true, false), newGate(true, false);
    Worker w;
    w.gate = &oldGate;
    ASSERT_EQ(0, w.Start());
    ASSERT_TRUE(WaitUntil([&] { return w.IsRunning() == 1; }));
    auto start = Clock::now();
    EXPECT_EQ(0, w.Stop(100));
    EXPECT_GE(Clock::now() - start, milliseconds(90));
    EXPECT_LT(Clock::now() - start, milliseconds(3000));
    EXPECT_EQ(0, w.IsRunning());

    w.gate = &newGate;
    ASSERT_EQ(0, w.Start());
    ASSERT_TRUE(WaitUntil([&] { return w.runs == 2 && w.IsRunning() == 1; }));
    // The abandoned worker ends now and must leave the new one's state alone.
    oldGate.Set();
    ASSERT_TRUE(WaitUntil([&] { return w.runsDone == 1 && testsupport::CountThreads() == threads + 1; }));
    EXPECT_EQ(1, w.IsRunning());
    EXPECT_EQ(0, w.exits.load());
    newGate.Set();
    ASSERT_TRUE(WaitUntil([&] { return w.exits == 1; }));
    EXPECT_EQ(0, w.IsRunning());
}

TEST(XThreadTest, LockIsRecursiveAndFreeAfterMatchingUnlocks) {
    // Two threads in turn take the lock twice and release it twice. One that
    // hangs on it is let go (it shares the lock) so that the test still ends.
    auto lock = std::make_shared<CSafeCriticalSection>();
    auto done = std::make_shared<std::atomic<int>>(0);
    for (int i = 1; i <= 2; ++i) {
        std::thread t([lock, done] { lock->Lock(), lock->Lock(), lock->Unlock(), lock->Unlock(), ++*done; });
        bool ended = WaitUntil([&] { return *done == i; });
        ended ? t.join() : t.detach();
        ASSERT_TRUE(ended);
    }
}

}  // namespace
