#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "terrain/adaptive.h"
#include "image/imagefile.h"
#include "base/filenames.h"
#include "shape/sufmesh.h"
#include "terrain/terrain.h"
#include "export/format.h"
#include "export/meshsave.h"
#include "base/error.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "shape/suf.h"
#include "ui/backgroundwork.h"
#include "ui/depthfield.h"
#include "ui/liveterrain.h"
#include "ui/paintbox.h"
#include "ui/previews.h"
#include "ui/terrainview.h"

namespace {

// Metric-compatible with the proportional Gothic face the layout was drawn for.
const QString kFontFamily = QStringLiteral("IPAPGothic");
constexpr int kClientWidth = 412;
constexpr int kClientHeight = 368;
// The right edge the polygon count must stay left of: inside the frame of
// the right-hand column.
constexpr int kCountRightEdge = 406;
constexpr int kCountPixelSize = 16;
// Every kind the loader reads first, then one entry per kind, then all files;
// the loader tells the kind by the content, so any name may be chosen.
const QString kImageFilter = QStringLiteral("画像ファイル (*.bmp *.png *.pgm *.ppm);;"
                                            "BMPファイル (*.bmp);;"
                                            "PNGファイル (*.png);;"
                                            "PGMファイル (*.pgm);;"
                                            "PPMファイル (*.ppm);;"
                                            "すべてのファイル (*)");
const QString kSufFilter = QStringLiteral("Quiro形状ファイル (*.suf)");
// The other formats the terrain can be saved in, after the .suf filter.
const QStringList kExportFilters = {
    QStringLiteral("Wavefront OBJ (*.obj)"), QStringLiteral("STL バイナリ (*.stl)"),
    QStringLiteral("PLY バイナリ (*.ply)"), QStringLiteral("glTF バイナリ (*.glb)")};

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

// A track bar that a wheel turn changes only when it has the focus: a turn
// meant for the window would otherwise rebuild the lattice unasked.
class TrackBar final : public QSlider {
  public:
    TrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) { setFocusPolicy(Qt::StrongFocus); }

  protected:
    void wheelEvent(QWheelEvent* event) override {
        if (hasFocus())
            QSlider::wheelEvent(event);
        else
            event->ignore();
    }
};

