// How quickly the window answers キャンセル: the output command is started on
// a run of 16.7 million quads (density 16, depth 8), its progress dialog's
// cancel button is pressed as soon as the dialog shows, and the time from the
// press until the command has returned (the window takes input again) is
// measured. Prints min, median and max over the runs.
//
//     QT_QPA_PLATFORM=offscreen ui_cancel_bench [runs]

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ui/backgroundwork.h"
#include "ui/depthfield.h"
#include "ui/dialogs.h"
#include "ui/mainwindow.h"
#include "ui/outputoptions.h"

namespace {

// Answers every dialog with a cancel and shows nothing.
class SilentDialogs final : public Dialogs {
  public:
    QString openFile(QWidget*, const FileDialogRequest&) override { return {}; }
    QString saveFile(QWidget*, const FileDialogRequest&) override { return {}; }
    void message(QWidget*, const QString&) override {}
    void error(QWidget*, const QString&) override {}
    void beep() override {}
    bool outputOptions(QWidget*, OutputOptions&) override { return false; }
    SaveAnswer askSave(QWidget*, const QString&) override { return SaveAnswer::Discard; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    QImage image(512, 512, QImage::Format_RGB32);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            image.setPixel(x, y, qRgb(x / 2, y / 2, 100));
    const QString path = dir.filePath(QStringLiteral("hill.bmp"));
    image.save(path, "BMP");

    SilentDialogs dialogs;
    TTalorin_main window(dialogs, {QStringLiteral("talorin"), path});
    window.show();
    QCoreApplication::processEvents();
    window.findChild<QSlider*>(QStringLiteral("PaMaxBar"))->setValue(16);
    window.findChild<DepthField*>(QStringLiteral("PolygoneDepth"))->setText(QStringLiteral("8"));
    auto* output = window.findChild<QPushButton*>(QStringLiteral("SUFOutButton"));

    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer sincePress;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog =
                window.findChild<QProgressDialog*>(QString::fromLatin1(kProgressDialogName));
            if (!dialog || !dialog->isVisible() || sincePress.isValid())
                return;
            sincePress.start();
            dialog->findChild<QPushButton*>()->click();
        });
        poll.start(10);
        output->click();
        poll.stop();
        if (sincePress.isValid())
            ms.push_back(double(sincePress.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("the runs ended before their dialog showed\n");
        return 1;
    }
    std::printf(
        "press to return of the command, %zu runs: min %.1f ms, median %.1f ms, max %.1f ms\n",
        ms.size(), ms.front(), ms[ms.size() / 2], ms.back());
    return 0;
}
