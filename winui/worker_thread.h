// A worker thread that owns its handle and deletes itself when its procedure returns, so
// the starter never joins it. The pointer returned by Begin only marks that the thread was
// started: it may be dangling as soon as the thread ends and must never be dereferenced.
#pragma once

#include <windows.h>

#include <atomic>

#include "winui/unique_handle.h"

namespace winui {

class WorkerThread {
public:
    // The thread's exit code is the procedure's result.
    using Procedure = UINT (*)(void* param);

    // Starts procedure(param) at the given priority. When marker is given, the thread object
    // is stored there before the thread runs, so a worker that clears the marker as its last
    // step can never be overtaken by this store. nullptr (last error set) when the thread
    // cannot be created; the marker is then left alone.
    static WorkerThread* Begin(Procedure procedure, void* param, int priority,
                               std::atomic<WorkerThread*>* marker = nullptr);

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

private:
    WorkerThread(Procedure procedure, void* param) : m_procedure(procedure), m_param(param) {}
    ~WorkerThread() = default;

    static unsigned __stdcall Entry(void* self);

    Procedure m_procedure;
    void* m_param;
    UniqueHandle m_hThread;
};

}  // namespace winui
