#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

#include "terrain/lattice.h"
#include "fakedialogs.h"
#include "base/error.h"
#include "ui/mainwindow.h"
#include "ui/paintbox.h"
#include "ui/previews.h"
#include "windowcontrols.h"

namespace {

constexpr QRgb kBlack = 0xff000000u;
constexpr QRgb kRed = 0xffff0000u;
constexpr QRgb kSentinel = 0xff00ff00u; // green: never drawn by the previews

talorin::Bitmap PatternImage(int width, int height) {
    talorin::Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y)});
    return image;
}

QRgb ImagePixel(const talorin::Bitmap& image, int x, int y) {
    const talorin::Rgb c = image.pixel(x, y);
    return qRgb(c.r, c.g, c.b);
}

talorin::MeshLattice Uniform(int paMax, double stepX, double stepY) {
    talorin::MeshLattice mesh{};
    for (int i = 0; i <= paMax; ++i)
        for (int j = 0; j <= paMax; ++j)
            mesh[i][j] = {i * stepX, j * stepY};
    return mesh;
}

// A shown paint box whose canvas starts out in the sentinel colour.
struct ShownBox {
    PaintBox box;
    ShownBox(int w, int h) {
        box.resize(w, h);
        box.show();
        if (!QTest::qWaitForWindowExposed(&box))
            qFatal("paint box not exposed");
        box.canvas().fill(kSentinel);
    }
    QRgb canvas(int x, int y) const { return box.canvas().pixel(x, y); }
    QRgb onScreen(int x, int y) { return box.grab().toImage().pixel(x, y); }
};

} // namespace

class PreviewsTest : public QObject {
    Q_OBJECT

  private slots:
    // --- Preview image ---------------------------------------------------------

    void previewStretchesWithoutAveraging_data() {
        QTest::addColumn<int>("imageWidth");
        QTest::addColumn<int>("imageHeight");
        QTest::addColumn<double>("scaleX");
        QTest::addColumn<double>("scaleY");
        QTest::newRow("square 233") << 233 << 233 << 1.0 << 1.0;
        QTest::newRow("wide 466 x 233") << 466 << 233 << 0.5 << 1.0;
        QTest::newRow("small 50 x 20") << 50 << 20 << 233.0 / 50 << 233.0 / 20;
    }
    void previewStretchesWithoutAveraging() {
        QFETCH(int, imageWidth);
        QFETCH(int, imageHeight);
        QFETCH(double, scaleX);
        QFETCH(double, scaleY);
        const talorin::Bitmap image = PatternImage(imageWidth, imageHeight);
        QImage preview;
        double sx = 0, sy = 0;
        MakePreviewImage(image, 233, 233, preview, sx, sy);
        QCOMPARE(sx, scaleX);
        QCOMPARE(sy, scaleY);
        QCOMPARE(preview.size(), QSize(233, 233));
        // Columns 0..231 and rows 0..231 hold whole source pixels, picked as
        // floor(d * source size / 232); the last column and row are not drawn.
        for (int y = 0; y < 232; ++y)
            for (int x = 0; x < 232; ++x)
                QCOMPARE(preview.pixel(x, y),
                         ImagePixel(image, x * imageWidth / 232, y * imageHeight / 232));
        for (int k = 0; k < 233; ++k) {
            QCOMPARE(preview.pixel(232, k), 0xffffffffu);
            QCOMPARE(preview.pixel(k, 232), 0xffffffffu);
        }
    }

    void emptyImageIsADivisionByZero() {
        QImage preview(5, 5, QImage::Format_RGB32);
        preview.fill(kSentinel);
        double sx = 7, sy = 7;
        QVERIFY_THROWS_EXCEPTION(talorin::FloatFault,
                                 MakePreviewImage(talorin::Bitmap(), 233, 233, preview, sx, sy));
        QCOMPARE(sx, 7.0);
        QCOMPARE(preview.pixel(0, 0), kSentinel);
    }

    // --- Mesh overlay ------------------------------------------------------------

    void overlayOf233ImageReachesTheLastPixel() {
        const talorin::Bitmap image = PatternImage(233, 233);
        QImage preview;
        double sx = 0, sy = 0;
        MakePreviewImage(image, 233, 233, preview, sx, sy);
        ShownBox b(233, 233);
        DrawMeshOverlay(b.box, preview, Uniform(4, 58, 58), 4, sx, sy);
        QCOMPARE(b.canvas(232, 232), kBlack);
        QCOMPARE(b.canvas(230, 230), kRed);
        QCOMPARE(b.canvas(100, 100), ImagePixel(image, 100, 100));
        // What the box shows on screen is its canvas.
        QCOMPARE(b.onScreen(232, 232), kBlack);
        QCOMPARE(b.onScreen(230, 230), kRed);
        QCOMPARE(b.onScreen(100, 100), ImagePixel(image, 100, 100));
    }

