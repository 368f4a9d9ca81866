// The single-instance lock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "app/mutex.h"
#include "testsupport.h"

namespace {

std::string UniqueName(const char* tag) {
    return std::string("GLIMTEST_") + tag + "_" + std::to_string(GetCurrentProcessId());
}

TEST(Mutex, OneHolderAtATimeAndFreeAgainAfterRelease) {
    std::string name = UniqueName("hold");
    MUTEX first(name.c_str());
    ASSERT_NE(first.Create(), 0);
    EXPECT_TRUE(first.Held());
    EXPECT_EQ(first.Create(), 0) << "an object that holds the mutex creates no second one";
    {
        MUTEX second(name.c_str());
        EXPECT_EQ(second.Create(), 0);
        EXPECT_FALSE(second.Held());
    }
    first.Release();
    EXPECT_FALSE(first.Held());
    MUTEX third(name.c_str());
    EXPECT_NE(third.Create(), 0) << "a released mutex lets the next instance start";
}

TEST(Mutex, DestructionReleasesTheName) {
    std::string name = UniqueName("scope");
    {
        MUTEX scoped(name.c_str());
        ASSERT_NE(scoped.Create(), 0);
    }
    MUTEX later(name.c_str());
    EXPECT_NE(later.Create(), 0);
}

// Instances started at the same moment: however the open and the create of
// each interleave, exactly one may win.
struct RaceArgs {
    const char* name;
    HANDLE start;
    std::atomic<int>* winners;
    std::atomic<int>* tried;
    HANDLE done;
};

DWORD WINAPI Contender(LPVOID p) {
    RaceArgs* args = static_cast<RaceArgs*>(p);
    WaitForSingleObject(args->start, INFINITE);
    MUTEX mutex(args->name);
    if (mutex.Create()) ++*args->winners;
    ++*args->tried;
    // Hold it until every contender has tried.
    WaitForSingleObject(args->done, INFINITE);
    return 0;
}

TEST(Mutex, SimultaneousStartsLeaveExactlyOneWinner) {
    constexpr int THREADS = 6;
    for (int round = 0; round < 40; ++round) {
        std::string name = UniqueName("race") + "_" + std::to_string(round);
        HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atomic<int> winners {0};
        std::atomic<int> tried {0};
        RaceArgs args {name.c_str(), start, &winners, &tried, done};
        HANDLE threads[THREADS];
        for (HANDLE& t : threads) t = CreateThread(nullptr, 0, Contender, &args, 0, nullptr);
        SetEvent(start);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return tried.load() == THREADS; }, 10000));
        SetEvent(done);
        WaitForMultipleObjects(THREADS, threads, TRUE, 10000);
        for (HANDLE t : threads) CloseHandle(t);
        CloseHandle(start);
        CloseHandle(done);
        ASSERT_EQ(winners.load(), 1) << "round " << round;
    }
}

}  // namespace
