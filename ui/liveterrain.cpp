#include "ui/liveterrain.h"

#include <QImage>
#include <QMetaObject>
#include <algorithm>
#include <new>
#include <utility>

#include "terrain/adaptive.h"
#include "terrain/solid.h"
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
    return QCoreApplication::translate("Talorin", "プレビュー: 再帰回数 %1").arg(previewDepth);
}

QString ShapeLabel(std::size_t polygonCount) {
    return QCoreApplication::translate("Talorin", "出力した形状: ポリゴン数 %1").arg(qulonglong(polygonCount));
}

QString ReducedShapeLabel(std::size_t polygonCount) {
    return QCoreApplication::translate("Talorin", "出力した形状（縮小表示）: ポリゴン数 %1").arg(qulonglong(polygonCount));
}

// One piece of work for the worker: generate from args, or take mesh as it is.
struct LiveTerrain::Job {
    std::uint64_t serial = 0;
    std::optional<talorin::Talorin_Args> args;
    std::shared_ptr<const talorin::TerrainMesh> mesh;
    double maxError = 0; // > 0: adaptive depth
    double solidBase = 0; // > 0: shown closed into a solid down to -solidBase
    std::size_t polygonsPerCell = 0;
    QString label;
};

// A preview on the screen whose extras are still to be built.
struct LiveTerrain::Extras {
    std::uint64_t serial = 0;
    std::shared_ptr<const talorin::TerrainMesh> mesh;
    std::shared_ptr<const talorin::ViewGeometry> surface;
    std::size_t polygonsPerCell = 0;
};

// How long extras wait for the preview's first frame.
constexpr int kExtrasWaitMs = 1000;

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
    talorin::HeightSampling sampling = talorin::HeightSampling::Nearest;
    talorin::TerrainAspect aspect = talorin::TerrainAspect::Square;
    double solidBase = 0;
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
    m_extrasTimer.setSingleShot(true);
    connect(&m_extrasTimer, &QTimer::timeout, this, &LiveTerrain::startExtras);
}

LiveTerrain::~LiveTerrain() {
    m_document.removeListener(m_listener);
    // m_worker, destroyed first, cancels the run going and waits for it.
}

void LiveTerrain::attach(TerrainView* view) {
    if (m_view)
        disconnect(m_view, nullptr, this, nullptr);
    m_view = view;
    m_lastKey.reset();
    if (m_view)
        connect(m_view, &QOpenGLWidget::frameSwapped, this, &LiveTerrain::startExtras);
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
    const std::uint64_t budget =
        std::min(talorin::kPreviewPolygonBudget, talorin::ViewPolygonBudget(m_viewBudget));
    const int depth = talorin::PreviewDepth(args.Depth, args.QuadMode, args.PaMax, budget);
    const Key key{args.Bitmap.get(), args.Lattice,   args.PaMax,      depth,
                  args.QuadMode,  args.ShapeMode, args.CurveLevel, args.Size,
                  args.MaxHeight, m_maxError,     false,           depth < args.Depth,
                  args.Sampling,  args.Aspect,    solidBase()};
    if (m_lastKey && *m_lastKey == key)
        return;
    m_lastKey = std::make_unique<Key>(key);

    auto job = std::make_shared<Job>();
    if (planRun(*job, std::move(args), budget))
        job->label = PreviewLabel(job->args->Depth);
    submit(std::move(job));
}

bool LiveTerrain::planRun(Job& job, talorin::Talorin_Args args, std::uint64_t budget) const {
    const int depth = talorin::PreviewDepth(args.Depth, args.QuadMode, args.PaMax, budget);
    const bool reduced = depth < args.Depth;
    args.Depth = depth;
    job.polygonsPerCell = std::size_t(1) << (2 * depth);
    if (!args.QuadMode)
        job.polygonsPerCell *= 4;
    job.args = std::move(args);
    job.maxError = m_maxError;
    job.solidBase = solidBase();
    // Cells that differ, or walls after them: no outlines from counts.
    if (m_maxError > 0 || job.solidBase > 0)
        job.polygonsPerCell = 0;
    return reduced;
}

double LiveTerrain::solidBase() const {
    return m_document.solid() ? m_document.solidBase() : 0;
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
    if (talorin::ViewBytes(*mesh) > m_viewBudget) {
        // Made again, smaller, from the settings it came from: the document
        // has not changed since (the window shows the shape only then).
        try {
            planRun(*job, m_document.makeArgs(),
                    std::min(talorin::ViewPolygonBudget(m_viewBudget),
                             talorin::kReducedShapePolygonBudget));
        } catch (const talorin::Error&) {
            return;
        }
        job->label = ReducedShapeLabel(mesh->polygonCount());
        submit(std::move(job));
        return;
    }
    const std::size_t cells = std::size_t(m_document.density()) * m_document.density();
    job->solidBase = solidBase();
    job->polygonsPerCell = cells > 0 && mesh->polygonCount() % cells == 0 && job->solidBase == 0
                               ? mesh->polygonCount() / cells
                               : 0;
    job->label = ShapeLabel(mesh->polygonCount());
    job->mesh = std::move(mesh);
    submit(std::move(job));
}

void LiveTerrain::submit(std::shared_ptr<Job> job) {
    job->serial = ++m_serial;
    m_extras.reset();
    m_extrasTimer.stop();
    // An older run still queued is dropped, one running is cancelled.
    m_worker.post([this, job](WorkProgress& progress) { build(this, *job, progress); },
                  m_previewLane);
}

