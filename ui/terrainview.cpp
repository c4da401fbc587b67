#include "ui/terrainview.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QStackedLayout>
#include <QWheelEvent>
#include <cmath>
#include <cstddef>

using talorin::ViewGeometry;
using talorin::ViewVertex;

namespace {

#ifndef GL_RGBA8
#define GL_RGBA8 0x8058
#endif

constexpr float kBackground[3] = {0.72f, 0.73f, 0.75f}; // neutral grey
constexpr float kAmbient = 0.35f;
constexpr float kWireColour[4] = {0.08f, 0.08f, 0.08f, 0.55f};
constexpr float kOutlineColour[4] = {1.0f, 0.0f, 0.0f, 1.0f}; // the lattice's red
constexpr double kWheelStep = 0.85;                           // distance factor per wheel notch
constexpr int kStillAfterMs = 200; // still again this long after the last wheel turn

enum Attribute : GLuint { kPosition = 0, kNormal = 1, kColour = 2, kUv = 3 };
enum Mode : int { kHeightColours = 0, kTexture = 1, kLines = 2 };

const char* const kVertexShader = R"(
in vec3 aPosition;
in vec3 aNormal;
in vec4 aColour;
in vec2 aUv;
uniform mat4 uMvp;
out vec3 vNormal;
out vec4 vColour;
out vec2 vUv;
void main() {
    vNormal = aNormal;
    vColour = aColour;
    vUv = aUv;
    gl_Position = uMvp * vec4(aPosition, 1.0);
}
)";

const char* const kFragmentShader = R"(
in vec3 vNormal;
in vec4 vColour;
in vec2 vUv;
uniform int uMode;
uniform vec3 uLight;
uniform float uAmbient;
uniform vec4 uLineColour;
uniform sampler2D uTexture;
out vec4 fragColour;
void main() {
    if (uMode == 2) {
        fragColour = uLineColour;
        return;
    }
    vec3 n = normalize(vNormal);
    if (!gl_FrontFacing)
        n = -n; // the underside, seen from below, is lit like the top
    float light = uAmbient + (1.0 - uAmbient) * max(dot(n, uLight), 0.0);
    vec3 base = uMode == 1 ? texture(uTexture, vUv).rgb : vColour.rgb;
    fragColour = vec4(base * light, 1.0);
}
)";

QSurfaceFormat ViewFormat(bool es) {
    QSurfaceFormat format;
    format.setDepthBufferSize(24);
    format.setSamples(0);
    if (es) {
        format.setRenderableType(QSurfaceFormat::OpenGLES);
        format.setVersion(3, 0);
    } else {
        format.setRenderableType(QSurfaceFormat::OpenGL);
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
    }
    return format;
}

// Whether a context of this format starts and is recent enough.
bool ContextStarts(const QSurfaceFormat& wanted) {
    QOpenGLContext context;
    context.setFormat(wanted);
    if (!context.create())
        return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return false;
    const QSurfaceFormat got = context.format();
    const bool es = context.isOpenGLES();
    context.doneCurrent();
    if (es != (wanted.renderableType() == QSurfaceFormat::OpenGLES))
        return false;
    return got.version() >= wanted.version();
}

} // namespace

std::optional<QSurfaceFormat> ProbeViewFormat() {
    for (const bool es : {false, true}) {
        const QSurfaceFormat format = ViewFormat(es);
        if (ContextStarts(format))
            return format;
    }
    return std::nullopt;
}

// --- TerrainView -------------------------------------------------------------

TerrainView::TerrainView(const QSurfaceFormat& format, QWidget* parent) : QOpenGLWidget(parent) {
    setFormat(format);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    m_label = new QLabel(this);
    m_label->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255, 255, 255, 200); color: black; padding: 2px 6px; }"));
    m_label->move(8, 8);
    m_label->hide();
    m_stillTimer.setSingleShot(true);
    m_stillTimer.setInterval(kStillAfterMs);
    connect(&m_stillTimer, &QTimer::timeout, this, [this] { stopMoving(); });
}

TerrainView::~TerrainView() {
    if (m_ready) {
        makeCurrent();
        releaseGL();
        doneCurrent();
    }
}

void TerrainView::setTerrain(std::shared_ptr<const ViewGeometry> geometry, const QString& label) {
    auto ground = [](const std::shared_ptr<const ViewGeometry>& g) {
        const talorin::Bounds& b = g->bounds;
        return std::array<double, 4>{b.min.x, b.min.y, b.max.x, b.max.y};
    };
    if (!geometry || !m_geometry || m_geometry->bounds.empty() ||
        ground(geometry) != ground(m_geometry))
        m_fitPending = true;
    m_geometry = std::move(geometry);
    m_uploadPending = true;
    m_label->setText(label);
    m_label->adjustSize();
    m_label->setVisible(!label.isEmpty());
    update();
}

