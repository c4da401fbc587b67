#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <algorithm>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "core/bmp.h"
#include "core/names.h"
#include "core/sufmesh.h"
#include "core/terrain.h"
#include "shape/numtext.h"
#include "shape/sjis.h"
#include "shape/suf.h"
#include "ui/depthfield.h"
#include "ui/paintbox.h"
#include "ui/previews.h"

namespace {

// Metric-compatible with the proportional Gothic face the layout was drawn for.
const QString kFontFamily = QStringLiteral("IPAPGothic");
constexpr int kClientWidth = 412;
constexpr int kClientHeight = 368;
constexpr int kMinDepth = 1;
constexpr int kMaxDepth = 20;
const QString kDefaultAttributeName = QStringLiteral("BodyM");
const QString kBmpFilter = QStringLiteral("BMPファイル (*.bmp)");
const QString kSufFilter = QStringLiteral("Quiro形状ファイル (*.suf)");

QFont PixelFont(int pixelSize, bool bold = false, bool italic = false, bool underline = false) {
    QFont font(kFontFamily);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

// Black background, lime 16-pixel italic text.
void ApplyEditStyle(QWidget* widget) {
    widget->setFont(PixelFont(16, false, true));
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, QColor(0, 255, 0));
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& text, int x, int y, int w, int h,
                    const QString& hint) {
    auto* edit = new QLineEdit(text, parent);
    edit->setGeometry(x, y, w, h);
    ApplyEditStyle(edit);
    edit->setToolTip(hint);
    return edit;
}

QSlider* MakeTrackBar(QWidget* parent, int minimum, int maximum, int position, int tickInterval,
                      int x, int y, int w, int h, const QString& hint) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setRange(minimum, maximum);
    bar->setValue(position);
    bar->setSingleStep(1);
    bar->setPageStep(2);
    bar->setTickInterval(tickInterval);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setGeometry(x, y, w, h);
    bar->setToolTip(hint);
    return bar;
}

QFrame* MakeSunkenBox(QWidget* parent, int x, int y, int w, int h) {
    auto* box = new QFrame(parent);
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setGeometry(x, y, w, h);
    return box;
}

