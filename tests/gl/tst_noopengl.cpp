// The 3D view's window where OpenGL cannot start: run without any display
// (offscreen platform, DISPLAY empty), it says so and nothing breaks.

#include <QLabel>
#include <QtTest>

#include "testmeshes.h"
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
        QCOMPARE(window.message()->text(), kNoOpenGLText);
        QVERIFY(window.message()->text().contains(QStringLiteral("OpenGL")));
        // The window keeps working as a window.
        window.resize(300, 200);
        QTRY_COMPARE(window.message()->size(), QSize(300, 200));
        window.close();
    }
};

QTEST_MAIN(NoOpenGLTest)
#include "tst_noopengl.moc"
