#include "winui/worker_thread.h"

#include <process.h>

namespace winui {

WorkerThread* WorkerThread::Begin(Procedure procedure, void* param, int priority,
                                  std::atomic<WorkerThread*>* marker) {
    auto* thread = new WorkerThread(procedure, param);
    // Created suspended: the object must be complete before the thread can delete it.
    const uintptr_t handle =
        ::_beginthreadex(nullptr, 0, &Entry, thread, CREATE_SUSPENDED, nullptr);
    if (handle == 0) {
        const DWORD error = ::GetLastError();
        delete thread;
        ::SetLastError(error);
        return nullptr;
    }
    thread->m_hThread.Reset(reinterpret_cast<HANDLE>(handle));
    ::SetThreadPriority(thread->m_hThread.Get(), priority);
    if (marker != nullptr) {
        marker->store(thread);
    }
    if (::ResumeThread(thread->m_hThread.Get()) == static_cast<DWORD>(-1)) {
        const DWORD error = ::GetLastError();
        if (marker != nullptr) {
            marker->store(nullptr);
        }
        ::TerminateThread(thread->m_hThread.Get(), 1);
        delete thread;
        ::SetLastError(error);
        return nullptr;
    }
    return thread;
}

unsigned __stdcall WorkerThread::Entry(void* self) {
    auto* thread = static_cast<WorkerThread*>(self);
    const UINT exitCode = thread->m_procedure(thread->m_param);
    delete thread;
    return exitCode;
}

}  // namespace winui
