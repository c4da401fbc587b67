// The 3D view drawing known terrains through a real OpenGL context (Mesa's
// software renderer on Xvfb), checked pixel by pixel.

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <memory>
#include <numbers>

#include "testmeshes.h"
#include "ui/terrainview.h"

using talorin::ViewCamera;

namespace {

std::shared_ptr<const talorin::ViewGeometry> Geometry(const talorin::TerrainMesh& mesh,
                                                      std::size_t perCell = 0) {
    return std::make_shared<const talorin::ViewGeometry>(talorin::BuildViewGeometry(mesh, perCell));
}

ViewCamera StraightDown(double z, double distance) {
    ViewCamera camera;
    camera.target = {0, 0, z};
    camera.distance = distance;
    camera.yaw = 0;
    camera.pitch = std::numbers::pi / 2;
    return camera;
}

int Brightness(QRgb c) {
    return qRed(c) + qGreen(c) + qBlue(c);
}

void Send(QWidget* to, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), QPointF(to->mapToGlobal(at)), button, held, modifiers);
    QApplication::sendEvent(to, &event);
}

void Drag(QWidget* view, QPoint from, QPoint to, Qt::MouseButton button,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Send(view, QEvent::MouseButtonPress, from, button, button, modifiers);
    Send(view, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button, modifiers);
    Send(view, QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
    Send(view, QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
}

void Wheel(QWidget* view, QPoint at, int delta) {
    QWheelEvent event(QPointF(at), QPointF(view->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &event);
}

// A contour image of four plain quarters, so that texturing shows.
QImage Quarters() {
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, (x < 32) == (y < 32) ? qRgb(230, 30, 30) : qRgb(30, 30, 230));
    return image;
}

} // namespace

class TerrainViewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TerrainViewWindow> m_window;

    TerrainView* shownView() {
        m_window = std::make_unique<TerrainViewWindow>();
        if (!m_window->view())
            qFatal("OpenGL did not start under Xvfb: %s", qPrintable(m_window->message()->text()));
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("3D view not exposed");
        return m_window->view();
    }

  private slots:
    void cleanup() { m_window.reset(); }

    void windowIsSeparateResizableAndNonModal() {
        TerrainView* view = shownView();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("3Dビュー"));
        QVERIFY(m_window->isWindow());
        QCOMPARE(m_window->size(), QSize(640, 480));
        QCOMPARE(view->size(), QSize(640, 480));
        QVERIFY(!m_window->isModal());
        QVERIFY(m_window->minimumSize() != m_window->maximumSize());
        m_window->resize(800, 500);
        QTRY_COMPARE(view->size(), QSize(800, 500));
        QVERIFY(view->failure().isEmpty());
    }

    void flatGroundFromAboveIsEvenlyLit() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Flat(4, 8, 2000, 100)), QString());
        view->setCamera(StraightDown(100, 3000));
        const QImage image = view->grabFramebuffer();
        // The square covers the middle of the view; sample well inside it.
        const auto corner = talorin::Project(view->camera(), {640, 480}, {-1000, -1000, 100});
        QVERIFY(corner && corner->x > 0 && corner->y > 0);
        const QRgb background = image.pixel(2, 2);
        const QRgb middle = image.pixel(320, 240);
        QVERIFY(Brightness(middle) != Brightness(background));
        for (int y = int(corner->y) + 4; y < 480 - int(corner->y) - 4; y += 7)
            for (int x = int(corner->x) + 4; x < 640 - int(corner->x) - 4; x += 7) {
                const QRgb c = image.pixel(x, y);
                QVERIFY2(std::abs(qRed(c) - qRed(middle)) <= 1 &&
                             std::abs(qGreen(c) - qGreen(middle)) <= 1 &&
                             std::abs(qBlue(c) - qBlue(middle)) <= 1,
                         qPrintable(QStringLiteral("uneven at %1,%2").arg(x).arg(y)));
            }
    }

    void peakIsLitFromTheUpperLeft() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Peak(4, 16, 2000, 600)), QString());
        view->setCamera(StraightDown(0, 3500));
        const QImage image = view->grabFramebuffer();
        // North-west of the top faces the upper left of the screen.
        const auto upperLeft = talorin::Project(view->camera(), {640, 480}, {-350, -350, 300});
        const auto lowerRight = talorin::Project(view->camera(), {640, 480}, {350, 350, 300});
        QVERIFY(upperLeft && lowerRight);
        QVERIFY(upperLeft->x < 320 && upperLeft->y < 240);
        QVERIFY(lowerRight->x > 320 && lowerRight->y > 240);
        const int bright = Brightness(image.pixel(int(upperLeft->x), int(upperLeft->y)));
        const int dark = Brightness(image.pixel(int(lowerRight->x), int(lowerRight->y)));
        QVERIFY2(bright > dark + 60, qPrintable(QStringLiteral("%1 vs %2").arg(bright).arg(dark)));
        // Upper right and lower left are lit alike, between the two.
        const auto upperRight = talorin::Project(view->camera(), {640, 480}, {-350, 350, 300});
        const auto lowerLeft = talorin::Project(view->camera(), {640, 480}, {350, -350, 300});
        const int side1 = Brightness(image.pixel(int(upperRight->x), int(upperRight->y)));
        const int side2 = Brightness(image.pixel(int(lowerLeft->x), int(lowerLeft->y)));
        QVERIFY(std::abs(side1 - side2) <= 6);
        QVERIFY(side1 < bright && side1 > dark);
    }

    void orbitChangesThePictureAndHomeRestoresItExactly() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Peak(4, 8, 2000, 500)), QString());
        const QImage first = view->grabFramebuffer();
        const ViewCamera home = view->camera();

        Drag(view, {320, 240}, {390, 260}, Qt::LeftButton);
        QVERIFY(view->camera().yaw != home.yaw);
        QVERIFY(view->grabFramebuffer() != first);
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->grabFramebuffer(), first);
        QCOMPARE(view->camera(), home);

        // Panning (middle button, or Shift with the left one), then a double click.
        Drag(view, {320, 240}, {300, 200}, Qt::MiddleButton);
        QCOMPARE(view->camera().yaw, home.yaw);
        QVERIFY(!(view->camera().target == home.target));
        Drag(view, {320, 240}, {350, 250}, Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(view->camera().pitch, home.pitch);
        QVERIFY(view->grabFramebuffer() != first);
        Send(view, QEvent::MouseButtonDblClick, {100, 100}, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(view->grabFramebuffer(), first);
    }

    void wheelZoomsTowardsThePointUnderTheCursor() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Peak(4, 8, 2000, 500)), QString());
        const QImage first = view->grabFramebuffer();
        const ViewCamera before = view->camera();
        const QPoint cursor(250, 300);
        const talorin::Ray ray = talorin::PickRay(before, {640, 480}, cursor.x(), cursor.y());
        const auto point = talorin::PickGeometry(*view->terrain(), ray);
        QVERIFY(point);

        Wheel(view, cursor, 240);
        QVERIFY(view->camera().distance < before.distance * 0.75);
        const auto after = talorin::Project(view->camera(), {640, 480}, *point);
        QVERIFY(after);
        QVERIFY(std::fabs(after->x - cursor.x()) < 1e-6);
        QVERIFY(std::fabs(after->y - cursor.y()) < 1e-6);
        QVERIFY(view->grabFramebuffer() != first);
        Wheel(view, cursor, -240);
        QVERIFY(std::fabs(view->camera().distance - before.distance) < 1e-6 * before.distance);
    }

    void movingCameraDrawsDenseTerrainCoarselyThenExactly() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Peak(16, 32, 2000, 500)), QString());
        view->grabFramebuffer();
        Send(view, QEvent::MouseButtonPress, {320, 240}, Qt::LeftButton, Qt::LeftButton);
        Send(view, QEvent::MouseMove, {350, 250}, Qt::NoButton, Qt::LeftButton);
        QVERIFY(view->moving());
        const QImage moving = view->grabFramebuffer();
        Send(view, QEvent::MouseButtonRelease, {350, 250}, Qt::LeftButton, Qt::NoButton);
        QVERIFY(!view->moving());
        const QImage still = view->grabFramebuffer();
        view->setCamera(view->camera());
        QCOMPARE(view->grabFramebuffer(), still);
        // The stand-in differs, but only in detail.
        QVERIFY(moving != still);
        double difference = 0;
        for (int y = 0; y < still.height(); ++y)
            for (int x = 0; x < still.width(); ++x)
                difference +=
                    std::abs(Brightness(moving.pixel(x, y)) - Brightness(still.pixel(x, y)));
        QVERIFY(difference / (still.width() * still.height()) < 3.0);

        Wheel(view, {320, 240}, 120);
        QVERIFY(view->moving());
        QTRY_VERIFY_WITH_TIMEOUT(!view->moving(), 2000);
    }

    void wireframeTextureAndOutlinesToggle() {
        TerrainView* view = shownView();
        const auto mesh = testmesh::Peak(4, 4, 2000, 500);
        view->setTerrain(Geometry(mesh, mesh.polygonCount() / 16), QString());
        view->setContourImage(Quarters());
        const QImage plain = view->grabFramebuffer();

        for (const auto key : {Qt::Key_W, Qt::Key_T, Qt::Key_L}) {
            QTest::keyClick(view, key);
            const QImage toggled = view->grabFramebuffer();
            QVERIFY2(toggled != plain, qPrintable(QKeySequence(key).toString()));
            QTest::keyClick(view, key);
            QCOMPARE(view->grabFramebuffer(), plain);
        }
        QTest::keyClick(view, Qt::Key_W);
        QVERIFY(view->wireframe());
        QTest::keyClick(view, Qt::Key_W);

        // The texture puts the image's quarters where UV says: the top left
        // of the image (north-west) is red, the top right (north-east) blue.
        view->setTextured(true);
        view->setCamera(StraightDown(0, 3500));
        const QImage textured = view->grabFramebuffer();
        const auto nw = talorin::Project(view->camera(), {640, 480}, {-600, -600, 0});
        const auto ne = talorin::Project(view->camera(), {640, 480}, {-600, 600, 0});
        const QRgb red = textured.pixel(int(nw->x), int(nw->y));
        const QRgb blue = textured.pixel(int(ne->x), int(ne->y));
        QVERIFY(qRed(red) > 2 * qBlue(red));
        QVERIFY(qBlue(blue) > 2 * qRed(blue));
    }

    void linesArriveAfterTheSurface() {
        TerrainView* view = shownView();
        const auto mesh = testmesh::Peak(4, 4, 2000, 500);
        auto surface = std::make_shared<talorin::ViewGeometry>(talorin::BuildViewSurface(mesh));
        view->setTerrain(surface, QString());
        const QImage plain = view->grabFramebuffer();
        view->setWireframe(true);
        QCOMPARE(view->grabFramebuffer(), plain); // no edges yet
        auto full = std::make_shared<talorin::ViewGeometry>(*surface);
        talorin::AddViewExtras(mesh, 0, *full);
        view->completeTerrain(full);
        const QImage wired = view->grabFramebuffer();
        QVERIFY(wired != plain);
        view->setWireframe(false);
        QCOMPARE(view->grabFramebuffer(), plain);
    }

    void cellOutlinesAreRed() {
        TerrainView* view = shownView();
        const auto mesh = testmesh::Flat(2, 8, 2000, 0);
        view->setTerrain(Geometry(mesh, mesh.polygonCount() / 4), QString());
        view->setCamera(StraightDown(0, 3000));
        view->setCellOutlines(true);
        const QImage image = view->grabFramebuffer();
        // The lattice line through the middle runs along X = 0: across the screen.
        int redPixels = 0;
        for (int y = 236; y <= 244; ++y) {
            const QRgb c = image.pixel(320 + 100, y);
            redPixels += qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
        }
        QVERIFY(redPixels >= 1);
        const QRgb offLine = image.pixel(320 + 100, 240 + 60);
        QVERIFY(!(qRed(offLine) > 200 && qGreen(offLine) < 60));
    }

    void newTerrainKeepsTheCameraUnlessItsGroundChanges() {
        TerrainView* view = shownView();
        view->setTerrain(Geometry(testmesh::Peak(2, 4, 2000, 500)), QStringLiteral("A"));
        view->grabFramebuffer();
        Drag(view, {320, 240}, {360, 240}, Qt::LeftButton);
        const ViewCamera moved = view->camera();
        // Higher, same ground: the user's camera stays.
        view->setTerrain(Geometry(testmesh::Peak(2, 4, 2000, 900)),
                         QStringLiteral("プレビュー: 再帰回数 4"));
        view->grabFramebuffer();
        QCOMPARE(view->camera(), moved);
        QCOMPARE(view->label(), QStringLiteral("プレビュー: 再帰回数 4"));
        // Larger ground: the first view of the new terrain.
        view->setTerrain(Geometry(testmesh::Peak(2, 4, 3000, 500)), QString());
        view->grabFramebuffer();
        QCOMPARE(view->camera(), talorin::FitCamera(view->terrain()->bounds, {640, 480}));
        QVERIFY(view->label().isEmpty());
    }
};

QTEST_MAIN(TerrainViewTest)
#include "tst_terrainview.moc"
