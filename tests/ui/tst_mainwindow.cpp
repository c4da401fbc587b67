// The main window driven headless with fake dialogs: start-up, loading
// images, the parameter displays, the depth field, mesh editing and the
// output command.

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>
#include <cstring>
#include <functional>
#include <memory>

#include "image/imagefile.h"
#include "terrain/lattice.h"
#include "terrain/terrain.h"
#include "duringrun.h"
#include "fakedialogs.h"
#include "greybmp.h"
#include "base/error.h"
#include "shape/shape.h"
#include "base/sjis.h"
#include "shape/suf.h"
#include "tests/support/pngfile.h"
#include "ui/backgroundwork.h"
#include "ui/depthfield.h"
#include "ui/mainwindow.h"
#include "ui/paintbox.h"
#include "windowcontrols.h"

namespace {

const QString kProgram = QStringLiteral("/opt/my tools/talorin");
const QStringList kOpenFilters = {QStringLiteral("画像ファイル (*.bmp *.png *.pgm *.ppm *.tif *.tiff)"),
                                  QStringLiteral("BMPファイル (*.bmp)"),
                                  QStringLiteral("PNGファイル (*.png)"),
                                  QStringLiteral("PGMファイル (*.pgm)"),
                                  QStringLiteral("PPMファイル (*.ppm)"),
                                  QStringLiteral("TIFFファイル (*.tif *.tiff)"),
                                  QStringLiteral("すべてのファイル (*)")};

int Hill(int x, int y) {
    return (x * 7 + y * 3) % 256;
}

bool SameLattice(const talorin::MeshLattice& a, const talorin::MeshLattice& b, int paMax) {
    for (int i = 0; i <= paMax; ++i)
        for (int j = 0; j <= paMax; ++j)
            if (!(a[i][j] == b[i][j]))
                return false;
    return true;
}

talorin::MeshLattice Uniform(const talorin::Bitmap& image, int paMax) {
    return talorin::InitMeshLattice(image, paMax);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString LoadError(const QString& path) {
    try {
        talorin::LoadImageFile(path.toStdString());
    } catch (const std::exception& e) {
        return ErrorBoxText(QString::fromUtf8(e.what()));
    }
    return QString();
}

// Counts the paint events a widget gets.
struct PaintCounter final : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

  private:
    FakeDialogs dialogs;
    std::unique_ptr<QTemporaryDir> dir;
    QString image; // <dir>/fuji.old.bmp, 40 x 30

    QString path(const QString& name) const { return dir->filePath(name); }

    // Creates the window for these arguments, shows it and lets FormShow run.
    std::unique_ptr<TTalorin_main> start(const QStringList& arguments) {
        auto w = std::make_unique<TTalorin_main>(dialogs, QStringList{kProgram} + arguments);
        w->show();
        QCoreApplication::processEvents();
        return w;
    }
    std::unique_ptr<TTalorin_main> startWithImage() { return start({image}); }

    // Generates once and cancels the save, so that a shape is current.
    void generateUnsaved(TTalorin_main& w) {
        const Controls c(w);
        dialogs.saveAnswers = {QString()};
        c.SUFOutButton->click();
        QVERIFY(w.currentShape() != nullptr);
        dialogs.clearRecord();
    }

    void typeDepth(TTalorin_main& w, const QString& text) {
        const Controls c(w);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_Backspace);
        QTest::keyClicks(c.PolygoneDepth, text);
    }

    void activate(TTalorin_main& w) {
        const Controls c(w);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }

  private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        // The recent files go to a settings file of the tests, not the user's.
        QStandardPaths::setTestModeEnabled(true);
    }

    void init() {
        dialogs = FakeDialogs();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        image = path(QStringLiteral("fuji.old.bmp"));
        WriteGreyBmp(image, 40, 30, Hill);
    }

    void cleanup() { vesk::SetMemoryBudget(0); }

    // --- Start-up --------------------------------------------------------------

    void controlLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        const auto row = [](const char* name, QRect r, const QString& text, const QString& hint) {
            QTest::newRow(name) << QString::fromLatin1(name) << r << text << hint;
        };
        row("Label1", {8, 8, 71, 12}, "メッシュ  密度", "");
        row("PaMaxBar", {80, 4, 105, 17}, "", "全体的なメッシュの密度を変更できます");
        row("InitPaMax", {192, 4, 49, 17}, "初期化",
            "メッシュの形を初期化します  わけがわかんなくなったら押しましょう。");
        row("Bevel1", {8, 24, 233, 233}, "", "");
        row("BmpShow", {8, 24, 233, 233}, "",
            "読み込んだ等高線画像です。クリックするとメッシュの密度が変化します。");
        row("Label2", {8, 272, 57, 12}, "山のかたち", "");
        row("CovertLevel", {72, 268, 121, 17}, "", "山の形の極端さ加減を調整します");
        row("Panel1", {192, 266, 48, 17}, "", "");
        row("ShapeModeA", {0, 0, 17, 17}, "", "山の形(富士山のようなかたち）");
        row("ShapeModeB", {16, 0, 17, 17}, "ShapeModeB", "山の形（ドーム）");
        row("ShapeModeC", {32, 0, 17, 17}, "ShapeModeC", "山の形（丘）");
        row("Bevel2", {8, 288, 233, 73}, "", "");
        row("ShowGraph", {8, 288, 233, 73}, "", "山の形を横から見た図です");
        row("Bevel3", {248, 0, 161, 361}, "", "");
        row("ModeA", {256, 8, 145, 17}, "四角形ポリゴンで出力",
            "すべて四角形で出力します  四つの頂点が平面上に乗っている保証はありません");
        row("ModeB", {256, 24, 145, 17}, "三角形ポリゴンで出力",
            "すべてを三角形で出力します  ポリゴン数はかなり増えます");
        row("UV", {256, 48, 145, 17}, "UV 座標付加",
            "UV座標をつけて出力します 最大値255の実数値です");
        row("Shade", {256, 64, 137, 17}, "法線ベクトル付加",
            "法線ベクトルをつけて出力する…はずですがまだ実装されていません");
        row("Label8", {256, 96, 48, 12}, "再帰回数", "");
        row("PolygoneDepth", {312, 96, 65, 26}, "2",
            "再帰的に分割する回数を指定します 1増えるとポリゴン数は4倍になります");
        row("Label9", {256, 128, 59, 12}, "ポリゴン数：", "");
        row("Label3", {256, 168, 31, 12}, "大きさ", "");
        row("Size", {312, 160, 65, 24}, "2000", "出力形状の大きさです");
        row("Label7", {376, 168, 24, 12}, "四方", "");
        row("Label6", {256, 200, 21, 12}, "高さ", "");
        row("MaxHeight", {312, 192, 65, 24}, "500", "出力形状の高さです");
        row("Label4", {256, 232, 72, 12}, "オブジェクト名", "");
        row("ObjName", {256, 248, 145, 24}, "ObjName", "出力形状につけるオブジェクト名です");
        row("Label5", {256, 280, 80, 12}, "アトリビュート名", "");
        row("AtrName", {256, 296, 145, 24}, "AtrName",
            "出力するポリゴンのアトリビュート名です アトリビュートは別個用意してください");
        row("SUFOutButton", {256, 328, 145, 25}, "地形形状作成保存", "形状を生成・出力します");
    }

    void controlLayout() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        TTalorin_main w(dialogs, {kProgram});
        const Controls c(w);
        auto* control = w.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->toolTip(), hint);
        if (auto* label = qobject_cast<QLabel*>(control))
            QCOMPARE(label->text(), text);
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            QCOMPARE(button->text(), text);
        else if (auto* edit = qobject_cast<QLineEdit*>(control))
            QCOMPARE(edit->text(), text);
        else if (auto* depth = qobject_cast<DepthField*>(control))
            QCOMPARE(depth->text(), text);
    }

    // The mouse reaches the control under it, for clicks and hints alike: the
    // frames and labels that surround or touch a control lie beneath it.
    void controlsUnderTheMouse_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("point"); // in the client area; null: the control's centre
        for (const char* name :
             {"PaMaxBar", "InitPaMax", "BmpShow", "CovertLevel", "ShapeModeA", "ShapeModeB",
              "ShapeModeC", "ShowGraph", "ModeA", "ModeB", "UV", "Shade", "PolygoneDepth", "Size",
              "MaxHeight", "ObjName", "AtrName", "SUFOutButton"})
            QTest::newRow(name) << QString::fromLatin1(name) << QPoint();
        QTest::newRow("Size, last column beside its label")
            << QStringLiteral("Size") << QPoint(376, 172);
    }

    void controlsUnderTheMouse() {
        QFETCH(QString, name);
        QFETCH(QPoint, point);
        auto w = startWithImage();
        const Controls c(*w);
        auto* control = w->findChild<QWidget*>(name);
        QVERIFY(control);
        QWidget* client = w->centralWidget();
        if (point.isNull())
            point = control->mapTo(client, control->rect().center());
        QWidget* hit = client->childAt(point);
        QVERIFY2(hit == control || control->isAncestorOf(hit),
                 qPrintable(hit ? hit->objectName() : QStringLiteral("nothing")));
    }

    void windowAndMenu() {
        TTalorin_main w(dialogs, {kProgram});
        const Controls c(w);
        QCOMPARE(w.windowTitle(), QStringLiteral("Talorin"));
        QCOMPARE(w.centralWidget()->size(), QSize(412, 368));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(c.K1->title(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(c.KH1->title(), QStringLiteral("ヘルプ(&H)"));
        const QList<QAction*> file = c.K1->actions();
        QCOMPARE(file.size(), 10);
        QCOMPARE(file[0]->text(), QStringLiteral("BMPファイルを開く(&O)"));
        QCOMPARE(file[1]->text(), QStringLiteral("プロジェクトを開く(&P)..."));
        QCOMPARE(file[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        QCOMPARE(file[2]->text(), QStringLiteral("プロジェクトを保存(&S)"));
        QCOMPARE(file[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
        QCOMPARE(file[3]->text(), QStringLiteral("名前を付けてプロジェクトを保存(&A)..."));
        QCOMPARE(file[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
        QCOMPARE(file[4]->text(), QStringLiteral("最近使ったファイル(&R)"));
        QVERIFY(file[4]->menu());
        QVERIFY(file[5]->isSeparator());
        QCOMPARE(file[6]->text(), QStringLiteral("SUFファイルを出力する(&E)"));
        QCOMPARE(file[7]->text(), QStringLiteral("出力オプション(&O)..."));
        QVERIFY(file[8]->isSeparator());
        QCOMPARE(file[9]->text(), QStringLiteral("終了(&X)"));
        QCOMPARE(c.K2->text(), QStringLiteral("ヴァージョン情報(&A)..."));
        QCOMPARE(w.openRequest().filter, kOpenFilters.join(QStringLiteral(";;")));
        QCOMPARE(w.openRequest().defaultSuffix, QStringLiteral("bmp"));
        QVERIFY(w.openRequest().fileMustExist);
        QVERIFY(w.openRequest().folderMustExist);
        QVERIFY(!w.openRequest().confirmOverwrite);
        QCOMPARE(w.saveRequest().filter, QStringLiteral("Quiro形状ファイル (*.suf)"));
        QCOMPARE(w.saveRequest().defaultSuffix, QStringLiteral("suf"));
        QVERIFY(w.saveRequest().confirmOverwrite);
        QVERIFY(w.saveRequest().folderMustExist);
        QVERIFY(!w.saveRequest().fileMustExist);
    }

    void startState() {
        TTalorin_main w(dialogs, {kProgram});
        const Controls c(w);
        QVERIFY(!c.SUFOutButton->isEnabled());
        QVERIFY(!c.SUFOut->isEnabled());
        QVERIFY(!c.InitPaMax->isEnabled());
        QVERIFY(c.ModeA->isChecked() && !c.ModeB->isChecked());
        QVERIFY(c.UV->isChecked());
        QVERIFY(!c.Shade->isChecked() && !c.Shade->isEnabled());
        QVERIFY(c.ShapeModeA->isChecked());
        QCOMPARE(c.PaMaxBar->minimum(), 4);
        QCOMPARE(c.PaMaxBar->maximum(), 16);
        QCOMPARE(c.PaMaxBar->value(), 4);
        QCOMPARE(c.CovertLevel->minimum(), 1);
        QCOMPARE(c.CovertLevel->maximum(), 100);
        QCOMPARE(c.CovertLevel->value(), 10);
        QCOMPARE(c.PolygoneDepth->minimum(), 1);
        QCOMPARE(c.PolygoneDepth->maximum(), 20);
        QCOMPARE(w.document().density(), 4);
        QVERIFY(!w.document().hasImage() && !w.currentShape());
        QCOMPARE(w.document().previewScaleX(), 0.0);

        auto shown = startWithImage();
        QCOMPARE(Controls(*shown).PolygoneCount->text(), QStringLiteral("256"));
        QVERIFY(!Controls(*shown).ShowGraph->canvas().isNull()); // painted on showing
    }

    void tabOrder() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        c.SUFOutButton->setFocus();
        QStringList visited;
        for (int i = 0; i < 14; ++i) {
            visited << QApplication::focusWidget()->objectName();
            // Through the window, as the keyboard sends it: the release goes to
            // the widget that has the focus by then.
            QTest::keyClick(w->windowHandle(), Qt::Key_Tab);
        }
        // Disabled controls and the unchecked buttons of a radio group are skipped.
        QCOMPARE(visited, (QStringList{"SUFOutButton", "InitPaMax", "CovertLevel", "ModeA", "UV",
                                       "ObjName", "AtrName", "Size", "MaxHeight", "PolygoneDepth",
                                       "ShapeModeA", "PaMaxBar", "SUFOutButton", "InitPaMax"}));
    }

    void radioGroupsAreIndependent() {
        auto w = startWithImage();
        const Controls c(*w);
        c.ModeB->click();
        QVERIFY(!c.ModeA->isChecked() && c.ShapeModeA->isChecked());
        c.ShapeModeC->click();
        QVERIFY(c.ModeB->isChecked() && !c.ShapeModeA->isChecked() && c.ShapeModeC->isChecked());
        c.ShapeModeB->click();
        QVERIFY(!c.ShapeModeC->isChecked() && c.ModeB->isChecked());
    }

    void clientAreaBelowMenu() {
        auto w = startWithImage();
        const Controls c(*w);
        QCOMPARE(w->centralWidget()->geometry(), QRect(0, c.MainMenu1->height(), 412, 368));
        QCOMPARE(w->size(), QSize(412, 368 + c.MainMenu1->height()));
    }

    void commandLineImageName_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("name");
        QTest::newRow("no argument") << QStringList{kProgram} << QString();
        QTest::newRow("one") << QStringList{kProgram, "a.bmp"} << "a.bmp";
        QTest::newRow("two joined by a space")
            << QStringList{kProgram, "my", "a.bmp"} << "my a.bmp";
        QTest::newRow("blanks and controls trimmed")
            << QStringList{kProgram, " \t a b.bmp\n "} << "a b.bmp";
        QTest::newRow("empty argument") << QStringList{kProgram, ""} << QString();
    }

    void commandLineImageName() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, name);
        QCOMPARE(TTalorin_main::CommandLineImageName(arguments), name);
    }

    // --- Loading -----------------------------------------------------------------

    void loadFromCommandLine_data() {
        QTest::addColumn<bool>("relative");
        QTest::newRow("with folder") << false;
        QTest::newRow("without folder") << true;
    }

    void loadFromCommandLine() {
        QFETCH(bool, relative);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir->path());
        const QString argument = relative ? QStringLiteral("fuji.old.bmp") : image;
        auto w = start({argument});
        const Controls c(*w);
        QDir::setCurrent(previous);
        const QString folder = relative ? QString() : dir->path() + QLatin1Char('/');

        QVERIFY(dialogs.openRequests.isEmpty());
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(w->isVisible());
        QVERIFY(w->document().hasImage());
        QCOMPARE(w->document().image().width(), 40);
        QCOMPARE(w->document().image().height(), 30);
        QCOMPARE(w->document().previewScaleX(), 233.0 / 40);
        QCOMPARE(w->document().previewScaleY(), 233.0 / 30);
        QVERIFY(SameLattice(w->document().lattice(), Uniform(w->document().image(), 4), 4));
        QCOMPARE(c.ObjName->text(), QStringLiteral("fuji"));
        QCOMPARE(c.AtrName->text(), QStringLiteral("BodyM"));
        QCOMPARE(w->saveRequest().proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(w->saveRequest().initialFolder, folder);
        QCOMPARE(w->openRequest().proposedName, argument);
        QCOMPARE(w->openRequest().initialFolder, folder);
        QVERIFY(c.SUFOutButton->isEnabled() && c.SUFOut->isEnabled() && c.InitPaMax->isEnabled());
        // The preview shows the image: the top left pixel is the image's.
        QCOMPARE(qGray(c.BmpShow->canvas().pixel(3, 3)), Hill(0, 0));
    }

    void startWithoutUsableName_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no argument") << QStringList{};
        QTest::newRow("missing file") << QStringList{"/nonexistent/x.bmp"};
        QTest::newRow("a folder") << QStringList{QDir::tempPath()};
    }

    void startWithoutUsableName() {
        QFETCH(QStringList, arguments);
        dialogs.openAnswers = {image};
        auto w = start(arguments);
        const Controls c(*w);
        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].filter, kOpenFilters.join(QStringLiteral(";;")));
        QVERIFY(dialogs.openRequests[0].proposedName.isEmpty());
        QVERIFY(dialogs.messages.isEmpty() && dialogs.errors.isEmpty());
        QVERIFY(w->isVisible() && w->document().hasImage());
        QCOMPARE(c.ObjName->text(), QStringLiteral("fuji"));
        QCOMPARE(w->saveRequest().proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(w->saveRequest().initialFolder, dir->path() + QLatin1Char('/'));
        // The open dialog comes back to the file chosen in it.
        QCOMPARE(w->openRequest().proposedName, image);
    }

    void noImageAtStartCloses_data() {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("dialog cancelled") << false;
        QTest::newRow("unreadable file") << true;
    }

    void noImageAtStartCloses() {
        QFETCH(bool, unreadable);
        const QString bad = path(QStringLiteral("bad.bmp"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
        f.close();
        auto w = start(unreadable ? QStringList{bad} : QStringList{});
        const Controls c(*w);
        QVERIFY(!w->isVisible());
        QVERIFY(!w->document().hasImage());
        QVERIFY(dialogs.messages.isEmpty());
        if (unreadable)
            QCOMPARE(dialogs.errors, QStringList{LoadError(bad)});
        else
            QVERIFY(dialogs.errors.isEmpty());
    }

    void failedMenuLoadChangesNothing_data() {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("dialog cancelled") << false;
        QTest::newRow("unreadable file") << true;
    }

    void failedMenuLoadChangesNothing() {
        QFETCH(bool, unreadable);
        auto w = startWithImage();
        const Controls c(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        c.ObjName->setText(QStringLiteral("mine"));
        const talorin::MeshLattice edited = w->document().lattice();
        const FileDialogRequest save = w->saveRequest();
        const QString bad = path(QStringLiteral("bad.bmp"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("BM broken");
        f.close();
        dialogs.openAnswers = {unreadable ? bad : QString()};

        c.BmpFileOpen->trigger();

        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].proposedName, image);
        QCOMPARE(dialogs.errors, unreadable ? QStringList{LoadError(bad)} : QStringList{});
        QCOMPARE(w->document().image().width(), 40);
        QVERIFY(SameLattice(w->document().lattice(), edited, 4));
        QCOMPARE(c.ObjName->text(), QStringLiteral("mine"));
        QCOMPARE(w->saveRequest().proposedName, save.proposedName);
        QCOMPARE(w->saveRequest().initialFolder, save.initialFolder);
        QCOMPARE(w->openRequest().proposedName, image);
        QVERIFY(w->document().hasImage() && c.SUFOutButton->isEnabled());
    }

    void secondLoadResetsLatticeAndNames() {
        auto w = startWithImage();
        const Controls c(*w);
        c.PaMaxBar->setValue(6);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(120, 100));
        QVERIFY(!SameLattice(w->document().lattice(), Uniform(w->document().image(), 6), 6));
        c.AtrName->setText(QStringLiteral("Rock"));
        const QString second = path(QStringLiteral("sub/dune.bmp"));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub")));
        WriteGreyBmp(second, 50, 20, Hill);
        dialogs.openAnswers = {second};

        c.BmpFileOpen->trigger();

        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(w->document().image().width(), 50);
        QCOMPARE(w->document().density(), 6);
        QVERIFY(SameLattice(w->document().lattice(), Uniform(w->document().image(), 6), 6));
        QCOMPARE(c.ObjName->text(), QStringLiteral("dune"));
        QCOMPARE(c.AtrName->text(), QStringLiteral("BodyM"));
        QCOMPARE(w->saveRequest().proposedName, QStringLiteral("dune.suf"));
        QCOMPARE(w->saveRequest().initialFolder, dir->path() + QStringLiteral("/sub/"));
        QCOMPARE(w->openRequest().proposedName, second);
        QCOMPARE(w->openRequest().initialFolder, dir->path() + QLatin1Char('/'));
    }

    // A 16-bit PNG under a .bmp name, from the command line and from the menu: the
    // kind comes from the content, the heights keep every level and the preview
    // shows their 8-bit reduction.
    void loadsSixteenBitPngByItsContent() {
        testsupport::PngWriter png;
        png.width = 20;
        png.height = 10;
        png.bitDepth = 16;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x)
                png.samples.push_back(std::uint16_t(x * 3000 + y));
        const std::string bytes = png.build();
        const QString named = path(QStringLiteral("crater.v1.bmp"));
        QFile f(named);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
        f.close();

        auto w = start({named});
        const Controls c(*w);
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(w->document().hasImage());
        QCOMPARE(w->document().image().width(), 20);
        QCOMPARE(w->document().image().levelMax(), 196605u);
        QCOMPARE(w->document().image().level(1, 1), 3u * 3001);
        QCOMPARE(c.ObjName->text(), QStringLiteral("crater"));
        QCOMPARE(w->saveRequest().proposedName, QStringLiteral("crater.suf"));
        // 3000 of 65535 is 11.7 of 255: the preview's top left pixels are 0, then 12.
        QCOMPARE(qGray(c.BmpShow->canvas().pixel(3, 3)), 0);
        QCOMPARE(qGray(c.BmpShow->canvas().pixel(3 + 12, 3)), 12);

        const QString pgm = path(QStringLiteral("flat.pgm"));
        QFile g(pgm);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("P5 3 2 255\n\x10\x20\x30\x40\x50\x60");
        g.close();
        dialogs.openAnswers = {pgm};
        c.BmpFileOpen->trigger();
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(w->document().image().width(), 3);
        QCOMPARE(w->document().image().levelMax(), 765u);
        QCOMPARE(c.ObjName->text(), QStringLiteral("flat"));
    }

    // --- Polygon count and the depth field -------------------------------------

    void polygonCount_data() {
        QTest::addColumn<bool>("triangles");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("countTyped");
        QTest::addColumn<QString>("textAfterLeaving");
        QTest::addColumn<QString>("countAfterLeaving");
        QTest::newRow("triangles") << true << "2"
                                   << "1024"
                                   << "2"
                                   << "1024";
        QTest::newRow("depth 3") << false << "3"
                                 << "1024"
                                 << "3"
                                 << "1024";
        QTest::newRow("depth 0 clamped on leaving") << false << "0"
                                                    << "16"
                                                    << "1"
                                                    << "64";
        QTest::newRow("decimal reads as 1") << false << "2.5"
                                            << "64"
                                            << "2.5"
                                            << "64";
        QTest::newRow("lone minus reads as 1") << false << "-"
                                               << "64"
                                               << "-"
                                               << "64";
        QTest::newRow("empty reads as 1") << false << ""
                                          << "64"
                                          << ""
                                          << "64";
        QTest::newRow("signed") << false << "+1"
                                << "64"
                                << "+1"
                                << "64";
    }

    void polygonCount() {
        QFETCH(bool, triangles);
        QFETCH(QString, typed);
        QFETCH(QString, countTyped);
        QFETCH(QString, textAfterLeaving);
        QFETCH(QString, countAfterLeaving);
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        c.PolygoneDepth->setFocus();
        if (triangles)
            c.ModeB->click();
        typeDepth(*w, typed);
        QCOMPARE(c.PolygoneDepth->text(), typed);
        QCOMPARE(c.PolygoneCount->text(), countTyped);
        c.Size->setFocus();
        QCOMPARE(c.PolygoneDepth->text(), textAfterLeaving);
        QCOMPARE(c.PolygoneCount->text(), countAfterLeaving);
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.beeps, 0);
    }

    void countOverflowKeepsLabel() {
        auto w = startWithImage();
        const Controls c(*w);
        c.PaMaxBar->setValue(16);
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("4096"));
        c.PolygoneDepth->setText(QStringLiteral("1"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1024"));
        c.PolygoneDepth->setText(QStringLiteral("12"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1024"));
        QCOMPARE(dialogs.errors,
                 QStringList{ErrorBoxText(QString::fromUtf8(talorin::kInvalidOperationText))});
        c.PolygoneDepth->setText(QStringLiteral("10"));
        c.ModeB->click();
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1073741824"));
    }

    void depthFieldKeys_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("beeps");
        QTest::newRow("up") << "2" << int(Qt::Key_Up) << "3" << 0;
        QTest::newRow("down") << "2" << int(Qt::Key_Down) << "1" << 0;
        QTest::newRow("up at the top") << "20" << int(Qt::Key_Up) << "20" << 0;
        QTest::newRow("down at the bottom") << "1" << int(Qt::Key_Down) << "1" << 0;
        QTest::newRow("up from typed 25") << "25" << int(Qt::Key_Up) << "20" << 0;
        QTest::newRow("down from typed -4") << "-4" << int(Qt::Key_Down) << "1" << 0;
        QTest::newRow("up from text not a number") << "x" << int(Qt::Key_Up) << "2" << 0;
        QTest::newRow("letter refused") << "2" << int(Qt::Key_A) << "2" << 1;
        QTest::newRow("space refused") << "2" << int(Qt::Key_Space) << "2" << 1;
        QTest::newRow("comma refused") << "2" << int(Qt::Key_Comma) << "2" << 1;
        QTest::newRow("digit typed") << "2" << int(Qt::Key_7) << "27" << 0;
        QTest::newRow("point typed") << "2" << int(Qt::Key_Period) << "2." << 0;
        QTest::newRow("backspace edits") << "12" << int(Qt::Key_Backspace) << "1" << 0;
    }

    void depthFieldKeys() {
        QFETCH(QString, start);
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, beeps);
        auto w = startWithImage();
        const Controls c(*w);
        c.PolygoneDepth->setText(start);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_End);
        QTest::keyClick(c.PolygoneDepth, Qt::Key(key));
        QCOMPARE(c.PolygoneDepth->text(), text);
        QCOMPARE(dialogs.beeps, beeps);
    }

    void depthFieldArrowsRunChange() {
        auto w = startWithImage();
        const Controls c(*w);
        c.PolygoneDepth->stepBy(1); // an arrow button
        QCOMPARE(c.PolygoneDepth->text(), QStringLiteral("3"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1024"));
    }

    // --- Mesh editing and the profile graph ------------------------------------

    void meshClick_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("left pulls") << int(Qt::LeftButton) << 0;
        QTest::newRow("right pushes") << int(Qt::RightButton) << 1;
        QTest::newRow("middle does nothing") << int(Qt::MiddleButton) << 2;
    }

    void meshClick() {
        QFETCH(int, button);
        QFETCH(int, code);
        auto w = startWithImage();
        const Controls c(*w);
        talorin::MeshLattice expected = w->document().lattice();
        talorin::AdjustMeshDensity(expected, 4, 70, 80, std::uint8_t(code),
                                   w->document().previewScaleX(), w->document().previewScaleY());
        QTest::mouseClick(c.BmpShow, Qt::MouseButton(button), {}, QPoint(70, 80));
        QCOMPARE(w->document().lastPress().x, 70);
        QCOMPARE(w->document().lastPress().y, 80);
        QCOMPARE(int(w->document().lastPress().button), code);
        QVERIFY(SameLattice(w->document().lattice(), expected, 4));
        QCOMPARE(SameLattice(w->document().lattice(), Uniform(w->document().image(), 4), 4),
                 code == 2);
    }

    void densityAndReset() {
        auto w = startWithImage();
        const Controls c(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        c.PaMaxBar->setValue(5);
        QCOMPARE(w->document().density(), 5);
        QVERIFY(SameLattice(w->document().lattice(), Uniform(w->document().image(), 5), 5));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("400"));
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(!SameLattice(w->document().lattice(), Uniform(w->document().image(), 5), 5));
        c.InitPaMax->click();
        QVERIFY(SameLattice(w->document().lattice(), Uniform(w->document().image(), 5), 5));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("400"));
    }

    void graphFollowsLevelAndMode() {
        auto w = startWithImage();
        const Controls c(*w);
        const QImage level10 = c.ShowGraph->canvas().copy();
        c.CovertLevel->setValue(100);
        const QImage level100 = c.ShowGraph->canvas().copy();
        QVERIFY(level10 != level100);
        c.ShapeModeB->click();
        QVERIFY(c.ShowGraph->canvas() != level100);
        c.CovertLevel->setValue(10);
        // At level 1 every profile is the same straight line.
        QCOMPARE(c.ShowGraph->canvas(), level10);
    }

    // --- Undo and redo through the window -----------------------------------------

    void editMenuSitsBetweenFileAndHelp() {
        TTalorin_main w(dialogs, {kProgram});
        const Controls c(w);
        const QList<QAction*> menus = c.MainMenu1->actions();
        QCOMPARE(menus.size(), 4);
        QCOMPARE(menus[0]->menu(), c.K1);
        QCOMPARE(menus[1]->menu(), c.EditMenu);
        QCOMPARE(menus[2]->menu(), w.findChild<QMenu*>(QStringLiteral("ViewMenu")));
        QCOMPARE(menus[3]->menu(), c.KH1);
        QCOMPARE(c.EditMenu->title(), QStringLiteral("編集(&E)"));
        QCOMPARE(c.UndoAction->text(), QStringLiteral("元に戻す(&U)"));
        QCOMPARE(c.RedoAction->text(), QStringLiteral("やり直し(&R)"));
        QCOMPARE(c.UndoAction->shortcuts(),
                 QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+Z"))});
        QCOMPARE(c.RedoAction->shortcuts(),
                 (QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+Y")),
                                      QKeySequence(QStringLiteral("Ctrl+Shift+Z"))}));
        QVERIFY(!c.UndoAction->isEnabled() && !c.RedoAction->isEnabled());
    }

    // A click, a density change and the reset, taken back one by one with the
    // keyboard and brought back again: each step shows exactly what was there.
    void undoAndRedoWithTheKeyboard() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        struct Seen {
            talorin::MeshLattice lattice;
            int bar;
            QString count;
            QImage preview;
        };
        const auto seen = [&] {
            return Seen{w->document().lattice(), c.PaMaxBar->value(), c.PolygoneCount->text(),
                        c.BmpShow->canvas().copy()};
        };
        const auto same = [](const Seen& a, const Seen& b) {
            return a.lattice == b.lattice && a.bar == b.bar && a.count == b.count &&
                   a.preview == b.preview;
        };
        std::vector<Seen> states{seen()};
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        states.push_back(seen());
        c.PaMaxBar->setValue(7);
        states.push_back(seen());
        QTest::mouseClick(c.BmpShow, Qt::RightButton, {}, QPoint(60, 140));
        states.push_back(seen());
        c.InitPaMax->click();
        states.push_back(seen());
        QCOMPARE(states[2].count, QStringLiteral("784"));
        QVERIFY(c.UndoAction->isEnabled() && !c.RedoAction->isEnabled());

        c.SUFOutButton->setFocus();
        for (int i = int(states.size()) - 2; i >= 0; --i) {
            QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
            QVERIFY2(same(seen(), states[std::size_t(i)]), qPrintable(QString::number(i)));
        }
        QVERIFY(!c.UndoAction->isEnabled() && c.RedoAction->isEnabled());
        QTest::keyClick(w.get(), Qt::Key_Y, Qt::ControlModifier);
        QVERIFY(same(seen(), states[1]));
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(same(seen(), states[2]));
        QCOMPARE(w->document().density(), 7);
        QVERIFY(dialogs.events.isEmpty());
    }

    void undoIsThroughTheMenuToo() {
        auto w = startWithImage();
        const Controls c(*w);
        const talorin::MeshLattice uniform = w->document().lattice();
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        c.UndoAction->trigger();
        QCOMPARE(w->document().lattice(), uniform);
        c.RedoAction->trigger();
        QVERIFY(w->document().lattice() != uniform);
    }

    void loadingAnotherImageClearsTheHistory() {
        auto w = startWithImage();
        const Controls c(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        c.UndoAction->trigger();
        QVERIFY(c.RedoAction->isEnabled());
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        dialogs.openAnswers = {image};
        c.BmpFileOpen->trigger();
        QVERIFY(!c.UndoAction->isEnabled() && !c.RedoAction->isEnabled());
        const talorin::MeshLattice uniform = w->document().lattice();
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->document().lattice(), uniform);
    }

    // Edits made on the document by another view show in the controls.
    void controlsFollowTheDocument() {
        auto w = startWithImage();
        const Controls c(*w);
        w->document().setDepth(3);
        w->document().setQuadMode(false);
        w->document().setDensity(5);
        w->document().setSizeText("1234");
        QCOMPARE(c.PolygoneDepth->text(), QStringLiteral("3"));
        QVERIFY(c.ModeB->isChecked() && !c.ModeA->isChecked());
        QCOMPARE(c.PaMaxBar->value(), 5);
        QCOMPARE(c.Size->text(), QStringLiteral("1234"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("6400"));
    }

    // --- Found by trying the window ------------------------------------------------

    void tenDigitCountIsShownWhole() {
        auto w = startWithImage();
        const Controls c(*w);
        const QRect shortCount = c.PolygoneCount->geometry();
        const QFont shortFont = c.PolygoneCount->font();
        QCOMPARE(shortFont.pixelSize(), 16);
        c.PaMaxBar->setValue(16);
        c.PolygoneDepth->setText(QStringLiteral("10"));
        c.ModeB->click();
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1073741824"));
        const QRect frame = w->findChild<QFrame*>(QStringLiteral("Bevel3"))->geometry();
        const QRect label = c.PolygoneCount->geometry();
        QCOMPARE(label.topLeft(), shortCount.topLeft());
        QVERIFY2(label.right() < frame.right() - 1, qPrintable(QString::number(label.right())));
        QVERIFY(QFontMetrics(c.PolygoneCount->font()).horizontalAdvance(c.PolygoneCount->text()) <=
                label.width());
        // Shorter counts get the layout's font back.
        c.PolygoneDepth->setText(QStringLiteral("1"));
        QCOMPARE(c.PolygoneCount->font(), shortFont);
        QCOMPARE(c.PolygoneCount->x(), shortCount.x());
    }

    void keyboardStartsOnTheOutputButton() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        QCOMPARE(QApplication::focusWidget(), c.SUFOutButton);
        const QImage graph = c.ShowGraph->canvas().copy();
        QTest::keyClick(w->windowHandle(), Qt::Key_Right);
        QTest::keyClick(w->windowHandle(), Qt::Key_Left);
        QCOMPARE(c.CovertLevel->value(), 10);
        QCOMPARE(c.ShowGraph->canvas(), graph);
    }

    void wheelOverTrackBarNeedsFocus_data() {
        QTest::addColumn<QString>("bar");
        QTest::newRow("density") << "PaMaxBar";
        QTest::newRow("level") << "CovertLevel";
    }

    void wheelOverTrackBarNeedsFocus() {
        QFETCH(QString, bar);
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        auto* slider = w->findChild<QSlider*>(bar);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        const talorin::MeshLattice edited = w->document().lattice();
        const int before = slider->value();
        const auto turn = [&] {
            const QPoint at = slider->rect().center();
            QWheelEvent wheel(at, slider->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(slider, &wheel);
        };
        c.SUFOutButton->setFocus();
        turn();
        QCOMPARE(slider->value(), before);
        QCOMPARE(w->document().lattice(), edited);
        slider->setFocus();
        turn();
        QVERIFY(slider->value() != before);
    }

    void pasteIntoDepthFieldIsFiltered_data() {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("beeps");
        QTest::newRow("word") << "cone"
                              << "2" << 1;
        QTest::newRow("digits with a letter") << "1x"
                                              << "2" << 1;
        QTest::newRow("digits") << "3"
                                << "3" << 0;
    }

    void pasteIntoDepthFieldIsFiltered() {
        QFETCH(QString, clip);
        QFETCH(QString, text);
        QFETCH(int, beeps);
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        c.PolygoneDepth->setFocus();
        QApplication::clipboard()->setText(clip);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(c.PolygoneDepth->text(), text);
        QCOMPARE(w->document().depth(), text.toInt());
        QCOMPARE(dialogs.beeps, beeps);
    }

    // The count shows the depth a run will use: a negative depth is clamped
    // to 1, when the field is left and when Enter runs the output at once.
    void clampedDepthShowsItsCount_data() {
        QTest::addColumn<bool>("enter");
        QTest::newRow("leaving the field") << false;
        QTest::newRow("Enter in the field") << true;
    }

    void clampedDepthShowsItsCount() {
        QFETCH(bool, enter);
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        c.PolygoneDepth->setFocus();
        typeDepth(*w, QStringLiteral("-3"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("64"));
        dialogs.saveAnswers = {QString()};
        if (enter)
            QTest::keyClick(c.PolygoneDepth, Qt::Key_Return);
        else
            c.Size->setFocus();
        QCOMPARE(c.PolygoneDepth->text(), QStringLiteral("1"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("64"));
        if (enter)
            QCOMPARE(w->currentShape()->polygonCount(), std::size_t(64));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void overflowIsReportedOncePerChange() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        c.PaMaxBar->setValue(16);
        c.PolygoneDepth->setFocus();
        typeDepth(*w, QStringLiteral("12"));
        QCOMPARE(dialogs.errors.size(), 1);
        // Keystrokes that leave the value as it is: a sign, a leading zero.
        QTest::keyClick(c.PolygoneDepth, Qt::Key_Home);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_Plus);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_Backspace);
        QTest::keyClick(c.PolygoneDepth, Qt::Key_0);
        QCOMPARE(c.PolygoneDepth->text(), QStringLiteral("012"));
        QCOMPARE(dialogs.errors.size(), 1);
        // A real change is told again.
        c.ModeB->click();
        QCOMPARE(dialogs.errors.size(), 2);
        // The label keeps the last count it could show (depth "" read as 1).
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("1024"));
    }

    void depthFieldIsDrawnAtItsLayoutHeight() {
        auto w = startWithImage();
        const Controls c(*w);
        const QImage field = c.PolygoneDepth->grab().toImage();
        QCOMPARE(field.height(), 26);
        const QRgb outside = w->centralWidget()->grab().toImage().pixel(300, 110);
        // The frame's top and bottom lines lie on the first and last rows,
        // the black inside right next to them.
        const int x = 20;
        QVERIFY(field.pixel(x, 0) != outside);
        QVERIFY(field.pixel(x, 25) != outside);
        QCOMPARE(field.pixel(x, 1), qRgb(0, 0, 0));
        QCOMPARE(field.pixel(x, 24), qRgb(0, 0, 0));
    }

    // --- Output ---------------------------------------------------------------

    void outputWritesGeneratedShape_data() {
        QTest::addColumn<QString>("sizeText");
        QTest::addColumn<QString>("heightText");
        QTest::addColumn<bool>("triangles");
        QTest::addColumn<int>("shapeMode");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("depthText");
        QTest::addColumn<bool>("uv");
        QTest::addColumn<int>("paMax");
        QTest::addColumn<QString>("objName");
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("height");
        QTest::addColumn<int>("depth");
        QTest::newRow("defaults") << "2000"
                                  << "500" << false << 0 << 10 << "2" << true << 4 << "" << 2000.0
                                  << 500.0 << 2;
        QTest::newRow("triangles, hill, level 1.5, no UV")
            << "2000"
            << "500" << true << 2 << 15 << "1" << false << 4 << "" << 2000.0 << 500.0 << 1;
        QTest::newRow("dome, density 5, exponent and spaces")
            << "1.5e3"
            << " 250 " << false << 1 << 1 << "1" << true << 5 << "山" << 1500.0 << 250.0 << 1;
        QTest::newRow("depth still typed as 0 is clamped")
            << "100"
            << "10" << false << 0 << 100 << "0" << true << 4 << "" << 100.0 << 10.0 << 1;
        QTest::newRow("depth not a number reads as 1")
            << "100"
            << "10" << false << 0 << 10 << "-" << true << 4 << "" << 100.0 << 10.0 << 1;
    }

    void outputWritesGeneratedShape() {
        QFETCH(QString, sizeText);
        QFETCH(QString, heightText);
        QFETCH(bool, triangles);
        QFETCH(int, shapeMode);
        QFETCH(int, level);
        QFETCH(QString, depthText);
        QFETCH(bool, uv);
        QFETCH(int, paMax);
        QFETCH(QString, objName);
        QFETCH(double, size);
        QFETCH(double, height);
        QFETCH(int, depth);
        auto w = startWithImage();
        const Controls c(*w);
        c.Size->setText(sizeText);
        c.MaxHeight->setText(heightText);
        if (triangles)
            c.ModeB->click();
        QRadioButton* shapes[] = {c.ShapeModeA, c.ShapeModeB, c.ShapeModeC};
        shapes[shapeMode]->click();
        c.CovertLevel->setValue(level);
        c.UV->setChecked(uv);
        c.PaMaxBar->setValue(paMax);
        if (!objName.isEmpty())
            c.ObjName->setText(objName);
        c.PolygoneDepth->setText(depthText);
        const QString out = path(QStringLiteral("out.suf"));
        dialogs.saveAnswers = {out};

        c.SUFOutButton->click();

        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.beeps, 0);
        QCOMPARE(dialogs.saveRequests.size(), 1);
        QCOMPARE(dialogs.saveRequests[0].proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(dialogs.saveRequests[0].initialFolder, dir->path() + QLatin1Char('/'));
        QVERIFY(w->currentShape());

        const talorin::Bitmap bitmap = talorin::LoadImageFile(image.toStdString());
        talorin::Talorin_Args args;
        args.Size = size;
        args.MaxHeight = height;
        args.QuadMode = !triangles;
        args.ShapeMode = std::uint8_t(shapeMode);
        args.CurveLevel = level / 10.0;
        args.Bitmap = std::make_shared<const talorin::Bitmap>(bitmap);
        args.Depth = depth;
        args.ObjName = vesk::Cp932FromUtf8(c.ObjName->text().toStdString());
        args.AtrName = "BodyM";
        args.Lattice = talorin::InitMeshLattice(bitmap, paMax);
        args.PaMax = paMax;
        args.WithUV = uv;
        args.WithShade = false;
        vesk::TVESK_Object* expected = talorin::MeshToShape(talorin::GenerateTerrainMesh(args));
        QVERIFY(expected);
        const QByteArray expectedText = QByteArray::fromStdString(vesk::SufText(expected));
        vesk::FreeSuf(expected);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expectedText);
    }

    void outputThroughMenuAndEnter() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        dialogs.saveAnswers = {QString(), QString(), QString()};
        c.SUFOut->trigger();
        QCOMPARE(dialogs.saveRequests.size(), 1);
        c.Size->setFocus();
        QTest::keyClick(c.Size, Qt::Key_Return);
        QCOMPARE(dialogs.saveRequests.size(), 2);
        c.PolygoneDepth->setFocus();
        QTest::keyClick(c.PolygoneDepth, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(dialogs.saveRequests.size(), 3);
        QCOMPARE(dialogs.beeps, 0);
    }

    void enterOnAnotherButtonPressesIt() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        c.InitPaMax->setFocus();
        QTest::keyClick(c.InitPaMax, Qt::Key_Return);
        QVERIFY(dialogs.saveRequests.isEmpty());
        QVERIFY(SameLattice(w->document().lattice(), Uniform(w->document().image(), 4), 4));
    }

    void enterDoesNothingBeforeAnImage() {
        TTalorin_main w(dialogs, {kProgram});
        const Controls c(w);
        QTest::keyClick(c.Size, Qt::Key_Return);
        QVERIFY(dialogs.saveRequests.isEmpty());
        QVERIFY(!w.currentShape());
    }

    void cancelledSaveKeepsShape() {
        auto w = startWithImage();
        const Controls c(*w);
        const QString first = path(QStringLiteral("first.suf"));
        dialogs.saveAnswers = {first, QString()};
        c.SUFOutButton->click();
        QVERIFY(QFile::exists(first));
        c.SUFOutButton->click();
        QVERIFY(w->currentShape());
        QCOMPARE(dialogs.saveRequests.size(), 2);
        // The second save proposes the file chosen at the first.
        QCOMPARE(dialogs.saveRequests[1].proposedName, first);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 2); // the image and first.suf
        QVERIFY(dialogs.errors.isEmpty() && dialogs.messages.isEmpty());
    }

    void conversionErrorChangesNothing_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("size letters") << "Size"
                                      << "abc"
                                      << "'abc' は浮動小数点数ではありません.";
        QTest::newRow("size empty") << "Size"
                                    << ""
                                    << "'' は浮動小数点数ではありません.";
        QTest::newRow("height with a comma") << "MaxHeight"
                                             << "1,000"
                                             << "'1,000' は浮動小数点数ではありません.";
        QTest::newRow("object name outside Shift-JIS") << "ObjName"
                                                       << "😀"
                                                       << "";
        QTest::newRow("attribute name outside Shift-JIS") << "AtrName"
                                                          << "한"
                                                          << "";
    }

    void conversionErrorChangesNothing() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        if (message.isEmpty()) {
            try {
                vesk::Cp932FromUtf8(text.toStdString());
                QFAIL("expected a conversion error");
            } catch (const std::exception& e) {
                message = ErrorBoxText(QString::fromUtf8(e.what()));
            }
        }
        auto w = startWithImage();
        const Controls c(*w);
        generateUnsaved(*w);
        const talorin::TerrainMesh* const previous = w->currentShape();
        w->findChild<QLineEdit*>(field)->setText(text);
        if (field == QStringLiteral("Size"))
            c.MaxHeight->setText(QStringLiteral("also wrong")); // the size is reported first

        c.SUFOutButton->click();

        QCOMPARE(dialogs.events, QStringList{QStringLiteral("error: ") + message});
        QCOMPARE(w->currentShape(), previous);
    }

    void nameThatWouldNotReadBackChangesNothing_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("object with a space")
            << "ObjName"
            << "a b"
            << "オブジェクト名「a b」は形状ファイルに書けません: 空白を含んでいます.";
        QTest::newRow("attribute with a brace")
            << "AtrName"
            << "x{y"
            << "属性名「x{y」は形状ファイルに書けません: 区切りの記号「{」を含んでいます "
               "(名前の最後にだけ使えます)"; // ")" sorts before ".": no full stop added
        QTest::newRow("empty attribute") << "AtrName"
                                         << ""
                                         << "属性名が空では形状ファイルに書けません.";
    }

    void nameThatWouldNotReadBackChangesNothing() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        auto w = startWithImage();
        const Controls c(*w);
        generateUnsaved(*w);
        const talorin::TerrainMesh* const previous = w->currentShape();
        w->findChild<QLineEdit*>(field)->setText(text);
        c.SUFOutButton->click();
        QCOMPARE(dialogs.events, QStringList{QStringLiteral("error: ") + message});
        QCOMPARE(w->currentShape(), previous);
        QVERIFY(dialogs.saveRequests.isEmpty());
    }

    void imageNameWithASpaceIsProposedWithAnUnderscore() {
        const QString spaced = path(QStringLiteral("my mountain.bmp"));
        WriteGreyBmp(spaced, 20, 20, Hill);
        auto w = start({spaced});
        const Controls c(*w);
        QCOMPARE(c.ObjName->text(), QStringLiteral("my_mountain"));
        const QString out = path(QStringLiteral("out.suf"));
        dialogs.saveAnswers = {out};
        c.SUFOutButton->click();
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.saveRequests[0].proposedName, QStringLiteral("my mountain.suf"));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("obj suf my_mountain {"));
        // The same name typed is checked as typed.
        dialogs.clearRecord();
        c.ObjName->setText(QStringLiteral("my mountain"));
        c.SUFOutButton->click();
        QCOMPARE(dialogs.events,
                 QStringList{QStringLiteral("error: オブジェクト名「my mountain」は形状ファイルに"
                                            "書けません: 空白を含んでいます.")});
    }

    void generationFailureBeepsThenTells() {
        auto w = startWithImage();
        const Controls c(*w);
        vesk::SetMemoryBudget(1);
        c.SUFOutButton->click();
        QCOMPARE(dialogs.events, (QStringList{QStringLiteral("beep"),
                                              QStringLiteral("message: ") +
                                                  QString::fromUtf8(talorin::kOutOfMemoryText)}));
        QCOMPARE(w->GenerationError, std::string(talorin::kOutOfMemoryText));
        QVERIFY(!w->currentShape());
    }

    void floatFaultShowsError() {
        const QString thin = path(QStringLiteral("thin.bmp"));
        WriteGreyBmp(thin, 1, 20, Hill);
        auto w = start({thin});
        const Controls c(*w);
        QVERIFY(w->document().hasImage());
        c.SUFOutButton->click();
        QCOMPARE(dialogs.events, QStringList{QStringLiteral("error: 0 による浮動小数点数除算.")});
        QVERIFY(!w->currentShape());
    }

    void failedSaveIsReported() {
        auto w = startWithImage();
        const Controls c(*w);
        dialogs.saveAnswers = {path(QStringLiteral("missing/out.suf"))};
        c.SUFOutButton->click();
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(dialogs.errors[0],
                 QStringLiteral("ファイル ") + path(QStringLiteral("missing/out.suf")) +
                     QStringLiteral(" に書き込めませんでした: フォルダーが見つかりません."));
        QVERIFY(w->currentShape());
    }

    // --- Work on the worker thread --------------------------------------------------

    // Settings for a run of 16.7 million quads: long enough to be cancelled
    // from its progress dialog on any machine.
    void makeRunLarge(TTalorin_main& w) {
        const Controls c(w);
        c.PaMaxBar->setValue(16);
        c.PolygoneDepth->setText(QStringLiteral("8"));
        QCOMPARE(c.PolygoneCount->text(), QStringLiteral("16777216"));
    }

    void cancelLeavesShapeAndFileAsTheyWere() {
        auto w = startWithImage();
        const Controls c(*w);
        const QString out = path(QStringLiteral("out.suf"));
        dialogs.saveAnswers = {out};
        c.SUFOutButton->click();
        const talorin::TerrainMesh* const previous = w->currentShape();
        QVERIFY(previous);
        const std::size_t polygons = previous->polygonCount();
        const QByteArray saved = ReadAll(out);
        QVERIFY(!saved.isEmpty());
        dialogs.clearRecord();
        dialogs.saveAnswers = {out};
        makeRunLarge(*w);

        QString buttonText;
        bool clicked = false;
        During(w.get(), [&] {
            auto* dialog = w->findChild<QProgressDialog*>(QString::fromLatin1(kProgressDialogName));
            if (!dialog || !dialog->isVisible())
                return false;
            auto* cancel = dialog->findChild<QPushButton*>();
            buttonText = cancel->text();
            QTest::mouseClick(cancel, Qt::LeftButton);
            clicked = true;
            return true;
        });
        c.SUFOutButton->click();

        QVERIFY(clicked);
        QCOMPARE(buttonText, QStringLiteral("キャンセル"));
        QVERIFY(dialogs.events.isEmpty()); // no error, no beep, no save dialog
        QCOMPARE(w->currentShape(), previous);
        QCOMPARE(w->currentShape()->polygonCount(), polygons);
        QCOMPARE(ReadAll(out), saved);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 2); // the image and out.suf
        QVERIFY(!w->findChild<QProgressDialog*>());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(w->isVisible());
    }

    void closingDuringARunCancelsAndCloses() {
        auto w = startWithImage();
        const Controls c(*w);
        generateUnsaved(*w);
        const talorin::TerrainMesh* const previous = w->currentShape();
        makeRunLarge(*w);
        dialogs.saveAnswers = {path(QStringLiteral("never.suf"))};
        int step = 0;
        During(w.get(), [&] {
            if (++step < 3)
                return false;
            w->close();
            return true;
        });
        c.SUFOutButton->click();
        QVERIFY(!w->isVisible());
        // The larger run is an unsaved change: only the save question comes.
        QCOMPARE(dialogs.events.size(), 1);
        QVERIFY(dialogs.events[0].startsWith(QStringLiteral("ask: ")));
        QCOMPARE(w->currentShape(), previous);
        QVERIFY(!QFile::exists(path(QStringLiteral("never.suf"))));
    }

    // While a run is busy: busy cursor, the window paints, and what is typed
    // or clicked meanwhile is dropped, not delivered afterwards.
    void busyWindowPaintsAndDropsInput() {
        auto w = startWithImage();
        const Controls c(*w);
        activate(*w);
        makeRunLarge(*w);
        PaintCounter counter(c.BmpShow);
        const int& paints = counter.paints;
        bool busyCursor = false;
        int paintsWhenAsked = -1;
        int step = 0;
        During(w.get(), [&] {
            switch (step++) {
            case 0:
                busyCursor = QApplication::overrideCursor() &&
                             QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                paintsWhenAsked = paints;
                c.BmpShow->update();
                c.ObjName->setFocus();
                QTest::keyClicks(c.ObjName, QStringLiteral("xy"));
                QTest::keyClick(w->windowHandle(), Qt::Key_Z);
                QTest::mouseClick(c.ModeB, Qt::LeftButton);
                QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
                return false;
            case 5:
                w->close(); // ends the run
                return true;
            default:
                return false;
            }
        });
        const talorin::MeshLattice lattice = w->document().lattice();
        c.SUFOutButton->click();
        QCoreApplication::processEvents();
        QVERIFY(busyCursor);
        QVERIFY(paints > paintsWhenAsked);
        QCOMPARE(c.ObjName->text(), QStringLiteral("fuji"));
        QVERIFY(c.ModeA->isChecked());
        QCOMPARE(w->document().lattice(), lattice);
        QVERIFY(!QApplication::overrideCursor());
    }

    void bigSaveCountsItsBytes() {
        auto w = startWithImage();
        const Controls c(*w);
        c.PaMaxBar->setValue(16);
        c.PolygoneDepth->setText(QStringLiteral("6"));
        const QString out = path(QStringLiteral("big.suf"));
        dialogs.saveAnswers = {out};
        QString label;
        During(w.get(), [&] {
            // The dialog of the save: no cancel button, bytes in its label.
            auto* dialog = w->findChild<QProgressDialog*>(QString::fromLatin1(kProgressDialogName));
            if (!dialog || !dialog->isVisible() || dialog->findChild<QPushButton*>())
                return false;
            label = dialog->findChild<QLabel*>()->text();
            return label.contains(QStringLiteral("バイト")) &&
                   !label.contains(QStringLiteral("\n0 "));
        });
        c.SUFOutButton->click();
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(QFile(out).size() > 50'000'000);
        // Not asserted when the save was quicker than the dialog's delay.
        if (!label.isEmpty())
            QVERIFY2(label.startsWith(QStringLiteral("ファイルに書き込んでいます…\n")),
                     qPrintable(label));
    }

    // --- Menu commands -----------------------------------------------------------

    void aboutShowsVersion() {
        auto w = startWithImage();
        const Controls c(*w);
        c.K2->trigger();
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].startsWith(QStringLiteral("Talorin Version 1.0e-36 ")));
        QVERIFY(!dialogs.messages[0].contains(QLatin1Char('\n')));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void exitReleasesShape() {
        auto w = startWithImage();
        const Controls c(*w);
        generateUnsaved(*w);
        c.Exit1->trigger();
        QVERIFY(!w->currentShape());
        QVERIFY(!w->isVisible());
    }

    void exitWithoutShape() {
        auto w = startWithImage();
        const Controls c(*w);
        c.Exit1->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(dialogs.events.isEmpty());
    }

    // --- The real file dialogs ------------------------------------------------

    // Presses the dialog's accept as its Open or Save button does.
    static void acceptName(QFileDialog& dialog, const QString& fileName) {
        dialog.selectFile(fileName);
        QVERIFY(QMetaObject::invokeMethod(&dialog, "accept"));
    }

    void realSaveDialog() {
        auto w = startWithImage();
        const Controls c(*w);
        const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(nullptr, w->saveRequest(), true);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        // .suf first and selected; the other formats follow it.
        QCOMPARE(dialog->nameFilters().first(), QStringLiteral("Quiro形状ファイル (*.suf)"));
        QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Quiro形状ファイル (*.suf)"));
        QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(QDir(dialog->directory()), QDir(dir->path()));
        QCOMPARE(dialog->selectedFiles(), QStringList{path(QStringLiteral("fuji.suf"))});
        dialog->show();

        // A folder that does not exist: the dialog stays open and says so.
        acceptName(*dialog, path(QStringLiteral("missing/out.suf")));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        auto* warning = dialog->findChild<QMessageBox*>();
        QVERIFY(warning && warning->isVisible());
        QVERIFY(warning->text().contains(path(QStringLiteral("missing"))));
        warning->close();

        // A name typed without an extension gets ".suf".
        acceptName(*dialog, path(QStringLiteral("out")));
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(dialog->selectedFiles(), QStringList{path(QStringLiteral("out.suf"))});
    }

    void realOpenDialog() {
        auto w = startWithImage();
        const Controls c(*w);
        const std::unique_ptr<QFileDialog> dialog =
            MakeFileDialog(nullptr, w->openRequest(), false);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->nameFilters(), kOpenFilters);
        QCOMPARE(dialog->defaultSuffix(), QStringLiteral("bmp"));
        QCOMPARE(dialog->selectedFiles(), QStringList{image});
        dialog->show();
        acceptName(*dialog, path(QStringLiteral("missing/x.bmp")));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    // --- Helpers of the window module -----------------------------------------

    void errorBoxText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ends in a kanji") << "除算"
                                         << "除算.";
        QTest::newRow("ends in a full stop") << "done."
                                             << "done.";
        QTest::newRow("ends in a comma") << "a,"
                                         << "a,";
        QTest::newRow("ends in a slash") << "a/"
                                         << "a/.";
        QTest::newRow("ends in a space") << "a "
                                         << "a ";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("ends in a supplementary character") << "a😀"
                                                           << "a😀.";
    }

    void errorBoxText() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(ErrorBoxText(text), shown);
    }

    void runHandlerShowsErrors() {
        QWidget parent;
        RunHandler(dialogs, &parent, [] { throw talorin::FloatFault(talorin::kDivideByZeroText); });
        RunHandler(dialogs, &parent, [] { throw std::runtime_error("plain"); });
        RunHandler(dialogs, &parent, [] {});
        QCOMPARE(dialogs.errors, (QStringList{QStringLiteral("0 による浮動小数点数除算."),
                                              QStringLiteral("plain.")}));
    }

    // --- Project files ------------------------------------------------------------

    void projectSavedAndReopenedIsTheSameDocument() {
        auto w = startWithImage();
        const Controls c(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        QTest::mouseClick(c.BmpShow, Qt::RightButton, {}, QPoint(30, 200));
        c.ModeB->click();
        c.ShapeModeC->click();
        QVERIFY(w->isModified());
        const QString project = path(QStringLiteral("fuji.talorin"));
        dialogs.saveAnswers = {project};
        w->findChild<QAction*>(QStringLiteral("ProjectSave"))->trigger();
        QVERIFY(QFile::exists(project));
        QCOMPARE(w->windowTitle(), QStringLiteral("fuji.talorin[*] - Talorin"));
        QVERIFY(!w->isWindowModified());
        QCOMPARE(TTalorin_main::recentFiles().value(0), project);

        auto reopened = start({project});
        const talorin::TerrainDocument& a = w->document();
        const talorin::TerrainDocument& b = reopened->document();
        QVERIFY(std::memcmp(&a.lattice(), &b.lattice(), sizeof a.lattice()) == 0);
        QCOMPARE(b.quadMode(), false);
        QCOMPARE(b.shapeMode(), std::uint8_t(2));
        QCOMPARE(b.objectName(), a.objectName());
        QVERIFY(!b.canUndo());
        QCOMPARE(reopened->projectFile(), project);
        QVERIFY(!reopened->isModified());
    }

    void unsavedChangesAskBeforeTheyAreLost() {
        auto w = startWithImage();
        const Controls c(*w);
        QTest::mouseClick(c.BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        // キャンセル keeps the window; 保存 asks for a name and saves; then it closes.
        dialogs.askSaveAnswers = {Dialogs::SaveAnswer::Cancel, Dialogs::SaveAnswer::Save};
        w->close();
        QVERIFY(w->isVisible());
        dialogs.saveAnswers = {path(QStringLiteral("kept.talorin"))};
        w->close();
        QVERIFY(!w->isVisible());
        QVERIFY(QFile::exists(path(QStringLiteral("kept.talorin"))));
        QCOMPARE(dialogs.events.count(QStringLiteral("save")), 1);
        // Opening another image asks too; nothing changed, nothing asked.
        auto other = startWithImage();
        dialogs.clearRecord();
        dialogs.openAnswers = {image};
        Controls(*other).BmpFileOpen->trigger();
        QVERIFY(!dialogs.events.join(u' ').contains(QStringLiteral("ask")));
    }

    void aProjectWhoseImageMovedAsksForItAndABrokenOneChangesNothing() {
        auto w = startWithImage();
        const QString project = path(QStringLiteral("moved.talorin"));
        dialogs.saveAnswers = {project};
        w->findChild<QAction*>(QStringLiteral("ProjectSaveAs"))->trigger();
        QVERIFY(QFile::rename(image, path(QStringLiteral("elsewhere.bmp"))));
        dialogs.clearRecord();
        dialogs.openAnswers = {path(QStringLiteral("elsewhere.bmp"))};
        w->openFile(project);
        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].initialFolder, dir->path());
        QCOMPARE(w->projectFile(), project);

        const QString broken = path(QStringLiteral("broken.talorin"));
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"format\": \"talorin-project\", \"version\": 9}");
        f.close();
        const std::uint64_t version = w->document().version();
        dialogs.clearRecord();
        QVERIFY_THROWS_EXCEPTION(talorin::Error, w->openFile(broken));
        QCOMPARE(w->document().version(), version);
        QCOMPARE(w->projectFile(), project);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