void TerrainView::completeTerrain(std::shared_ptr<const ViewGeometry> full) {
    if (!full || !m_geometry) // none shown, or the driver refused it
        return;
    m_geometry = std::move(full);
    m_extrasPending = true;
    if (m_wireframe || m_outlines)
        update();
}

QString TerrainView::label() const {
    return m_label->isVisible() ? m_label->text() : QString();
}

void TerrainView::setContourImage(const QImage& image) {
    m_contour = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGBA8888);
    m_texturePending = true;
    update();
}

void TerrainView::setWireframe(bool on) {
    m_wireframe = on;
    update();
}

void TerrainView::setTextured(bool on) {
    m_textured = on;
    update();
}

void TerrainView::setCellOutlines(bool on) {
    m_outlines = on;
    update();
}

void TerrainView::resetView() {
    m_fitPending = true;
    stopMoving();
    update();
}

void TerrainView::startMoving() {
    m_moving = true;
    m_stillTimer.stop();
}

void TerrainView::stopMoving() {
    m_stillTimer.stop();
    if (m_moving) {
        m_moving = false;
        update();
    }
}

void TerrainView::setCamera(const talorin::ViewCamera& camera) {
    m_camera = camera;
    m_fitPending = false;
    update();
}

talorin::Viewport TerrainView::viewport() const {
    return {double(std::max(1, width())), double(std::max(1, height()))};
}

void TerrainView::fail(const QString& reason) {
    m_ready = false;
    m_failure = reason;
    // Queued: the window replaces this widget, which must not happen inside
    // one of its own OpenGL callbacks.
    QMetaObject::invokeMethod(
        this, [this, reason] { emit openGLFailed(reason); }, Qt::QueuedConnection);
}

void TerrainView::initializeGL() {
    if (!context() || !context()->isValid()) {
        fail(QStringLiteral("no context"));
        return;
    }
    initializeOpenGLFunctions();
    const QByteArray header = context()->isOpenGLES()
                                  ? QByteArrayLiteral("#version 300 es\nprecision highp float;\n")
                                  : QByteArrayLiteral("#version 330 core\n");
    m_program = std::make_unique<QOpenGLShaderProgram>();
    m_program->bindAttributeLocation("aPosition", kPosition);
    m_program->bindAttributeLocation("aNormal", kNormal);
    m_program->bindAttributeLocation("aColour", kColour);
    m_program->bindAttributeLocation("aUv", kUv);
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, header + kVertexShader) ||
        !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, header + kFragmentShader) ||
        !m_program->link()) {
        fail(m_program->log());
        return;
    }
    m_vao = std::make_unique<QOpenGLVertexArrayObject>();
    if (!m_vao->create()) {
        fail(QStringLiteral("no vertex array object"));
        return;
    }
    GLuint buffers[5];
    glGenBuffers(5, buffers);
    m_vertexBuffer = buffers[0];
    m_triangleBuffer = buffers[1];
    m_edgeBuffer = buffers[2];
    m_outlineBuffer = buffers[3];
    m_coarseBuffer = buffers[4];
    glGenTextures(1, &m_texture);
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGL();
        doneCurrent();
    });
    m_ready = true;
    m_uploadPending = true;
    m_texturePending = true;
}

void TerrainView::releaseGL() {
    if (!m_ready)
        return;
    const GLuint buffers[5] = {m_vertexBuffer, m_triangleBuffer, m_edgeBuffer, m_outlineBuffer,
                               m_coarseBuffer};
    glDeleteBuffers(5, buffers);
    glDeleteTextures(1, &m_texture);
    m_vao.reset();
    m_program.reset();
    m_ready = false;
}

void TerrainView::clearGLErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

void TerrainView::uploadFailed() {
    // The buffers given back, nothing drawn, and the reason where the label goes.
    for (const GLuint buffer :
         {m_vertexBuffer, m_triangleBuffer, m_edgeBuffer, m_outlineBuffer, m_coarseBuffer}) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, 0, nullptr, GL_STATIC_DRAW);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    clearGLErrors();
    m_triangleCount = m_edgeCount = m_outlineCount = m_coarseCount = 0;
    m_geometry.reset();
    m_label->setText(ViewOutOfMemoryText());
    m_label->adjustSize();
    m_label->show();
}