QSlider* MakeTrackBar(QWidget* parent, int minimum, int maximum, int position, int tickInterval,
                      int x, int y, int w, int h, const QString& hint) {
    auto* bar = new TrackBar(parent);
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

// The file to write and its format: a known extension of the name decides,
// else the selected filter, whose extension a name without one gets; .suf
// when neither tells.
std::pair<QString, talorin::ExportFormat> SaveTarget(const QString& fileName,
                                                     const QString& filter) {
    if (const auto format = talorin::FormatFromFileName(fileName.toStdString()))
        return {fileName, *format};
    const auto format = talorin::FormatFromName(FilterSuffix(filter).toStdString());
    if (!format)
        return {fileName, talorin::ExportFormat::Suf};
    const bool noExtension = !QFileInfo(fileName).fileName().contains(u'.');
    return {noExtension ? fileName + QString::fromStdString(talorin::FormatExtension(*format))
                        : fileName,
            *format};
}

std::string LocalPath(const QString& fileName) {
    return QFile::encodeName(fileName).toStdString();
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

// Sets a line edit's text without running its handlers; no change, no cursor move.
void SyncText(QLineEdit* edit, const std::string& utf8) {
    const QString text = FromUtf8(utf8);
    if (edit->text() == text)
        return;
    const QSignalBlocker block(edit);
    edit->setText(text);
}

void SyncChecked(QAbstractButton* button, bool checked) {
    if (button->isChecked() == checked)
        return;
    const QSignalBlocker block(button);
    button->setChecked(checked);
}

const QString kGeneratingText = QStringLiteral("地形形状を生成しています…");
const QString kSavingText = QStringLiteral("ファイルに書き込んでいます…");
const QString kFreeingText = QStringLiteral("前の形状を解放しています…");

} // namespace

TTalorin_main::TTalorin_main(Dialogs& dialogs, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_dialogs(dialogs), m_arguments(arguments) {
    setWindowTitle(QStringLiteral("Talorin"));
    m_live = std::make_unique<LiveTerrain>(m_document);

    BmpOpen.filter = kImageFilter;
    BmpOpen.defaultSuffix = QStringLiteral("bmp");
    BmpOpen.fileMustExist = true;
    BmpOpen.folderMustExist = true;
    SufSave.filter = kSufFilter;
    SufSave.moreFilters = kExportFilters;
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

TTalorin_main::~TTalorin_main() {
    cancelAdaptiveCount();
    for (auto& [thread, job] : m_countThreads)
        thread.join();
    // A run cancelled just before the window closed may still be unwinding.
    JoinAbandonedWork();
}

void TTalorin_main::View3DClick() {
    if (!m_viewWindow) {
        m_viewWindow = new TerrainViewWindow(this);
        m_live->attach(m_viewWindow->view());
    }
    m_viewWindow->show();
    m_viewWindow->raise();
    m_viewWindow->activateWindow();
    // The shape just output, while nothing has changed since; else the preview.
    if (CurrentShape && m_document.version() == m_shapeVersion)
        m_live->showShape(CurrentShape);
    else
        m_live->refresh();
}

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
    OutputOptionsMenu = K1->addAction(QStringLiteral("出力オプション(&O)..."));
    OutputOptionsMenu->setObjectName(QStringLiteral("OutputOptionsMenu"));
    N1 = K1->addSeparator();
    Exit1 = K1->addAction(QStringLiteral("終了(&X)"));
    EditMenu = MainMenu1->addMenu(QStringLiteral("編集(&E)"));
    UndoAction = EditMenu->addAction(QStringLiteral("元に戻す(&U)"));
    UndoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z)});
    UndoAction->setEnabled(false);
    RedoAction = EditMenu->addAction(QStringLiteral("やり直し(&R)"));
    RedoAction->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    RedoAction->setEnabled(false);
    ViewMenu = MainMenu1->addMenu(QStringLiteral("表示(&V)"));
    View3D = ViewMenu->addAction(QStringLiteral("3Dビュー(&3)"));
    View3D->setShortcut(QKeySequence(Qt::Key_F3));
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

    CovertLevel =
        MakeTrackBar(client, talorin::kMinLevel, talorin::kMaxLevel, talorin::kDefaultLevel, 10, 72,
                     268, 121, 17, QStringLiteral("山の形の極端さ加減を調整します"));

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
    ObjName = MakeEdit(client, FromUtf8(talorin::kDefaultObjectName), 256, 248, 145, 24,
                       QStringLiteral("出力形状につけるオブジェクト名です"));
    Label5 = MakeLabel(client, QStringLiteral("アトリビュート名"), 256, 280, 80, 12);
    AtrName = MakeEdit(
        client, FromUtf8(talorin::kDefaultAttributeName), 256, 296, 145, 24,
        QStringLiteral(
            "出力するポリゴンのアトリビュート名です アトリビュートは別個用意してください"));
    Label3 = MakeLabel(client, QStringLiteral("大きさ"), 256, 168, 31, 12);
    Size = MakeEdit(client, FromUtf8(talorin::kDefaultSizeText), 312, 160, 65, 24,
                    QStringLiteral("出力形状の大きさです"));
    Label6 = MakeLabel(client, QStringLiteral("高さ"), 256, 200, 21, 12);
    Label7 = MakeLabel(client, QStringLiteral("四方"), 376, 168, 24, 12);
    MaxHeight = MakeEdit(client, FromUtf8(talorin::kDefaultHeightText), 312, 192, 65, 24,
                         QStringLiteral("出力形状の高さです"));

    PolygoneDepth = new DepthField(m_dialogs, talorin::kDepthFieldMinimum, talorin::kMaxDepth,
                                   talorin::kDefaultDepth, client);
    PolygoneDepth->setGeometry(312, 96, 65, 26);
    ApplyEditStyle(PolygoneDepth);
    PolygoneDepth->setToolTip(
        QStringLiteral("再帰的に分割する回数を指定します 1増えるとポリゴン数は4倍になります"));

    Label8 = MakeLabel(client, QStringLiteral("再帰回数"), 256, 96, 48, 12);
    Label9 = MakeLabel(client, QStringLiteral("ポリゴン数："), 256, 128, 59, 12);
    PolygoneCount = MakeLabel(client, QStringLiteral("0"), 320, 128, 9, 16);
    m_countFont = PixelFont(kCountPixelSize, true, true, true);
    PolygoneCount->setFont(m_countFont);
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

    PaMaxBar =
        MakeTrackBar(client, talorin::kMinPaMax, talorin::kMaxPaMax, talorin::kDefaultPaMax, 1, 80,
                     4, 105, 17, QStringLiteral("全体的なメッシュの密度を変更できます"));

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
                                                      {EditMenu, "EditMenu"},
                                                      {UndoAction, "UndoAction"},
                                                      {RedoAction, "RedoAction"},
                                                      {ViewMenu, "ViewMenu"},
                                                      {View3D, "View3D"},
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
    connect(OutputOptionsMenu, &QAction::triggered, this,
            [this] { handle(&TTalorin_main::OutputOptionsMenuClick); });
    connect(UndoAction, &QAction::triggered, this, [this] { handle(&TTalorin_main::UndoClick); });
    connect(RedoAction, &QAction::triggered, this, [this] { handle(&TTalorin_main::RedoClick); });
    connect(View3D, &QAction::triggered, this, [this] { handle(&TTalorin_main::View3DClick); });

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

    // The fields without a handler of their own go straight into the document.
    connect(UV, &QCheckBox::toggled, this, [this](bool on) { m_document.setWithUV(on); });
    connect(Shade, &QCheckBox::toggled, this, [this](bool on) { m_document.setWithShade(on); });
    const auto onText = [this](QLineEdit* edit,
                               void (talorin::TerrainDocument::*setter)(const std::string&)) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, setter](const QString& text) { (m_document.*setter)(ToUtf8(text)); });
    };
    onText(Size, &talorin::TerrainDocument::setSizeText);
    onText(MaxHeight, &talorin::TerrainDocument::setHeightText);
    onText(ObjName, &talorin::TerrainDocument::setObjectName);
    onText(AtrName, &talorin::TerrainDocument::setAttributeName);

    connect(BmpShow, &PaintBox::paintRequested, this,
            [this] { handle(&TTalorin_main::BmpShowPaint); });
    connect(ShowGraph, &PaintBox::paintRequested, this,
            [this] { handle(&TTalorin_main::ShowGraphPaint); });
    connect(BmpShow, &PaintBox::mousePressed, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                RunHandler(m_dialogs, this, [&] { BmpShowMouseDown(button, shift, x, y); });
            });

    m_document.addListener([this](unsigned changes) {
        RunHandler(m_dialogs, this, [&] { documentChanged(changes); });
    });
}

