// The 3D view opened from the main window, following the user's edits live
// and showing the output shape, drawn through real OpenGL on Xvfb.

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>

#include "../ui/fakedialogs.h"
#include "terrain/adaptive.h"
#include "terrain/solid.h"
#include "terrain/terrain.h"
#include "view/viewgeometry.h"
#include "tests/support/bmp24.h"
#include "ui/liveterrain.h"
#include "ui/mainwindow.h"
#include "ui/paintbox.h"
#include "ui/terrainview.h"

namespace {

// Generous: a run is a few tens of milliseconds idle, but the test machine
// may be busy. How fast it is is measured in bench/ui_view_bench.
constexpr int kWaitMs = 20000;

} // namespace

class LiveViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_image;
    FakeDialogs m_dialogs;
    std::unique_ptr<TTalorin_main> m_window;

    // The main window on a 120 x 90 image of one round hill, with the 3D
    // view opened through its menu and showing its first terrain.
    TerrainView* openView() {
        m_window = std::make_unique<TTalorin_main>(m_dialogs,
                                                   QStringList{QStringLiteral("talorin"), m_image});
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("main window not exposed");
        m_window->findChild<QAction*>(QStringLiteral("View3D"))->trigger();
        TerrainViewWindow* viewWindow = m_window->terrainViewWindow();
        if (!viewWindow || !viewWindow->view())
            qFatal("no 3D view under Xvfb");
        if (!QTest::qWaitForWindowExposed(viewWindow))
            qFatal("3D view not exposed");
        if (!QTest::qWaitFor([&] { return m_window->liveTerrain()->shown() >= 1; }, kWaitMs))
            qFatal("no first terrain");
        return viewWindow->view();
    }

    // Waits until the view shows the newest request.
    bool settled() {
        LiveTerrain* live = m_window->liveTerrain();
        return QTest::qWaitFor([&] { return live->upToDate() && live->view()->terrain(); },
                               kWaitMs);
    }

    // The view's terrain built afresh, synchronously, from the document as it is.
    talorin::ViewGeometry expectedPreview() {
        talorin::Talorin_Args args = m_window->document().makeArgs();
        args.Depth = talorin::PreviewDepth(args.Depth, args.QuadMode, args.PaMax);
        return talorin::BuildViewGeometry(talorin::GenerateTerrainMesh(args));
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_image = m_dir.filePath(QStringLiteral("hill.bmp"));
        QFile file(m_image);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::string bytes = testsupport::Bmp24Bytes(120, 90, [](int x, int y) {
            const double r = std::hypot(x - 60.0, y - 45.0) / 45.0;
            const auto v = std::uint8_t(r >= 1 ? 0 : 255 * (1 - r));
            return talorin::Rgb{v, v, v};
        });
        QCOMPARE(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
    }

    void cleanup() {
        m_window.reset();
        m_dialogs = FakeDialogs();
    }

    void menuOpensOneSeparateWindow() {
        m_window = std::make_unique<TTalorin_main>(m_dialogs,
                                                   QStringList{QStringLiteral("talorin"), m_image});
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QSize mainSize = m_window->size();
        auto* menu = m_window->findChild<QMenu*>(QStringLiteral("ViewMenu"));
        auto* action = m_window->findChild<QAction*>(QStringLiteral("View3D"));
        QVERIFY(menu && action);
        QCOMPARE(menu->title(), QStringLiteral("表示(&V)"));
        QCOMPARE(action->text(), QStringLiteral("3Dビュー(&3)"));
        QCOMPARE(action->shortcut(), QKeySequence(Qt::Key_F3));
        QVERIFY(!m_window->terrainViewWindow());

        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QTest::keyClick(m_window.get(), Qt::Key_F3);
        TerrainViewWindow* first = m_window->terrainViewWindow();
        QVERIFY(first && first->isVisible() && first->isWindow());
        QCOMPARE(first->windowTitle(), QStringLiteral("3Dビュー"));
        QVERIFY(!first->isModal());
        first->close();
        // Closed, it costs nothing: edits start no runs.
        const auto requested = m_window->liveTerrain()->requested();
        m_window->document().press({60, 60, talorin::kLeftButton});
        QCOMPARE(m_window->liveTerrain()->requested(), requested);
        action->trigger();
        QVERIFY(m_window->liveTerrain()->requested() > requested);
        QCOMPARE(m_window->terrainViewWindow(), first);
        QVERIFY(first->isVisible());
        QCOMPARE(m_window->size(), mainSize);
    }

    void clickOnThePreviewChangesThePicture() {
        TerrainView* view = openView();
        QVERIFY(settled());
        const QImage before = view->grabFramebuffer();
        const auto requested = m_window->liveTerrain()->requested();
        auto* preview = m_window->findChild<PaintBox*>(QStringLiteral("BmpShow"));
        QTest::mouseClick(preview, Qt::LeftButton, {}, QPoint(60, 60));
        QVERIFY(m_window->liveTerrain()->requested() > requested);
        QVERIFY(settled());
        QVERIFY(view->grabFramebuffer() != before);
        QCOMPARE(view->terrain()->vertices.size(), expectedPreview().vertices.size());
        // Undo brings the first terrain back, picture and all.
        m_window->document().undo();
        QVERIFY(settled());
        QCOMPARE(view->grabFramebuffer(), before);
    }

    void newestEditWins() {
        TerrainView* view = openView();
        for (int i = 0; i < 6; ++i)
            m_window->document().press({40 + 20 * i, 50 + 10 * i, talorin::kLeftButton});
        m_window->document().setLevel(35);
        QVERIFY(settled());
        const talorin::ViewGeometry expected = expectedPreview();
        const talorin::ViewGeometry& shown = *view->terrain();
        QCOMPARE(shown.vertices.size(), expected.vertices.size());
        bool same = true;
        for (std::size_t i = 0; i < shown.vertices.size() && same; ++i)
            same = std::memcmp(shown.vertices[i].position, expected.vertices[i].position,
                               sizeof(float) * 3) == 0;
        QVERIFY(same);
    }

    void deepSettingsArePreviewedWithinTheBudget() {
        TerrainView* view = openView();
        m_window->document().setDensity(16);
        m_window->document().setDepth(7);
        QVERIFY(settled());
        QCOMPARE(view->label(), QStringLiteral("プレビュー: 再帰回数 5"));
        QCOMPARE(view->terrain()->polygonCount, std::size_t(262144));
        m_window->document().setDepth(5);
        QVERIFY(settled());
        QCOMPARE(view->label(), QString());
        QCOMPARE(view->terrain()->polygonCount, std::size_t(262144));
        m_window->document().setQuadMode(false);
        QVERIFY(settled());
        QCOMPARE(view->label(), QStringLiteral("プレビュー: 再帰回数 4"));
    }

    void sizeAndHeightCountOnlyWhenTheyParse() {
        TerrainView* view = openView();
        QVERIFY(settled());
        auto* size = m_window->findChild<QLineEdit*>(QStringLiteral("Size"));
        const auto requested = m_window->liveTerrain()->requested();
        const auto shown = view->terrain();
        size->setText(QStringLiteral("12x"));
        QCOMPARE(m_window->liveTerrain()->requested(), requested);
        QCOMPARE(view->terrain(), shown);
        size->setText(QStringLiteral("3000"));
        QVERIFY(settled());
        QCOMPARE(view->terrain()->bounds.max.x, 1500.0);
        // Names do not alter the terrain: no run.
        const auto after = m_window->liveTerrain()->requested();
        m_window->findChild<QLineEdit*>(QStringLiteral("ObjName"))->setText(QStringLiteral("Yama"));
        QCOMPARE(m_window->liveTerrain()->requested(), after);
    }

    // With adaptive depth on, the preview is the adaptive mesh of the same
    // settings; turned off again, the uniform one.
    void adaptiveDepthIsPreviewed() {
        TerrainView* view = openView();
        m_window->document().setDepth(4);
        QVERIFY(settled());
        const std::size_t uniform = view->terrain()->polygonCount;
        OutputOptions options;
        options.adaptive = true;
        options.maxErrorText = QStringLiteral("20");
        options.maxError = 20;
        m_dialogs.optionsAnswers = {options};
        m_window->findChild<QAction*>(QStringLiteral("OutputOptionsMenu"))->trigger();
        QVERIFY(settled());
        const talorin::Talorin_Args args = m_window->document().makeArgs();
        const std::size_t adaptive = talorin::GenerateAdaptiveMesh(args, 20).polygonCount();
        QVERIFY(adaptive < uniform);
        QCOMPARE(view->terrain()->polygonCount, adaptive);
        options.adaptive = false;
        m_dialogs.optionsAnswers = {options};
        m_window->findChild<QAction*>(QStringLiteral("OutputOptionsMenu"))->trigger();
        QVERIFY(settled());
        QCOMPARE(view->terrain()->polygonCount, uniform);
    }

    // The solid base shows in the view while it is on, and goes with it.
    void solidBaseIsPreviewed() {
        TerrainView* view = openView();
        m_window->document().setDepth(3);
        QVERIFY(settled());
        const std::size_t top = view->terrain()->polygonCount;
        m_window->document().setSolid(true);
        QVERIFY(settled());
        const talorin::TerrainMesh solid = talorin::MakeSolid(
            talorin::GenerateTerrainMesh(m_window->document().makeArgs()), m_window->document().solidBase());
        QVERIFY(solid.polygonCount() > top);
        QCOMPARE(view->terrain()->polygonCount, solid.polygonCount());
        m_window->document().setSolid(false);
        QVERIFY(settled());
        QCOMPARE(view->terrain()->polygonCount, top);
    }

    void outputShowsTheExactShape() {
        TerrainView* view = openView();
        m_window->document().setDepth(8); // 16 cells x 4^8: 1048576 quads
        QVERIFY(settled());
        QCOMPARE(view->label(), QStringLiteral("プレビュー: 再帰回数 7"));
        m_dialogs.saveAnswers = {m_dir.filePath(QStringLiteral("out.suf"))};
        m_window->findChild<QPushButton*>(QStringLiteral("SUFOutButton"))->click();
        QVERIFY(m_window->currentShape());
        QVERIFY(settled());
        QCOMPARE(view->label(), QStringLiteral("出力した形状: ポリゴン数 1048576"));
        QCOMPARE(view->terrain()->polygonCount, std::size_t(1048576));
        QCOMPARE(view->terrain()->vertices.size(), m_window->currentShape()->Vertices.size());
        // The next edit previews again.
        m_window->document().setDepth(2);
        QVERIFY(settled());
        QCOMPARE(view->label(), QString());
    }

    // A shape the view cannot hold within its budget is shown as the
    // terrain made at the deepest depth that fits, labelled as reduced, on
    // output and when the view is opened again.
    void bigShapesAreShownReduced() {
        TerrainView* view = openView();
        m_window->liveTerrain()->setViewBudget(600000 * talorin::ViewBytes(1, 1, 4));
        m_window->document().setDepth(8); // 16 cells x 4^8: 1048576 quads
        m_window->findChild<QPushButton*>(QStringLiteral("SUFOutButton"))->click();
        QVERIFY(m_window->currentShape());
        for (int pass = 0; pass < 2; ++pass) {
            QVERIFY(settled());
            QCOMPARE(view->label(), QStringLiteral("出力した形状（縮小表示）: ポリゴン数 1048576"));
            QCOMPARE(view->terrain()->polygonCount, std::size_t(262144)); // depth 7
            m_window->terrainViewWindow()->close();
            m_window->findChild<QAction*>(QStringLiteral("View3D"))->trigger();
        }
    }
};

QTEST_MAIN(LiveViewTest)
#include "tst_liveview.moc"
