// The worker-thread contract the dialog relies on: the marker is published before the
// procedure runs, so a worker that clears it last can never be overtaken by that store.
#include "winui/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Run {
    std::atomic<winui::WorkerThread*>* marker = nullptr;
    std::atomic<winui::WorkerThread*> seenAtStart{nullptr};
    std::atomic<int> priority{THREAD_PRIORITY_ERROR_RETURN};
    HANDLE release = nullptr;
};

UINT RecordAndClear(void* param) {
    auto* run = static_cast<Run*>(param);
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
    Run run;
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
    Run run;
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

TEST(WorkerThread, ManySelfDeletingWorkersInARow) {
    // Each worker frees itself; a double free or a leaked handle per run shows up here
    // (the handle count must not grow with the number of runs).
    DWORD handlesBefore = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);
    for (int i = 0; i < 200; ++i) {
        std::atomic<winui::WorkerThread*> marker{nullptr};
        Run run;
        run.marker = &marker;
        run.release = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        ASSERT_NE(
            winui::WorkerThread::Begin(&RecordAndClear, &run, THREAD_PRIORITY_NORMAL, &marker),
            nullptr);
        WaitUntilCleared(marker);
        ::CloseHandle(run.release);
    }
    ::Sleep(200);  // the last workers close their own handles after clearing the marker
    DWORD handlesAfter = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
    EXPECT_LT(handlesAfter, handlesBefore + 20);
}

}  // namespace