// The controls follow the document; the handlers of the controls only write
// into it. Signals are blocked while a control is set here, so nothing runs twice.
void TTalorin_main::documentChanged(unsigned changes) {
    using namespace talorin;
    if (changes & kHistoryChanged) {
        UndoAction->setEnabled(m_document.canUndo());
        RedoAction->setEnabled(m_document.canRedo());
    }
    if (changes & kDensityChanged && PaMaxBar->value() != m_document.density()) {
        // Moved back by undo: the bar follows without rebuilding the lattice.
        const QSignalBlocker block(PaMaxBar);
        PaMaxBar->setValue(m_document.density());
    }
    if (changes & kSettingsChanged) {
        if (PolygoneDepth->value() != m_document.depth()) {
            const QSignalBlocker block(PolygoneDepth);
            PolygoneDepth->setText(QString::number(m_document.depth()));
        }
        SyncChecked(m_document.quadMode() ? ModeA : ModeB, true);
        SyncChecked(m_document.quadMode() ? ModeB : ModeA, false);
        QRadioButton* const shapes[] = {ShapeModeA, ShapeModeB, ShapeModeC};
        for (int mode = 0; mode < 3; ++mode)
            SyncChecked(shapes[mode], mode == m_document.shapeMode());
        if (CovertLevel->value() != m_document.level()) {
            const QSignalBlocker block(CovertLevel);
            CovertLevel->setValue(m_document.level());
        }
        SyncChecked(UV, m_document.withUV());
        SyncChecked(Shade, m_document.withShade());
        SyncText(Size, m_document.sizeText());
        SyncText(MaxHeight, m_document.heightText());
        SyncText(ObjName, m_document.objectName());
        SyncText(AtrName, m_document.attributeName());
    }
    if (changes & (kLatticeChanged | kImageChanged) && m_document.hasImage())
        drawMeshOverlay();
    if (changes & kSettingsChanged)
        drawShapeGraph();
    if (changes & (kSettingsChanged | kDensityChanged))
        UpdatePolygonCount();
    else if (m_outputOptions.adaptive && changes & (kLatticeChanged | kImageChanged))
        UpdatePolygonCount(); // the adaptive count follows the terrain
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
    // While work runs the window stays: a generation is cancelled, a save
    // finishes, and then the window closes (OutputSUF does it).
    if (m_run) {
        m_closeRequested = true;
        m_run->cancel();
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
    releaseShape();
    close();
}

void TTalorin_main::UndoClick() {
    m_document.undo();
}

void TTalorin_main::RedoClick() {
    m_document.redo();
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
    if (!m_document.hasImage()) {
        close();
        return;
    }
    // The output button is enabled only now; it takes the keyboard, so that
    // the arrow keys do not bend the profile unasked.
    focusFirstControl();
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
    talorin::Bitmap image = talorin::LoadImageFile(LocalPath(fileName));
    QImage preview;
    double scaleX = 0;
    double scaleY = 0;
    MakePreviewImage(image, BmpShow->width(), BmpShow->height(), preview, scaleX, scaleY);

    const std::string name = fileName.toStdString();
    PreviewImage = std::move(preview);
    // Sets the lattice, the object and attribute names and forgets the history.
    m_document.setImage(std::move(image), talorin::BaseFileName(name));
    m_imageFile = fileName;

    SufSave.proposedName = FromUtf8(talorin::BaseFileName(name)) + QStringLiteral(".suf");
    SufSave.initialFolder = FromUtf8(talorin::FolderPart(name));
    SUFOutButton->setEnabled(true);
    SUFOut->setEnabled(true);
    InitPaMax->setEnabled(true);
    drawMeshOverlay();
}

// --- Parameter displays --------------------------------------------------------

void TTalorin_main::UpdatePolygonCount() {
    const std::tuple<int, bool, int> inputs{m_document.depth(), m_document.quadMode(),
                                            m_document.density()};
    std::int32_t count = 0;
    try {
        // A negative depth is no depth at all: the field turns it into its
        // minimum, and the count shows the depth that will be used.
        if (m_document.depth() < talorin::kMinDepth)
            count = talorin::EstimatePolygonCount(
                talorin::kDepthFieldMinimum, m_document.quadMode() ? 1 : 0, m_document.density());
        else
            count = m_document.polygonCount();
    } catch (const talorin::FloatFault&) {
        // Told once per change of the inputs, not again for every keystroke
        // or click that leaves them as they are.
        if (m_reportedOverflow == inputs)
            return;
        m_reportedOverflow = inputs;
        throw;
    }
    m_reportedOverflow.reset();
    if (m_outputOptions.adaptive && m_document.hasImage()) {
        startAdaptiveCount();
        return;
    }
    cancelAdaptiveCount();
    showCount(QString::number(count));
}

struct TTalorin_main::CountJob {
    talorin::Talorin_Args args;
    std::shared_ptr<const talorin::Bitmap> image; // what args.Bitmap points to
    double maxError = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false}; // its thread has nothing left to do
};

