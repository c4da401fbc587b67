#pragma once
// Keeps a 3D view showing the document's terrain while the user edits it:
// each change starts a preview run on the preview worker (generation, then the
// view's geometry); a newer change cancels a run still going, so edits never
// wait for one. The same worker counts polygons at adaptive depth for the window. A run whose
// polygon count would pass the live budget is made at the deepest depth under it and labelled so.
// After the output command the generated shape itself can be shown instead.
// With the document's solid base on, both are shown closed into the solid.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "terrain/terraindocument.h"
#include "shape/terrainmesh.h"
#include "view/viewgeometry.h"
#include "ui/backgroundwork.h"
#include "ui/terrainview.h"

class LiveTerrain : public QObject {
    Q_OBJECT
  public:
    // document must outlive this object.
    explicit LiveTerrain(talorin::TerrainDocument& document, QObject* parent = nullptr);
    // Cancels a run still going and waits for the worker to end.
    ~LiveTerrain() override;

    // The view to keep up to date, or null. While a view is attached and
    // visible, every change of the document that alters the terrain starts a
    // run.
    void attach(TerrainView* view);
    TerrainView* view() const { return m_view; }

    // Starts a run for the document as it is now, unless it shows that already.
    // Settings that do not convert (a size that is not a number) start none.
    void refresh();
    // Adaptive depth for the previews: each leaf split only while the terrain
    // departs from it by more than maxError (> 0), or uniform when 0.
    void setMaxError(double maxError);

    // Shows mesh (the shape just generated from the document as it is now),
    // labelled with its polygon count; the geometry is built on the worker.
    // A shape the view cannot hold within its budget is shown as a reduced
    // copy, generated at the deepest depth that fits (and holds at most
    // kReducedShapePolygonBudget polygons), and labelled so.
    void showShape(std::shared_ptr<const talorin::TerrainMesh> mesh);

    // The bytes the view may take for one terrain (kViewByteBudget unless a
    // test sets less); previews and shapes keep within it from the next run on.
    void setViewBudget(std::uint64_t bytes) { m_viewBudget = bytes; }

    // Counts, on the preview worker, the polygons args makes at adaptive
    // depth maxError, and calls done on the UI
    // thread with the count, or nullopt when it is too large for memory or
    // the generator refuses the settings. A newer count, or cancelCount,
    // cancels an older one: its done is never called.
    void countAdaptive(talorin::Talorin_Args args, double maxError,
                       std::function<void(std::optional<std::uint64_t>)> done);
    void cancelCount();

    // Runs asked for and pictures handed to the view so far.
    std::uint64_t requested() const { return m_serial; }
    std::uint64_t shown() const { return m_shown; }
    // Whether the view has been given the terrain of the newest request.
    bool upToDate() const { return m_delivered == m_serial; }

  signals:
    // The view has just been given the terrain of the latest request.
    void terrainShown();

  private:
    struct Job;
    struct Extras;
    void submit(std::shared_ptr<Job> job);
    static void build(LiveTerrain* self, const Job& job, WorkProgress& progress);
    void deliver(std::uint64_t serial, std::shared_ptr<const talorin::ViewGeometry> geometry,
                 const QString& label);
    // Gives job the settings of a run from args at the deepest depth whose
    // polygons fit budget; true when that is shallower than args.Depth.
    bool planRun(Job& job, talorin::Talorin_Args args, std::uint64_t budget) const;
    // The depth of the solid base the view shows below the terrain (the
    // document's, while its solid is on), or 0 for none.
    double solidBase() const;
    // Builds the wireframe, outlines and coarse stand-in of the preview on
    // the screen, once it has been drawn.
    void startExtras();

    talorin::TerrainDocument& m_document;
    int m_listener = 0;
    QPointer<TerrainView> m_view;
    // What the last started run was made from, to skip changes (names, UV)
    // that leave the terrain as it is.
    struct Key;
    std::unique_ptr<Key> m_lastKey;
    std::uint64_t m_imageVersion = 0;
    double m_maxError = 0; // 0: uniform previews
    std::uint64_t m_viewBudget = talorin::kViewByteBudget;

    std::uint64_t m_serial = 0; // the newest request; older runs stop
    std::uint64_t m_shown = 0;
    std::uint64_t m_delivered = 0;   // serial of the last terrain given to the view
    std::uint64_t m_countSerial = 0; // the newest count
    // The preview on the screen waiting to be completed, or null.
    std::shared_ptr<Extras> m_extras;
    QTimer m_extrasTimer; // completes it when no frame comes in time

    // Last: it ends first, before anything its tasks hand results to.
    BackgroundWorker m_worker;
    BackgroundWorker::Lane m_previewLane = m_worker.newLane();
    BackgroundWorker::Lane m_countLane = m_worker.newLane();
};

// The label of a preview made at a shallower depth than the one chosen.
QString PreviewLabel(int previewDepth);
// The label of the exact shape after output.
QString ShapeLabel(std::size_t polygonCount);
// The label of a reduced copy of an output shape too large for the view.
QString ReducedShapeLabel(std::size_t polygonCount);
