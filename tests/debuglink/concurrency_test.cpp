#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "clientfixture.h"
#include "glimsim.h"

namespace {

struct Call {
    int expected;
    int got;
    double ms;
};

}  // namespace

// Eight callers at once, as eight control threads would: every request is
// answered on its own, nothing is lost, and each caller is held after its turn.
TEST_F(ClientTest, EightThreadsAgainstTheSimulatedDevice) {
    testsupport::Glimsim sim;
    ASSERT_TRUE(sim.Start("--leds 0,0,0;0,0,1"));
    ASSERT_EQ(0, client.Open(sim.Port()));

    constexpr int THREADS = 8, ROUNDS = 32;
    std::vector<std::vector<Call>> calls(THREADS);
    std::vector<std::pair<long, long>> notified;  // attribute, brightness
    for (int t = 0; t < THREADS; ++t)
        for (int i = 2; i < ROUNDS; i += 4) notified.push_back({t % 2, t * 1000 + i});
    LONG contentionBefore = client.Contention();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            WaitForSingleObject(go, 10000);
            for (int i = 0; i < ROUNDS; ++i) {
                LARGE_INTEGER start = Now();
                Call call;
                // Answers differ by request (3, 0 and 1), so a crossed answer
                // shows as a wrong result.
                switch (i % 4) {
                case 0: call = {1, client.Query(0, 0, t % 2), 0}; break;
                case 1: call = {0, client.Query(1 + t, 0, 0), 0}; break;
                case 2: call = {1, client.Notify(0, 0, t % 2, t * 1000 + i), 0}; break;
                default: call = {1, client.Query(0, 0, 1 - t % 2), 0}; break;
                }
                call.ms = MsSince(start);
                calls[t].push_back(call);
            }
        });
    }
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);

    for (int t = 0; t < THREADS; ++t) {
        ASSERT_EQ(static_cast<size_t>(ROUNDS), calls[t].size());
        for (int i = 0; i < ROUNDS; ++i) {
            EXPECT_EQ(calls[t][i].expected, calls[t][i].got) << "thread " << t << " call " << i;
            // Exchange plus the pause of at least 1 ms (a little slack for
            // the timer's rounding).
            EXPECT_GE(calls[t][i].ms, 0.9) << "thread " << t << " call " << i;
        }
    }
    LONG contention = client.Contention() - contentionBefore;
    EXPECT_GT(contention, 0);
    EXPECT_LE(contention, THREADS * ROUNDS) << "at most one failed try per request";

    ASSERT_TRUE(sim.WaitForDatagrams(THREADS * ROUNDS, 10000));
    auto datagrams = sim.Datagrams();
    EXPECT_EQ(static_cast<size_t>(THREADS * ROUNDS), datagrams.size());
    std::vector<std::pair<long, long>> seen;
    int queries = 0, yes = 0;
    for (const auto& d : datagrams) {
        if (d.what == "notify") {
            EXPECT_EQ(1, d.status);
            seen.push_back({d.attribute, d.luminance});
        } else if (d.what == "query") {
            ++queries;
            yes += d.status == 3;
        }
    }
    std::sort(seen.begin(), seen.end());
    std::sort(notified.begin(), notified.end());
    EXPECT_EQ(notified, seen);
    EXPECT_EQ(THREADS * ROUNDS * 3 / 4, queries);
    EXPECT_EQ(THREADS * ROUNDS / 2, yes);
}

// A caller alone is held 1 to 5 ms after each exchange: on average the
// call takes about 3 ms more than the exchange itself.
TEST_F(ClientTest, EachCallerIsHeldAfterItsExchange) {
    testsupport::Glimsim sim;
    ASSERT_TRUE(sim.Start());
    ASSERT_EQ(0, client.Open(sim.Port()));
    constexpr int CALLS = 60;
    double total = 0, shortest = 1e9;
    for (int n = 0; n < CALLS; ++n) {
        LARGE_INTEGER start = Now();
        ASSERT_EQ(1, client.Notify(0, 0, 0, n));
        double ms = MsSince(start);
        total += ms;
        shortest = std::min(shortest, ms);
    }
    EXPECT_GE(shortest, 0.9);
    // Generous: the machine is shared, but a missing pause would average
    // well under 1 ms and a wrong one (say, seconds) far over this.
    EXPECT_GE(total / CALLS, 1.5);
    EXPECT_LT(total / CALLS, 60.0);
}
