#pragma once
// Worker threads: a body (Execute), a termination flag, a self-deleting mode, a priority, and
// Synchronize, the blocking hand-off of a routine to the GUI thread.
//
// Hand-offs are queued to the GUI thread as posted events, so they run whenever that thread
// dispatches events, nested event loops included. The worker waits until the routine has run
// there; an exception raised by the routine is captured and raised again in the worker.
// Terminating a thread cancels a hand-off that has not started yet and refuses new ones, so
// the GUI thread can always wait for a terminated worker without deadlock.

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Classes.h"

// Thread priorities, lowest to highest; tpNormal is the platform default.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The Linux niceness that a priority maps to (19 for tpIdle down to -20 for tpTimeCritical); on Windows
// the priority maps to the thread priority levels, idle to time-critical.
int NicenessOf(TThreadPriority Priority);

class TThread : public TObject {
public:
    TThread();
    // A thread that is still running is terminated and joined here. A derived class whose
    // Execute uses its own members must stop the thread in its own destructor first
    // (TerminateAndWait), because those members are gone when this destructor runs.
    ~TThread() override;

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread running Execute. Only the first call that succeeds has an effect. Throws
    // std::system_error when the system cannot create the thread.
    void Start();
    bool Started() const { return started_.load(std::memory_order_acquire); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    // Sets Terminated, cancels a hand-off of this thread that is still queued, refuses later
    // hand-offs and calls TerminatedSet so that a derived class can wake its body.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // Waits until Execute has returned. Not for a free-on-terminate thread.
    void WaitFor();

    // When true, the thread object deletes itself after Execute returns. Takes effect only
    // when set before Start.
    bool FreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool Value);

    // Stored, and applied to the running thread at once; a refusal by the system is ignored.
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority Value);

    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }

    // Runs Routine on the GUI thread and waits for it. On the GUI thread itself (or without an
    // application object) the routine runs directly. From a terminated thread it does nothing.
    void Synchronize(const std::function<void()>& Routine);
    static void Synchronize(TThread* Thread, const std::function<void()>& Routine);

    // Waits until every free-on-terminate thread has finished and its system thread has ended.
    // The program and the test main call it at exit.
    static void WaitForFreeThreads();

    // Diagnostics: hand-offs posted to the GUI thread that it has not taken up yet (cancelled
    // ones included), and free-on-terminate threads still running.
    static int QueuedHandOffs();
    static int RunningFreeThreads();

protected:
    virtual void Execute() = 0;
    // Called by Terminate (under the hand-off lock) so a body sleeping in a wait can be woken.
    virtual void TerminatedSet() {}
    // For destructors of derived classes: Terminate, then wait for Execute to return.
    void TerminateAndWait();

private:
    struct Request;
    static void Run(TThread* Self);
    void ApplyPriority();

    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> terminated_{false};
    bool freeOnTerminate_ = false;
    std::exception_ptr fatal_;
    mutable std::mutex priorityMutex_;
    TThreadPriority priority_ = tpNormal;
    int tid_ = 0;                       // system thread id once running (under priorityMutex_)
    std::shared_ptr<Request> pending_;  // hand-off being waited for (under the hand-off lock)
};
