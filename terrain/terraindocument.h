#pragma once
// What the user is editing, in one object that the window and talorin-cli both
// drive: the contour image, the control lattice and its density, and every
// generation setting (the size, height and names as the texts typed). It
// offers the edits, undo and redo of lattice changes, the polygon-count
// estimate and the one conversion into the generation arguments. The defaults
// and ranges of every setting are defined here and nowhere else.
//
// Observing: every change bumps version() and calls the listeners with the
// kinds of change (a bit set of DocumentChange), after the document is
// consistent again. Listeners run on the thread that made the change; a
// listener must not add or remove listeners.
//
// Not thread-safe: one thread edits. A generation run on another thread gets
// its own copy of the arguments (makeArgs), which share the image with it.

#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/terrain.h"
#include "base/error.h"

namespace talorin {

// --- Ranges and defaults --------------------------------------------------------

inline constexpr int kDefaultPaMax = kMinPaMax;
// Subdivision depth: 0 is one polygon per lattice cell. The window's depth
// field starts at kDepthFieldMinimum; a field text that is not an integer
// reads as that.
inline constexpr int kMinDepth = 0;
inline constexpr int kMaxDepth = 20;
inline constexpr int kDepthFieldMinimum = 1;
inline constexpr int kDefaultDepth = 2;
// The profile level: position 1..100, exponent position / 10.
inline constexpr int kMinLevel = 1;
inline constexpr int kMaxLevel = 100;
inline constexpr int kDefaultLevel = 10;
// The kind of polygons (quads, or four triangles per leaf), the profile
// (0 rise, 1 dome, 2 hill) and what the file carries besides the points.
inline constexpr bool kDefaultQuadMode = true;
inline constexpr std::uint8_t kDefaultShapeMode = 0;
inline constexpr bool kDefaultWithUv = true;
inline constexpr bool kDefaultWithShade = false;
inline constexpr const char* kDefaultSizeText = "2000";
inline constexpr const char* kDefaultHeightText = "500";
inline constexpr const char* kDefaultObjectName = "ObjName";
inline constexpr const char* kDefaultAttributeName = "AtrName";
// How heights are read from the image and the terrain's proportions: the
// pixel each point rounds to on a square, as before these could be chosen.
inline constexpr HeightSampling kDefaultSampling = HeightSampling::Nearest;
inline constexpr TerrainAspect kDefaultAspect = TerrainAspect::Square;
// A solid base under the terrain for printing, off at the start, and its
// depth below height 0 in output units as typed.
inline constexpr bool kDefaultSolid = false;
inline constexpr const char* kDefaultSolidBaseText = "50";
inline constexpr double kDefaultSolidBase = 50.0;
// Adaptive depth, off at the start, and its allowed error in output height
// units: a finite number above 0 (MaxErrorInRange), as typed and as a value.
inline constexpr bool kDefaultAdaptive = false;
inline constexpr const char* kDefaultMaxErrorText = "1";
inline constexpr double kDefaultMaxError = 1.0;
// Whether maxError can be an allowed error: finite and above 0.
inline bool MaxErrorInRange(double maxError) {
    return maxError > 0 && std::isfinite(maxError);
}
// The settings of a run that the document, a project file and the command
// line all hold, with their defaults: depth, polygons, profile and its level,
// UV and normals, sampling, proportions, and the size and height as typed.
struct TerrainSettings {
    int depth = kDefaultDepth;
    bool quadMode = kDefaultQuadMode;
    std::uint8_t shapeMode = kDefaultShapeMode;
    int level = kDefaultLevel;
    bool withUV = kDefaultWithUv;
    bool withShade = kDefaultWithShade;
    HeightSampling sampling = kDefaultSampling;
    TerrainAspect aspect = kDefaultAspect;
    std::string sizeText = kDefaultSizeText;
    std::string heightText = kDefaultHeightText;
    friend bool operator==(const TerrainSettings&, const TerrainSettings&) = default;
};
// The attribute name proposed whenever an image is opened.
inline constexpr const char* kImageAttributeName = "BodyM";
// The object name proposed for an image whose file name (no folder, no
// extension) is baseName: SufSafeName(baseName), so that any format can hold
// it ("my mountain" becomes "my_mountain"), or kDefaultObjectName when that
// is empty (".bmp").
std::string ProposedObjectName(const std::string& baseName);
// Lattice changes kept for undo; older ones are forgotten.
inline constexpr std::size_t kUndoLimit = 1000;

// The image-to-preview factor on one axis: preview pixels per image pixel.
// Throws FloatFault (division by zero) for an image size of 0.
double PreviewScale(int boxSize, int imageSize);

// A setting that makeArgs could not convert, with the field it came from so
// that a front end can say where the value was typed. what() is the message;
// namesField() tells whether it already says which field it is about.
class ArgsError : public Error {
  public:
    enum class Field { Image, Size, Height, Depth, ObjectName, AttributeName };
    ArgsError(Field field, const std::string& text, bool namesField = false)
        : Error(text), m_field(field), m_namesField(namesField) {}
    Field field() const { return m_field; }
    bool namesField() const { return m_namesField; }

