// Thread priorities on Linux: the niceness of the system thread.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/Thread.h"

void TThread::SetPriority(TThreadPriority Value) {
    std::lock_guard lock(priorityMutex_);
    priority_ = Value;
    if (tid_ != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NicenessOf(priority_));
}

void TThread::ApplyPriority() {
    std::lock_guard lock(priorityMutex_);
    tid_ = static_cast<int>(syscall(SYS_gettid));
    if (priority_ != tpNormal) setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NicenessOf(priority_));
}
