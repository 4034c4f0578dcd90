// Thread priorities on Windows: the system's priority levels of the thread.
#include <windows.h>

#include "platform/Thread.h"

namespace {

int WindowsPriorityOf(TThreadPriority Priority) {
    static const int levels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                 THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                 THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                 THREAD_PRIORITY_TIME_CRITICAL};
    return levels[static_cast<int>(Priority)];
}

// Sets the priority of the thread with the system id `id`; a refusal is ignored.
void Apply(int id, TThreadPriority Priority) {
    HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (thread == nullptr) return;
    SetThreadPriority(thread, WindowsPriorityOf(Priority));
    CloseHandle(thread);
}

}  // namespace

void TThread::SetPriority(TThreadPriority Value) {
    std::lock_guard lock(priorityMutex_);
    priority_ = Value;
    if (tid_ != 0) Apply(tid_, priority_);
}

void TThread::ApplyPriority() {
    std::lock_guard lock(priorityMutex_);
    tid_ = static_cast<int>(GetCurrentThreadId());
    if (priority_ != tpNormal) SetThreadPriority(GetCurrentThread(), WindowsPriorityOf(priority_));
}