void TTalorin_main::cancelAdaptiveCount() {
    if (m_countJob)
        m_countJob->cancelled = true;
    m_countJob.reset();
}

void TTalorin_main::startAdaptiveCount() {
    cancelAdaptiveCount();
    // Settings that cannot be converted yet (a size being typed) give no count.
    talorin::Talorin_Args args;
    try {
        args = m_document.makeArgs();
    } catch (const talorin::Error&) {
        showCount(QStringLiteral("-"));
        return;
    }
    if (args.Depth < talorin::kDepthFieldMinimum)
        args.Depth = talorin::kDepthFieldMinimum;
    auto job = std::make_shared<CountJob>();
    job->args = args;
    job->image = m_document.sharedImage();
    job->maxError = m_outputOptions.maxError;
    m_countJob = job;
    showCount(QStringLiteral("…"));

    // Threads of earlier counts that have ended are joined now.
    std::erase_if(m_countThreads, [](auto& entry) {
        if (!entry.second->finished)
            return false;
        entry.first.join();
        return true;
    });
    QPointer<TTalorin_main> window(this);
    std::thread thread([job, window] {
        struct Finish {
            CountJob& job;
            ~Finish() { job.finished = true; }
        } finish{*job};
        QString text;
        try {
            const std::uint64_t count = talorin::AdaptivePolygonCount(
                job->args, job->maxError,
                [&job](std::uint64_t, std::uint64_t) { return !job->cancelled.load(); });
            text = QString::number(count);
        } catch (const talorin::Error& e) {
            if (e.kind() == talorin::ErrorKind::Cancelled)
                return;
            text = QStringLiteral("-"); // too large for memory, or a fault
        } catch (const std::bad_alloc&) {
            text = QStringLiteral("-");
        }
        // Shown on the window's thread, and only while this is the latest request.
        QMetaObject::invokeMethod(
            qApp,
            [job, window, text] {
                if (!window || window->m_countJob != job)
                    return;
                window->m_countJob.reset();
                window->showCount(text);
            },
            Qt::QueuedConnection);
    });
    m_countThreads.emplace_back(std::move(thread), job);
}