void LiveTerrain::build(LiveTerrain* self, const Job& job, WorkProgress& progress) {
    const std::uint64_t serial = job.serial;
    auto current = [&progress] { return !progress.cancelled(); };
    try {
        std::shared_ptr<const talorin::TerrainMesh> mesh = job.mesh;
        if (!mesh) {
            const auto stillWanted = [&current](std::uint64_t, std::uint64_t) { return current(); };
            mesh = std::make_shared<const talorin::TerrainMesh>(
                job.maxError > 0
                    ? talorin::GenerateAdaptiveMesh(*job.args, job.maxError, stillWanted)
                    : talorin::GenerateTerrainMesh(*job.args, stillWanted));
        }
        if (!current())
            return;
        if (job.solidBase > 0) {
            try {
                mesh = std::make_shared<const talorin::TerrainMesh>(
                    talorin::MakeSolid(*mesh, job.solidBase));
            } catch (const talorin::Error&) {
                // Ground below the base, which the save refuses too: the
                // view shows the terrain without walls.
            }
        }
        auto surface = std::make_shared<talorin::ViewGeometry>(talorin::BuildViewSurface(*mesh));
        if (!current())
            return;
        // A preview shows its surface first and gets its wireframe, outlines
        // and coarse stand-in once the surface is on the screen (startExtras),
        // so that they do not compete with its upload and drawing for the
        // cores; an output shape, far larger, comes whole.
        if (!job.mesh) {
            auto extras =
                std::make_shared<Extras>(Extras{serial, mesh, surface, job.polygonsPerCell});
            QMetaObject::invokeMethod(
                self,
                [self, extras, label = job.label] {
                    self->deliver(extras->serial, extras->surface, label);
                    if (self->m_delivered == extras->serial) {
                        self->m_extras = extras;
                        self->m_extrasTimer.start(kExtrasWaitMs);
                    }
                },
                Qt::QueuedConnection);
            return;
        }
        if (!talorin::AddViewExtras(*mesh, job.polygonsPerCell, *surface, current) || !current())
            return;
        std::shared_ptr<const talorin::ViewGeometry> full = std::move(surface);
        QMetaObject::invokeMethod(
            self, [self, serial, full, label = job.label] { self->deliver(serial, full, label); },
            Qt::QueuedConnection);
    } catch (const talorin::Error&) {
        // Cancelled, or settings the generator refuses (a size of 0): the
        // view keeps what it shows; the output command reports such errors.
    } catch (const std::bad_alloc&) {
        // The view is an extra and must not bring anything down: it says so.
        QMetaObject::invokeMethod(
            self, [self, serial] { self->deliver(serial, nullptr, ViewOutOfMemoryText()); },
            Qt::QueuedConnection);
    }
}

void LiveTerrain::startExtras() {
    if (!m_extras)
        return;
    m_extrasTimer.stop();
    std::shared_ptr<Extras> extras = std::move(m_extras);
    m_worker.post(
        [this, extras](WorkProgress& progress) {
            // In a copy: the view keeps drawing the surface it was given.
            auto full = std::make_shared<talorin::ViewGeometry>(*extras->surface);
            const auto current = [&progress] { return !progress.cancelled(); };
            try {
                // A newer terrain stops the extras at once: they are of no
                // use to it, and it needs the cores.
                if (!talorin::AddViewExtras(*extras->mesh, extras->polygonsPerCell, *full,
                                            current) ||
                    !current())
                    return;
            } catch (const std::bad_alloc&) {
                return;
            }
            std::shared_ptr<const talorin::ViewGeometry> done = std::move(full);
            const std::uint64_t serial = extras->serial;
            QMetaObject::invokeMethod(
                this,
                [this, serial, done] {
                    if (serial == m_serial && m_view)
                        m_view->completeTerrain(done);
                },
                Qt::QueuedConnection);
        },
        m_previewLane);
}

void LiveTerrain::countAdaptive(talorin::Talorin_Args args, double maxError,
                                std::function<void(std::optional<std::uint64_t>)> done) {
    const std::uint64_t serial = ++m_countSerial;
    m_worker.post(
        [this, args, maxError, done = std::move(done), serial](WorkProgress& progress) {
            std::optional<std::uint64_t> count;
            try {
                count = talorin::AdaptivePolygonCount(
                    args, maxError,
                    [&progress](std::uint64_t, std::uint64_t) { return !progress.cancelled(); });
            } catch (const talorin::Error& e) {
                if (e.kind() == talorin::ErrorKind::Cancelled)
                    return;
            } catch (const std::bad_alloc&) {
            }
            // Handed over only while this is the newest count.
            QMetaObject::invokeMethod(
                this,
                [this, done, count, serial] {
                    if (serial == m_countSerial)
                        done(count);
                },
                Qt::QueuedConnection);
        },
        m_countLane);
}

void LiveTerrain::cancelCount() {
    ++m_countSerial;
    m_worker.cancel(m_countLane);
}

void LiveTerrain::deliver(std::uint64_t serial,
                          std::shared_ptr<const talorin::ViewGeometry> geometry,
                          const QString& label) {
    if (serial != m_serial || !m_view)
        return;
    m_view->setTerrain(std::move(geometry), label);
    m_delivered = serial;
    ++m_shown;
    emit terrainShown();
}
