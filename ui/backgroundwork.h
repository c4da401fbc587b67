#pragma once
// Work off the UI thread, one way for the whole window: a BackgroundWorker
// (one thread, a queue) owned by whoever posts to it and joined when it goes.
// Results come back to the UI thread through queued calls
// (QMetaObject::invokeMethod on a context object), never through shared state.
//
// Long work (a generation, a big save) can also be waited for while the window
// stays alive (RunInBackground): it keeps painting, shows the busy cursor,
// ignores input to its controls (dropped, not queued for later), and after
// half a second shows a progress dialog, with キャンセル when the work can stop.

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QWidget;

// What the work and the window share while it runs. Safe to use from both threads.
class WorkProgress {
  public:
    // Called by the work: done of total units so far. Returns false once
    // cancel() was called; the work should then stop soon.
    bool report(std::uint64_t done, std::uint64_t total) {
        m_done.store(done, std::memory_order_relaxed);
        m_total.store(total, std::memory_order_relaxed);
        return !cancelled();
    }
    void cancel() { m_cancelled.store(true, std::memory_order_release); }
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    std::uint64_t done() const { return m_done.load(std::memory_order_relaxed); }
    std::uint64_t total() const { return m_total.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<std::uint64_t> m_total{0};
    std::atomic<bool> m_cancelled{false};
};

// One thread that runs the tasks posted to it one after another, in order.
class BackgroundWorker {
  public:
    using Task = std::function<void(WorkProgress&)>;
    // Requests of one kind of which only the newest matters; 0 is no lane.
    using Lane = int;

    BackgroundWorker();
    // Cancels the task running, drops those queued and waits for the thread.
    ~BackgroundWorker();
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;

    // A lane no other caller of this worker uses.
    Lane newLane();

    // Queues task, to be run on the worker with progress (a new one when
    // null), which is returned: cancelling it asks the task to stop. A task
    // posted on a lane supersedes the lane's previous one: that is dropped
    // while still queued, cancelled while running. Only the UI thread posts.
    std::shared_ptr<WorkProgress> post(Task task, Lane lane = 0,
                                       std::shared_ptr<WorkProgress> progress = nullptr);
    // Drops or cancels the task of lane, if any.
    void cancel(Lane lane);

  private:
    struct Entry {
        Task task;
        std::shared_ptr<WorkProgress> progress;
        Lane lane = 0;
    };
    void run();
    // Takes the entries of lane out of the queue and cancels the running one
    // of it. Called with m_mutex held.
    std::deque<Entry> supersede(Lane lane);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue;               // guarded by m_mutex
    std::shared_ptr<WorkProgress> m_running; // guarded by m_mutex
    Lane m_runningLane = 0;                  // guarded by m_mutex
    bool m_stop = false;                     // guarded by m_mutex
    Lane m_lastLane = 0;                     // UI thread only
    std::thread m_thread;
};

struct WorkOptions {
    QString label;            // what the progress dialog says is going on
    bool cancellable = false; // the dialog offers キャンセル, which calls cancel()
    bool countsBytes = false; // done() is bytes written, shown as a number; no bar
};

// The text of the progress dialog's cancel button.
inline QString CancelText() {
    return QCoreApplication::translate("Talorin", "キャンセル");
}
// The object name of the progress dialog, a child of owner.
inline const char* const kProgressDialogName = "ProgressDialog";
// How long work runs before its progress dialog appears, in milliseconds.
inline constexpr int kProgressDelayMs = 500;

// Runs work(*progress) on worker and returns when it has ended, rethrowing
// on this (the UI) thread whatever it threw. owner is the window whose input
// is ignored meanwhile and the parent of the progress dialog. progress is
// shared with the caller, so that it can cancel too (closing the window).
// Must be called on the UI thread; runs a nested event loop. The dialog does
// not block owner, so that owner hears close requests from the window system;
// a close request on the dialog itself is passed on to owner as owner->close().
//
// Cancelling cancellable work returns within kCancelGraceMs: when the work has
// not ended by then, it is left to stop on the worker, and this throws
// talorin::Error of kind Cancelled at once. Such work must therefore own
// everything it uses (capture by value or shared pointers); work that is not
// cancellable may refer to the caller's locals. Later tasks of the worker
// start after it, and the worker's destructor waits for it.
void RunInBackground(BackgroundWorker& worker, QWidget* owner, const WorkOptions& options,
                     const std::shared_ptr<WorkProgress>& progress,
                     std::function<void(WorkProgress&)> work);

// How long a cancel may take before the window stops waiting for the work.
inline constexpr int kCancelGraceMs = 100;

// The width a dialog needs for its whole title in the title bar: the text in
// the application's font plus room for the frame's icon and buttons.
int TitleWidth(const QString& title);