void TTalorin_main::showCount(const QString& text) {
    QFont font = m_countFont;
    // Ten digits in the layout's font would run past the frame: shrink the
    // font until the whole number fits, keeping the place.
    const int room = kCountRightEdge - PolygoneCount->x();
    while (font.pixelSize() > 6 && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPixelSize(font.pixelSize() - 1);
    PolygoneCount->setFont(font);
    PolygoneCount->setText(text);
    PolygoneCount->adjustSize();
}

void TTalorin_main::PolygoneDepthChange() {
    m_document.setDepth(PolygoneDepth->value());
}
void TTalorin_main::ModeAClick() {
    m_document.setQuadMode(true);
}
void TTalorin_main::ModeBClick() {
    m_document.setQuadMode(false);
}
void TTalorin_main::CovertLevelChange() {
    m_document.setLevel(CovertLevel->value());
}
void TTalorin_main::ShapeModeAClick() {
    m_document.setShapeMode(0);
}
void TTalorin_main::ShapeModeBClick() {
    m_document.setShapeMode(1);
}
void TTalorin_main::ShapeModeCClick() {
    m_document.setShapeMode(2);
}

std::uint8_t TTalorin_main::shapeMode() const {
    return m_document.shapeMode();
}

// --- Previews and mesh editing ---------------------------------------------------

void TTalorin_main::drawMeshOverlay() {
    DrawMeshOverlay(*BmpShow, PreviewImage, m_document.lattice(), m_document.density(),
                    m_document.previewScaleX(), m_document.previewScaleY());
}

void TTalorin_main::drawShapeGraph() {
    // A change before the graph's first paint builds the background itself.
    if (!GraphBackgroundReady) {
        MakeGraphBackground(GraphBackground, ShowGraph->width(), ShowGraph->height());
        GraphBackgroundReady = true;
    }
    DrawShapeGraph(*ShowGraph, GraphBackground, shapeMode(), m_document.curveLevel());
}

void TTalorin_main::BmpShowPaint() {
    // Before the first image there is nothing to show.
    if (m_document.hasImage())
        drawMeshOverlay();
}

void TTalorin_main::ShowGraphPaint() {
    drawShapeGraph();
}

void TTalorin_main::BmpShowMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
    const std::uint8_t code = button == Qt::LeftButton    ? talorin::kLeftButton
                              : button == Qt::RightButton ? talorin::kRightButton
                                                          : talorin::kMiddleButton;
    const std::uint64_t version = m_document.version();
    m_document.press({x, y, code});
    // Every press redraws, also one that moved nothing.
    if (m_document.hasImage() && m_document.version() == version)
        drawMeshOverlay();
}

void TTalorin_main::PaMaxBarChange() {
    m_document.setDensity(PaMaxBar->value());
}

void TTalorin_main::InitPaMaxClick() {
    const std::uint64_t version = m_document.version();
    m_document.reset();
    if (m_document.hasImage() && m_document.version() == version)
        drawMeshOverlay();
}

// --- Output command --------------------------------------------------------------

void TTalorin_main::SUFOutButtonClick() {
    OutputSUF();
}
void TTalorin_main::SUFOutClick() {
    OutputSUF();
}

void TTalorin_main::OutputOptionsMenuClick() {
    OutputOptions options = m_outputOptions;
    if (!m_dialogs.outputOptions(this, options) || options == m_outputOptions)
        return;
    m_outputOptions = options;
    UpdatePolygonCount();
    m_live->setMaxError(m_outputOptions.adaptive ? m_outputOptions.maxError : 0);
}

