#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <algorithm>
#include <filesystem>
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
#include "export/output.h"
#include "terrain/solid.h"
#include "terrain/truescale.h"
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
QString ImageFilter() {
    return QCoreApplication::translate("TTalorin_main", "画像ファイル (*.bmp *.png *.pgm *.ppm *.tif *.tiff);;"
                                                        "BMPファイル (*.bmp);;"
                                                        "PNGファイル (*.png);;"
                                                        "PGMファイル (*.pgm);;"
                                                        "PPMファイル (*.ppm);;"
                                                        "TIFFファイル (*.tif *.tiff);;"
                                                        "すべてのファイル (*)");
}
QString SufFilter() { return QCoreApplication::translate("TTalorin_main", "Quiro形状ファイル (*.suf)"); }
QString ProjectFilter() {
    return QCoreApplication::translate("TTalorin_main", "Talorinプロジェクト (*.talorin)");
}
// Ctrl+O opens either; the content tells which it is.
QString ProjectOrImageFilter() {
    return QCoreApplication::translate("TTalorin_main",
                                       "プロジェクトと画像 (*.talorin *.bmp *.png *.pgm *.ppm *.tif *.tiff);;") +
           ProjectFilter() + QStringLiteral(";;") + ImageFilter();
}
// Where the recent files are remembered.
const QString kSettingsOrganization = QStringLiteral("talorin");
const QString kSettingsApplication = QStringLiteral("talorin");
const QString kRecentFilesKey = QStringLiteral("recentFiles");
// The other formats the terrain can be saved in, after the .suf filter.
QStringList ExportFilters() {
    return {QStringLiteral("Wavefront OBJ (*.obj)"),
            QCoreApplication::translate("TTalorin_main", "STL バイナリ (*.stl)"),
            QCoreApplication::translate("TTalorin_main", "PLY バイナリ (*.ply)"),
            QCoreApplication::translate("TTalorin_main", "glTF バイナリ (*.glb)")};
}

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

// A factory of TrackBar for the control table.
std::function<QSlider*(QWidget*)> TrackBarOf(int minimum, int maximum, int position,
                                             int tickInterval) {
    return [=](QWidget* parent) {
        auto* bar = new TrackBar(parent);
        bar->setRange(minimum, maximum);
        bar->setValue(position);
        bar->setSingleStep(1);
        bar->setPageStep(2);
        bar->setTickInterval(tickInterval);
        bar->setTickPosition(QSlider::TicksBelow);
        return bar;
    };
}

// One row of the control table: the member that holds the control and how
// to make it (its own type's constructor unless a factory is given).
class ControlSlot {
  public:
    template <class W>
    ControlSlot(W*& member) // NOLINT: a row names its member plainly
        : m_make([&member](QWidget* parent) { return member = new W(parent); }) {}
    template <class W, class F>
    ControlSlot(W*& member, F factory)
        : m_make([&member, factory](QWidget* parent) { return member = factory(parent); }) {}
    QWidget* make(QWidget* parent) const { return m_make(parent); }

  private:
    std::function<QWidget*(QWidget*)> m_make;
};

enum ControlFlag : unsigned {
    kDisabled = 1,
    kChecked = 2,
    kEditLook = 4, // black field, lime italic text
    kInPanel = 8,  // a child of Panel1, the shape buttons' panel
    kSunkenPanel = 16,
    kSunkenBox = 32,
    kRaisedPanel = 64,
};

struct ControlRow {
    ControlSlot slot;
    const char* name; // the object name, as the member is called
    QRect rect;
    QString caption;
    QString hint;
    unsigned flags = 0;
};

void SetCaption(QWidget* control, const QString& caption) {
    if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(caption);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(caption);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(caption);
}

