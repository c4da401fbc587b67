#include "ui/backgroundwork.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <exception>
#include <memory>
#include <thread>

#include "ui/dialogs.h"

namespace {

constexpr int kRefreshMs = 100;
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

// The busy cursor for as long as the work runs.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::unique_ptr<QProgressDialog> MakeDialog(QWidget* owner, const WorkOptions& options,
                                            WorkProgress& progress) {
    auto dialog = std::make_unique<QProgressDialog>(owner);
    dialog->setObjectName(QString::fromLatin1(kProgressDialogName));
    dialog->setWindowTitle(kApplicationTitle);
    dialog->setLabelText(options.label);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    if (options.countsBytes)
        dialog->setRange(0, 0); // no end known: a busy bar
    else
        dialog->setRange(0, 1000);
    if (options.cancellable) {
        dialog->setCancelButton(new QPushButton(kCancelText, dialog.get()));
        QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(),
                         [&progress] { progress.cancel(); });
    } else {
        dialog->setCancelButton(nullptr);
    }
    dialog->setMinimumWidth(std::max(dialog->sizeHint().width(), TitleWidth(kApplicationTitle)));
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
                            QStringLiteral("%1 バイト").arg(GroupDigits(progress.done())));
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

void RunInBackground(QWidget* owner, const WorkOptions& options, WorkProgress& progress,
                     const std::function<void(WorkProgress&)>& work) {
    InputBlocker blocker;
    BusyCursor busy;
    QEventLoop loop;
    std::exception_ptr failure;

    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        // Posted: the loop ends on its own thread, also when it has not started yet.
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });

    std::unique_ptr<QProgressDialog> dialog;
    QTimer show;
    show.setSingleShot(true);
    show.setTimerType(Qt::PreciseTimer); // a coarse timer may fire a little early
    QObject::connect(&show, &QTimer::timeout, &loop, [&] {
        dialog = MakeDialog(owner, options, progress);
        blocker.allow(dialog.get());
        Refresh(*dialog, options, progress);
        dialog->show();
    });
    show.start(kProgressDelayMs);
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (dialog)
            Refresh(*dialog, options, progress);
    });
    refresh.start(kRefreshMs);

    loop.exec();
    worker.join();
    blocker.allow(nullptr);
    dialog.reset();
    if (failure)
        std::rethrow_exception(failure);
}