  private:
    Field m_field;
    bool m_namesField;
};

// One mouse press on the preview, in preview pixels.
struct PreviewPress {
    int x = 0;
    int y = 0;
    std::uint8_t button = kLeftButton; // kLeftButton, kRightButton or kMiddleButton
    friend bool operator==(const PreviewPress&, const PreviewPress&) = default;
};

// Kinds of change, or-ed together in a notification.
enum DocumentChange : unsigned {
    kImageChanged = 1u << 0,   // a new image (and with it a new uniform lattice)
    kLatticeChanged = 1u << 1, // lattice points moved or rebuilt
    kDensityChanged =
        1u << 2, // density() changed (always with kLatticeChanged once an image is in)
    kSettingsChanged = 1u << 3, // depth, kind, profile, level, UV, normals, sampling,
                                // proportions or a text
    kHistoryChanged = 1u << 4,  // canUndo() or canRedo() may have changed
};

class TerrainDocument {
  public:
    using Listener = std::function<void(unsigned changes)>;

    TerrainDocument();

    // --- Observing ---------------------------------------------------------------
    // Returns an id for removeListener. listener is called after every change.
    int addListener(Listener listener);
    void removeListener(int id);
    // Grows by one with every notification; a view can compare it with the
    // value it last drew.
    std::uint64_t version() const { return m_version; }

    // --- The image ------------------------------------------------------------------
    // Takes image as the contour image: builds the uniform lattice at the
    // current density, sets the object name to ProposedObjectName(baseName)
    // (baseName UTF-8, the image's file name without folder and extension) and the
    // attribute name to kImageAttributeName, and forgets the undo history.
    // Throws talorin::Error (and changes nothing) for an empty image.
    void setImage(Bitmap image, const std::string& baseName);
    bool hasImage() const { return m_image != nullptr; }
    // The image; an empty bitmap before the first setImage.
    const Bitmap& image() const;
    // The same image, to keep alive while another thread reads it.
    std::shared_ptr<const Bitmap> sharedImage() const { return m_image; }
    // Preview pixels per image pixel for the kPreviewWidth x kPreviewHeight
    // preview; 0 before the first image.
    double previewScaleX() const { return m_scaleX; }
    double previewScaleY() const { return m_scaleY; }

    // --- The lattice: every change is one undo step ----------------------------------
    // Meaningless (all zero) before the first image.
    const MeshLattice& lattice() const { return m_lattice; }
    int density() const { return m_paMax; }
    // A press on the preview pulls (left) or pushes (right) the interior points;
    // the middle button changes nothing. Remembered as lastPress() also
    // without an image, when it does nothing else.
    void press(const PreviewPress& press);
    const PreviewPress& lastPress() const { return m_lastPress; }
    // Sets the density (kMinPaMax..kMaxPaMax; talorin::Error otherwise,
    // nothing changed) and rebuilds a uniform lattice. The same density again
    // changes nothing.
    void setDensity(int paMax);
    // The uniform lattice at the current density again.
    void reset();
    // Makes lattice (points in image pixels, exactly as given) and paMax the
    // lattice and density, as one undo step; a project file restores its
    // lattice with this. Throws talorin::Error (nothing changed) before the
    // first image or for paMax outside kMinPaMax..kMaxPaMax.
    void setLattice(int paMax, const MeshLattice& lattice);

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // Restores the lattice and density before the last change, exactly; false
    // when there is nothing to undo.
    bool undo();
    // Applies the change undone last again; false when there is none. Any new
    // lattice change forgets what could be redone.
    bool redo();
    // Forgets what could be undone and redone, as opening an image does.
    void clearHistory();

