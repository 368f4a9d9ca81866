// The wait and pause machinery on its own: a thread bound to a context, no
// driver. The device threads are tested through the simulated driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/pattern.h"
#include "engine/waitgate.h"
#include "testsupport.h"

namespace {

double ElapsedMs(int64_t since) { return TicksToMilliseconds(MonotonicNow() - since); }

// A worker thread bound to its own context, running one job.
class BoundWorker {
public:
    explicit BoundWorker(void (*job)(BoundWorker*)) : job_(job) {
        EXPECT_TRUE(PrepareWaitGate());
        EXPECT_TRUE(OpenWaitContext(&context, &run));
        thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
        EXPECT_NE(nullptr, thread_);
    }
    ~BoundWorker() {
        Stop();
        Join(5000);
        if (thread_) CloseHandle(thread_);
        CloseWaitContext(&context);
    }
    void Stop() {
        run = 0;
        WakeForStop(&context);
    }
    bool Join(DWORD ms) { return WaitForSingleObject(thread_, ms) == WAIT_OBJECT_0; }

    WaitContext context {};
    volatile int32_t run = 1;
    volatile LONG started = 0;
    volatile LONG done = 0;
    volatile LONG result = -1;
    volatile LONG writes = 0;
    double heldMs[8] = {};

private:
    static DWORD WINAPI Main(LPVOID p) {
        auto* self = static_cast<BoundWorker*>(p);
        BindWaitContext(&self->context);
        InterlockedExchange(&self->started, 1);
        self->job_(self);
        InterlockedExchange(&self->done, 1);
        return 0;
    }
    void (*job_)(BoundWorker*);
    HANDLE thread_ = nullptr;
};

// A device thread's cycle in small: count a write, then wait.
void WriteAndWaitLoop(BoundWorker* w, uint32_t total, uint32_t slice) {
    while (w->run) {
        if (BeginLedWrite(&w->context)) {
            InterlockedIncrement(&w->writes);
            EndLedWrite(&w->context);
        }
        SleepWhileRunning(total, slice, &w->run);
    }
}

}  // namespace

TEST(SleepWhileRunning, WholeSlicesOnlyAndShortWaitsWhole) {
    BoundWorker worker([](BoundWorker* w) {
        w->run = 0;
        int64_t t0 = MonotonicNow();
        SleepWhileRunning(1000, 100, &w->run);
        w->heldMs[0] = ElapsedMs(t0);
        t0 = MonotonicNow();
        SleepWhileRunning(80, 100, &w->run);
        w->heldMs[1] = ElapsedMs(t0);
        w->run = 1;
        for (int i = 2; i < 7; ++i) {
            t0 = MonotonicNow();
            SleepWhileRunning(390, 200, &w->run);
            w->heldMs[i] = ElapsedMs(t0);
        }
    });
    ASSERT_TRUE(worker.Join(10000));
    EXPECT_LT(worker.heldMs[0], 150.0) << "a stopped flag ends a long wait at once";
    EXPECT_GE(worker.heldMs[1], 79.0) << "one slice or less is slept whatever the flag";
    std::vector<double> held(worker.heldMs + 2, worker.heldMs + 7);
    std::sort(held.begin(), held.end());
    // 390 ms in slices of 200: one slice; the 190 ms left over are not slept.
    EXPECT_GT(held[2], 150.0);
    EXPECT_LT(held[2], 300.0);
}

