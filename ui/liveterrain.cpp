#include "ui/liveterrain.h"

#include <QImage>
#include <QMetaObject>
#include <chrono>
#include <new>
#include <utility>

#include "terrain/adaptive.h"
#include "terrain/terrain.h"
#include "base/error.h"
#include "ui/terrainview.h"

namespace {

// The contour image in the byte order the view's texture takes, written row
// by row (setPixel would check and convert every pixel of a large image).
QImage ToImage(const talorin::Bitmap& bitmap) {
    QImage image(bitmap.width(), bitmap.height(), QImage::Format_RGBA8888);
    for (int y = 0; y < bitmap.height(); ++y) {
        uchar* out = image.scanLine(y);
        for (int x = 0; x < bitmap.width(); ++x, out += 4) {
            const talorin::Rgb c = bitmap.pixel(x, y);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
            out[3] = 255;
        }
    }
    return image;
}

} // namespace

QString PreviewLabel(int previewDepth) {
    return QStringLiteral("プレビュー: 再帰回数 %1").arg(previewDepth);
}

QString ShapeLabel(std::size_t polygonCount) {
    return QStringLiteral("出力した形状: ポリゴン数 %1").arg(qulonglong(polygonCount));
}

// One piece of work for the worker: generate from args, or take mesh as it is.
struct LiveTerrain::Job {
    std::uint64_t serial = 0;
    std::optional<talorin::Talorin_Args> args;
    std::shared_ptr<const talorin::TerrainMesh> mesh;
    double maxError = 0; // > 0: adaptive depth
    std::size_t polygonsPerCell = 0;
    QString label;
};

// Everything a run's terrain depends on; names and UV do not count.
struct LiveTerrain::Key {
    const talorin::Bitmap* image = nullptr;
    talorin::MeshLattice lattice{};
    int paMax = 0;
    int depth = 0;
    bool quads = true;
    std::uint8_t shapeMode = 0;
    double curveLevel = 0;
    double size = 0;
    double height = 0;
    double maxError = 0;
    bool exactShape = false;
    bool reduced = false; // made shallower than chosen: labelled
    friend bool operator==(const Key&, const Key&) = default;
};

LiveTerrain::LiveTerrain(talorin::TerrainDocument& document, QObject* parent)
    : QObject(parent), m_document(document) {
    m_listener = m_document.addListener([this](unsigned changes) {
        // A closed window draws nothing: no runs for it (opening it refreshes).
        if (!m_view || !m_view->isVisible())
            return;
        if (changes & talorin::kImageChanged)
            m_view->setContourImage(ToImage(m_document.image()));
        refresh();
    });
    m_worker = std::thread([this] { workerLoop(); });
}

LiveTerrain::~LiveTerrain() {
    m_document.removeListener(m_listener);
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.reset();
    }
    ++m_serial; // the run going, if any, stops at its next progress report
    m_wake.notify_all();
    m_worker.join();
}

void LiveTerrain::attach(TerrainView* view) {
    if (m_view)
        disconnect(m_view, nullptr, this, nullptr);
    m_view = view;
    m_lastKey.reset();
    if (m_view)
        connect(m_view, &QOpenGLWidget::frameSwapped, this, [this] {
            {
                std::lock_guard lock(m_mutex);
                m_framed = m_delivered;
            }
            m_wake.notify_all();
        });
    if (m_view && m_document.hasImage())
        m_view->setContourImage(ToImage(m_document.image()));
}

void LiveTerrain::refresh() {
    if (!m_view || !m_document.hasImage())
        return;
    talorin::Talorin_Args args;
    try {
        args = m_document.makeArgs();
    } catch (const talorin::Error&) {
        return; // a size or height being typed: the view keeps the last terrain
    }
    const int depth = talorin::PreviewDepth(args.Depth, args.QuadMode, args.PaMax);
    const Key key{args.Bitmap.get(), args.Lattice,   args.PaMax,      depth,
                  args.QuadMode,  args.ShapeMode, args.CurveLevel, args.Size,
                  args.MaxHeight, m_maxError,     false,           depth < args.Depth};
    if (m_lastKey && *m_lastKey == key)
        return;
    m_lastKey = std::make_unique<Key>(key);

    auto job = std::make_shared<Job>();
    job->label = depth < args.Depth ? PreviewLabel(depth) : QString();
    args.Depth = depth;
    job->polygonsPerCell = std::size_t(1) << (2 * depth);
    if (!args.QuadMode)
        job->polygonsPerCell *= 4;
    job->args = std::move(args);
    job->maxError = m_maxError;
    if (m_maxError > 0)
        job->polygonsPerCell = 0; // cells differ: no outlines from counts
    submit(std::move(job));
}