    // --- Settings ------------------------------------------------------------------
    // All of them at once: checked as the setters below check them (nothing
    // changes when one is refused), then one notification.
    void setSettings(const TerrainSettings& settings);
    const TerrainSettings& settings() const { return m_settings; }
    // The depth as the user gave it, not clamped (the count shows it as typed).
    void setDepth(int depth);
    int depth() const { return m_settings.depth; }
    void setQuadMode(bool quads);
    bool quadMode() const { return m_settings.quadMode; }
    // 0 rise, 1 dome, 2 hill; talorin::Error for anything else.
    void setShapeMode(std::uint8_t mode);
    std::uint8_t shapeMode() const { return m_settings.shapeMode; }
    // kMinLevel..kMaxLevel; talorin::Error otherwise.
    void setLevel(int level);
    int level() const { return m_settings.level; }
    // The profile exponent: level / 10 (10 gives exactly 1.0).
    double curveLevel() const { return m_settings.level / 10.0; }
    void setWithUV(bool on);
    bool withUV() const { return m_settings.withUV; }
    void setWithShade(bool on);
    bool withShade() const { return m_settings.withShade; }
    void setSampling(HeightSampling sampling);
    HeightSampling sampling() const { return m_settings.sampling; }
    void setAspect(TerrainAspect aspect);
    TerrainAspect aspect() const { return m_settings.aspect; }
    // A solid base for the formats that can hold one (not .suf): the terrain
    // closed by walls down to a flat bottom at -solidBase().
    void setSolid(bool on);
    bool solid() const { return m_solid; }
    // The base's depth as typed and its value, a finite number above 0
    // (talorin::Error otherwise, nothing changed).
    void setSolidBase(const std::string& text, double value);
    const std::string& solidBaseText() const { return m_solidBaseText; }
    double solidBase() const { return m_solidBase; }
    // Texts as typed (UTF-8); checked only by makeArgs.
    void setSizeText(const std::string& text);
    const std::string& sizeText() const { return m_settings.sizeText; }
    void setHeightText(const std::string& text);
    const std::string& heightText() const { return m_settings.heightText; }
    void setObjectName(const std::string& utf8);
    const std::string& objectName() const { return m_objectName; }
    void setAttributeName(const std::string& utf8);
    const std::string& attributeName() const { return m_attributeName; }

    // --- Derived values ----------------------------------------------------------------
    // The polygons a run with depth(), quadMode() and density() makes. Throws
    // FloatFault (invalid operation) when the count exceeds 2147483647.
    std::int32_t polygonCount() const;

    // The generation arguments for the settings and the lattice as they are
    // now. The size text is converted first, then the height text ("'%s' は浮動
    // 小数点数ではありません"), then the object and the attribute names into
    // CP932; the first failure throws ArgsError with its message. Also throws
    // ArgsError before the first image and for a depth outside
    // kMinDepth..kMaxDepth. The result shares image() and holds its own copy
    // of the lattice.
    Talorin_Args makeArgs() const;

  private:
    struct LatticeState {
        MeshLattice lattice;
        int paMax;
    };
    // Records before for undo unless the lattice and density are unchanged,
    // then notifies.
    void commitLatticeChange(const LatticeState& before, unsigned changes);
    // Makes state the lattice and density (undo, redo) and tells the listeners.
    void restore(const LatticeState& state);
    void notify(unsigned changes);
    void setText(std::string& field, const std::string& text);

    std::shared_ptr<const Bitmap> m_image;
    double m_scaleX = 0;
    double m_scaleY = 0;
    MeshLattice m_lattice{};
    int m_paMax = kDefaultPaMax;
    PreviewPress m_lastPress;
    std::deque<LatticeState> m_undo;
    std::vector<LatticeState> m_redo;

    TerrainSettings m_settings;
    bool m_solid = kDefaultSolid;
    std::string m_solidBaseText = kDefaultSolidBaseText;
    double m_solidBase = kDefaultSolidBase;
    std::string m_objectName = kDefaultObjectName;
    std::string m_attributeName = kDefaultAttributeName;

    std::uint64_t m_version = 0;
    int m_nextListenerId = 1;
    std::vector<std::pair<int, Listener>> m_listeners;
};

} // namespace talorin
