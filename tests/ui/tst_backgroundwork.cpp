// Work on a worker thread while a window waits: the result or the error comes
// back, the window keeps painting and drops input meanwhile, and the progress
// dialog appears late enough, can cancel, and fits its title.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "duringrun.h"
#include "base/error.h"
#include "ui/backgroundwork.h"
#include "ui/dialogs.h"

namespace {

// Work that reports steps until it is cancelled (or a step limit is reached).
void UntilCancelled(WorkProgress& progress, int limit = 600) {
    for (int i = 0; i < limit; ++i) {
        if (!progress.report(std::uint64_t(i), std::uint64_t(limit)))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class PaintCounter final : public QWidget {
  public:
    std::atomic<int> paints{0};

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

QProgressDialog* DialogOf(QWidget& owner) {
    return owner.findChild<QProgressDialog*>(QString::fromLatin1(kProgressDialogName));
}

} // namespace

class TestBackgroundWork : public QObject {
    Q_OBJECT

  private slots:
    void shortWorkShowsNoDialog() {
        QWidget owner;
        BackgroundWorker worker;
        owner.show();
        const auto progress = std::make_shared<WorkProgress>();
        int result = 0;
        bool sawDialog = false;
        During(&owner, [&] {
            sawDialog = sawDialog || DialogOf(owner);
            return false;
        });
        RunInBackground(worker, &owner, {QStringLiteral("work"), true, false}, progress,
                        [&](WorkProgress&) { result = 42; });
        QCOMPARE(result, 42);
        QVERIFY(!sawDialog);
        QVERIFY(!DialogOf(owner));
        QVERIFY(!QApplication::overrideCursor());
    }

    void errorComesBackOnTheCallersThread() {
        QWidget owner;
        BackgroundWorker worker;
        const auto progress = std::make_shared<WorkProgress>();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 RunInBackground(worker, &owner, {}, progress, [](WorkProgress&) {
                                     throw std::runtime_error("failed");
                                 }));
        QVERIFY(!QApplication::overrideCursor());
    }

    void cancelButtonStopsTheWork() {
        QWidget owner;
        BackgroundWorker worker;
        owner.show();
        const auto progress = std::make_shared<WorkProgress>();
        QElapsedTimer clock;
        qint64 shownAt = -1;
        QString title;
        int width = 0;
        bool busyCursor = false;
        During(&owner, [&] {
            busyCursor = QApplication::overrideCursor() &&
                         QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            QProgressDialog* dialog = DialogOf(owner);
            if (!dialog || !dialog->isVisible())
                return false;
            shownAt = clock.elapsed();
            title = dialog->windowTitle();
            width = dialog->width();
            auto* cancel = dialog->findChild<QPushButton*>();
            if (!cancel || cancel->text() != CancelText())
                return false;
            QTest::mouseClick(cancel, Qt::LeftButton);
            return true;
        });
        // Shared: work left running after a cancel may still write it.
        const auto finished = std::make_shared<std::atomic<bool>>(false);
        clock.start();
        try {
            RunInBackground(worker, &owner, {QStringLiteral("長い仕事"), true, false}, progress,
                            [finished](WorkProgress& p) {
                                UntilCancelled(p);
                                *finished = !p.cancelled();
                            });
        } catch (const talorin::Error& e) {
            // A loaded machine (a sanitizer build) may pass the cancel grace.
            QCOMPARE(e.kind(), talorin::ErrorKind::Cancelled);
        }
        QVERIFY(progress->cancelled());
        QVERIFY(!*finished);
        QVERIFY(shownAt >= kProgressDelayMs);
        QVERIFY(busyCursor);
        QCOMPARE(title, ApplicationTitle());
        QVERIFY(width >= TitleWidth(title));
        QVERIFY(width > QFontMetrics(QApplication::font()).horizontalAdvance(title));
        QVERIFY(!DialogOf(owner));
        QVERIFY(!QApplication::overrideCursor());
    }

    // Work that does not look at the cancel for a long while is left to end
    // on its own; the caller gets the cancel at once and is not kept waiting,
    // and the worker's owner going waits for it.
    void slowCancelIsNotWaitedFor() {
        const auto ended = std::make_shared<std::atomic<bool>>(false);
        {
            QWidget owner;
            BackgroundWorker worker;
            const auto progress = std::make_shared<WorkProgress>();
            During(&owner, [&] {
                progress->cancel();
                return true;
            });
            bool cancelled = false;
            try {
                RunInBackground(worker, &owner, {QString(), true, false}, progress,
                                [ended](WorkProgress&) {
                                    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                                    *ended = true;
                                });
            } catch (const talorin::Error& e) {
                cancelled = e.kind() == talorin::ErrorKind::Cancelled;
            }
            QVERIFY(cancelled);
            QVERIFY(!*ended);
            QVERIFY(!QApplication::overrideCursor());
        }
        QVERIFY(*ended);
    }

    // A newer request of a lane drops the older one still queued and
    // cancels the one running; other lanes are left alone.
    void newerRequestSupersedesOlder() {
        BackgroundWorker worker;
        const BackgroundWorker::Lane lane = worker.newLane();
        std::atomic<bool> started{false};
        std::atomic<int> ran{0};
        const auto first = worker.post(
            [&](WorkProgress& p) {
                started = true;
                UntilCancelled(p);
            },
            lane);
        QTRY_VERIFY(started);
        const auto queued = worker.post([&](WorkProgress&) { ran += 10; }, lane);
        const auto other = worker.post([&](WorkProgress&) { ran += 100; }, worker.newLane());
        const auto newest = worker.post([&](WorkProgress&) { ran += 1; }, lane);
        QVERIFY(first->cancelled());
        QTRY_COMPARE(ran.load(), 101);
        QVERIFY(!newest->cancelled() && !other->cancelled());
    }

    // Work that cannot be cancelled is always waited for.
    void uncancellableWorkIsWaitedFor() {
        QWidget owner;
        BackgroundWorker worker;
        const auto progress = std::make_shared<WorkProgress>();
        During(&owner, [&] {
            progress->cancel();
            return true;
        });
        bool ended = false;
        RunInBackground(worker, &owner, {QString(), false, false}, progress, [&](WorkProgress&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            ended = true;
        });
        QVERIFY(ended);
    }

    void ownerKeepsPaintingAndDropsInput() {
        QWidget owner;
        BackgroundWorker worker;
        auto* counter = new PaintCounter;
        counter->setParent(&owner);
        counter->setGeometry(0, 0, 50, 50);
        auto* field = new QLineEdit(&owner);
        field->setGeometry(0, 60, 100, 24);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        owner.activateWindow();
        field->setFocus();
        QCoreApplication::processEvents();
        const auto progress = std::make_shared<WorkProgress>();
        int paintsBefore = 0;
        int paintsDuring = 0;
        int step = 0;
        During(&owner, [&] {
            switch (step++) {
            case 0:
                paintsBefore = counter->paints;
                counter->update();
                QTest::keyClicks(field, QStringLiteral("abc"));
                QTest::mouseClick(field, Qt::LeftButton);
                return false;
            case 5:
                paintsDuring = counter->paints;
                progress->cancel();
                return true;
            default:
                return false;
            }
        });
        RunInBackground(worker, &owner, {}, progress, [](WorkProgress& p) { UntilCancelled(p); });
        QCoreApplication::processEvents();
        QVERIFY(paintsDuring > paintsBefore);
        QCOMPARE(field->text(), QString());
        // Input after the run reaches the field again.
        QTest::keyClicks(field, QStringLiteral("x"));
        QCOMPARE(field->text(), QStringLiteral("x"));
    }

    void bytesAreShownAsANumber() {
        QWidget owner;
        BackgroundWorker worker;
        owner.show();
        const auto progress = std::make_shared<WorkProgress>();
        QString label;
        bool noCancel = false;
        During(&owner, [&] {
            QProgressDialog* dialog = DialogOf(owner);
            if (!dialog || !dialog->isVisible() || progress->done() < 1234567)
                return false;
            QTest::qWait(150); // one refresh
            label = dialog->findChild<QLabel*>()->text();
            noCancel = dialog->findChild<QPushButton*>() == nullptr;
            progress->cancel();
            return true;
        });
        RunInBackground(worker, &owner, {QStringLiteral("保存"), false, true}, progress,
                        [](WorkProgress& p) {
                            for (int i = 0; p.report(1234567, 0) && i < 1000; ++i)
                                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        });
        QCOMPARE(label, QStringLiteral("保存\n1,234,567 バイト"));
        QVERIFY(noCancel);
    }
};

QTEST_MAIN(TestBackgroundWork)
#include "tst_backgroundwork.moc"
