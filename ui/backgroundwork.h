#pragma once
// Long work (a generation, a big save) on a worker thread while the window
// waits for it without freezing: it keeps painting, shows the busy cursor,
// ignores input to its controls (dropped, not queued for later), and after
// half a second shows a progress dialog, with キャンセル when the work can stop.

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

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

struct WorkOptions {
    QString label;            // what the progress dialog says is going on
    bool cancellable = false; // the dialog offers キャンセル, which calls cancel()
    bool countsBytes = false; // done() is bytes written, shown as a number; no bar
};

// The text of the progress dialog's cancel button.
inline const QString kCancelText = QStringLiteral("キャンセル");
// The object name of the progress dialog, a child of owner.
inline const char* const kProgressDialogName = "ProgressDialog";
// How long work runs before its progress dialog appears, in milliseconds.
inline constexpr int kProgressDelayMs = 500;

// Runs work(*progress) on a worker thread and returns when it has ended,
// rethrowing on this (the UI) thread whatever it threw. owner is the window
// whose input is ignored meanwhile and the parent of the progress dialog.
// progress is shared with the caller, so that it can cancel too (closing the
// window). Must be called on the UI thread; runs a nested event loop.
//
// Cancelling cancellable work returns within kCancelGraceMs: when the work has
// not ended by then, it is left to stop on its own thread, and this throws
// talorin::Error of kind Cancelled at once. Such work must therefore own
// everything it uses (capture by value or shared pointers); work that is not
// cancellable may refer to the caller's locals. The next RunInBackground, and
// JoinAbandonedWork, wait for work left this way.
void RunInBackground(QWidget* owner, const WorkOptions& options,
                     const std::shared_ptr<WorkProgress>& progress,
                     std::function<void(WorkProgress&)> work);

// Waits until all work left running after a cancel has ended (at exit).
void JoinAbandonedWork();

// How long a cancel may take before the window stops waiting for the work.
inline constexpr int kCancelGraceMs = 100;

// The width a dialog needs for its whole title in the title bar: the text in
// the application's font plus room for the frame's icon and buttons.
int TitleWidth(const QString& title);
