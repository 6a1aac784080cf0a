#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/XThread.h"
#include "platform/Event.h"
#include "ThreadCount.h"
#include "support/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

class Worker : public XThread {
public:
    std::atomic<platform::Event*> gate{nullptr};  // Run waits for it (at most 10 s) when set
    std::atomic<int> runs{0};
    std::atomic<int> runsDone{0};  // also orders the gate's last use before the test moves on
    std::atomic<int> exits{0};
    std::atomic<int> runningInRun{-1};

    int Run() override {
        runningInRun = IsRunning();
        ++runs;
        if (platform::Event* g = gate.load()) g->Wait(10000);
        ++runsDone;
        return 42;
    }
    void OnExit() override { ++exits; }
};

long long MillisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(XThreadTest, StopAndTerminateWithoutThreadChangeNothing) {
    Worker w;
    auto start = Clock::now();
    EXPECT_EQ(0, w.Stop(5000));
    EXPECT_EQ(0, w.Terminate());
    EXPECT_LT(MillisSince(start), 1000);
    EXPECT_EQ(0, w.IsRunning());
    EXPECT_EQ(0, w.runs.load());
}

TEST(XThreadTest, FinishedWorkerRanOnceAndStopReturnsAtOnce) {
    int threads = SettledThreadCount();
    Worker w;
    ASSERT_EQ(0, w.Start());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.exits == 1; }));
    EXPECT_EQ(1, w.runningInRun.load());
    EXPECT_EQ(0, w.IsRunning());
    auto start = Clock::now();
    EXPECT_EQ(0, w.Stop(5000));
    EXPECT_LT(MillisSince(start), 1000);
    EXPECT_EQ(1, w.runs.load());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
}

TEST(XThreadTest, StopRacingTheWorkersEndReleasesOnce) {
    Worker w;
    for (int i = 1; i <= 200; ++i) {
        ASSERT_EQ(0, w.Start());
        EXPECT_EQ(0, w.Stop(5000));
        EXPECT_EQ(0, w.IsRunning());
        ASSERT_EQ(i, w.exits.load());  // the worker finished in time, so it made its last call
    }
    EXPECT_EQ(200, w.runs.load());
}

TEST(XThreadTest, StopOfRunThatIgnoresItReturnsNearItsLimitAndRestartWorks) {
    int threads = SettledThreadCount();
    platform::Event oldGate(true, false), newGate(true, false);
    {
        Worker w;
        w.gate = &oldGate;
        ASSERT_EQ(0, w.Start());
        ASSERT_TRUE(testsupport::WaitUntil([&] { return w.IsRunning() == 1; }));
        auto start = Clock::now();
        EXPECT_EQ(0, w.Stop(100));
        EXPECT_GE(MillisSince(start), 90);
        EXPECT_LT(MillisSince(start), 3000);
        EXPECT_EQ(0, w.IsRunning());

        w.gate = &newGate;
        ASSERT_EQ(0, w.Start());
        ASSERT_TRUE(testsupport::WaitUntil([&] { return w.runs == 2 && w.IsRunning() == 1; }));
        // The abandoned worker ends now and must leave the new one's state alone.
        oldGate.Set();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return w.runsDone == 1; }));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads + 1; }));
        EXPECT_EQ(1, w.IsRunning());
        EXPECT_EQ(0, w.exits.load());
        newGate.Set();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return w.exits == 1; }));
        EXPECT_EQ(0, w.IsRunning());
    }
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
}

TEST(XThreadTest, TerminateLetsARunningWorkerGoAtOnce) {
    int threads = SettledThreadCount();
    platform::Event gate(true, false);
    Worker w;
    w.gate = &gate;
    ASSERT_EQ(0, w.Start());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.IsRunning() == 1; }));
    auto start = Clock::now();
    EXPECT_EQ(0, w.Terminate());
    EXPECT_LT(MillisSince(start), 1000);
    EXPECT_EQ(0, w.IsRunning());
    gate.Set();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.runsDone == 1; }));
    // No OnExit for a worker that was let go, even once its Run returns.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return testsupport::CountThreads() == threads; }));
    EXPECT_EQ(0, w.exits.load());
}

TEST(XThreadTest, LockIsRecursiveAndFreeAfterMatchingUnlocks) {
    CSafeCriticalSection lock;
    EXPECT_EQ(0, lock.Lock());
    EXPECT_EQ(0, lock.Lock());
    EXPECT_EQ(0, lock.Unlock());
    EXPECT_EQ(0, lock.Unlock());
    std::atomic<bool> taken{false};
    std::thread other([&] {
        lock.Lock();
        taken = true;
        lock.Unlock();
    });
    other.join();
    EXPECT_TRUE(taken);
}

}  // namespace