TEST(SleepWhileRunning, TickConversionsHoldAtTheExtremes) {
    // A step of -1 ms is held 4294967295 ms: on a counter of 2 GHz or more,
    // milliseconds times ticks per second no longer fit 64 bits.
    struct {
        uint32_t ms;
        int64_t perSecond;
        int64_t ticks;
    } cases[] = {
        {0, 3000000000LL, 0},
        {1, 1000, 1},
        {1050, 10000000, 10500000},
        {999, 3000000000LL, 2997000000LL},
        {4294967295u, 10000000, 42949672950000LL},
        {4294967295u, 3000000000LL, 12884901885000000LL},
        {4294967295u, 10000000000LL, 42949672950000000LL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ticks, MillisecondsToTicks(c.ms, c.perSecond)) << c.ms << " ms at " << c.perSecond;

    // Back to platform waits: rounded up, at least 1, at most 0x7FFFFFFF.
    const int64_t fast = 10000000000LL;
    EXPECT_EQ(0x7FFFFFFEu, TicksToWaitMilliseconds(MillisecondsToTicks(0x7FFFFFFEu, fast), fast));
    EXPECT_EQ(0x7FFFFFFFu, TicksToWaitMilliseconds(MillisecondsToTicks(4294967295u, fast), fast));
    EXPECT_EQ(1000001u, TicksToWaitMilliseconds(3000000000001LL, 3000000000LL));
    EXPECT_EQ(1u, TicksToWaitMilliseconds(1, fast));
    EXPECT_EQ(1u, TicksToWaitMilliseconds(0, fast));
}

TEST(WaitGate, AStopWakesALongWaitAtOnce) {
    // Slices of 5 s: a thread that looked at its flag once per slice would
    // take seconds to notice.
    BoundWorker worker([](BoundWorker* w) { SleepWhileRunning(60000, 5000, &w->run); });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return worker.started != 0; }, 5000));
    Sleep(50);
    int64_t t0 = MonotonicNow();
    worker.Stop();
    ASSERT_TRUE(worker.Join(5000));
    EXPECT_LT(ElapsedMs(t0), 150.0);
}

TEST(WaitGate, APauseWaitsForTheWriteInProgress) {
    // The write is announced in a word, not an event: the pause must still
    // see it and wait for its end.
    BoundWorker worker([](BoundWorker* w) {
        if (!BeginLedWrite(&w->context)) return;
        InterlockedExchange(&w->started, 2);
        Sleep(300);
        InterlockedIncrement(&w->writes);
        EndLedWrite(&w->context);
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return worker.started == 2; }, 5000));
    ClosePauseGate();
    WaitContext* contexts[1] = {&worker.context};
    EXPECT_TRUE(WaitWritersIdle(contexts, 1, 3000));
    EXPECT_EQ(1, worker.writes) << "the pause returned inside the write";
    EXPECT_TRUE(WaitWritersIdle(contexts, 1, 0)) << "nothing is being written now";
    OpenPauseGate();
}

TEST(WaitGate, ALongWaitWakesOnceNotOncePerSlice) {
    uint32_t before = DeviceThreadWakeups();
    BoundWorker worker([](BoundWorker* w) { SleepWhileRunning(1000, 10, &w->run); });
    ASSERT_TRUE(worker.Join(5000));
    EXPECT_LE(DeviceThreadWakeups() - before, 3u) << "100 slices, woken for each";
}

TEST(WaitGate, APausedThreadWritesNothingAndResumes) {
    BoundWorker worker([](BoundWorker* w) { WriteAndWaitLoop(w, 20, 10); });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return worker.writes > 2; }, 5000));

    ClosePauseGate();
    WaitContext* contexts[1] = {&worker.context};
    EXPECT_TRUE(WaitWritersIdle(contexts, 1, 3000));
    LONG paused = worker.writes;
    Sleep(300);
    EXPECT_EQ(paused, worker.writes) << "no write while paused";

    OpenPauseGate();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return worker.writes > paused + 2; }, 5000));
}

TEST(WaitGate, AStopEndsAPausedThreadPromptly) {
    BoundWorker worker([](BoundWorker* w) { WriteAndWaitLoop(w, 5000, 100); });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return worker.writes > 0; }, 5000));
    ClosePauseGate();
    Sleep(50);
    int64_t t0 = MonotonicNow();
    worker.Stop();
    bool ended = worker.Join(5000);
    OpenPauseGate();
    ASSERT_TRUE(ended);
    EXPECT_LT(ElapsedMs(t0), 150.0);
    EXPECT_EQ(1, worker.writes);
}

TEST(WaitGate, ShortWaitsKeepTheirLengthAfterAStop) {
    BoundWorker worker([](BoundWorker* w) {
        InterlockedExchange(&w->started, 2);
        int64_t t0 = MonotonicNow();
        SleepWhileRunning(600, 1000, &w->run);
        w->heldMs[0] = ElapsedMs(t0);
        w->result = w->run;
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return worker.started == 2; }, 5000));
    Sleep(100);
    worker.Stop();
    ASSERT_TRUE(worker.Join(5000));
    ASSERT_EQ(0, worker.result) << "the stop came after the wait";
    EXPECT_GE(worker.heldMs[0], 595.0);
}
