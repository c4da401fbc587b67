#pragma once
// The 3D view of the terrain: an OpenGL widget that draws prepared geometry
// (view/viewgeometry) through the camera of view/viewcamera, and the separate
// window that holds it, or a plain message when OpenGL cannot start.
//
// Navigation: left drag orbits, middle drag or Shift + left drag pans, the
// wheel zooms towards the point under the cursor, Home or a double click
// returns to the first view. W toggles the wireframe, T the contour image as
// texture, L the outlines of the lattice cells.

#include <QCoreApplication>
#include <QImage>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

#include "view/viewcamera.h"
#include "view/viewgeometry.h"

class QLabel;
class QOpenGLShaderProgram;
class QOpenGLVertexArrayObject;
class QStackedLayout;

// The message the view's window shows when OpenGL cannot start.
inline QString NoOpenGLText() {
    return QCoreApplication::translate("Talorin",
                                       "3Dビューを表示できません。\nOpenGL を開始できませんでした"
                                       "（ディスプレイまたはグラフィックス ドライバーがありません）。\n"
                                       "ほかの機能はこれまでどおり使えます。");
}

// What the view shows instead of a terrain it has no memory for (building
// its geometry or giving it to the graphics driver failed).
inline QString ViewOutOfMemoryText() {
    return QCoreApplication::translate(
        "Talorin", "メモリーが足りないため、この形状を3Dビューに表示できません。");
}

// A format that this machine can give an OpenGL context in: OpenGL 3.3 core,
// else OpenGL ES 3.0. Nothing when neither starts (no display, no driver, or
// only older versions). Tries to create a context, so call it on the
// user-interface thread with the application running.
std::optional<QSurfaceFormat> ProbeViewFormat();

class TerrainView : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
  public:
    // format: one that ProbeViewFormat returned.
    explicit TerrainView(const QSurfaceFormat& format, QWidget* parent = nullptr);
    ~TerrainView() override;

    // Shows geometry from the next frame on, with label in the top left
    // corner (none when empty). The camera stays where the user put it unless
    // this is the first terrain or its ground extent differs from the last
    // one's; then the first view is taken. geometry may be null (nothing drawn).
    void setTerrain(std::shared_ptr<const talorin::ViewGeometry> geometry, const QString& label);
    std::shared_ptr<const talorin::ViewGeometry> terrain() const { return m_geometry; }
    // Takes full, the terrain shown now with its edges, outlines and coarse
    // triangles added (AddViewExtras), uploading only those. The picture
    // changes only where the wireframe or the outlines are on.
    void completeTerrain(std::shared_ptr<const talorin::ViewGeometry> full);
    QString label() const;

    // The contour image used as texture (UV 0..1 across it). A null image
    // leaves the height colours in texture mode too.
    void setContourImage(const QImage& image);

    void setWireframe(bool on);
    bool wireframe() const { return m_wireframe; }
    void setTextured(bool on);
    bool textured() const { return m_textured; }
    void setCellOutlines(bool on);
    bool cellOutlines() const { return m_outlines; }

    // Back to the first view of the current terrain (Home, double click).
    void resetView();
    const talorin::ViewCamera& camera() const { return m_camera; }
    void setCamera(const talorin::ViewCamera& camera);

    // Whether the camera is moving: frames then draw the geometry's coarse
    // triangles (when it has them) and no wireframe; the still picture that
    // follows is exact.
    bool moving() const { return m_moving; }

    // Empty while OpenGL works; the reason once it has failed.
    QString failure() const { return m_failure; }

  signals:
    // OpenGL failed after the window was shown (the shaders did not build,
    // the context was lost): the window shows its message instead.
    void openGLFailed(const QString& reason);

  protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    enum class Drag { None, Orbit, Pan };

    talorin::Viewport viewport() const;
    void fail(const QString& reason);
    void upload();
    void uploadExtras();
    // Drops OpenGL errors left from before, so that the next check sees new ones.
    void clearGLErrors();
    // The driver had no memory for the terrain: show that instead.
    void uploadFailed();
    void uploadTexture();
    void releaseGL();
    void startMoving();
    void stopMoving();

    std::shared_ptr<const talorin::ViewGeometry> m_geometry;
    talorin::ViewCamera m_camera;
    bool m_fitPending = true;
    bool m_uploadPending = false;
    bool m_extrasPending = false;
    bool m_texturePending = false;
    QImage m_contour;
    bool m_wireframe = false;
    bool m_textured = false;
    bool m_outlines = false;
    QString m_failure;
    QLabel* m_label = nullptr;

    Drag m_drag = Drag::None;
    QPoint m_lastPos;
    bool m_moving = false;
    QTimer m_stillTimer; // the wheel has no release: still after a pause

    // OpenGL objects; valid between initializeGL and releaseGL.
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vao;
    unsigned m_vertexBuffer = 0;
    unsigned m_triangleBuffer = 0;
    unsigned m_edgeBuffer = 0;
    unsigned m_outlineBuffer = 0;
    unsigned m_coarseBuffer = 0;
    unsigned m_texture = 0;
    int m_triangleCount = 0;
    int m_edgeCount = 0;
    int m_outlineCount = 0;
    int m_coarseCount = 0;
    bool m_hasTexture = false;
    bool m_ready = false;
};

// The separate, resizable 3D view window "3Dビュー" (640 x 480 at first). It
// holds a TerrainView, or the message NoOpenGLText() when OpenGL cannot start.
class TerrainViewWindow : public QWidget {
    Q_OBJECT
  public:
    // format: the probed one; nothing means OpenGL cannot start.
    explicit TerrainViewWindow(std::optional<QSurfaceFormat> format, QWidget* parent = nullptr);
    // Probes OpenGL itself.
    explicit TerrainViewWindow(QWidget* parent = nullptr);

    // The view, or null when the window shows the message.
    TerrainView* view() const { return m_view; }
    QLabel* message() const { return m_message; }

  private:
    void showMessage();

    TerrainView* m_view = nullptr;
    QLabel* m_message = nullptr;
    QStackedLayout* m_stack = nullptr;
};
