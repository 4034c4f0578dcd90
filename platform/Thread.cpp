#include "platform/Thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

struct TThread::Request {
    enum State { Pending, Running, Done, Cancelled };
    std::function<void()> routine;
    std::exception_ptr error;
    State state = Pending;
};

namespace {

// One lock and one condition for every hand-off: workers wait on it until their request has
// run or was cancelled. Terminate takes the same lock, which makes the check for termination
// and the queuing of a request one step.
std::mutex& HandOffMutex() {
    static std::mutex m;
    return m;
}
std::condition_variable& HandOffDone() {
    static std::condition_variable cv;
    return cv;
}

// Free-on-terminate threads: the number still running, and the system threads of those that
// have finished but may not have ended yet (joined later, never by themselves).
struct FreeThreads {
    std::mutex mutex;
    std::condition_variable allDone;
    int running = 0;
    std::vector<std::thread> ended;
};
FreeThreads& Free() {
    static FreeThreads* f = new FreeThreads;  // never destroyed: threads may use it late at exit
    return *f;
}

void JoinEnded() {
    std::vector<std::thread> ended;
    {
        std::lock_guard lock(Free().mutex);
        ended.swap(Free().ended);
    }
    for (auto& t : ended)
        t.join();
}

std::atomic<int> queuedHandOffs{0};

// Counts a posted hand-off until the GUI thread takes it up or drops it unrun.
struct QueuedMark {
    QueuedMark() { queuedHandOffs.fetch_add(1); }
    QueuedMark(const QueuedMark&) = delete;
    ~QueuedMark() { queuedHandOffs.fetch_sub(1); }
};

// A posted hand-off: the routine to run on the GUI thread. Freed by Qt on the GUI thread, after it
// ran or unrun when the application ends first.
const QEvent::Type kHandOffEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class HandOffEvent : public QEvent {
public:
    HandOffEvent() : QEvent(kHandOffEvent) {}
    ~HandOffEvent() override {
        std::lock_guard lock(HandOffMutex());
        run = nullptr;
        mark.reset();
    }
    std::function<void()> run;
    std::unique_ptr<QueuedMark> mark;
};

// Receives the hand-offs on the GUI thread, in nested event loops too.
class HandOffReceiver : public QObject {
public:
    static HandOffReceiver* Instance() {
        static HandOffReceiver* receiver = [] {
            auto* r = new HandOffReceiver;  // lives as long as the process
            QCoreApplication* app = QCoreApplication::instance();
            if (app != nullptr && r->thread() != app->thread()) r->moveToThread(app->thread());
            return r;
        }();
        return receiver;
    }

protected:
    bool event(QEvent* e) override {
        std::function<void()> run;
        {
            std::unique_lock lock(HandOffMutex());
            if (e->type() != kHandOffEvent) {
                lock.unlock();
                return QObject::event(e);
            }
            run.swap(static_cast<HandOffEvent*>(e)->run);
            static_cast<HandOffEvent*>(e)->mark.reset();
        }
        if (run) run();
        std::lock_guard lock(HandOffMutex());
        run = nullptr;
        return true;
    }
};

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

}  // namespace

int NicenessOf(TThreadPriority Priority) {
    static const int nice[] = {19, 10, 5, 0, -5, -10, -20};
    return nice[static_cast<int>(Priority)];
}

TThread::TThread() = default;

TThread::~TThread() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(HandOffMutex());
            terminated_.store(true, std::memory_order_release);
            if (pending_ && pending_->state == Request::Pending) pending_->state = Request::Cancelled;
        }
        HandOffDone().notify_all();
        thread_.join();
    }
}

void TThread::Start() {
    if (started_.exchange(true)) return;
    JoinEnded();
    std::lock_guard lock(Free().mutex);  // Run takes it before it moves thread_ away
    try {
        thread_ = std::thread(&TThread::Run, this);
    } catch (...) {
        // No thread (the system refused one): nothing runs, nothing is counted, and the caller hears
        // of it. A later Start may try again.
        started_.store(false);
        throw;
    }
    if (freeOnTerminate_) ++Free().running;
}