void TerrainView::upload() {
    m_uploadPending = false;
    clearGLErrors();
    const ViewGeometry empty;
    const ViewGeometry& g = m_geometry ? *m_geometry : empty;
    m_vao->bind();
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(g.vertices.size() * sizeof(ViewVertex)),
                 g.vertices.data(), GL_STATIC_DRAW);
    const auto stride = GLsizei(sizeof(ViewVertex));
    auto at = [](std::size_t offset) { return reinterpret_cast<const void*>(offset); };
    glEnableVertexAttribArray(kPosition);
    glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, stride,
                          at(offsetof(ViewVertex, position)));
    glEnableVertexAttribArray(kNormal);
    glVertexAttribPointer(kNormal, 3, GL_FLOAT, GL_FALSE, stride, at(offsetof(ViewVertex, normal)));
    glEnableVertexAttribArray(kColour);
    glVertexAttribPointer(kColour, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          at(offsetof(ViewVertex, colour)));
    glEnableVertexAttribArray(kUv);
    glVertexAttribPointer(kUv, 2, GL_FLOAT, GL_FALSE, stride, at(offsetof(ViewVertex, uv)));

    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_triangleBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(g.triangles.size() * sizeof(std::uint32_t)),
                 g.triangles.data(), GL_STATIC_DRAW);
    m_triangleCount = int(g.triangles.size());
    m_vao->release();
    if (glGetError() == GL_OUT_OF_MEMORY) {
        uploadFailed();
        return;
    }
    uploadExtras();
}

void TerrainView::uploadExtras() {
    m_extrasPending = false;
    clearGLErrors();
    const ViewGeometry empty;
    const ViewGeometry& g = m_geometry ? *m_geometry : empty;
    m_vao->bind();
    auto indices = [this](GLuint buffer, const std::vector<std::uint32_t>& list) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(list.size() * sizeof(std::uint32_t)),
                     list.data(), GL_STATIC_DRAW);
        return int(list.size());
    };
    m_outlineCount = indices(m_outlineBuffer, g.cellOutlines);
    m_edgeCount = indices(m_edgeBuffer, g.edges);
    m_coarseCount = indices(m_coarseBuffer, g.coarseTriangles);
    m_vao->release();
    if (glGetError() == GL_OUT_OF_MEMORY)
        uploadFailed();
}

void TerrainView::uploadTexture() {
    m_texturePending = false;
    m_hasTexture = !m_contour.isNull();
    if (!m_hasTexture)
        return;
    glBindTexture(GL_TEXTURE_2D, m_texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    // Row 0 of the image is the top row, at V = 0, as the .suf UV runs.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, m_contour.width(), m_contour.height(), 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, m_contour.constBits());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void TerrainView::resizeGL(int, int) {}

void TerrainView::paintGL() {
    glClearColor(kBackground[0], kBackground[1], kBackground[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!m_ready)
        return;
    if (m_uploadPending)
        upload();
    else if (m_extrasPending)
        uploadExtras();
    if (m_texturePending)
        uploadTexture();
    if (!m_geometry || m_triangleCount == 0)
        return;
    const talorin::Viewport port = viewport();
    if (m_fitPending) {
        m_camera = talorin::FitCamera(m_geometry->bounds, port);
        m_fitPending = false;
    }

    const talorin::Mat4 mvp =
        talorin::Multiply(talorin::ProjectionMatrix(m_camera, port, m_geometry->bounds),
                          talorin::ViewMatrix(m_camera));
    GLfloat mvpF[16];
    for (int i = 0; i < 16; ++i)
        mvpF[i] = GLfloat(mvp[i]);
    // Light from the upper left of the screen and somewhat towards the
    // viewer: seen from straight above, the hillshade's north-west at 45 degrees.
    const talorin::CameraBasis axes = talorin::BasisOf(m_camera);
    const talorin::Vec3 light =
        talorin::Normalized(axes.right * -1.0 + axes.up * 1.0 + axes.back * std::sqrt(2.0));

    const int w = int(std::lround(width() * devicePixelRatioF()));
    const int h = int(std::lround(height() * devicePixelRatioF()));
    glViewport(0, 0, w, h);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_CULL_FACE);

    m_program->bind();
    glUniformMatrix4fv(m_program->uniformLocation("uMvp"), 1, GL_FALSE, mvpF);
    m_program->setUniformValue("uLight", float(light.x), float(light.y), float(light.z));
    m_program->setUniformValue("uAmbient", kAmbient);
    m_program->setUniformValue("uTexture", 0);
    const bool textured = m_textured && m_hasTexture;
    m_program->setUniformValue("uMode", textured ? kTexture : kHeightColours);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textured ? m_texture : 0);

    m_vao->bind();
    // The surface sits a little behind its own lines, so that they show.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    // While the camera moves, a dense terrain is drawn from its coarse stand-in:
    // software rendering pays per triangle, most of which are below a pixel.
    const bool coarse = m_moving && m_coarseCount > 0;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, coarse ? m_coarseBuffer : m_triangleBuffer);
    glDrawElements(GL_TRIANGLES, coarse ? m_coarseCount : m_triangleCount, GL_UNSIGNED_INT,
                   nullptr);
    glDisable(GL_POLYGON_OFFSET_FILL);

    m_program->setUniformValue("uMode", kLines);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    if (m_wireframe && m_edgeCount > 0 && !coarse) {
        m_program->setUniformValue("uLineColour", kWireColour[0], kWireColour[1], kWireColour[2],
                                   kWireColour[3]);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_edgeBuffer);
        glDrawElements(GL_LINES, m_edgeCount, GL_UNSIGNED_INT, nullptr);
    }
    if (m_outlines && m_outlineCount > 0) {
        m_program->setUniformValue("uLineColour", kOutlineColour[0], kOutlineColour[1],
                                   kOutlineColour[2], kOutlineColour[3]);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_outlineBuffer);
        glDrawElements(GL_LINES, m_outlineCount, GL_UNSIGNED_INT, nullptr);
    }
    glDisable(GL_BLEND);
    m_vao->release();
    m_program->release();
}

