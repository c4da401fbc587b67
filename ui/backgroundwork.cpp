#include "ui/backgroundwork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QFontMetrics>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "terrain/terrain.h"
#include "base/error.h"
#include "ui/dialogs.h"

namespace {

constexpr int kRefreshMs = 100;
// How often the window looks whether a cancelled run has ended.
constexpr int kWatchMs = 20;
// Room beside the title for the window frame's icon and buttons.
constexpr int kTitleBarExtra = 160;

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// Drops user input everywhere but in the progress dialog while work runs, so
// that nothing typed meanwhile reaches the fields afterwards.
class InputBlocker final : public QObject {
  public:
    InputBlocker() { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    void allow(QWidget* dialog) { m_allowed = dialog; }

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!IsUserInput(event->type()))
            return false;
        if (m_allowed) {
            if (auto* widget = qobject_cast<QWidget*>(receiver);
                widget && widget->window() == m_allowed)
                return false;
            if (auto* window = qobject_cast<QWindow*>(receiver);
                window && window == m_allowed->windowHandle())
                return false;
        }
        return true;
    }

  private:
    QWidget* m_allowed = nullptr;
};

// Turns a close request on the progress dialog (its title bar's button, the
// window manager) into one on its owner, which decides what the work does
// (a generation is cancelled, a save finishes) and then closes. The dialog
// itself stays up for as long as the work runs.
class CloseForwarder final : public QObject {
  public:
    explicit CloseForwarder(QWidget* owner) : m_owner(owner) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Close)
            return false;
        event->ignore();
        // Queued: the owner's close may end the work and, with it, the dialog.
        QMetaObject::invokeMethod(
            m_owner, [owner = m_owner] { owner->close(); }, Qt::QueuedConnection);
        return true;
    }

  private:
    QPointer<QWidget> m_owner;
};

// The busy cursor for as long as the work runs.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::unique_ptr<QProgressDialog> MakeDialog(QWidget* owner, const WorkOptions& options,
                                            WorkProgress& progress) {
    // progress outlives the dialog: RunInBackground holds it.
    auto dialog = std::make_unique<QProgressDialog>(owner);
    dialog->setObjectName(QString::fromLatin1(kProgressDialogName));
    dialog->setWindowTitle(ApplicationTitle());
    dialog->setLabelText(options.label);
    // Not modal: Qt drops a close request from the window system to a window
    // that a modal dialog blocks, and the window must hear it to cancel the
    // run and close. InputBlocker keeps input from the other windows instead.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    if (options.countsBytes)
        dialog->setRange(0, 0); // no end known: a busy bar
    else
        dialog->setRange(0, 1000);
    if (options.cancellable) {
        dialog->setCancelButton(new QPushButton(CancelText(), dialog.get()));
        QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(),
                         [&progress] { progress.cancel(); });
    } else {
        dialog->setCancelButton(nullptr);
    }
    dialog->setMinimumWidth(std::max(dialog->sizeHint().width(), TitleWidth(ApplicationTitle())));
    return dialog;
}

// 1234567 as "1,234,567", whatever the locale.
QString GroupDigits(std::uint64_t n) {
    QString digits = QString::number(qulonglong(n));
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return digits;
}

void Refresh(QProgressDialog& dialog, const WorkOptions& options, const WorkProgress& progress) {
    if (options.countsBytes) {
        dialog.setLabelText(options.label + QLatin1Char('\n') +
                            QCoreApplication::translate("Talorin", "%1 バイト").arg(GroupDigits(progress.done())));
        return;
    }
    const std::uint64_t total = progress.total();
    if (total > 0)
        dialog.setValue(int(std::min(progress.done(), total) * 1000 / total));
}

} // namespace

int TitleWidth(const QString& title) {
    return QFontMetrics(QApplication::font()).horizontalAdvance(title) + kTitleBarExtra;
}

BackgroundWorker::BackgroundWorker() : m_thread([this] { run(); }) {}

BackgroundWorker::~BackgroundWorker() {
    std::deque<Entry> dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        dropped = std::exchange(m_queue, {});
        if (m_running)
            m_running->cancel();
    }
    m_wake.notify_all();
    m_thread.join();
}

BackgroundWorker::Lane BackgroundWorker::newLane() {
    return ++m_lastLane;
}