void TThread::Run(TThread* Self) {
    Self->ApplyPriority();
    try {
        Self->Execute();
    } catch (...) {
        Self->fatal_ = std::current_exception();
    }
    if (!Self->freeOnTerminate_) {
        Self->finished_.store(true, std::memory_order_release);
        return;
    }
    // Wait out a Terminate that is still running on another thread, then hand the system
    // thread to the joiners and delete the object.
    { std::lock_guard lock(HandOffMutex()); }
    Self->finished_.store(true, std::memory_order_release);
    {
        std::lock_guard lock(Free().mutex);
        Free().ended.push_back(std::move(Self->thread_));
    }
    delete Self;
    std::lock_guard lock(Free().mutex);
    --Free().running;
    Free().allDone.notify_all();
}

void TThread::Terminate() {
    {
        std::lock_guard lock(HandOffMutex());
        terminated_.store(true, std::memory_order_release);
        if (pending_ && pending_->state == Request::Pending) pending_->state = Request::Cancelled;
        TerminatedSet();
    }
    HandOffDone().notify_all();
}

void TThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::TerminateAndWait() {
    Terminate();
    WaitFor();
}

void TThread::SetFreeOnTerminate(bool Value) {
    if (!Started()) freeOnTerminate_ = Value;
}

TThreadPriority TThread::Priority() const {
    std::lock_guard lock(priorityMutex_);
    return priority_;
}

void TThread::Synchronize(const std::function<void()>& Routine) {
    Synchronize(this, Routine);
}

void TThread::Synchronize(TThread* Thread, const std::function<void()>& Routine) {
    if (OnGuiThread()) {
        Routine();
        return;
    }
    auto request = std::make_shared<Request>();
    {
        std::lock_guard lock(HandOffMutex());
        if (Thread != nullptr) {
            if (Thread->Terminated()) return;
            Thread->pending_ = request;
        }
        request->routine = Routine;
    }
    // The GUI thread runs the routine from a posted event. The event and everything in it are
    // made and touched only under the hand-off lock on both sides and are freed on the GUI thread, so
    // the worker never touches the event again once it is posted. (Qt's event queue orders the two
    // threads too, but its lock is not one that the thread sanitizer can see.)
    HandOffEvent* event = nullptr;
    {
        std::lock_guard lock(HandOffMutex());
        event = new HandOffEvent;
        event->mark = std::make_unique<QueuedMark>();
        event->run = [request]() mutable {
            std::unique_lock lock(HandOffMutex());
            if (request->state != Request::Pending) {
                request.reset();
                return;
            }
            request->state = Request::Running;
            lock.unlock();
            try {
                request->routine();
            } catch (...) {
                request->error = std::current_exception();
            }
            lock.lock();
            request->state = Request::Done;
            request.reset();
            lock.unlock();
            HandOffDone().notify_all();
        };
    }
    QCoreApplication::postEvent(HandOffReceiver::Instance(), event);
    std::exception_ptr error;
    {
        std::unique_lock lock(HandOffMutex());
        HandOffDone().wait(
            lock, [&] { return request->state == Request::Done || request->state == Request::Cancelled; });
        if (Thread != nullptr) Thread->pending_.reset();
        error = request->error;
        request.reset();
    }
    if (error) std::rethrow_exception(error);
}

int TThread::QueuedHandOffs() {
    return queuedHandOffs.load();
}

int TThread::RunningFreeThreads() {
    std::lock_guard lock(Free().mutex);
    return Free().running;
}

void TThread::WaitForFreeThreads() {
    {
        std::unique_lock lock(Free().mutex);
        Free().allDone.wait(lock, [] { return Free().running == 0; });
    }
    JoinEnded();
}
