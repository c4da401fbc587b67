// The output options: the dialog's own checks, and adaptive depth in the main
// window (the count made on a worker thread, the generated shape).

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <memory>

#include "image/imagefile.h"
#include "terrain/adaptive.h"
#include "terrain/truescale.h"
#include "fakedialogs.h"
#include "greybmp.h"
#include "ui/mainwindow.h"
#include "ui/outputoptions.h"
#include "ui/terrainview.h"
#include "windowcontrols.h"

namespace {

// A hill in one corner of flat ground.
int Hill(int x, int y) {
    const int r2 = (x - 10) * (x - 10) + (y - 8) * (y - 8);
    return r2 < 60 ? 255 - 4 * r2 : 0;
}

OutputOptions Adaptive(double maxError) {
    return {true, QString::number(maxError), maxError};
}

} // namespace

class TestOutputOptions : public QObject {
    Q_OBJECT

  private:
    FakeDialogs dialogs;
    std::unique_ptr<QTemporaryDir> dir;
    QString image;

    std::unique_ptr<TTalorin_main> startWithImage() {
        auto w = std::make_unique<TTalorin_main>(dialogs, QStringList{"talorin", image});
        w->show();
        QCoreApplication::processEvents();
        return w;
    }

    void chooseOptions(TTalorin_main& w, const OutputOptions& options) {
        dialogs.optionsAnswers = {options};
        w.findChild<QAction*>(QStringLiteral("OutputOptionsMenu"))->trigger();
    }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void init() {
        dialogs = FakeDialogs();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        image = dir->filePath(QStringLiteral("hill.bmp"));
        WriteGreyBmp(image, 40, 30, Hill);
    }

    // Without a translation (C, Japanese and untranslated locales) the window
    // keeps its Japanese texts; the English one, built in, changes captions,
    // menus and messages alike.
    void windowSpeaksEnglishOnlyUnderItsTranslation() {
        const auto caption = [](TTalorin_main& w, const char* name) {
            return w.findChild<QAbstractButton*>(QLatin1String(name))->text();
        };
        auto japanese = startWithImage();
        QCOMPARE(caption(*japanese, "SUFOutButton"), QStringLiteral("地形形状作成保存"));
        QCOMPARE(japanese->findChild<QAction*>(QStringLiteral("Exit1"))->text(), QStringLiteral("終了(&X)"));
        QTranslator english;
        QVERIFY(english.load(QStringLiteral(":/i18n/talorin_en.qm")));
        QCoreApplication::installTranslator(&english);
        auto translated = startWithImage();
        QCoreApplication::removeTranslator(&english);
        QCOMPARE(caption(*translated, "SUFOutButton"), QStringLiteral("Generate and Save"));
        QCOMPARE(caption(*translated, "ModeB"), QStringLiteral("Triangle polygons"));
        QCOMPARE(translated->findChild<QLabel*>(QStringLiteral("Label8"))->text(), QStringLiteral("Depth"));
        QCOMPARE(translated->findChild<QAction*>(QStringLiteral("Exit1"))->text(), QStringLiteral("E&xit"));
        QCoreApplication::installTranslator(&english);
        const QString message = ViewOutOfMemoryText();
        QCoreApplication::removeTranslator(&english);
        QCOMPARE(message, QStringLiteral("There is not enough memory to show this shape in the 3D view."));
    }

    void allowedErrorMustBeAPositiveNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<double>("value");
        QTest::newRow("whole") << "3" << true << 3.0;
        QTest::newRow("fraction") << " 0.25 " << true << 0.25;
        QTest::newRow("exponent") << "1e-3" << true << 0.001;
        QTest::newRow("zero") << "0" << false << 0.0;
        QTest::newRow("negative") << "-2" << false << 0.0;
        QTest::newRow("word") << "abc" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("beyond double") << "1e400" << false << 0.0;
        QTest::newRow("comma") << "0,5" << false << 0.0;
    }
    void allowedErrorMustBeAPositiveNumber() {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        QFETCH(double, value);
        double parsed = -7;
        QCOMPARE(ParseAllowedError(text, parsed), usable);
        QCOMPARE(parsed, usable ? value : -7.0);
    }

    void dialogKeepsAnUnusableErrorOut() {
        OutputOptionsDialog dialog(nullptr, OutputOptions{});
        auto* adaptive = dialog.findChild<QCheckBox*>(QStringLiteral("Adaptive"));
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("MaxError"));
        auto* problem = dialog.findChild<QLabel*>(QStringLiteral("Problem"));
        QVERIFY(adaptive && field && problem);
        QVERIFY(!adaptive->isChecked());
        QVERIFY(!field->isEnabled()); // off: the error is not used
        adaptive->setChecked(true);
        QVERIFY(field->isEnabled());

        field->setText(QStringLiteral("0"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected)); // still open
        QCOMPARE(problem->text(), QString::fromUtf8(talorin::kBadMaxErrorText));
        QVERIFY(!dialog.options().adaptive);

        field->setText(QStringLiteral("2.5"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.options() == Adaptive(2.5));
    }

    void dialogTurnedOffKeepsTheLastUsableError() {
        OutputOptionsDialog dialog(nullptr, Adaptive(4));
        dialog.findChild<QCheckBox*>(QStringLiteral("Adaptive"))->setChecked(false);
        dialog.findChild<QLineEdit*>(QStringLiteral("MaxError"))->setText(QStringLiteral("x"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.options().adaptive);
        QCOMPARE(dialog.options().maxError, 4.0);
        QCOMPARE(dialog.options().maxErrorText, QStringLiteral("4"));
    }

    void countFollowsAdaptiveDepthOnAWorkerThread() {
        const auto w = startWithImage();
        const Controls c(*w);
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("256")); // depth 2, density 4

        // An error above the whole height range: one polygon per cell.
        chooseOptions(*w, Adaptive(600));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("…"));
        QTRY_COMPARE(c.PolygoneCount->text(), QStringLiteral("16"));
        QVERIFY(w->outputOptions().adaptive);

        // A depth change counts again, as the run would make it.
        c.PolygoneDepth->setText(QStringLiteral("4"));
        const std::uint64_t expected = talorin::AdaptivePolygonCount(w->document().makeArgs(), 600);
        QTRY_COMPARE(c.PolygoneCount->text(), QString::number(expected));

        // A smaller error on the hill: more than one polygon per cell, fewer
        // than the uniform 4096, and what the run makes.
        chooseOptions(*w, Adaptive(5));
        QTRY_VERIFY(c.PolygoneCount->text() != QStringLiteral("…"));
        const int count = c.PolygoneCount->text().toInt();
        QVERIFY(count > 16 && count < 4096);
        dialogs.saveAnswers = {QString()};
        c.SUFOutButton->click();
        QVERIFY(w->currentShape() != nullptr);
        QCOMPARE(int(w->currentShape()->polygonCount()), count);

        // Editing the lattice changes the terrain under the cells: a new count.
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(60, 60));
        QTRY_VERIFY(c.PolygoneCount->text() != QStringLiteral("…"));
        QCOMPARE(c.PolygoneCount->text(),
                 QString::number(talorin::AdaptivePolygonCount(w->document().makeArgs(), 5)));

        // Off again: the uniform count at once, and the uniform run.
        chooseOptions(*w, OutputOptions{});
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("4096"));
        c.SUFOutButton->click();
        QCOMPARE(int(w->currentShape()->polygonCount()), 4096);
    }

    // True scale puts a georeferenced raster's extent and relief times the
    // exaggeration into the size and height fields and keeps its proportions;
    // the raster's range shows over the preview, and not for other images.
    void trueScaleFillsTheFieldsFromTheRaster() {
        QVERIFY(!startWithImage()->findChild<QLabel*>(QStringLiteral("ElevationRange"))->isVisible());
        image = QStringLiteral(TALORIN_SAMPLES_DIR "/mountain-dem.tif");
        const auto w = startWithImage();
        const Controls c(*w);
        QVERIFY(w->findChild<QLabel*>(QStringLiteral("ElevationRange"))->isVisible());
        OutputOptions options;
        options.trueScale = true;
        options.exaggerationText = QStringLiteral("2");
        options.exaggeration = 2;
        chooseOptions(*w, options);
        const auto scale = talorin::ComputeTrueScale(talorin::LoadImageFile(image.toStdString()), 2);
        QCOMPARE(c.Size->text().toStdString(), talorin::MetresText(scale.size));
        QCOMPARE(c.MaxHeight->text().toStdString(), talorin::MetresText(scale.height));
        QVERIFY(w->document().aspect() == talorin::TerrainAspect::Image);
    }

    void cancelledDialogChangesNothing() {
        const auto w = startWithImage();
        const Controls c(*w);
        dialogs.optionsAnswers.clear();
        w->findChild<QAction*>(QStringLiteral("OutputOptionsMenu"))->trigger();
        QCOMPARE(dialogs.events, QStringList{"options"});
        QVERIFY(!w->outputOptions().adaptive);
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("256"));
    }

    void closingDuringACountIsSafe() {
        // A deep count still running when the window goes is cancelled and joined.
        auto w = startWithImage();
        const Controls c(*w);
        c.PolygoneDepth->setText(QStringLiteral("9"));
        chooseOptions(*w, Adaptive(0.001));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("…"));
        w.reset();
        QCoreApplication::processEvents(); // the finished count finds no window
    }
};

QTEST_MAIN(TestOutputOptions)
#include "tst_outputoptions.moc"
