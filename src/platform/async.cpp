#include "platform/async.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>
#include <QTimer>
#include <QtGlobal>

namespace zafrel {

namespace detail {

namespace {

thread_local MainThreadPostBatch* t_openBatch = nullptr;

void runInOrder(std::vector<std::function<void()>>& calls)
{
    for (size_t i = 0; i < calls.size(); ++i)
        calls[i]();
}

void postNow(std::function<void()> call)
{
    // The application object lives on the main thread for the whole run; without one there is no
    // loop that could ever run the call.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

}  // namespace

void postToMainThread(std::function<void()> call)
{
    if (MainThreadPostBatch* batch = t_openBatch) {
        batch->calls_.push_back(std::move(call));
        return;
    }
    postNow(std::move(call));
}

MainThreadPostBatch::MainThreadPostBatch() : outer_(std::exchange(t_openBatch, this)) {}

MainThreadPostBatch::~MainThreadPostBatch()
{
    t_openBatch = outer_;
    if (calls_.size() == 1)
        postNow(std::move(calls_.front()));
    else if (!calls_.empty())
        postNow([calls = std::move(calls_)]() mutable { runInOrder(calls); });
}

void runOnPoolThenResume(std::function<void()> job, std::coroutine_handle<> waiter)
{
    // Whatever happens to the pool's copy, its last owner posts the resumption when it lets go:
    // after the run, or without one when the pool is cleared.
    struct Run {
        std::function<void()> job;
        std::coroutine_handle<> waiter;
        ~Run()
        {
            job = nullptr;
            if (waiter)
                postToMainThread([waiter = waiter] { waiter.resume(); });
        }
    };
    auto run = std::make_shared<Run>();
    run->job = std::move(job);
    run->waiter = waiter;
    QThreadPool::globalInstance()->start([run = std::move(run)] { run->job(); });
}

void reportLostException(const char* where, std::exception_ptr error, bool includingCancelled)
{
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled& e) {
        if (includingCancelled)
            qCritical("%s: uncaught exception: %s", where, e.what());
    } catch (const std::exception& e) {
        qCritical("%s: uncaught exception: %s", where, e.what());
    } catch (...) {
        qCritical("%s: uncaught exception of unknown type", where);
    }
}

}  // namespace detail

namespace {

// `body` is a parameter of this coroutine, so it lives in the coroutine frame until the end; the
// frame itself lives on after its Task is dropped (see async.h).
QCoro::Task<void> runSpawned(std::function<QCoro::Task<void>()> body)
{
    try {
        co_await body();
    } catch (...) {
        detail::reportLostException("spawn", std::current_exception(), true);
    }
}

// Shared between a suspended sleep, its timer and its stop callback. Only the main thread reads
// or writes it; the stop callback merely posts.
struct SleepState {
    std::coroutine_handle<> sleeper;
    bool woken = false;
    bool cancelled = false;
};

void wake(const std::shared_ptr<SleepState>& state, bool cancelled)
{
    if (state->woken)  // the other wakeup came first
        return;
    state->woken = true;
    state->cancelled = cancelled;
    state->sleeper.resume();
}

// Runs on whichever thread requested the stop, possibly while the sleep is being torn down on the
// main thread: it only posts, and the posted call holds the state, not the awaiter.
struct PostCancelWakeup {
    std::shared_ptr<SleepState> state;
    void operator()() const
    {
        detail::postToMainThread([state = state] { wake(state, true); });
    }
};

// One sleep: its timer and its stop callback, kept in place for the whole suspension.
// g++ 12 copies an awaiter that is co_awaited as an lvalue, so the state stays here and co_await
// gets a small Awaiter that only points at it.
class Sleep {
public:
    Sleep(std::chrono::milliseconds duration, std::stop_token stop)
        : duration_(duration), stop_(std::move(stop))
    {
    }
    Sleep(const Sleep&) = delete;
    Sleep& operator=(const Sleep&) = delete;

    struct Awaiter {
        Sleep* sleep;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> sleeper) { sleep->begin(sleeper); }
        void await_resume() const { sleep->end(); }
    };
    Awaiter operator co_await() { return Awaiter{this}; }

private:
    void begin(std::coroutine_handle<> sleeper)
    {
        state_->sleeper = sleeper;
        timer_.setSingleShot(true);
        // A coarse timer may fire up to 5 % early: a 3 s retry wait would end after 2.85 s.
        timer_.setTimerType(Qt::PreciseTimer);
        // Queued, so that the sleeper (which destroys this timer) never runs inside the timer's
        // own signal.
        QObject::connect(&timer_, &QTimer::timeout, QCoreApplication::instance(),
                         [state = state_] { wake(state, false); }, Qt::QueuedConnection);
        timer_.start(duration_);
        // Registered last: a stop that is already requested calls it right here, which only posts.
        onStop_.emplace(stop_, PostCancelWakeup{state_});
    }

    void end()
    {
        // Unregistering waits for a callback running on another thread; after this nothing can
        // post for this sleep any more (a wakeup already posted finds `woken` set).
        onStop_.reset();
        timer_.stop();
        if (state_->cancelled)
            throw Cancelled();
    }

    std::chrono::milliseconds duration_;
    std::stop_token stop_;
    std::shared_ptr<SleepState> state_ = std::make_shared<SleepState>();
    QTimer timer_;
    std::optional<std::stop_callback<PostCancelWakeup>> onStop_;
};

}  // namespace

void spawn(std::function<QCoro::Task<void>()> body)
{
    // QCoro tasks start eagerly; posting first gives the caller's own code time to finish. The
    // Task of runSpawned is dropped at once, which detaches the coroutine (see async.h).
    detail::postToMainThread([body = std::move(body)]() mutable { runSpawned(std::move(body)); });
}

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, std::stop_token stop)
{
    if (stop.stop_requested())
        throw Cancelled();
    // Whatever the timer does, the wait lasts its whole time: what is left is waited again.
    const auto until = std::chrono::steady_clock::now() + duration;
    for (std::chrono::milliseconds left = duration;;) {
        Sleep sleep(left, stop);
        co_await sleep;
        left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero())
            break;
    }
}

}  // namespace zafrel
