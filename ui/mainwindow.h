#pragma once
// The main window: the contour preview with its lattice, the profile graph, the
// generation settings and the output command. Its controls are the settings;
// the handlers only refresh displays, the output command reads every control.

#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

#include "core/bitmap.h"
#include "core/lattice.h"
#include "core/terrainmesh.h"
#include "shape/shape.h"
#include "ui/dialogs.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QSlider;
class DepthField;
class PaintBox;

// The output text of About.
inline const QString kAboutText =
    QStringLiteral("Talorin Version 1.0e-36 Copyright the Talorin developers");

class TTalorin_main : public QMainWindow {
    Q_OBJECT
  public:
    // arguments: the program path followed by the command-line arguments, as
    // QCoreApplication::arguments() gives them. dialogs must outlive the window.
    TTalorin_main(Dialogs& dialogs, const QStringList& arguments, QWidget* parent = nullptr);
    ~TTalorin_main() override;

    // The image named on the command line: the arguments after the program path
    // joined by single spaces, trimmed of characters up to code 32.
    static QString CommandLineImageName(const QStringList& arguments);

    // --- Controls, in declaration order -------------------------------------
    QMenuBar* MainMenu1 = nullptr;
    QMenu* K1 = nullptr;
    QAction* BmpFileOpen = nullptr;
    QAction* SUFOut = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* KH1 = nullptr;
    QAction* K2 = nullptr;
    QFrame* Bevel1 = nullptr;
    PaintBox* BmpShow = nullptr;
    QFrame* Bevel2 = nullptr;
    // The two file dialogs, described by what they are opened with.
    FileDialogRequest BmpOpen;
    FileDialogRequest SufSave;
    QPushButton* InitPaMax = nullptr;
    QPushButton* SUFOutButton = nullptr;
    QSlider* CovertLevel = nullptr;
    QFrame* Bevel3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QRadioButton* ModeA = nullptr;
    QRadioButton* ModeB = nullptr;
    QCheckBox* UV = nullptr;
    QCheckBox* Shade = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* ObjName = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* AtrName = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Size = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* MaxHeight = nullptr;
    DepthField* PolygoneDepth = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* PolygoneCount = nullptr;
    PaintBox* ShowGraph = nullptr;
    QFrame* Panel1 = nullptr;
    QRadioButton* ShapeModeA = nullptr;
    QRadioButton* ShapeModeB = nullptr;
    QRadioButton* ShapeModeC = nullptr;
    QSlider* PaMaxBar = nullptr;

    // --- State of the window; owned by it -----------------------------------
    std::unique_ptr<talorin::TerrainMesh> CurrentShape; // the last generated shape, or null
    talorin::Bitmap ContourImage;
    QImage PreviewImage;
    QImage GraphBackground;
    bool GraphBackgroundReady = false;
    bool ImageLoaded = false;
    talorin::MeshLattice Mesh{}; // meaningless until an image is loaded
    int PaMax = talorin::kMinPaMax;
    double PreviewScaleX = 0;
    double PreviewScaleY = 0;
    std::int32_t ClickX = 0;
    std::int32_t ClickY = 0;
    std::uint8_t ClickButton = 0;

    // --- Event handlers ------------------------------------------------------
    // Each may throw talorin::Error (or another std::exception); the wiring runs
    // them through RunHandler, which shows the error box.
    void K2Click();
    void Exit1Click();
    void PolygoneDepthChange();
    void ModeAClick();
    void ModeBClick();
    void FormShow();
    void BmpFileOpenClick();
    void BmpShowPaint();
    void ShowGraphPaint();
    void CovertLevelChange();
    void ShapeModeAClick();
    void ShapeModeBClick();
    void ShapeModeCClick();
    void InitPaMaxClick();
    void BmpShowMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void PaMaxBarChange();
    void SUFOutButtonClick();
    void SUFOutClick();

    // --- Commands --------------------------------------------------------------
    // Lets the user pick a contour image and loads it; a cancelled dialog or an
    // unreadable file changes nothing (the latter throws its error).
    void OpenContourImage();
    // Shows the polygon-count estimate for the depth, the polygon kind and PaMax.
    void UpdatePolygonCount();
    // Generates the terrain from every control and saves it where the user says.
    void OutputSUF();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void createMenu();
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    // Runs one handler through RunHandler: an error ends it in the error box.
    void handle(void (TTalorin_main::*handler)());

    // Reads the BMP file F and, only when that worked, replaces the image, the
    // preview and the lattice and proposes the names derived from F.
    void loadImage(const QString& fileName);
    void drawMeshOverlay();
    void drawShapeGraph();
    std::uint8_t shapeMode() const;
    void focusFirstControl();

    Dialogs& m_dialogs;
    QStringList m_arguments;
    bool m_shown = false;
    bool m_generating = false;
};