void LiveTerrain::setMaxError(double maxError) {
    if (maxError == m_maxError)
        return;
    m_maxError = maxError;
    refresh();
}

void LiveTerrain::showShape(std::shared_ptr<const talorin::TerrainMesh> mesh) {
    if (!m_view || !mesh)
        return;
    Key key;
    key.exactShape = true;
    m_lastKey = std::make_unique<Key>(key); // the next edit previews again
    auto job = std::make_shared<Job>();
    const std::size_t cells = std::size_t(m_document.density()) * m_document.density();
    job->polygonsPerCell =
        cells > 0 && mesh->polygonCount() % cells == 0 ? mesh->polygonCount() / cells : 0;
    job->label = ShapeLabel(mesh->polygonCount());
    job->mesh = std::move(mesh);
    submit(std::move(job));
}

void LiveTerrain::submit(std::shared_ptr<Job> job) {
    job->serial = ++m_serial;
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(job); // an older job not yet started is dropped
    }
    m_wake.notify_one();
}

void LiveTerrain::workerLoop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_pending; });
            if (m_stop)
                return;
            job = std::move(m_pending);
        }
        const std::uint64_t serial = job->serial;
        auto current = [this, serial] { return m_serial.load() == serial; };
        try {
            std::shared_ptr<const talorin::TerrainMesh> mesh = job->mesh;
            if (!mesh) {
                const auto stillWanted = [&current](std::uint64_t, std::uint64_t) {
                    return current();
                };
                mesh = std::make_shared<const talorin::TerrainMesh>(
                    job->maxError > 0
                        ? talorin::GenerateAdaptiveMesh(*job->args, job->maxError, stillWanted)
                        : talorin::GenerateTerrainMesh(*job->args, stillWanted));
            }
            if (!current())
                continue;
            auto surface =
                std::make_shared<talorin::ViewGeometry>(talorin::BuildViewSurface(*mesh));
            if (!current())
                continue;
            // A preview shows its surface first and gets its wireframe,
            // outlines and coarse stand-in after, in a copy made once the
            // surface is on the screen (cheap at the live budget); an output
            // shape, far larger, comes whole.
            const bool preview = !job->mesh;
            if (preview) {
                QMetaObject::invokeMethod(
                    this,
                    [this, serial, surface, label = job->label] {
                        deliver(serial, surface, label);
                    },
                    Qt::QueuedConnection);
                // The extras wait until the surface is on the screen, so that
                // they do not compete with its upload and drawing for the cores.
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::seconds(1), [this, serial] {
                    return m_stop || m_pending || m_framed >= serial;
                });
                if (m_stop || m_pending)
                    continue;
                lock.unlock();
                surface = std::make_shared<talorin::ViewGeometry>(std::as_const(*surface));
            }
            // A newer terrain stops the extras at once: they are of no use
            // to it, and it needs the cores.
            if (!talorin::AddViewExtras(*mesh, job->polygonsPerCell, *surface, current) ||
                !current())
                continue;
            std::shared_ptr<const talorin::ViewGeometry> full = std::move(surface);
            QMetaObject::invokeMethod(
                this,
                [this, serial, full, preview, label = job->label] {
                    if (!preview)
                        deliver(serial, full, label);
                    else if (serial == m_serial.load() && m_view)
                        m_view->completeTerrain(full);
                },
                Qt::QueuedConnection);
        } catch (const talorin::Error&) {
            // Cancelled, or settings the generator refuses (a size of 0): the
            // view keeps what it shows; the output command reports such errors.
        } catch (const std::bad_alloc&) {
            // Likewise: the preview is an extra and must not bring anything down.
        }
    }
}

void LiveTerrain::deliver(std::uint64_t serial,
                          std::shared_ptr<const talorin::ViewGeometry> geometry,
                          const QString& label) {
    if (serial != m_serial.load() || !m_view)
        return;
    m_view->setTerrain(std::move(geometry), label);
    m_delivered = serial;
    ++m_shown;
    emit terrainShown();
}