void TerrainView::mousePressEvent(QMouseEvent* event) {
    m_lastPos = event->position().toPoint();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && shift))
        m_drag = Drag::Pan;
    else if (event->button() == Qt::LeftButton)
        m_drag = Drag::Orbit;
    event->accept();
}

void TerrainView::mouseMoveEvent(QMouseEvent* event) {
    if (m_drag == Drag::None || m_fitPending)
        return;
    const QPoint pos = event->position().toPoint();
    const QPoint delta = pos - m_lastPos;
    m_lastPos = pos;
    startMoving();
    if (m_drag == Drag::Orbit)
        talorin::Orbit(m_camera, delta.x(), delta.y());
    else
        talorin::Pan(m_camera, delta.x(), delta.y(), viewport());
    update();
}

void TerrainView::mouseReleaseEvent(QMouseEvent*) {
    m_drag = Drag::None;
    stopMoving();
}

void TerrainView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        resetView();
}

void TerrainView::wheelEvent(QWheelEvent* event) {
    if (!m_geometry || m_geometry->bounds.empty() || m_fitPending)
        return;
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const QPointF pos = event->position();
    const talorin::Ray ray = talorin::PickRay(m_camera, viewport(), pos.x(), pos.y());
    // The terrain point under the cursor; off the terrain, the point at the
    // target's height; looking along the horizon, the target itself.
    talorin::Vec3 point = m_camera.target;
    if (const auto hit = talorin::PickGeometry(*m_geometry, ray))
        point = *hit;
    else if (const auto t = talorin::HitPlaneZ(ray, m_camera.target.z))
        point = ray.origin + ray.direction * *t;
    const double radius = std::max(m_geometry->bounds.radius(), 1e-3);
    talorin::ZoomTowards(m_camera, point, std::pow(kWheelStep, steps), radius * 0.01, radius * 20);
    startMoving();
    m_stillTimer.start();
    update();
    event->accept();
}

void TerrainView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Home:
        resetView();
        break;
    case Qt::Key_W:
        setWireframe(!m_wireframe);
        break;
    case Qt::Key_T:
        setTextured(!m_textured);
        break;
    case Qt::Key_L:
        setCellOutlines(!m_outlines);
        break;
    default:
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// --- TerrainViewWindow -------------------------------------------------------

TerrainViewWindow::TerrainViewWindow(std::optional<QSurfaceFormat> format, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("3Dビュー"));
    resize(640, 480);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    if (!format) {
        showMessage();
        return;
    }
    m_view = new TerrainView(*format, this);
    m_stack->addWidget(m_view);
    connect(m_view, &TerrainView::openGLFailed, this, [this] { showMessage(); });
    setFocusProxy(m_view);
}

TerrainViewWindow::TerrainViewWindow(QWidget* parent)
    : TerrainViewWindow(ProbeViewFormat(), parent) {}

void TerrainViewWindow::showMessage() {
    if (!m_message) {
        m_message = new QLabel(NoOpenGLText(), this);
        m_message->setAlignment(Qt::AlignCenter);
        m_message->setWordWrap(true);
        m_message->setMargin(24);
        m_stack->addWidget(m_message);
    }
    m_stack->setCurrentWidget(m_message);
    if (m_view) {
        setFocusProxy(nullptr);
        m_view->hide();
        m_view->deleteLater();
        m_view = nullptr;
    }
}