std::deque<BackgroundWorker::Entry> BackgroundWorker::supersede(Lane lane) {
    std::deque<Entry> dropped;
    if (lane == 0)
        return dropped;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->lane != lane) {
            ++it;
            continue;
        }
        dropped.push_back(std::move(*it));
        it = m_queue.erase(it);
    }
    if (m_running && m_runningLane == lane)
        m_running->cancel();
    return dropped;
}

std::shared_ptr<WorkProgress> BackgroundWorker::post(Task task, Lane lane,
                                                     std::shared_ptr<WorkProgress> progress) {
    if (!progress)
        progress = std::make_shared<WorkProgress>();
    std::deque<Entry> dropped; // what they hold is freed outside the lock
    {
        const std::lock_guard lock(m_mutex);
        dropped = supersede(lane);
        m_queue.push_back({std::move(task), progress, lane});
    }
    m_wake.notify_one();
    return progress;
}

void BackgroundWorker::cancel(Lane lane) {
    std::deque<Entry> dropped;
    const std::lock_guard lock(m_mutex);
    dropped = supersede(lane);
}

void BackgroundWorker::run() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            entry = std::move(m_queue.front());
            m_queue.pop_front();
            m_running = entry.progress;
            m_runningLane = entry.lane;
        }
        // A task's own errors are its business: it hands them back itself.
        try {
            entry.task(*entry.progress);
        } catch (...) {
        }
        entry.task = nullptr; // what it held is freed here, off the UI thread
        const std::lock_guard lock(m_mutex);
        m_running.reset();
        m_runningLane = 0;
    }
}

namespace {

// What the task shares with the waiting window, kept alive by both.
struct Job {
    std::exception_ptr failure;
    std::mutex mutex;
    QEventLoop* loop = nullptr; // null once the window no longer waits
};

} // namespace

void RunInBackground(BackgroundWorker& worker, QWidget* owner, const WorkOptions& options,
                     const std::shared_ptr<WorkProgress>& progress,
                     std::function<void(WorkProgress&)> work) {
    InputBlocker blocker;
    BusyCursor busy;
    QEventLoop loop;
    auto job = std::make_shared<Job>();
    job->loop = &loop;

    worker.post(
        [job, work = std::move(work)](WorkProgress& p) {
            std::exception_ptr failure;
            try {
                work(p);
            } catch (...) {
                failure = std::current_exception();
            }
            const std::lock_guard lock(job->mutex);
            // Moved, so that the window holds the only reference once it has
            // looked: the exception is then freed on the thread that read it.
            job->failure = std::move(failure);
            // Posted: the loop ends on its own thread, also when it has not
            // started yet. By name, not with a functor: a functor's captures
            // would be freed on whichever thread lets go last.
            if (QEventLoop* waiting = job->loop)
                QMetaObject::invokeMethod(waiting, "quit", Qt::QueuedConnection);
        },
        0, progress);

    CloseForwarder forwarder(owner); // declared first: outlives the dialog
    std::unique_ptr<QProgressDialog> dialog;
    QTimer show;
    show.setSingleShot(true);
    show.setTimerType(Qt::PreciseTimer); // a coarse timer may fire a little early
    QObject::connect(&show, &QTimer::timeout, &loop, [&] {
        dialog = MakeDialog(owner, options, *progress);
        dialog->installEventFilter(&forwarder);
        blocker.allow(dialog.get());
        Refresh(*dialog, options, *progress);
        dialog->show();
    });
    show.start(kProgressDelayMs);
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (dialog)
            Refresh(*dialog, options, *progress);
    });
    refresh.start(kRefreshMs);
    // A cancel that the work does not answer in time: stop waiting for it.
    bool abandon = false;
    QElapsedTimer sinceCancel;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!options.cancellable || !progress->cancelled())
            return;
        if (!sinceCancel.isValid())
            sinceCancel.start();
        else if (sinceCancel.elapsed() >= kCancelGraceMs - kWatchMs) {
            abandon = true;
            loop.quit();
        }
    });
    watch.start(kWatchMs);

    loop.exec();
    {
        const std::lock_guard lock(job->mutex);
        job->loop = nullptr;
    }
    blocker.allow(nullptr);
    dialog.reset();
    if (abandon)
        throw talorin::Error(talorin::ErrorKind::Cancelled, talorin::kCancelledText);
    std::exception_ptr failure;
    {
        const std::lock_guard lock(job->mutex);
        failure = std::move(job->failure);
    }
    if (failure)
        std::rethrow_exception(failure);
}
