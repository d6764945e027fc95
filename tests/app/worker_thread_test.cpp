// The worker-thread contract the dialog relies on: the marker is published before the
// procedure runs, so a worker that clears it last can never be overtaken by that store.
#include "winui/worker_thread.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>

namespace {

struct WorkerRun {
    std::atomic<winui::WorkerThread*>* marker = nullptr;
    std::atomic<winui::WorkerThread*> seenAtStart{nullptr};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    HANDLE release = nullptr;
};

UINT RecordAndClear(void* param) {
    auto* run = static_cast<WorkerRun*>(param);
    run->seenAtStart = run->marker->load();
    run->priority = ::GetThreadPriority(::GetCurrentThread());
    ::WaitForSingleObject(run->release, INFINITE);
    run->marker->store(nullptr);
    return 0;
}

// Waits for the worker's last step without a timing assertion: a hung worker fails the test
// through ctest's timeout.
void WaitUntilCleared(const std::atomic<winui::WorkerThread*>& marker) {
    while (marker.load() != nullptr) {
        ::Sleep(1);
    }
}

TEST(WorkerThread, MarkerIsSetBeforeTheProcedureRuns) {
    std::atomic<winui::WorkerThread*> marker{nullptr};
    WorkerRun run;
    run.marker = &marker;
    run.release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(run.release, nullptr);

    winui::WorkerThread* started =
        winui::WorkerThread::Begin(&RecordAndClear, &run, THREAD_PRIORITY_NORMAL, &marker);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(marker.load(), started);

    ::SetEvent(run.release);
    WaitUntilCleared(marker);
    EXPECT_EQ(run.seenAtStart.load(), started);
    EXPECT_EQ(run.priority.load(), THREAD_PRIORITY_NORMAL);
    ::CloseHandle(run.release);
}

TEST(WorkerThread, RunsAtTheRequestedPriority) {
    std::atomic<winui::WorkerThread*> marker{nullptr};
    WorkerRun run;
    run.marker = &marker;
    run.release = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(run.release, nullptr);

    ASSERT_NE(
        winui::WorkerThread::Begin(&RecordAndClear, &run, THREAD_PRIORITY_BELOW_NORMAL, &marker),
        nullptr);
    WaitUntilCleared(marker);
    EXPECT_EQ(run.priority.load(), THREAD_PRIORITY_BELOW_NORMAL);
    ::CloseHandle(run.release);
}

// Threads of this process (Wine keeps the system's thread list).
int ThreadCount() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
    }
    ::CloseHandle(snapshot);
    return count;
}

// How high the handle table reaches: the largest value among a batch of new handles.
// Freed slots are reused first, so it only climbs while handles leak. (GetProcessHandleCount
// is a stub under Wine.)
uintptr_t HandleHighWater() {
    HANDLE probes[16];
    uintptr_t highest = 0;
    for (HANDLE& probe : probes) {
        probe = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        highest = std::max(highest, reinterpret_cast<uintptr_t>(probe));
    }
    for (HANDLE probe : probes) {
        ::CloseHandle(probe);
    }
    return highest;
}

TEST(WorkerThread, ManySelfDeletingWorkersInARow) {
    // Each worker frees itself and closes its own handle: a double free crashes here, and a
    // handle left open per run makes the handle table climb by one slot per run.
    constexpr int kRuns = 200;
    const int threadsBefore = ThreadCount();
    ASSERT_GE(threadsBefore, 1) << "threads cannot be counted here";
    const uintptr_t before = HandleHighWater();
    for (int i = 0; i < kRuns; ++i) {
        std::atomic<winui::WorkerThread*> marker{nullptr};
        WorkerRun run;
        run.marker = &marker;
        run.release = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        ASSERT_NE(
            winui::WorkerThread::Begin(&RecordAndClear, &run, THREAD_PRIORITY_NORMAL, &marker),
            nullptr);
        WaitUntilCleared(marker);
        ::CloseHandle(run.release);
    }
    // The last workers close their own handles after clearing the marker: count once they
    // have ended.
    const DWORD deadline = ::GetTickCount() + 5000;
    while (ThreadCount() > threadsBefore) {
        ASSERT_LT(::GetTickCount(), deadline) << "workers did not end";
        ::Sleep(1);
    }
    const uintptr_t after = HandleHighWater();
    // Handle values step by 4; allow a few slots taken by the runtime meanwhile.
    EXPECT_LT(after, before + 4 * (kRuns / 10));
}

}  // namespace