// Makes, names, places, labels and sets up one control of the table.
void MakeControl(const ControlRow& row, QWidget* parent) {
    QWidget* control = row.slot.make(parent);
    control->setObjectName(QString::fromLatin1(row.name));
    if (!row.caption.isEmpty())
        SetCaption(control, row.caption);
    control->setGeometry(row.rect);
    if (row.flags & kEditLook)
        ApplyEditStyle(control);
    if (auto* frame = qobject_cast<QFrame*>(control)) {
        if (row.flags & kSunkenPanel)
            frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (row.flags & kSunkenBox)
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        if (row.flags & kRaisedPanel)
            frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    }
    if (row.flags & kChecked)
        static_cast<QAbstractButton*>(control)->setChecked(true);
    if (row.flags & kDisabled)
        control->setEnabled(false);
    if (!row.hint.isEmpty())
        control->setToolTip(row.hint);
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

// Read when a run starts, so that they are in the window's language.
QString GeneratingText() {
    return QCoreApplication::translate("TTalorin_main", "地形形状を生成しています…");
}
QString SavingText() {
    return QCoreApplication::translate("TTalorin_main", "ファイルに書き込んでいます…");
}
QString FreeingText() {
    return QCoreApplication::translate("TTalorin_main", "前の形状を解放しています…");
}

} // namespace

