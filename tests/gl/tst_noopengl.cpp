// The 3D view's window where OpenGL cannot start: run without any display
// (offscreen platform, DISPLAY empty), it says so and nothing breaks.

#include <QAction>
#include <QLabel>
#include <QtTest>

#include "../ui/fakedialogs.h"
#include "image/bitmap.h"
#include "ui/liveterrain.h"
#include "ui/mainwindow.h"
#include "ui/terrainview.h"

class NoOpenGLTest : public QObject {
    Q_OBJECT

  private slots:
    void probeFindsNoOpenGL() { QVERIFY(!ProbeViewFormat().has_value()); }

    void windowShowsThePlainMessage() {
        TerrainViewWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("3Dビュー"));
        QCOMPARE(window.size(), QSize(640, 480));
        QVERIFY(window.view() == nullptr);
        QVERIFY(window.message() != nullptr);
        QVERIFY(window.message()->isVisible());
        QCOMPARE(window.message()->text(), NoOpenGLText());
        QVERIFY(window.message()->text().contains(QStringLiteral("OpenGL")));
        // The window keeps working as a window.
        window.resize(300, 200);
        QTRY_COMPARE(window.message()->size(), QSize(300, 200));
        window.close();
    }

    void mainWindowGoesOnWithoutTheView() {
        FakeDialogs dialogs;
        TTalorin_main w(dialogs, {QStringLiteral("talorin")});
        talorin::Bitmap image(40, 30);
        w.document().setImage(image, "flat");
        w.findChild<QAction*>(QStringLiteral("View3D"))->trigger();
        QVERIFY(w.terrainViewWindow());
        QVERIFY(!w.terrainViewWindow()->view());
        QCOMPARE(w.terrainViewWindow()->message()->text(), NoOpenGLText());
        // Edits start no runs for a view that is not there, and work as ever.
        w.document().press({100, 100, talorin::kLeftButton});
        w.document().setDepth(4);
        QCOMPARE(w.liveTerrain()->requested(), std::uint64_t(0));
        QVERIFY(w.document().canUndo());
        QVERIFY(dialogs.events.isEmpty());
    }
};

QTEST_MAIN(NoOpenGLTest)
#include "tst_noopengl.moc"