    void squeezedImageGetsASqueezedLattice() {
        // 466 x 233: the lattice in image pixels is twice as wide, and lands on
        // the same preview pixels as the square image's.
        const talorin::Bitmap image = PatternImage(466, 233);
        QImage preview;
        double sx = 0, sy = 0;
        MakePreviewImage(image, 233, 233, preview, sx, sy);
        ShownBox wide(233, 233), square(233, 233);
        DrawMeshOverlay(wide.box, preview, Uniform(4, 465 / 4.0, 58), 4, sx, sy);
        DrawMeshOverlay(square.box, preview, Uniform(4, 58, 58), 4, 1.0, 1.0);
        QCOMPARE(wide.box.canvas(), square.box.canvas());
        QCOMPARE(wide.canvas(232, 232), kBlack);
        QCOMPARE(wide.canvas(30, 100), ImagePixel(image, 60, 100));
    }

    void halvesRoundToEven() {
        talorin::MeshLattice mesh{};
        mesh[0][0] = {10.5, 11.5};
        mesh[1][0] = {40.5, 11.5};
        mesh[1][1] = {40.5, 41.5};
        mesh[0][1] = {10.5, 41.5};
        QImage preview(233, 233, QImage::Format_RGB32);
        preview.fill(Qt::white);
        ShownBox b(233, 233);
        DrawMeshOverlay(b.box, preview, mesh, 1, 1.0, 1.0);
        // 10.5 -> 10, 11.5 -> 12, 40.5 -> 40, 41.5 -> 42.
        QCOMPARE(b.canvas(10, 12), kBlack);
        QCOMPARE(b.canvas(11, 12), kBlack);
        QCOMPARE(b.canvas(10, 11), 0xffffffffu);
        QCOMPARE(b.canvas(9, 12), 0xffffffffu);
        QCOMPARE(b.canvas(40, 42), kBlack);
        QCOMPARE(b.canvas(8, 10), kRed);
        QCOMPARE(b.canvas(38, 40), kRed);
    }

    void overlayDrawsEveryCellOfTheDensity_data() {
        QTest::addColumn<int>("paMax");
        QTest::newRow("16 cells") << 4;
        QTest::newRow("256 cells") << 16;
    }
    void overlayDrawsEveryCellOfTheDensity() {
        QFETCH(int, paMax);
        QImage preview(233, 233, QImage::Format_RGB32);
        preview.fill(Qt::white);
        const double step = 232.0 / paMax;
        ShownBox b(233, 233);
        DrawMeshOverlay(b.box, preview, Uniform(paMax, step, step), paMax, 1.0, 1.0);
        // Every lattice point shows black, with its red shadow up and left,
        // and the inside of every cell is untouched.
        int cells = 0;
        for (int i = 0; i < paMax; ++i) {
            for (int j = 0; j < paMax; ++j) {
                const int x0 = int(std::nearbyint(i * step)), y0 = int(std::nearbyint(j * step));
                const int x1 = int(std::nearbyint((i + 1) * step));
                const int y1 = int(std::nearbyint((j + 1) * step));
                const bool drawn = b.canvas(x1, y1) == kBlack && b.canvas(x1 - 2, y1 - 2) == kRed &&
                                   b.canvas((x0 + x1) / 2, (y0 + y1) / 2) == 0xffffffffu;
                cells += drawn ? 1 : 0;
            }
        }
        QCOMPARE(cells, paMax * paMax);
    }

    void lastColumnAndRowAreNeverPainted() {
        QImage preview(233, 233, QImage::Format_RGB32);
        preview.fill(Qt::white);
        for (int k = 0; k < 233; ++k) {
            preview.setPixel(232, k, kBlack);
            preview.setPixel(k, 232, kBlack);
        }
        ShownBox b(233, 233);
        DrawMeshOverlay(b.box, preview, Uniform(4, 10, 10), 4, 1.0, 1.0); // lattice far inside
        for (int k = 0; k < 233; ++k) {
            QCOMPARE(b.canvas(232, k), kSentinel);
            QCOMPARE(b.canvas(k, 232), kSentinel);
        }
        QCOMPARE(b.canvas(231, 231), 0xffffffffu);
    }

    // --- Graph -----------------------------------------------------------------

    void graphBackgroundIsAGreyGradient() {
        QImage background;
        MakeGraphBackground(background, 233, 73);
        QCOMPARE(background.size(), QSize(233, 73));
        const int columns[] = {0, 1, 116, 232};
        const int greys[] = {0, 1, 127, 254};
        for (int k = 0; k < 4; ++k)
            for (int y : {0, 36, 72})
                QCOMPARE(background.pixel(columns[k], y), qRgb(greys[k], greys[k], greys[k]));
    }

