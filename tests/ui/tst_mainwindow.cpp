// The main window driven headless with fake dialogs: start-up, loading
// images, the parameter displays, the depth field, mesh editing and the
// output command.

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/bmp.h"
#include "core/lattice.h"
#include "core/terrain.h"
#include "fakedialogs.h"
#include "shape/error.h"
#include "shape/shape.h"
#include "shape/sjis.h"
#include "shape/suf.h"
#include "tests/support/bmp24.h"
#include "ui/depthfield.h"
#include "ui/mainwindow.h"
#include "ui/paintbox.h"

namespace {

const QString kProgram = QStringLiteral("/opt/my tools/talorin");

// A 24-bit BMP whose pixels have grey level grey(x, y).
void WriteBmp(const QString& path, int width, int height,
              const std::function<int(int, int)>& grey) {
    const std::string bytes = testsupport::Bmp24Bytes(width, height, [&](int x, int y) {
        const auto g = std::uint8_t(grey(x, y));
        return talorin::Rgb{g, g, g};
    });
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}

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

QString LoadError(const QString& path) {
    try {
        talorin::LoadBmpFile(path.toStdString());
    } catch (const std::exception& e) {
        return ErrorBoxText(QString::fromUtf8(e.what()));
    }
    return QString();
}

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
        dialogs.saveAnswers = {QString()};
        w.SUFOutButton->click();
        QVERIFY(w.CurrentShape != nullptr);
        dialogs.clearRecord();
    }

    void typeDepth(TTalorin_main& w, const QString& text) {
        QTest::keyClick(w.PolygoneDepth, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w.PolygoneDepth, Qt::Key_Backspace);
        QTest::keyClicks(w.PolygoneDepth, text);
    }

    void activate(TTalorin_main& w) {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void init() {
        dialogs = FakeDialogs();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        image = path(QStringLiteral("fuji.old.bmp"));
        WriteBmp(image, 40, 30, Hill);
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
        QCOMPARE(w.windowTitle(), QStringLiteral("Talorin"));
        QCOMPARE(w.centralWidget()->size(), QSize(412, 368));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w.K1->title(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(w.KH1->title(), QStringLiteral("ヘルプ(&H)"));
        const QList<QAction*> file = w.K1->actions();
        QCOMPARE(file.size(), 4);
        QCOMPARE(file[0]->text(), QStringLiteral("BMPファイルを開く(&O)"));
        QCOMPARE(file[1]->text(), QStringLiteral("SUFファイルを出力する(&E)"));
        QVERIFY(file[2]->isSeparator());
        QCOMPARE(file[3]->text(), QStringLiteral("終了(&X)"));
        QCOMPARE(w.K2->text(), QStringLiteral("ヴァージョン情報(&A)..."));
        QCOMPARE(w.BmpOpen.filter, QStringLiteral("BMPファイル (*.bmp)"));
        QCOMPARE(w.BmpOpen.defaultSuffix, QStringLiteral("bmp"));
        QVERIFY(w.BmpOpen.fileMustExist);
        QVERIFY(w.BmpOpen.folderMustExist);
        QVERIFY(!w.BmpOpen.confirmOverwrite);
        QCOMPARE(w.SufSave.filter, QStringLiteral("Quiro形状ファイル (*.suf)"));
        QCOMPARE(w.SufSave.defaultSuffix, QStringLiteral("suf"));
        QVERIFY(w.SufSave.confirmOverwrite);
        QVERIFY(w.SufSave.folderMustExist);
        QVERIFY(!w.SufSave.fileMustExist);
    }

    void startState() {
        TTalorin_main w(dialogs, {kProgram});
        QVERIFY(!w.SUFOutButton->isEnabled());
        QVERIFY(!w.SUFOut->isEnabled());
        QVERIFY(!w.InitPaMax->isEnabled());
        QVERIFY(w.ModeA->isChecked() && !w.ModeB->isChecked());
        QVERIFY(w.UV->isChecked());
        QVERIFY(!w.Shade->isChecked() && !w.Shade->isEnabled());
        QVERIFY(w.ShapeModeA->isChecked());
        QCOMPARE(w.PaMaxBar->minimum(), 4);
        QCOMPARE(w.PaMaxBar->maximum(), 16);
        QCOMPARE(w.PaMaxBar->value(), 4);
        QCOMPARE(w.CovertLevel->minimum(), 1);
        QCOMPARE(w.CovertLevel->maximum(), 100);
        QCOMPARE(w.CovertLevel->value(), 10);
        QCOMPARE(w.PolygoneDepth->minimum(), 1);
        QCOMPARE(w.PolygoneDepth->maximum(), 20);
        QCOMPARE(w.PaMax, 4);
        QVERIFY(!w.ImageLoaded && !w.GraphBackgroundReady && !w.CurrentShape);
        QCOMPARE(w.PreviewScaleX, 0.0);

        auto shown = startWithImage();
        QCOMPARE(shown->PolygoneCount->text(), QStringLiteral("256"));
        QVERIFY(shown->GraphBackgroundReady); // painted on showing
    }

    void tabOrder() {
        auto w = startWithImage();
        activate(*w);
        w->SUFOutButton->setFocus();
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
        w->ModeB->click();
        QVERIFY(!w->ModeA->isChecked() && w->ShapeModeA->isChecked());
        w->ShapeModeC->click();
        QVERIFY(w->ModeB->isChecked() && !w->ShapeModeA->isChecked() && w->ShapeModeC->isChecked());
        w->ShapeModeB->click();
        QVERIFY(!w->ShapeModeC->isChecked() && w->ModeB->isChecked());
    }

    void clientAreaBelowMenu() {
        auto w = startWithImage();
        QCOMPARE(w->centralWidget()->geometry(), QRect(0, w->MainMenu1->height(), 412, 368));
        QCOMPARE(w->size(), QSize(412, 368 + w->MainMenu1->height()));
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
        QDir::setCurrent(previous);
        const QString folder = relative ? QString() : dir->path() + QLatin1Char('/');

        QVERIFY(dialogs.openRequests.isEmpty());
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(w->isVisible());
        QVERIFY(w->ImageLoaded);
        QCOMPARE(w->ContourImage.width(), 40);
        QCOMPARE(w->ContourImage.height(), 30);
        QCOMPARE(w->PreviewScaleX, 233.0 / 40);
        QCOMPARE(w->PreviewScaleY, 233.0 / 30);
        QVERIFY(SameLattice(w->Mesh, Uniform(w->ContourImage, 4), 4));
        QCOMPARE(w->ObjName->text(), QStringLiteral("fuji"));
        QCOMPARE(w->AtrName->text(), QStringLiteral("BodyM"));
        QCOMPARE(w->SufSave.proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(w->SufSave.initialFolder, folder);
        QCOMPARE(w->BmpOpen.proposedName, argument);
        QCOMPARE(w->BmpOpen.initialFolder, folder);
        QVERIFY(w->SUFOutButton->isEnabled() && w->SUFOut->isEnabled() &&
                w->InitPaMax->isEnabled());
        // The preview shows the image: the top left pixel is the image's.
        QCOMPARE(qGray(w->BmpShow->canvas().pixel(3, 3)), Hill(0, 0));
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
        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].filter, QStringLiteral("BMPファイル (*.bmp)"));
        QVERIFY(dialogs.openRequests[0].proposedName.isEmpty());
        QVERIFY(dialogs.messages.isEmpty() && dialogs.errors.isEmpty());
        QVERIFY(w->isVisible() && w->ImageLoaded);
        QCOMPARE(w->ObjName->text(), QStringLiteral("fuji"));
        QCOMPARE(w->SufSave.proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(w->SufSave.initialFolder, dir->path() + QLatin1Char('/'));
        // The open dialog comes back to the file chosen in it.
        QCOMPARE(w->BmpOpen.proposedName, image);
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
        QVERIFY(!w->isVisible());
        QVERIFY(!w->ImageLoaded);
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
        QTest::mouseClick(w->BmpShow, Qt::LeftButton, {}, QPoint(100, 90));
        w->ObjName->setText(QStringLiteral("mine"));
        const talorin::MeshLattice edited = w->Mesh;
        const FileDialogRequest save = w->SufSave;
        const QString bad = path(QStringLiteral("bad.bmp"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("BM broken");
        f.close();
        dialogs.openAnswers = {unreadable ? bad : QString()};

        w->BmpFileOpen->trigger();

        QCOMPARE(dialogs.openRequests.size(), 1);
        QCOMPARE(dialogs.openRequests[0].proposedName, image);
        QCOMPARE(dialogs.errors, unreadable ? QStringList{LoadError(bad)} : QStringList{});
        QCOMPARE(w->ContourImage.width(), 40);
        QVERIFY(SameLattice(w->Mesh, edited, 4));
        QCOMPARE(w->ObjName->text(), QStringLiteral("mine"));
        QCOMPARE(w->SufSave.proposedName, save.proposedName);
        QCOMPARE(w->SufSave.initialFolder, save.initialFolder);
        QCOMPARE(w->BmpOpen.proposedName, image);
        QVERIFY(w->ImageLoaded && w->SUFOutButton->isEnabled());
    }

    void secondLoadResetsLatticeAndNames() {
        auto w = startWithImage();
        w->PaMaxBar->setValue(6);
        QTest::mouseClick(w->BmpShow, Qt::LeftButton, {}, QPoint(120, 100));
        QVERIFY(!SameLattice(w->Mesh, Uniform(w->ContourImage, 6), 6));
        w->AtrName->setText(QStringLiteral("Rock"));
        const QString second = path(QStringLiteral("sub/dune.bmp"));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub")));
        WriteBmp(second, 50, 20, Hill);
        dialogs.openAnswers = {second};

        w->BmpFileOpen->trigger();

        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(w->ContourImage.width(), 50);
        QCOMPARE(w->PaMax, 6);
        QVERIFY(SameLattice(w->Mesh, Uniform(w->ContourImage, 6), 6));
        QCOMPARE(w->ObjName->text(), QStringLiteral("dune"));
        QCOMPARE(w->AtrName->text(), QStringLiteral("BodyM"));
        QCOMPARE(w->SufSave.proposedName, QStringLiteral("dune.suf"));
        QCOMPARE(w->SufSave.initialFolder, dir->path() + QStringLiteral("/sub/"));
        QCOMPARE(w->BmpOpen.proposedName, second);
        QCOMPARE(w->BmpOpen.initialFolder, dir->path() + QLatin1Char('/'));
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
        activate(*w);
        w->PolygoneDepth->setFocus();
        if (triangles)
            w->ModeB->click();
        typeDepth(*w, typed);
        QCOMPARE(w->PolygoneDepth->text(), typed);
        QCOMPARE(w->PolygoneCount->text(), countTyped);
        w->Size->setFocus();
        QCOMPARE(w->PolygoneDepth->text(), textAfterLeaving);
        QCOMPARE(w->PolygoneCount->text(), countAfterLeaving);
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.beeps, 0);
    }

    void countOverflowKeepsLabel() {
        auto w = startWithImage();
        w->PaMaxBar->setValue(16);
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("4096"));
        w->PolygoneDepth->setText(QStringLiteral("1"));
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("1024"));
        w->PolygoneDepth->setText(QStringLiteral("12"));
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("1024"));
        QCOMPARE(dialogs.errors,
                 QStringList{ErrorBoxText(QString::fromUtf8(talorin::kInvalidOperationText))});
        w->PolygoneDepth->setText(QStringLiteral("10"));
        w->ModeB->click();
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("1073741824"));
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
        w->PolygoneDepth->setText(start);
        QTest::keyClick(w->PolygoneDepth, Qt::Key_End);
        QTest::keyClick(w->PolygoneDepth, Qt::Key(key));
        QCOMPARE(w->PolygoneDepth->text(), text);
        QCOMPARE(dialogs.beeps, beeps);
    }

    void depthFieldArrowsRunChange() {
        auto w = startWithImage();
        w->PolygoneDepth->stepBy(1); // an arrow button
        QCOMPARE(w->PolygoneDepth->text(), QStringLiteral("3"));
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("1024"));
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
        talorin::MeshLattice expected = w->Mesh;
        talorin::AdjustMeshDensity(expected, 4, 70, 80, std::uint8_t(code), w->PreviewScaleX,
                                   w->PreviewScaleY);
        QTest::mouseClick(w->BmpShow, Qt::MouseButton(button), {}, QPoint(70, 80));
        QCOMPARE(w->ClickX, 70);
        QCOMPARE(w->ClickY, 80);
        QCOMPARE(int(w->ClickButton), code);
        QVERIFY(SameLattice(w->Mesh, expected, 4));
        QCOMPARE(SameLattice(w->Mesh, Uniform(w->ContourImage, 4), 4), code == 2);
    }

    void densityAndReset() {
        auto w = startWithImage();
        QTest::mouseClick(w->BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        w->PaMaxBar->setValue(5);
        QCOMPARE(w->PaMax, 5);
        QVERIFY(SameLattice(w->Mesh, Uniform(w->ContourImage, 5), 5));
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("400"));
        QTest::mouseClick(w->BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(!SameLattice(w->Mesh, Uniform(w->ContourImage, 5), 5));
        w->InitPaMax->click();
        QVERIFY(SameLattice(w->Mesh, Uniform(w->ContourImage, 5), 5));
        QCOMPARE(w->PolygoneCount->text(), QStringLiteral("400"));
    }

    void graphFollowsLevelAndMode() {
        auto w = startWithImage();
        const QImage level10 = w->ShowGraph->canvas().copy();
        w->CovertLevel->setValue(100);
        const QImage level100 = w->ShowGraph->canvas().copy();
        QVERIFY(level10 != level100);
        w->ShapeModeB->click();
        QVERIFY(w->ShowGraph->canvas() != level100);
        w->CovertLevel->setValue(10);
        // At level 1 every profile is the same straight line.
        QCOMPARE(w->ShowGraph->canvas(), level10);
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
        w->Size->setText(sizeText);
        w->MaxHeight->setText(heightText);
        if (triangles)
            w->ModeB->click();
        QRadioButton* shapes[] = {w->ShapeModeA, w->ShapeModeB, w->ShapeModeC};
        shapes[shapeMode]->click();
        w->CovertLevel->setValue(level);
        w->UV->setChecked(uv);
        w->PaMaxBar->setValue(paMax);
        if (!objName.isEmpty())
            w->ObjName->setText(objName);
        w->PolygoneDepth->setText(depthText);
        const QString out = path(QStringLiteral("out.suf"));
        dialogs.saveAnswers = {out};

        w->SUFOutButton->click();

        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.beeps, 0);
        QCOMPARE(dialogs.saveRequests.size(), 1);
        QCOMPARE(dialogs.saveRequests[0].proposedName, QStringLiteral("fuji.suf"));
        QCOMPARE(dialogs.saveRequests[0].initialFolder, dir->path() + QLatin1Char('/'));
        QVERIFY(w->CurrentShape);

        const talorin::Bitmap bitmap = talorin::LoadBmpFile(image.toStdString());
        talorin::Talorin_Args args;
        args.Size = size;
        args.MaxHeight = height;
        args.QuadMode = !triangles;
        args.ShapeMode = std::uint8_t(shapeMode);
        args.CurveLevel = level / 10.0;
        args.Bitmap = &bitmap;
        args.Depth = depth;
        args.ObjName = vesk::Cp932FromUtf8(w->ObjName->text().toStdString());
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
        activate(*w);
        dialogs.saveAnswers = {QString(), QString(), QString()};
        w->SUFOut->trigger();
        QCOMPARE(dialogs.saveRequests.size(), 1);
        w->Size->setFocus();
        QTest::keyClick(w->Size, Qt::Key_Return);
        QCOMPARE(dialogs.saveRequests.size(), 2);
        w->PolygoneDepth->setFocus();
        QTest::keyClick(w->PolygoneDepth, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(dialogs.saveRequests.size(), 3);
        QCOMPARE(dialogs.beeps, 0);
    }

    void enterOnAnotherButtonPressesIt() {
        auto w = startWithImage();
        activate(*w);
        QTest::mouseClick(w->BmpShow, Qt::LeftButton, {}, QPoint(100, 100));
        w->InitPaMax->setFocus();
        QTest::keyClick(w->InitPaMax, Qt::Key_Return);
        QVERIFY(dialogs.saveRequests.isEmpty());
        QVERIFY(SameLattice(w->Mesh, Uniform(w->ContourImage, 4), 4));
    }

    void enterDoesNothingBeforeAnImage() {
        TTalorin_main w(dialogs, {kProgram});
        QTest::keyClick(w.Size, Qt::Key_Return);
        QVERIFY(dialogs.saveRequests.isEmpty());
        QVERIFY(!w.CurrentShape);
    }

    void cancelledSaveKeepsShape() {
        auto w = startWithImage();
        const QString first = path(QStringLiteral("first.suf"));
        dialogs.saveAnswers = {first, QString()};
        w->SUFOutButton->click();
        QVERIFY(QFile::exists(first));
        w->SUFOutButton->click();
        QVERIFY(w->CurrentShape);
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
        generateUnsaved(*w);
        const talorin::TerrainMesh* const previous = w->CurrentShape.get();
        w->findChild<QLineEdit*>(field)->setText(text);
        if (field == QStringLiteral("Size"))
            w->MaxHeight->setText(QStringLiteral("also wrong")); // the size is reported first

        w->SUFOutButton->click();

        QCOMPARE(dialogs.events, QStringList{QStringLiteral("error: ") + message});
        QCOMPARE(w->CurrentShape.get(), previous);
    }

    void generationFailureBeepsThenTells() {
        auto w = startWithImage();
        vesk::SetMemoryBudget(1);
        w->SUFOutButton->click();
        QCOMPARE(dialogs.events, (QStringList{QStringLiteral("beep"),
                                              QStringLiteral("message: ") +
                                                  QString::fromUtf8(talorin::kOutOfMemoryText)}));
        QVERIFY(!w->CurrentShape);
    }

    void floatFaultShowsError() {
        const QString thin = path(QStringLiteral("thin.bmp"));
        WriteBmp(thin, 1, 20, Hill);
        auto w = start({thin});
        QVERIFY(w->ImageLoaded);
        w->SUFOutButton->click();
        QCOMPARE(dialogs.events, QStringList{QStringLiteral("error: 0 による浮動小数点数除算.")});
        QVERIFY(!w->CurrentShape);
    }

    void failedSaveIsReported() {
        auto w = startWithImage();
        dialogs.saveAnswers = {path(QStringLiteral("missing/out.suf"))};
        w->SUFOutButton->click();
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(dialogs.errors[0],
                 ErrorBoxText(QString::fromStdString(vesk::Utf8FromCp932(vesk::SufError))));
        QVERIFY(!vesk::SufError.empty());
        QVERIFY(w->CurrentShape);
    }

    // --- Menu commands -----------------------------------------------------------

    void aboutShowsVersion() {
        auto w = startWithImage();
        w->K2->trigger();
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].startsWith(QStringLiteral("Talorin Version 1.0e-36 ")));
        QVERIFY(!dialogs.messages[0].contains(QLatin1Char('\n')));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void exitReleasesShape() {
        auto w = startWithImage();
        generateUnsaved(*w);
        w->Exit1->trigger();
        QVERIFY(!w->CurrentShape);
        QVERIFY(!w->isVisible());
    }

    void exitWithoutShape() {
        auto w = startWithImage();
        w->Exit1->trigger();
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
        const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(nullptr, w->SufSave, true);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Quiro形状ファイル (*.suf)")});
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
        const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(nullptr, w->BmpOpen, false);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("BMPファイル (*.bmp)")});
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
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