std::string LocalPath(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// Busy cursor for the whole run, and a progress dialog once a run has taken
// longer than half a second. Events are processed at most ten times a second,
// without user input, so nothing else runs in the middle of the generation.
class GenerationProgress {
  public:
    explicit GenerationProgress(QWidget* parent) : m_parent(parent) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_clock.start();
    }
    ~GenerationProgress() { QApplication::restoreOverrideCursor(); }
    GenerationProgress(const GenerationProgress&) = delete;
    GenerationProgress& operator=(const GenerationProgress&) = delete;

    void operator()(std::uint64_t done, std::uint64_t total) {
        const qint64 now = m_clock.elapsed();
        if (now - m_lastUpdate < 100)
            return;
        m_lastUpdate = now;
        if (!m_dialog && now >= 500) {
            m_dialog = std::make_unique<QProgressDialog>(
                QStringLiteral("地形形状を生成しています…"), QString(), 0, 1000, m_parent);
            m_dialog->setWindowTitle(kApplicationTitle);
            m_dialog->setWindowModality(Qt::WindowModal);
            m_dialog->setMinimumDuration(0);
            m_dialog->setAutoClose(false);
            m_dialog->setAutoReset(false);
            m_dialog->show();
        }
        if (m_dialog && total > 0)
            m_dialog->setValue(int(std::min<std::uint64_t>(done, total) * 1000 / total));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

  private:
    QWidget* m_parent;
    QElapsedTimer m_clock;
    qint64 m_lastUpdate = 0;
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace

TTalorin_main::TTalorin_main(Dialogs& dialogs, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_dialogs(dialogs), m_arguments(arguments) {
    setWindowTitle(QStringLiteral("Talorin"));

    BmpOpen.filter = kBmpFilter;
    BmpOpen.defaultSuffix = QStringLiteral("bmp");
    BmpOpen.fileMustExist = true;
    BmpOpen.folderMustExist = true;
    SufSave.filter = kSufFilter;
    SufSave.defaultSuffix = QStringLiteral("suf");
    SufSave.folderMustExist = true;
    SufSave.confirmOverwrite = true;

    createMenu();
    createControls();
    arrangeTabOrder();
    connectHandlers();

    // The client area is fixed; the menu bar sits above it.
    setFixedSize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
}

TTalorin_main::~TTalorin_main() = default;

QString TTalorin_main::CommandLineImageName(const QStringList& arguments) {
    const QString joined = arguments.mid(1).join(u' ');
    qsizetype first = 0;
    qsizetype end = joined.size();
    while (first < end && joined[first].unicode() <= 32)
        ++first;
    while (end > first && joined[end - 1].unicode() <= 32)
        --end;
    return joined.mid(first, end - first);
}

void TTalorin_main::createMenu() {
    MainMenu1 = menuBar();
    K1 = MainMenu1->addMenu(QStringLiteral("ファイル(&F)"));
    BmpFileOpen = K1->addAction(QStringLiteral("BMPファイルを開く(&O)"));
    SUFOut = K1->addAction(QStringLiteral("SUFファイルを出力する(&E)"));
    SUFOut->setEnabled(false);
    N1 = K1->addSeparator();
    Exit1 = K1->addAction(QStringLiteral("終了(&X)"));
    KH1 = MainMenu1->addMenu(QStringLiteral("ヘルプ(&H)"));
    K2 = KH1->addAction(QStringLiteral("ヴァージョン情報(&A)..."));
}

void TTalorin_main::createControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setFont(PixelFont(12));
    setCentralWidget(client);

    Bevel1 = MakeSunkenBox(client, 8, 24, 233, 233);
    BmpShow = new PaintBox(client);
    BmpShow->setGeometry(8, 24, 233, 233);
    BmpShow->setToolTip(
        QStringLiteral("読み込んだ等高線画像です。クリックするとメッシュの密度が変化します。"));
    Bevel2 = MakeSunkenBox(client, 8, 288, 233, 73);

    InitPaMax = new QPushButton(QStringLiteral("初期化"), client);
    InitPaMax->setGeometry(192, 4, 49, 17);
    InitPaMax->setEnabled(false);
    InitPaMax->setToolTip(
        QStringLiteral("メッシュの形を初期化します  わけがわかんなくなったら押しましょう。"));

    SUFOutButton = new QPushButton(QStringLiteral("地形形状作成保存"), client);
    SUFOutButton->setGeometry(256, 328, 145, 25);
    SUFOutButton->setEnabled(false);
    // Drawn as the default button; keyPressEvent gives it the Enter key.
    SUFOutButton->setDefault(true);
    SUFOutButton->setToolTip(QStringLiteral("形状を生成・出力します"));

    CovertLevel = MakeTrackBar(client, 1, 100, 10, 10, 72, 268, 121, 17,
                               QStringLiteral("山の形の極端さ加減を調整します"));

    Bevel3 = new QFrame(client);
    Bevel3->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel3->setGeometry(248, 0, 161, 361);

    Label1 = MakeLabel(client, QStringLiteral("メッシュ  密度"), 8, 8, 71, 12);
    Label2 = MakeLabel(client, QStringLiteral("山のかたち"), 8, 272, 57, 12);

    ModeA = new QRadioButton(QStringLiteral("四角形ポリゴンで出力"), client);
    ModeA->setGeometry(256, 8, 145, 17);
    ModeA->setChecked(true);
    ModeA->setToolTip(
        QStringLiteral("すべて四角形で出力します  四つの頂点が平面上に乗っている保証はありません"));
    ModeB = new QRadioButton(QStringLiteral("三角形ポリゴンで出力"), client);
    ModeB->setGeometry(256, 24, 145, 17);
    ModeB->setToolTip(QStringLiteral("すべてを三角形で出力します  ポリゴン数はかなり増えます"));

    UV = new QCheckBox(QStringLiteral("UV 座標付加"), client);
    UV->setGeometry(256, 48, 145, 17);
    UV->setChecked(true);
    UV->setToolTip(QStringLiteral("UV座標をつけて出力します 最大値255の実数値です"));
    Shade = new QCheckBox(QStringLiteral("法線ベクトル付加"), client);
    Shade->setGeometry(256, 64, 137, 17);
    Shade->setChecked(false);
    Shade->setEnabled(false);
    Shade->setToolTip(
        QStringLiteral("法線ベクトルをつけて出力する…はずですがまだ実装されていません"));

    Label4 = MakeLabel(client, QStringLiteral("オブジェクト名"), 256, 232, 72, 12);
    ObjName = MakeEdit(client, QStringLiteral("ObjName"), 256, 248, 145, 24,
                       QStringLiteral("出力形状につけるオブジェクト名です"));
    Label5 = MakeLabel(client, QStringLiteral("アトリビュート名"), 256, 280, 80, 12);
    AtrName = MakeEdit(
        client, QStringLiteral("AtrName"), 256, 296, 145, 24,
        QStringLiteral(
            "出力するポリゴンのアトリビュート名です アトリビュートは別個用意してください"));
    Label3 = MakeLabel(client, QStringLiteral("大きさ"), 256, 168, 31, 12);
    Size = MakeEdit(client, QStringLiteral("2000"), 312, 160, 65, 24,
                    QStringLiteral("出力形状の大きさです"));
    Label6 = MakeLabel(client, QStringLiteral("高さ"), 256, 200, 21, 12);
    Label7 = MakeLabel(client, QStringLiteral("四方"), 376, 168, 24, 12);
    MaxHeight = MakeEdit(client, QStringLiteral("500"), 312, 192, 65, 24,
                         QStringLiteral("出力形状の高さです"));

    PolygoneDepth = new DepthField(m_dialogs, kMinDepth, kMaxDepth, 2, client);
    PolygoneDepth->setGeometry(312, 96, 65, 26);
    ApplyEditStyle(PolygoneDepth);
    PolygoneDepth->setToolTip(
        QStringLiteral("再帰的に分割する回数を指定します 1増えるとポリゴン数は4倍になります"));

    Label8 = MakeLabel(client, QStringLiteral("再帰回数"), 256, 96, 48, 12);
    Label9 = MakeLabel(client, QStringLiteral("ポリゴン数："), 256, 128, 59, 12);
    PolygoneCount = MakeLabel(client, QStringLiteral("0"), 320, 128, 9, 16);
    PolygoneCount->setFont(PixelFont(16, true, true, true));
    QPalette countPalette = PolygoneCount->palette();
    countPalette.setColor(QPalette::WindowText, Qt::black);
    PolygoneCount->setPalette(countPalette);

    ShowGraph = new PaintBox(client);
    ShowGraph->setGeometry(8, 288, 233, 73);
    ShowGraph->setToolTip(QStringLiteral("山の形を横から見た図です"));

    Panel1 = new QFrame(client);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(192, 266, 48, 17);
    ShapeModeA = new QRadioButton(Panel1);
    ShapeModeA->setGeometry(0, 0, 17, 17);
    ShapeModeA->setChecked(true);
    ShapeModeA->setBackgroundRole(QPalette::Button);
    ShapeModeA->setAutoFillBackground(true);
    ShapeModeA->setToolTip(QStringLiteral("山の形(富士山のようなかたち）"));
    ShapeModeB = new QRadioButton(QStringLiteral("ShapeModeB"), Panel1);
    ShapeModeB->setGeometry(16, 0, 17, 17);
    ShapeModeB->setToolTip(QStringLiteral("山の形（ドーム）"));
    ShapeModeC = new QRadioButton(QStringLiteral("ShapeModeC"), Panel1);
    ShapeModeC->setGeometry(32, 0, 17, 17);
    ShapeModeC->setToolTip(QStringLiteral("山の形（丘）"));

    PaMaxBar = MakeTrackBar(client, talorin::kMinPaMax, talorin::kMaxPaMax, talorin::kMinPaMax, 1,
                            80, 4, 105, 17, QStringLiteral("全体的なメッシュの密度を変更できます"));

    // Frames and labels only decorate: they lie beneath every control, or the
    // right-hand frame would take the clicks and the hint of the output button
    // it surrounds (and 四方 the last column of the size field).
    for (QWidget* decoration :
         std::initializer_list<QWidget*>{Label1, Label2, Label3, Label4, Label5, Label6, Label7,
                                         Label8, Label9, PolygoneCount, Bevel3, Bevel2, Bevel1})
        decoration->lower();

    // One exclusive group per container. Explicit groups also keep Qt's Tab
    // handling apart: without them it treats every auto-exclusive button below
    // the window's client area as one group and lets Tab skip the shape buttons.
    for (const auto& buttons : {std::pair{ModeA, ModeB}, std::pair{ShapeModeA, ShapeModeB}}) {
        auto* group = new QButtonGroup(buttons.first->parentWidget());
        group->addButton(buttons.first);
        group->addButton(buttons.second);
        if (buttons.first == ShapeModeA)
            group->addButton(ShapeModeC);
    }

    // Object names as the members are called, for tests and accessibility tools.
    const std::pair<QObject*, const char*> names[] = {{MainMenu1, "MainMenu1"},
                                                      {K1, "K1"},
                                                      {BmpFileOpen, "BmpFileOpen"},
                                                      {SUFOut, "SUFOut"},
                                                      {N1, "N1"},
                                                      {Exit1, "Exit1"},
                                                      {KH1, "KH1"},
                                                      {K2, "K2"},
                                                      {Bevel1, "Bevel1"},
                                                      {BmpShow, "BmpShow"},
                                                      {Bevel2, "Bevel2"},
                                                      {InitPaMax, "InitPaMax"},
                                                      {SUFOutButton, "SUFOutButton"},
                                                      {CovertLevel, "CovertLevel"},
                                                      {Bevel3, "Bevel3"},
                                                      {Label1, "Label1"},
                                                      {Label2, "Label2"},
                                                      {ModeA, "ModeA"},
                                                      {ModeB, "ModeB"},
                                                      {UV, "UV"},
                                                      {Shade, "Shade"},
                                                      {Label4, "Label4"},
                                                      {ObjName, "ObjName"},
                                                      {Label5, "Label5"},
                                                      {AtrName, "AtrName"},
                                                      {Label3, "Label3"},
                                                      {Size, "Size"},
                                                      {Label6, "Label6"},
                                                      {Label7, "Label7"},
                                                      {MaxHeight, "MaxHeight"},
                                                      {PolygoneDepth, "PolygoneDepth"},
                                                      {Label8, "Label8"},
                                                      {Label9, "Label9"},
                                                      {PolygoneCount, "PolygoneCount"},
                                                      {ShowGraph, "ShowGraph"},
                                                      {Panel1, "Panel1"},
                                                      {ShapeModeA, "ShapeModeA"},
                                                      {ShapeModeB, "ShapeModeB"},
                                                      {ShapeModeC, "ShapeModeC"},
                                                      {PaMaxBar, "PaMaxBar"}};
    for (const auto& [object, name] : names)
        object->setObjectName(QString::fromLatin1(name));
}

void TTalorin_main::arrangeTabOrder() {
    const QWidget* order[] = {SUFOutButton, InitPaMax,  CovertLevel, ModeA,
                              ModeB,        UV,         Shade,       ObjName,
                              AtrName,      Size,       MaxHeight,   PolygoneDepth,
                              ShapeModeA,   ShapeModeB, ShapeModeC,  PaMaxBar};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void TTalorin_main::focusFirstControl() {
    for (QWidget* w : {static_cast<QWidget*>(SUFOutButton), static_cast<QWidget*>(InitPaMax),
                       static_cast<QWidget*>(CovertLevel)}) {
        if (w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void TTalorin_main::handle(void (TTalorin_main::*handler)()) {
    RunHandler(m_dialogs, this, [this, handler] { (this->*handler)(); });
}

void TTalorin_main::connectHandlers() {
    connect(K2, &QAction::triggered, this, [this] { handle(&TTalorin_main::K2Click); });
    connect(Exit1, &QAction::triggered, this, [this] { handle(&TTalorin_main::Exit1Click); });
    connect(BmpFileOpen, &QAction::triggered, this,
            [this] { handle(&TTalorin_main::BmpFileOpenClick); });
    connect(SUFOut, &QAction::triggered, this, [this] { handle(&TTalorin_main::SUFOutClick); });

    connect(PolygoneDepth, &DepthField::textChanged, this,
            [this] { handle(&TTalorin_main::PolygoneDepthChange); });
    // A radio button's click handler runs when it becomes the checked one.
    const auto onChecked = [this](QRadioButton* button, void (TTalorin_main::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked)
                handle(handler);
        });
    };
    onChecked(ModeA, &TTalorin_main::ModeAClick);
    onChecked(ModeB, &TTalorin_main::ModeBClick);
    onChecked(ShapeModeA, &TTalorin_main::ShapeModeAClick);
    onChecked(ShapeModeB, &TTalorin_main::ShapeModeBClick);
    onChecked(ShapeModeC, &TTalorin_main::ShapeModeCClick);

    connect(CovertLevel, &QSlider::valueChanged, this,
            [this] { handle(&TTalorin_main::CovertLevelChange); });
    connect(PaMaxBar, &QSlider::valueChanged, this,
            [this] { handle(&TTalorin_main::PaMaxBarChange); });
    connect(InitPaMax, &QPushButton::clicked, this,
            [this] { handle(&TTalorin_main::InitPaMaxClick); });
    connect(SUFOutButton, &QPushButton::clicked, this,
            [this] { handle(&TTalorin_main::SUFOutButtonClick); });

    connect(BmpShow, &PaintBox::paintRequested, this,
            [this] { handle(&TTalorin_main::BmpShowPaint); });
    connect(ShowGraph, &PaintBox::paintRequested, this,
            [this] { handle(&TTalorin_main::ShowGraphPaint); });
    connect(BmpShow, &PaintBox::mousePressed, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                RunHandler(m_dialogs, this, [&] { BmpShowMouseDown(button, shift, x, y); });
            });
}

// --- Window events -------------------------------------------------------------

void TTalorin_main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown || event->spontaneous())
        return;
    m_shown = true;
    focusFirstControl();
    // Once the window is up: FormShow may open a dialog or close the window.
    QMetaObject::invokeMethod(
        this, [this] { handle(&TTalorin_main::FormShow); }, Qt::QueuedConnection);
}

void TTalorin_main::closeEvent(QCloseEvent* event) {
    // A generation keeps the window's state busy until it returns.
    if (m_generating) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TTalorin_main::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused push button, otherwise the output button: the
    // window's default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = focused ? focused : SUFOutButton;
        if (target->isEnabled()) {
            event->accept();
            target->click();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

// --- Menu ----------------------------------------------------------------------

void TTalorin_main::K2Click() {
    m_dialogs.message(this, kAboutText);
}

void TTalorin_main::Exit1Click() {
    CurrentShape.reset();
    close();
}

// --- Opening an image ----------------------------------------------------------

void TTalorin_main::FormShow() {
    UpdatePolygonCount();
    const QString fileName = CommandLineImageName(m_arguments);
    // A file that cannot be read is reported here; the window then closes like
    // a window that got no image at all.
    RunHandler(m_dialogs, this, [&] {
        if (!fileName.isEmpty() && QFileInfo(fileName).isFile()) {
            loadImage(fileName);
            BmpOpen.proposedName = fileName;
            BmpOpen.initialFolder = FromUtf8(talorin::FolderPart(fileName.toStdString()));
        } else {
            OpenContourImage();
        }
    });
    if (!ImageLoaded)
        close();
}

void TTalorin_main::BmpFileOpenClick() {
    OpenContourImage();
}

void TTalorin_main::OpenContourImage() {
    const QString fileName = m_dialogs.openFile(this, BmpOpen);
    if (fileName.isEmpty())
        return;
    loadImage(fileName);
    // The dialog comes back to the file chosen in it.
    BmpOpen.proposedName = fileName;
}

void TTalorin_main::loadImage(const QString& fileName) {
    // Everything that can fail comes first, so that a failure leaves the
    // previous image, lattice, names and states as they were.
    talorin::Bitmap image = talorin::LoadBmpFile(LocalPath(fileName));
    QImage preview;
    double scaleX = 0;
    double scaleY = 0;
    MakePreviewImage(image, BmpShow->width(), BmpShow->height(), preview, scaleX, scaleY);
    const talorin::MeshLattice mesh = talorin::InitMeshLattice(image, PaMax);

    ContourImage = std::move(image);
    PreviewImage = std::move(preview);
    PreviewScaleX = scaleX;
    PreviewScaleY = scaleY;
    Mesh = mesh;

    const std::string name = fileName.toStdString();
    const QString baseName = FromUtf8(talorin::BaseFileName(name));
    SufSave.proposedName = baseName + QStringLiteral(".suf");
    SufSave.initialFolder = FromUtf8(talorin::FolderPart(name));
    ObjName->setText(baseName);
    AtrName->setText(kDefaultAttributeName);
    SUFOutButton->setEnabled(true);
    SUFOut->setEnabled(true);
    InitPaMax->setEnabled(true);
    drawMeshOverlay();
    ImageLoaded = true;
}

// --- Parameter displays --------------------------------------------------------

void TTalorin_main::UpdatePolygonCount() {
    const std::int32_t count =
        talorin::EstimatePolygonCount(PolygoneDepth->value(), ModeB->isChecked() ? 0 : 1, PaMax);
    PolygoneCount->setText(QString::number(count));
    PolygoneCount->adjustSize();
}

void TTalorin_main::PolygoneDepthChange() {
    UpdatePolygonCount();
}
void TTalorin_main::ModeAClick() {
    UpdatePolygonCount();
}
void TTalorin_main::ModeBClick() {
    UpdatePolygonCount();
}
void TTalorin_main::CovertLevelChange() {
    drawShapeGraph();
}
void TTalorin_main::ShapeModeAClick() {
    drawShapeGraph();
}
void TTalorin_main::ShapeModeBClick() {
    drawShapeGraph();
}
void TTalorin_main::ShapeModeCClick() {
    drawShapeGraph();
}

std::uint8_t TTalorin_main::shapeMode() const {
    std::uint8_t mode = 0;
    if (ShapeModeA->isChecked())
        mode = 0;
    if (ShapeModeB->isChecked())
        mode = 1;
    if (ShapeModeC->isChecked())
        mode = 2;
    return mode;
}

// --- Previews and mesh editing ---------------------------------------------------

void TTalorin_main::drawMeshOverlay() {
    DrawMeshOverlay(*BmpShow, PreviewImage, Mesh, PaMax, PreviewScaleX, PreviewScaleY);
}

void TTalorin_main::drawShapeGraph() {
    // A change before the graph's first paint builds the background itself.
    if (!GraphBackgroundReady) {
        MakeGraphBackground(GraphBackground, ShowGraph->width(), ShowGraph->height());
        GraphBackgroundReady = true;
    }
    DrawShapeGraph(*ShowGraph, GraphBackground, shapeMode(), CovertLevel->value() / 10.0);
}

void TTalorin_main::BmpShowPaint() {
    // Before the first image there is nothing to show.
    if (ImageLoaded)
        drawMeshOverlay();
}

void TTalorin_main::ShowGraphPaint() {
    drawShapeGraph();
}

void TTalorin_main::BmpShowMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
    ClickX = x;
    ClickY = y;
    ClickButton = button == Qt::LeftButton    ? talorin::kLeftButton
                  : button == Qt::RightButton ? talorin::kRightButton
                                              : talorin::kMiddleButton;
    if (!ImageLoaded)
        return;
    talorin::AdjustMeshDensity(Mesh, PaMax, ClickX, ClickY, ClickButton, PreviewScaleX,
                               PreviewScaleY, BmpShow->width(), BmpShow->height());
    drawMeshOverlay();
}

void TTalorin_main::PaMaxBarChange() {
    PaMax = PaMaxBar->value();
    if (ImageLoaded) {
        Mesh = talorin::InitMeshLattice(ContourImage, PaMax);
        drawMeshOverlay();
    }
    UpdatePolygonCount();
}

void TTalorin_main::InitPaMaxClick() {
    if (!ImageLoaded)
        return;
    Mesh = talorin::InitMeshLattice(ContourImage, PaMax);
    drawMeshOverlay();
}

// --- Output command --------------------------------------------------------------

void TTalorin_main::SUFOutButtonClick() {
    OutputSUF();
}
void TTalorin_main::SUFOutClick() {
    OutputSUF();
}

void TTalorin_main::OutputSUF() {
    talorin::Talorin_Args args;
    args.Size = vesk::TextToFloat(Size->text().toStdString());
    args.MaxHeight = vesk::TextToFloat(MaxHeight->text().toStdString());
    args.QuadMode = ModeA->isChecked();
    args.ShapeMode = shapeMode();
    args.CurveLevel = CovertLevel->value() / 10.0;
    args.Bitmap = &ContourImage;
    // A depth still being typed may lie outside the field's range.
    args.Depth = std::clamp(PolygoneDepth->value(), kMinDepth, kMaxDepth);
    args.ObjName = vesk::Cp932FromUtf8(ObjName->text().toStdString());
    args.AtrName = vesk::Cp932FromUtf8(AtrName->text().toStdString());
    args.Lattice = Mesh;
    args.PaMax = PaMax;
    args.WithUV = UV->isChecked();
    args.WithShade = Shade->isChecked();

    CurrentShape.reset();
    talorin::GenerationError.clear();
    try {
        GenerationProgress progress(this);
        m_generating = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{m_generating};
        CurrentShape = std::make_unique<talorin::TerrainMesh>(talorin::GenerateTerrainMesh(
            args, [&progress](std::uint64_t done, std::uint64_t total) {
                progress(done, total);
                return true;
            }));
    } catch (const talorin::Error& e) {
        // Running out of memory is told with a beep; every other error goes
        // on to the error box.
        if (e.kind() != talorin::ErrorKind::OutOfMemory)
            throw;
        talorin::GenerationError = e.what();
    } catch (const std::bad_alloc&) {
        talorin::GenerationError = talorin::kOutOfMemoryText;
    }
    if (!CurrentShape) {
        m_dialogs.beep();
        m_dialogs.message(this, FromUtf8(talorin::GenerationError));
        return;
    }

    const QString fileName = m_dialogs.saveFile(this, SufSave);
    if (fileName.isEmpty())
        return;
    // The next save proposes the file chosen now.
    SufSave.proposedName = fileName;
    SufSave.initialFolder = FromUtf8(talorin::FolderPart(fileName.toStdString()));
    if (!talorin::SaveSufMesh(LocalPath(fileName), *CurrentShape))
        m_dialogs.error(this, ErrorBoxText(FromUtf8(vesk::Utf8FromCp932(vesk::SufError))));
}