    void graphDrawsCurveOverACopyOfTheBackground() {
        QImage background;
        MakeGraphBackground(background, 233, 73);
        ShownBox b(233, 73);
        DrawShapeGraph(b.box, background, 0, 1.0);
        QCOMPARE(b.canvas(4, 66), kRed);
        QCOMPARE(b.canvas(6, 68), kBlack);
        QCOMPARE(b.canvas(229, 3), kRed);
        QCOMPARE(b.canvas(231, 5), kBlack);
        QCOMPARE(b.canvas(1, 40), qRgb(1, 1, 1));
        QCOMPARE(b.canvas(116, 10), qRgb(127, 127, 127));
        for (int x = 0; x < 233; ++x)
            QCOMPARE(b.canvas(x, 72), kSentinel);
        for (int y = 0; y < 73; ++y)
            QCOMPARE(b.canvas(232, y), kSentinel);
        QCOMPARE(b.onScreen(4, 66), kRed);
        QCOMPARE(b.onScreen(232, 10), kSentinel);

        // The next drawing starts from a fresh copy: the old curve is gone.
        DrawShapeGraph(b.box, background, 2, 10.0);
        QCOMPARE(b.canvas(229, 3), background.pixel(229, 3));
        QCOMPARE(b.canvas(116, 35), kRed);
        QCOMPARE(b.canvas(156, 2), kRed);
    }

    void drawingBeforeTheFirstShowSizesTheCanvas() {
        PaintBox box;
        box.resize(233, 73); // hidden: no resize event yet
        QImage background;
        MakeGraphBackground(background, 233, 73);
        DrawShapeGraph(box, background, 0, 1.0);
        QCOMPARE(box.canvas().size(), QSize(233, 73));
        QCOMPARE(box.canvas().pixel(4, 66), kRed);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(box.canvas().pixel(4, 66), kRed); // kept through the first resize event
    }

    // --- In the main window ---------------------------------------------------------

    void mainWindowWiring();
    void shapeButtonRedrawsTheGraphOfItsOwnMode_data();
    void shapeButtonRedrawsTheGraphOfItsOwnMode();
};

namespace {

// The main window with a 233 x 233 pattern image named on its command line.
struct MainWindowFixture {
    QTemporaryDir dir;
    FakeDialogs dialogs;
    std::unique_ptr<TTalorin_main> window;

    bool start() {
        if (!dir.isValid())
            return false;
        QImage image(233, 233, QImage::Format_RGB32);
        for (int y = 0; y < 233; ++y)
            for (int x = 0; x < 233; ++x)
                image.setPixel(x, y, qRgb(x, y, 200));
        const QString path = dir.filePath(QStringLiteral("hill.bmp"));
        if (!image.save(path, "BMP"))
            return false;
        window =
            std::make_unique<TTalorin_main>(dialogs, QStringList{QStringLiteral("talorin"), path});
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        return QTest::qWaitFor([&] { return window->document().hasImage(); });
    }
    QRgb preview(int x, int y) const { return Controls(*window).BmpShow->canvas().pixel(x, y); }
    QRgb graph(int x, int y) const { return Controls(*window).ShowGraph->canvas().pixel(x, y); }
    void press(Qt::MouseButton button, int x, int y) {
        QTest::mousePress(Controls(*window).BmpShow, button, {}, QPoint(x, y));
        QTest::mouseRelease(Controls(*window).BmpShow, button, {}, QPoint(x, y));
    }
};

} // namespace

