#pragma once
// The main window: the contour preview with its lattice, the profile graph, the
// generation settings and the output command. What the user edits lives in a
// TerrainDocument: the controls' handlers write into it, and the controls and
// previews follow its changes (also those made by another view). The output
// command converts the document and generates and saves on a worker thread.

#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/projectfile.h"
#include "terrain/terraindocument.h"
#include "shape/terrainmesh.h"
#include "shape/shape.h"
#include "ui/backgroundwork.h"
#include "ui/dialogs.h"
#include "ui/outputoptions.h"

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
class LiveTerrain;
class PaintBox;
class TerrainViewWindow;

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

    // What the window edits. Other views observe it (TerrainDocument::addListener);
    // edits made through it show in the window's controls and previews.
    talorin::TerrainDocument& document() { return m_document; }
    const talorin::TerrainDocument& document() const { return m_document; }

    // The open and save dialogs as the next use will open them.
    const FileDialogRequest& openRequest() const { return BmpOpen; }
    const FileDialogRequest& saveRequest() const { return SufSave; }

    // The last generated shape, or null. The window owns it.
    const talorin::TerrainMesh* currentShape() const { return CurrentShape.get(); }

    // Text of the last failure of the output command (UTF-8), shown with a
    // beep: running out of memory. Filled here, where it is shown.
    std::string GenerationError;

    // The output options (adaptive depth) that the next output uses.
    const OutputOptions& outputOptions() const { return m_outputOptions; }
    // The 3D view's window once 表示 → 3Dビュー opened it, else null; and what
    // keeps it up to date.
    TerrainViewWindow* terrainViewWindow() const { return m_viewWindow; }
    LiveTerrain* liveTerrain() const { return m_live.get(); }

    // The project file the document was last opened from or saved to; empty
    // before any.
    const QString& projectFile() const { return m_projectFile; }
    // Whether the document or the output options changed since the image or
    // project was opened or the project saved.
    bool isModified() const;
    // Opens fileName as a project or an image, told by its content, after
    // asking to save unsaved changes (a cancel opens nothing). As a drop, a
    // recent file and Ctrl+O do; errors are thrown.
    void openFile(const QString& fileName);
    // The recent images and projects, newest first (at most kMaxRecentFiles).
    static QStringList recentFiles();
    static constexpr int kMaxRecentFiles = 10;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // --- Controls, in declaration order -------------------------------------
    QMenuBar* MainMenu1 = nullptr;
    QMenu* K1 = nullptr;
    QAction* BmpFileOpen = nullptr;
    QAction* ProjectOpen = nullptr;
    QAction* ProjectSave = nullptr;
    QAction* ProjectSaveAs = nullptr;
    QMenu* RecentMenu = nullptr;
    QAction* N2 = nullptr;
    QAction* SUFOut = nullptr;
    QAction* OutputOptionsMenu = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* EditMenu = nullptr;
    QAction* UndoAction = nullptr;
    QAction* RedoAction = nullptr;
    QMenu* ViewMenu = nullptr;
    QAction* View3D = nullptr;
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
    // An elevation raster's real range, along the foot of the preview;
    // hidden for other images.
    QLabel* ElevationRange = nullptr;
    PaintBox* ShowGraph = nullptr;
    QFrame* Panel1 = nullptr;
    QRadioButton* ShapeModeA = nullptr;
    QRadioButton* ShapeModeB = nullptr;
    QRadioButton* ShapeModeC = nullptr;
    QSlider* PaMaxBar = nullptr;

    // --- State of the window; owned by it -----------------------------------
    talorin::TerrainDocument m_document;
    std::shared_ptr<talorin::TerrainMesh> CurrentShape; // the last generated shape, or null
    QString m_imageFile; // the contour image's file, which exports refer to
    QImage PreviewImage;
    QImage GraphBackground;
    bool GraphBackgroundReady = false;

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
    void CovertLevelChange();
    void ShapeModeAClick();
    void ShapeModeBClick();
    void ShapeModeCClick();
    void InitPaMaxClick();
    void BmpShowMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void PaMaxBarChange();
    void SUFOutButtonClick();
    void SUFOutClick();
    void OutputOptionsMenuClick();
    void UndoClick();
    void RedoClick();
    void ProjectOpenClick();
    void ProjectSaveClick();
    void ProjectSaveAsClick();
    void RecentFileClick(const QString& fileName);
    // Opens the 3D view's window, or raises it.
    void View3DClick();

    // --- Commands --------------------------------------------------------------
    // Lets the user pick a contour image and loads it; a cancelled dialog or an
    // unreadable file changes nothing (the latter throws its error).
    void OpenContourImage();
    // Shows the polygon-count estimate of the document's depth, kind and
    // density. An estimate too large is reported once for the same inputs.
    void UpdatePolygonCount();
    // With adaptive depth on, the count depends on the terrain: it is made on
    // the preview worker, "…" showing meanwhile; a newer request cancels an older.
    void startAdaptiveCount();
    void cancelAdaptiveCount();
    // Generates the terrain from the document and saves it where the user says.
    void OutputSUF();

    // Runs work on the window's worker while the window waits (see
    // RunInBackground); a close meanwhile cancels it.
    void runInBackground(const WorkOptions& options,
                         const std::function<void(WorkProgress&)>& work);
    // Frees a shape off the UI thread.
    void freeInBackground(std::shared_ptr<talorin::TerrainMesh> shape);
    void releaseShape();
    // Sets GenerationError to text, beeps and shows it.
    void tellGenerationFailure(const std::string& text);

    void createMenu();
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    // Runs one handler through RunHandler: an error ends it in the error box.
    void handle(void (TTalorin_main::*handler)());
    // The document told of a change: refresh what shows it.
    void documentChanged(unsigned changes);

    // Reads the BMP file F and, only when that worked, replaces the image, the
    // preview and the lattice and proposes the names derived from F.
    void loadImage(const QString& fileName);
    // Shows image (read from fileName) and puts it into the document, with
    // project's lattice and settings when given.
    void installImage(const QString& fileName, talorin::Bitmap image,
                      const talorin::ProjectState* project);

    // --- Project files ----------------------------------------------------------
    // Opens a project; a missing image is asked for. Errors are thrown and
    // leave everything as it was; a cancelled question opens nothing.
    void openProject(const QString& fileName);
    // Saves the project to fileName; false (said why) when it failed.
    bool saveProject(const QString& fileName);
    // Save: to the project file, or asks for one; false when not saved.
    bool saveProjectCommand();
    bool saveProjectAs();
    // Unsaved changes: asks whether to save them; false when the user
    // cancels or the save failed, and whatever was to happen must not.
    bool maybeSave();
    // The current state is the saved one.
    void markSaved();
    void updateTitle();
    static void addRecentFile(const QString& fileName);
    void fillRecentMenu();
    void drawMeshOverlay();
    // Sets the size and height fields to the image's real extent and relief
    // times the exaggeration, in metres, and keeps its proportions. The image
    // must be georeferenced (talorin::TrueScaleUnavailableReason is empty).
    void applyTrueScale();
    void drawShapeGraph();
    std::uint8_t shapeMode() const;
    void focusFirstControl();
    // Shows the count text in the label's place, in a smaller font when the
    // whole number would not fit inside the frame otherwise.
    void showCount(const QString& text);

    Dialogs& m_dialogs;
    QStringList m_arguments;
    bool m_shown = false;
    // The work running now (generation, save, freeing), or null.
    WorkProgress* m_run = nullptr;
    // The window was asked to close while work ran.
    bool m_closeRequested = false;
    // The estimate inputs (depth, kind, density) whose overflow was reported last.
    std::optional<std::tuple<int, bool, int>> m_reportedOverflow;
    QFont m_countFont;
    OutputOptions m_outputOptions;
    QString m_projectFile;
    std::uint64_t m_savedVersion = 0;
    OutputOptions m_savedOutputOptions;
    FileDialogRequest ProjectOpenRequest;
    FileDialogRequest ProjectSaveRequest;
    TerrainViewWindow* m_viewWindow = nullptr; // a child window, made on first use
    std::unique_ptr<LiveTerrain> m_live;       // after m_document: ends before it
    std::uint64_t m_shapeVersion = 0;          // the document's version at the last output
    // Generation, saving and freeing. Last: it ends first, cancelling and
    // waiting for a run left to stop after a cancel.
    BackgroundWorker m_work;
};