TTalorin_main::TTalorin_main(Dialogs& dialogs, const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_dialogs(dialogs), m_arguments(arguments) {
    setWindowTitle(QStringLiteral("Talorin"));
    m_live = std::make_unique<LiveTerrain>(m_document);

    BmpOpen.filter = ImageFilter();
    BmpOpen.defaultSuffix = QStringLiteral("bmp");
    BmpOpen.fileMustExist = true;
    BmpOpen.folderMustExist = true;
    SufSave.filter = SufFilter();
    SufSave.moreFilters = ExportFilters();
    SufSave.defaultSuffix = QStringLiteral("suf");
    SufSave.folderMustExist = true;
    SufSave.confirmOverwrite = true;
    ProjectOpenRequest.filter = ProjectOrImageFilter();
    ProjectOpenRequest.fileMustExist = true;
    ProjectOpenRequest.folderMustExist = true;
    ProjectSaveRequest.filter = ProjectFilter();
    ProjectSaveRequest.defaultSuffix = QStringLiteral("talorin");
    ProjectSaveRequest.folderMustExist = true;
    ProjectSaveRequest.confirmOverwrite = true;
    // A dropped image or project opens.
    setAcceptDrops(true);

    createMenu();
    createControls();
    arrangeTabOrder();
    connectHandlers();
    // The boxes keep what is drawn on them: the graph is drawn once now and
    // again on every change, the preview once there is an image.
    drawShapeGraph();

    // The client area is fixed; the menu bar sits above it.
    setFixedSize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
}

// The workers end with their owners: the preview worker with m_live, the
// window's own with m_work, each cancelling what still runs.
TTalorin_main::~TTalorin_main() = default;

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
    // An item without a caption is a separator.
    struct Item {
        QAction*& member;
        const char* name;
        QString caption;
        QList<QKeySequence> keys = {};
        bool enabled = true;
    };
    const auto addMenu = [this](QMenu*& menu, const char* name, const QString& caption,
                                std::initializer_list<Item> items) {
        menu = MainMenu1->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        for (const Item& item : items) {
            item.member =
                item.caption.isEmpty() ? menu->addSeparator() : menu->addAction(item.caption);
            item.member->setObjectName(QString::fromLatin1(item.name));
            if (!item.keys.isEmpty())
                item.member->setShortcuts(item.keys);
            item.member->setEnabled(item.enabled);
        }
    };
    // clang-format off
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    addMenu(K1, "K1", tr("ファイル(&F)"),
            {{BmpFileOpen, "BmpFileOpen", tr("BMPファイルを開く(&O)")},
             {ProjectOpen, "ProjectOpen", tr("プロジェクトを開く(&P)..."),
              {QKeySequence(Qt::CTRL | Qt::Key_O)}},
             {ProjectSave, "ProjectSave", tr("プロジェクトを保存(&S)"),
              {QKeySequence(Qt::CTRL | Qt::Key_S)}, false},
             {ProjectSaveAs, "ProjectSaveAs", tr("名前を付けてプロジェクトを保存(&A)..."),
              {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}, false},
             {N2, "N2", {}},
             {SUFOut, "SUFOut", tr("SUFファイルを出力する(&E)"), {}, false},
             {OutputOptionsMenu, "OutputOptionsMenu", tr("出力オプション(&O)...")},
             {N1, "N1", {}},
             {Exit1, "Exit1", tr("終了(&X)")}});
    addMenu(EditMenu, "EditMenu", tr("編集(&E)"),
            {{UndoAction, "UndoAction", tr("元に戻す(&U)"),
              {QKeySequence(Qt::CTRL | Qt::Key_Z)}, false},
             {RedoAction, "RedoAction", tr("やり直し(&R)"),
              {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
              false}});
    addMenu(ViewMenu, "ViewMenu", tr("表示(&V)"),
            {{View3D, "View3D", tr("3Dビュー(&3)"), {QKeySequence(Qt::Key_F3)}}});
    addMenu(KH1, "KH1", tr("ヘルプ(&H)"),
            {{K2, "K2", tr("ヴァージョン情報(&A)...")}});
    // clang-format on
    // The recent files, filled whenever the menu opens.
    RecentMenu = new QMenu(tr("最近使ったファイル(&R)"), K1);
    RecentMenu->setObjectName(QStringLiteral("RecentMenu"));
    K1->insertMenu(N2, RecentMenu);
    connect(RecentMenu, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
}

void TTalorin_main::createControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setFont(PixelFont(12));
    setCentralWidget(client);

    const auto depthField = [this](QWidget* parent) {
        return new DepthField(m_dialogs, talorin::kDepthFieldMinimum, talorin::kMaxDepth,
                              talorin::kDefaultDepth, parent);
    };
    // In creation order, which is also the order they are stacked in.
    // clang-format off
    const ControlRow rows[] = {
        {Bevel1, "Bevel1", {8, 24, 233, 233}, {}, {}, kSunkenPanel},
        {BmpShow, "BmpShow", {8, 24, 233, 233}, {},
         tr("読み込んだ等高線画像です。クリックするとメッシュの密度が変化します。")},
        {Bevel2, "Bevel2", {8, 288, 233, 73}, {}, {}, kSunkenPanel},
        {InitPaMax, "InitPaMax", {192, 4, 49, 17}, tr("初期化"),
         tr("メッシュの形を初期化します  わけがわかんなくなったら押しましょう。"),
         kDisabled},
        {SUFOutButton, "SUFOutButton", {256, 328, 145, 25}, tr("地形形状作成保存"),
         tr("形状を生成・出力します"), kDisabled},
        {{CovertLevel,
          TrackBarOf(talorin::kMinLevel, talorin::kMaxLevel, talorin::kDefaultLevel, 10)},
         "CovertLevel", {72, 268, 121, 17}, {}, tr("山の形の極端さ加減を調整します")},
        {Bevel3, "Bevel3", {248, 0, 161, 361}, {}, {}, kSunkenBox},
        {Label1, "Label1", {8, 8, 71, 12}, tr("メッシュ  密度"), {}},
        {Label2, "Label2", {8, 272, 57, 12}, tr("山のかたち"), {}},
        {ModeA, "ModeA", {256, 8, 145, 17}, tr("四角形ポリゴンで出力"),
         tr("すべて四角形で出力します  四つの頂点が平面上に乗っている保証はありません"),
         kChecked},
        {ModeB, "ModeB", {256, 24, 145, 17}, tr("三角形ポリゴンで出力"),
         tr("すべてを三角形で出力します  ポリゴン数はかなり増えます")},
        {UV, "UV", {256, 48, 145, 17}, tr("UV 座標付加"),
         tr("UV座標をつけて出力します 最大値255の実数値です"), kChecked},
        {Shade, "Shade", {256, 64, 137, 17}, tr("法線ベクトル付加"),
         tr("法線ベクトルをつけて出力する…はずですがまだ実装されていません"),
         kDisabled},
        {Label4, "Label4", {256, 232, 72, 12}, tr("オブジェクト名"), {}},
        {ObjName, "ObjName", {256, 248, 145, 24}, FromUtf8(talorin::kDefaultObjectName),
         tr("出力形状につけるオブジェクト名です"), kEditLook},
        {Label5, "Label5", {256, 280, 80, 12}, tr("アトリビュート名"), {}},
        {AtrName, "AtrName", {256, 296, 145, 24}, FromUtf8(talorin::kDefaultAttributeName),
         tr("出力するポリゴンのアトリビュート名です アトリビュートは別個用意してください"),
         kEditLook},
        {Label3, "Label3", {256, 168, 31, 12}, tr("大きさ"), {}},
        {Size, "Size", {312, 160, 65, 24}, FromUtf8(talorin::kDefaultSizeText),
         tr("出力形状の大きさです"), kEditLook},
        {Label6, "Label6", {256, 200, 21, 12}, tr("高さ"), {}},
        {Label7, "Label7", {376, 168, 24, 12}, tr("四方"), {}},
        {MaxHeight, "MaxHeight", {312, 192, 65, 24}, FromUtf8(talorin::kDefaultHeightText),
         tr("出力形状の高さです"), kEditLook},
        {{PolygoneDepth, depthField}, "PolygoneDepth", {312, 96, 65, 26}, {},
         tr("再帰的に分割する回数を指定します 1増えるとポリゴン数は4倍になります"),
         kEditLook},
        {Label8, "Label8", {256, 96, 48, 12}, tr("再帰回数"), {}},
        {Label9, "Label9", {256, 128, 59, 12}, tr("ポリゴン数："), {}},
        {PolygoneCount, "PolygoneCount", {320, 128, 9, 16}, QStringLiteral("0"), {}},
        {ShowGraph, "ShowGraph", {8, 288, 233, 73}, {},
         tr("山の形を横から見た図です")},
        {Panel1, "Panel1", {192, 266, 48, 17}, {}, {}, kRaisedPanel},
        {ShapeModeA, "ShapeModeA", {0, 0, 17, 17}, {},
         tr("山の形(富士山のようなかたち）"), kInPanel | kChecked},
        {ShapeModeB, "ShapeModeB", {16, 0, 17, 17}, QStringLiteral("ShapeModeB"),
         tr("山の形（ドーム）"), kInPanel},
        {ShapeModeC, "ShapeModeC", {32, 0, 17, 17}, QStringLiteral("ShapeModeC"),
         tr("山の形（丘）"), kInPanel},
        {{PaMaxBar, TrackBarOf(talorin::kMinPaMax, talorin::kMaxPaMax, talorin::kDefaultPaMax, 1)},
         "PaMaxBar", {80, 4, 105, 17}, {}, tr("全体的なメッシュの密度を変更できます")},
    };
    // clang-format on
    for (const ControlRow& row : rows)
        MakeControl(row, row.flags & kInPanel ? Panel1 : client);

    // Drawn as the default button; keyPressEvent gives it the Enter key.
    SUFOutButton->setDefault(true);
    m_countFont = PixelFont(kCountPixelSize, true, true, true);
    PolygoneCount->setFont(m_countFont);
    // Over the foot of the preview, where it hides least of the lattice; the
    // preview's clicks pass through it.
    ElevationRange = new QLabel(client);
    ElevationRange->setObjectName(QStringLiteral("ElevationRange"));
    ElevationRange->setGeometry(10, 243, 229, 13);
    ElevationRange->setAlignment(Qt::AlignCenter);
    ElevationRange->setAttribute(Qt::WA_TransparentForMouseEvents);
    ElevationRange->setAutoFillBackground(true);
    QPalette rangePalette = ElevationRange->palette();
    rangePalette.setColor(QPalette::Window, QColor(255, 255, 255, 200));
    ElevationRange->setPalette(rangePalette);
    ElevationRange->hide();
    QPalette countPalette = PolygoneCount->palette();
    countPalette.setColor(QPalette::WindowText, Qt::black);
    PolygoneCount->setPalette(countPalette);
    ShapeModeA->setBackgroundRole(QPalette::Button);
    ShapeModeA->setAutoFillBackground(true);

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
    connect(ProjectOpen, &QAction::triggered, this,
            [this] { handle(&TTalorin_main::ProjectOpenClick); });
    connect(ProjectSave, &QAction::triggered, this,
            [this] { handle(&TTalorin_main::ProjectSaveClick); });
    connect(ProjectSaveAs, &QAction::triggered, this,
            [this] { handle(&TTalorin_main::ProjectSaveAsClick); });
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

    connect(BmpShow, &PaintBox::mousePressed, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                RunHandler(m_dialogs, this, [&] { BmpShowMouseDown(button, shift, x, y); });
            });

    m_document.addListener([this](unsigned changes) {
        RunHandler(m_dialogs, this, [&] { documentChanged(changes); });
        updateTitle(); // the modified mark
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
    if (!maybeSave()) {
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
            openFile(fileName);
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
    if (maybeSave())
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
    installImage(fileName, talorin::LoadImageFile(LocalPath(fileName)), nullptr);
    // A new image is a new document, of no project yet.
    m_projectFile.clear();
    markSaved();
    addRecentFile(fileName);
}

void TTalorin_main::installImage(const QString& fileName, talorin::Bitmap image,
                                 const talorin::ProjectState* project) {
    // Everything that can fail comes first, so that a failure leaves the
    // previous image, lattice, names and states as they were.
    QImage preview;
    double scaleX = 0;
    double scaleY = 0;
    MakePreviewImage(image, BmpShow->width(), BmpShow->height(), preview, scaleX, scaleY);

    const std::string name = fileName.toStdString();
    PreviewImage = std::move(preview);
    // Sets the lattice, the object and attribute names and forgets the history.
    if (project)
        talorin::ApplyProject(m_document, *project, std::move(image), talorin::BaseFileName(name));
    else
        m_document.setImage(std::move(image), talorin::BaseFileName(name));
    m_imageFile = fileName;

    const talorin::Elevation* elevation = m_document.image().elevation();
    ElevationRange->setText(elevation ? FromUtf8(talorin::ElevationRangeText(*elevation))
                                      : QString());
    ElevationRange->setVisible(elevation != nullptr);
    // A new raster at true scale, unless a project brought its own size.
    if (!project && m_outputOptions.trueScale &&
        talorin::TrueScaleUnavailableReason(m_document.image()).empty())
        applyTrueScale();

    SufSave.proposedName = FromUtf8(talorin::BaseFileName(name)) + QStringLiteral(".suf");
    SufSave.initialFolder = FromUtf8(talorin::FolderPart(name));
    SUFOutButton->setEnabled(true);
    SUFOut->setEnabled(true);
    InitPaMax->setEnabled(true);
    ProjectSave->setEnabled(true);
    ProjectSaveAs->setEnabled(true);
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

void TTalorin_main::cancelAdaptiveCount() {
    m_live->cancelCount();
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
    showCount(QStringLiteral("…"));
    m_live->countAdaptive(args, m_outputOptions.maxError,
                          [this](std::optional<std::uint64_t> count) {
                              // "-": too large for memory, or a fault
                              showCount(count ? QString::number(*count) : QStringLiteral("-"));
                          });
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
    if (!GraphBackgroundReady) {
        MakeGraphBackground(GraphBackground, ShowGraph->width(), ShowGraph->height());
        GraphBackgroundReady = true;
    }
    DrawShapeGraph(*ShowGraph, GraphBackground, shapeMode(), m_document.curveLevel());
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
    // m_outputOptions keeps the window's own options; the rest are the
    // document's, shown and taken back here.
    OutputOptions options = m_outputOptions;
    options.solid = m_document.solid();
    options.solidBaseText = FromUtf8(m_document.solidBaseText());
    options.solidBase = m_document.solidBase();
    options.aspect = m_document.aspect();
    options.sampling = m_document.sampling();
    options.trueScaleUnavailable =
        m_document.hasImage() ? FromUtf8(talorin::TrueScaleUnavailableReason(m_document.image()))
                              : tr("画像が読み込まれていません");
    const OutputOptions before = options;
    if (!m_dialogs.outputOptions(this, options))
        return;
    m_outputOptions.trueScale = options.trueScale;
    m_outputOptions.exaggerationText = options.exaggerationText;
    m_outputOptions.exaggeration = options.exaggeration;
    // Confirmed again, true scale puts back fields the user has typed over.
    if (options.trueScale) {
        applyTrueScale();
        options.aspect = talorin::TerrainAspect::Image;
    }
    if (options == before)
        return;
    m_document.setSolid(options.solid);
    m_document.setSolidBase(ToUtf8(options.solidBaseText), options.solidBase);
    m_document.setAspect(options.aspect);
    m_document.setSampling(options.sampling);
    m_outputOptions.adaptive = options.adaptive;
    m_outputOptions.maxErrorText = options.maxErrorText;
    m_outputOptions.maxError = options.maxError;
    UpdatePolygonCount();
    m_live->setMaxError(m_outputOptions.adaptive ? m_outputOptions.maxError : 0);
    updateTitle();
}

void TTalorin_main::applyTrueScale() {
    const talorin::TrueScale scale =
        talorin::ComputeTrueScale(m_document.image(), m_outputOptions.exaggeration);
    m_document.setSizeText(talorin::MetresText(scale.size));
    m_document.setHeightText(talorin::MetresText(scale.height));
    m_document.setAspect(talorin::TerrainAspect::Image);
}

// The most the 3D view holds of a shape, which the output run counts as its own.
constexpr std::uint64_t kViewShare = std::uint64_t{1} << 30;

void TTalorin_main::tellGenerationFailure(const std::string& text) {
    GenerationError = text;
    m_dialogs.beep();
    m_dialogs.message(this, FromUtf8(GenerationError));
}

void TTalorin_main::OutputSUF() {
    // A depth still being typed out of range is clamped as leaving the field
    // would, so that the count shows the depth the run uses.
    PolygoneDepth->commit();
    const talorin::Talorin_Args args = m_document.makeArgs();
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
        talorin::OutputRequest request;
        std::unique_ptr<talorin::TerrainMesh> mesh;
    };
    const auto run = std::make_shared<Generation>(Generation{
        {args, m_outputOptions.adaptive ? std::optional(m_outputOptions.maxError) : std::nullopt,
         std::nullopt, std::nullopt, kViewShare},
        nullptr});
    try {
        runInBackground({GeneratingText(), true, false}, [run](WorkProgress& progress) {
            const auto report = [&progress](std::uint64_t done, std::uint64_t total) {
                return progress.report(done, total);
            };
            run->mesh = std::make_unique<talorin::TerrainMesh>(
                talorin::GenerateOutput(run->request, report));
        });
    } catch (const talorin::Error& e) {
        if (e.kind() == talorin::ErrorKind::Cancelled)
            return; // nothing changed, nothing to tell
        releaseShape();
        // Running out of memory is told with a beep; every other error goes
        // on to the error box.
        if (e.kind() != talorin::ErrorKind::OutOfMemory)
            throw;
        tellGenerationFailure(e.what());
        return;
    } catch (const std::bad_alloc&) {
        releaseShape();
        tellGenerationFailure(talorin::kOutOfMemoryText);
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
    const talorin::ExportTexture texture{LocalPath(m_imageFile), &m_document.image()};
    // The solid base goes on in the formats that can hold one (the view shows
    // it while the option is on, whatever the format).
    std::shared_ptr<const talorin::TerrainMesh> toSave = CurrentShape;
    if (m_document.solid() && format != talorin::ExportFormat::Suf) {
        auto solid = std::make_shared<talorin::TerrainMesh>();
        const double base = m_document.solidBase();
        const std::shared_ptr<const talorin::TerrainMesh> top = CurrentShape;
        runInBackground({GeneratingText(), false, false},
                        [&](WorkProgress&) { *solid = talorin::MakeSolid(*top, base); });
        toSave = std::move(solid);
    }
    const talorin::TerrainMesh& shape = *toSave;
    // A save that cannot fit beside the shape and its view is refused as a
    // generation would be, before the file is touched.
    try {
        talorin::CheckSaveMemory(format, shape, texture, kViewShare);
    } catch (const talorin::Error& e) {
        if (e.kind() != talorin::ErrorKind::OutOfMemory)
            throw;
        tellGenerationFailure(e.what());
        return;
    }
    // A failed write is told here, before a close asked for meanwhile.
    try {
        runInBackground({SavingText(), false, true}, [&](WorkProgress& progress) {
            talorin::SaveTerrain(format, path, shape, texture, [&progress](std::uint64_t written) {
                progress.report(written, 0);
            });
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
    RunInBackground(m_work, this, options, progress, work);
}

void TTalorin_main::freeInBackground(std::shared_ptr<talorin::TerrainMesh> shape) {
    if (!shape)
        return;
    // A big mesh takes a while to give back; the busy cursor covers it.
    runInBackground({FreeingText(), false, false}, [&shape](WorkProgress&) { shape.reset(); });
}

void TTalorin_main::releaseShape() {
    freeInBackground(std::move(CurrentShape));
}

// --- Project files ---------------------------------------------------------------

bool TTalorin_main::isModified() const {
    return m_document.hasImage() &&
           (m_document.version() != m_savedVersion || m_outputOptions != m_savedOutputOptions);
}

void TTalorin_main::markSaved() {
    m_savedVersion = m_document.version();
    m_savedOutputOptions = m_outputOptions;
    updateTitle();
}

void TTalorin_main::updateTitle() {
    if (m_projectFile.isEmpty()) {
        setWindowTitle(QStringLiteral("Talorin"));
        return;
    }
    setWindowTitle(QFileInfo(m_projectFile).fileName() + QStringLiteral("[*] - Talorin"));
    setWindowModified(isModified());
}

bool TTalorin_main::maybeSave() {
    if (!isModified())
        return true;
    const QString name = m_projectFile.isEmpty() ? QFileInfo(m_imageFile).fileName()
                                                 : QFileInfo(m_projectFile).fileName();
    switch (m_dialogs.askSave(
        this, tr("%1 への変更をプロジェクトに保存しますか?").arg(name))) {
    case Dialogs::SaveAnswer::Save:
        return saveProjectCommand();
    case Dialogs::SaveAnswer::Discard:
        return true;
    case Dialogs::SaveAnswer::Cancel:
        break;
    }
    return false;
}

void TTalorin_main::ProjectOpenClick() {
    if (!maybeSave())
        return;
    const QString fileName = m_dialogs.openFile(this, ProjectOpenRequest);
    if (fileName.isEmpty())
        return;
    ProjectOpenRequest.proposedName = fileName;
    if (talorin::LooksLikeProjectFile(LocalPath(fileName))) {
        openProject(fileName);
    } else {
        loadImage(fileName);
        BmpOpen.proposedName = fileName;
    }
}

void TTalorin_main::openFile(const QString& fileName) {
    if (!maybeSave())
        return;
    if (talorin::LooksLikeProjectFile(LocalPath(fileName))) {
        openProject(fileName);
    } else {
        loadImage(fileName);
        BmpOpen.proposedName = fileName;
    }
}

void TTalorin_main::openProject(const QString& fileName) {
    const std::string path = LocalPath(fileName);
    const talorin::ProjectState project = talorin::ReadProjectFile(path);
    std::string imageFile = talorin::LocateProjectImage(project, path);
    if (imageFile.empty()) {
        // Moved or renamed: the user shows where it is now.
        m_dialogs.message(this, tr("プロジェクトの画像 %1 が見つかりません。画像を選んでください")
                                    .arg(FromUtf8(project.imagePath)));
        FileDialogRequest request = BmpOpen;
        request.initialFolder = QFileInfo(fileName).absolutePath();
        request.proposedName = QFileInfo(FromUtf8(project.imagePath)).fileName();
        const QString chosen = m_dialogs.openFile(this, request);
        if (chosen.isEmpty())
            return;
        imageFile = LocalPath(chosen);
    }
    bool hashMatches = true;
    talorin::Bitmap image = talorin::LoadProjectImage(project, imageFile, hashMatches);
    const QString imageName = QFile::decodeName(QByteArray::fromStdString(imageFile));
    installImage(imageName, std::move(image), &project);
    BmpOpen.proposedName = imageName;
    m_outputOptions = {project.adaptive, FromUtf8(project.maxErrorText), project.maxError};
    m_live->setMaxError(m_outputOptions.adaptive ? m_outputOptions.maxError : 0);
    UpdatePolygonCount();
    m_projectFile = fileName;
    ProjectSaveRequest.proposedName = fileName;
    markSaved();
    addRecentFile(fileName);
    if (!hashMatches)
        m_dialogs.message(this, tr("画像 %1 の内容がプロジェクトを保存したときと違います。"
                                               "高さが変わっています")
                                    .arg(imageName));
}

void TTalorin_main::ProjectSaveClick() {
    saveProjectCommand();
}

void TTalorin_main::ProjectSaveAsClick() {
    saveProjectAs();
}

bool TTalorin_main::saveProjectCommand() {
    return m_projectFile.isEmpty() ? saveProjectAs() : saveProject(m_projectFile);
}

bool TTalorin_main::saveProjectAs() {
    if (!m_document.hasImage())
        return false;
    if (ProjectSaveRequest.proposedName.isEmpty()) {
        const std::string image = m_imageFile.toStdString();
        ProjectSaveRequest.proposedName =
            FromUtf8(talorin::FolderPart(image) + talorin::BaseFileName(image)) +
            QStringLiteral(".talorin");
    }
    const QString fileName = m_dialogs.saveFile(this, ProjectSaveRequest);
    if (fileName.isEmpty())
        return false;
    ProjectSaveRequest.proposedName = fileName;
    return saveProject(fileName);
}

bool TTalorin_main::saveProject(const QString& fileName) {
    // A depth being typed is taken as leaving the field would take it.
    PolygoneDepth->commit();
    const std::string path = LocalPath(fileName);
    try {
        const std::string image = LocalPath(m_imageFile);
        std::error_code ec;
        if (std::filesystem::equivalent(path, image, ec) && !ec)
            throw talorin::Error(
                tr("%1 は等高線画像です。別のファイル名を指定してください").arg(fileName).toStdString());
        talorin::SaveProjectFile(
            path, talorin::CaptureProject(m_document, image, path, m_outputOptions.adaptive,
                                          ToUtf8(m_outputOptions.maxErrorText),
                                          m_outputOptions.maxError));
    } catch (const talorin::Error& e) {
        m_dialogs.error(this, ErrorBoxText(FromUtf8(e.what())));
        return false;
    }
    m_projectFile = fileName;
    markSaved();
    addRecentFile(fileName);
    return true;
}

// --- Recent files and drops --------------------------------------------------------

QStringList TTalorin_main::recentFiles() {
    const QSettings settings(kSettingsOrganization, kSettingsApplication);
    return settings.value(kRecentFilesKey).toStringList().mid(0, kMaxRecentFiles);
}

void TTalorin_main::addRecentFile(const QString& fileName) {
    QSettings settings(kSettingsOrganization, kSettingsApplication);
    QStringList files = settings.value(kRecentFilesKey).toStringList();
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    files.removeAll(absolute);
    files.prepend(absolute);
    settings.setValue(kRecentFilesKey, files.mid(0, kMaxRecentFiles));
}

void TTalorin_main::fillRecentMenu() {
    RecentMenu->clear();
    const QStringList files = recentFiles();
    if (files.isEmpty()) {
        RecentMenu->addAction(tr("(なし)"))->setEnabled(false);
        return;
    }
    for (int i = 0; i < files.size(); ++i) {
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        QAction* action = RecentMenu->addAction(number + u' ' + files[i]);
        const QString file = files[i];
        connect(action, &QAction::triggered, this,
                [this, file] { RunHandler(m_dialogs, this, [&] { RecentFileClick(file); }); });
    }
}

void TTalorin_main::RecentFileClick(const QString& fileName) {
    if (!QFileInfo(fileName).isFile()) {
        QSettings settings(kSettingsOrganization, kSettingsApplication);
        QStringList files = settings.value(kRecentFilesKey).toStringList();
        files.removeAll(fileName);
        settings.setValue(kRecentFilesKey, files);
        m_dialogs.message(this, tr("%1 が見つかりません。最近使ったファイルから外しました")
                                    .arg(fileName));
        return;
    }
    openFile(fileName);
}

void TTalorin_main::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void TTalorin_main::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile() || m_run)
        return;
    event->acceptProposedAction();
    // Opened once the drop has ended: the source must not wait on our dialogs.
    const QString fileName = urls.first().toLocalFile();
    QMetaObject::invokeMethod(
        this, [this, fileName] { RunHandler(m_dialogs, this, [&] { openFile(fileName); }); },
        Qt::QueuedConnection);
}