void PreviewsTest::mainWindowWiring() {
    MainWindowFixture f;
    QVERIFY(f.start());
    TTalorin_main& w = *f.window;
    const Controls c(w);
    QCOMPARE(w.document().density(), 4);
    QCOMPARE(w.document().previewScaleX(), 1.0);
    QCOMPARE(f.preview(232, 232), kBlack);
    QCOMPARE(f.preview(230, 230), kRed);
    QCOMPARE(f.preview(56, 40), kRed);                  // red shadow of the line x = 58
    QCOMPARE(f.preview(100, 100), qRgb(100, 100, 200)); // the image itself
    QCOMPARE(c.BmpShow->grab().toImage().pixel(230, 230), kRed);
    QCOMPARE(f.graph(4, 66), kRed); // the graph painted on first show
    QCOMPARE(f.graph(6, 68), kBlack);
    QCOMPARE(c.ShowGraph->grab().toImage().pixel(116, 10), qRgb(127, 127, 127));

    // A left press 10 pixels right of the interior point (58, 58) puts the point
    // on the press, and the preview is redrawn at once.
    f.press(Qt::LeftButton, 68, 58);
    QCOMPARE(w.document().lastPress().x, 68);
    QCOMPARE(w.document().lastPress().y, 58);
    QCOMPARE(w.document().lastPress().button, std::uint8_t(talorin::kLeftButton));
    QCOMPARE(w.document().lattice()[1][1], (talorin::MeshPoint{68, 58}));
    QCOMPARE(w.document().lattice()[0][1], (talorin::MeshPoint{0, 58})); // border points stay
    QCOMPARE(f.preview(68, 58), kBlack);
    QCOMPARE(f.preview(66, 56), kRed);
    QVERIFY(f.preview(56, 40) != kRed); // the old line has moved
    const talorin::MeshLattice edited = w.document().lattice();

    // The middle button changes nothing but redraws.
    c.BmpShow->canvas().setPixel(100, 100, kSentinel);
    f.press(Qt::MiddleButton, 60, 60);
    QCOMPARE(w.document().lastPress().button, std::uint8_t(talorin::kMiddleButton));
    QCOMPARE(w.document().lattice(), edited);
    QCOMPARE(f.preview(100, 100), qRgb(100, 100, 200));

    // Reset keeps the density and the count.
    const QString count = c.PolygoneCount->text();
    QCOMPARE(count, QStringLiteral("256"));
    QTest::mouseClick(c.InitPaMax, Qt::LeftButton);
    QCOMPARE(w.document().lattice(), talorin::InitMeshLattice(233, 233, 4));
    QCOMPARE(w.document().density(), 4);
    QCOMPARE(c.PolygoneCount->text(), count);
    QCOMPARE(f.preview(56, 40), kRed);

    // A right press one pixel from (116, 116) pushes the point about 329.5
    // pixels away, onto the image border.
    f.press(Qt::RightButton, 117, 116);
    QCOMPARE(w.document().lastPress().button, std::uint8_t(talorin::kRightButton));
    QCOMPARE(w.document().lattice()[2][2], (talorin::MeshPoint{0, 116}));

    // Density 4 -> 5 replaces an edited lattice and changes the count.
    QVERIFY(w.document().lattice() != talorin::InitMeshLattice(233, 233, 4));
    c.PaMaxBar->setValue(5);
    QCOMPARE(w.document().density(), 5);
    QCOMPARE(w.document().lattice(), talorin::InitMeshLattice(233, 233, 5));
    QCOMPARE(c.PolygoneCount->text(), QStringLiteral("400"));
    QCOMPARE(f.preview(46, 100), kBlack); // the line at 46.4
    QCOMPARE(f.preview(44, 100), kRed);
    QVERIFY(f.preview(56, 40) != kRed);

    // The level and the shape buttons redraw the graph at once.
    c.CovertLevel->setValue(100);
    QCOMPARE(f.graph(229, 11), kRed);
    QVERIFY(f.graph(229, 3) != kRed);
    QTest::mouseClick(c.ShapeModeC, Qt::LeftButton);
    QVERIFY(c.ShapeModeC->isChecked());
    QCOMPARE(f.graph(116, 35), kRed);
    QCOMPARE(f.graph(156, 2), kRed);
    QVERIFY(f.dialogs.errors.isEmpty());
}

void PreviewsTest::shapeButtonRedrawsTheGraphOfItsOwnMode_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    for (int from = 0; from < 3; ++from)
        for (int to = 0; to < 3; ++to)
            if (from != to)
                QTest::addRow("%c to %c", 'A' + from, 'A' + to) << from << to;
}

void PreviewsTest::shapeButtonRedrawsTheGraphOfItsOwnMode() {
    // The handler of the newly checked button must already see the old one
    // unchecked, or it would draw the old mode's curve.
    QFETCH(int, from);
    QFETCH(int, to);
    MainWindowFixture f;
    QVERIFY(f.start());
    TTalorin_main& w = *f.window;
    const Controls c(w);
    QRadioButton* const buttons[] = {c.ShapeModeA, c.ShapeModeB, c.ShapeModeC};
    c.CovertLevel->setValue(100); // the three modes differ at level 100
    QTest::mouseClick(buttons[from], Qt::LeftButton);
    QTest::mouseClick(buttons[to], Qt::LeftButton);
    QVERIFY(buttons[to]->isChecked());

    QImage background;
    MakeGraphBackground(background, 233, 73);
    ShownBox expected(233, 73);
    expected.box.canvas() = c.ShowGraph->canvas().copy(); // same untouched last row and column
    DrawShapeGraph(expected.box, background, std::uint8_t(to), 10.0);
    QCOMPARE(c.ShowGraph->canvas(), expected.box.canvas());
}

QTEST_MAIN(PreviewsTest)
#include "tst_previews.moc"