void TTalorin_main::OutputSUF() {
    // A depth still being typed out of range is clamped as leaving the field
    // would, so that the count shows the depth the run uses.
    PolygoneDepth->commit();
    const talorin::Talorin_Args args = m_document.makeArgs();
    const std::shared_ptr<const talorin::Bitmap> image = m_document.sharedImage();
    // A close asked for while this runs takes effect when it has ended.
    struct CloseWhenAsked {
        TTalorin_main& window;
        ~CloseWhenAsked() {
            if (window.m_closeRequested)
                window.close();
        }
    } closeWhenAsked{*this};

    // The previous shape stays until the new one is complete: a cancelled run
    // leaves it as it was. The run owns what it uses, since a cancelled run
    // may be left to unwind on its own.
    struct Generation {
        talorin::Talorin_Args args;
        std::shared_ptr<const talorin::Bitmap> image; // what args.Bitmap points to
        std::unique_ptr<talorin::TerrainMesh> mesh;
        std::optional<double> maxError; // adaptive depth
    };
    const auto run = std::make_shared<Generation>(Generation{
        args, image, nullptr,
        m_outputOptions.adaptive ? std::optional(m_outputOptions.maxError) : std::nullopt});
    try {
        runInBackground({kGeneratingText, true, false}, [run](WorkProgress& progress) {
            const auto report = [&progress](std::uint64_t done, std::uint64_t total) {
                return progress.report(done, total);
            };
            run->mesh = std::make_unique<talorin::TerrainMesh>(
                run->maxError ? talorin::GenerateAdaptiveMesh(run->args, *run->maxError, report)
                              : talorin::GenerateTerrainMesh(run->args, report));
        });
    } catch (const talorin::Error& e) {
        if (e.kind() == talorin::ErrorKind::Cancelled)
            return; // nothing changed, nothing to tell
        releaseShape();
        // Running out of memory is told with a beep; every other error goes
        // on to the error box.
        if (e.kind() != talorin::ErrorKind::OutOfMemory)
            throw;
        talorin::GenerationError = e.what();
        m_dialogs.beep();
        m_dialogs.message(this, FromUtf8(talorin::GenerationError));
        return;
    } catch (const std::bad_alloc&) {
        releaseShape();
        talorin::GenerationError = talorin::kOutOfMemoryText;
        m_dialogs.beep();
        m_dialogs.message(this, FromUtf8(talorin::GenerationError));
        return;
    }
    std::shared_ptr<talorin::TerrainMesh> previous =
        std::exchange(CurrentShape, std::shared_ptr<talorin::TerrainMesh>(std::move(run->mesh)));
    freeInBackground(std::move(previous));
    m_shapeVersion = m_document.version();
    m_live->showShape(CurrentShape);
    if (m_closeRequested)
        return;

    const auto [chosenName, chosenFilter] = m_dialogs.saveFileAs(this, SufSave);
    if (chosenName.isEmpty())
        return;
    const auto [fileName, format] = SaveTarget(chosenName, chosenFilter);
    // The next save proposes the file chosen now.
    SufSave.proposedName = fileName;
    SufSave.initialFolder = FromUtf8(talorin::FolderPart(fileName.toStdString()));
    const std::string path = LocalPath(fileName);
    const talorin::TerrainMesh& shape = *CurrentShape;
    const talorin::ExportTexture texture{LocalPath(m_imageFile), &m_document.image()};
    // A failed write is told here, before a close asked for meanwhile.
    try {
        runInBackground({kSavingText, false, true}, [&](WorkProgress& progress) {
            if (format != talorin::ExportFormat::Suf) {
                talorin::SaveMeshExport(format, path, shape, texture);
                return;
            }
            talorin::SaveSufMesh(
                path, shape, [&progress](std::uint64_t written) { progress.report(written, 0); });
        });
    } catch (const talorin::Error& e) {
        if (e.kind() != talorin::ErrorKind::Io)
            throw;
        m_dialogs.error(this, ErrorBoxText(FromUtf8(e.what())));
    }
}

void TTalorin_main::runInBackground(const WorkOptions& options,
                                    const std::function<void(WorkProgress&)>& work) {
    const auto progress = std::make_shared<WorkProgress>();
    m_run = progress.get();
    struct Clear {
        WorkProgress*& run;
        ~Clear() { run = nullptr; }
    } clear{m_run};
    RunInBackground(this, options, progress, work);
}

void TTalorin_main::freeInBackground(std::shared_ptr<talorin::TerrainMesh> shape) {
    if (!shape)
        return;
    // A big mesh takes a while to give back; the busy cursor covers it.
    runInBackground({kFreeingText, false, false}, [&shape](WorkProgress&) { shape.reset(); });
}

void TTalorin_main::releaseShape() {
    freeInBackground(std::move(CurrentShape));
}
