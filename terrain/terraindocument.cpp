#include "terrain/terraindocument.h"

#include <algorithm>
#include <utility>

#include "base/error.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "shape/sufnames.h"

namespace talorin {

namespace {

const Bitmap& EmptyBitmap() {
    static const Bitmap empty;
    return empty;
}

} // namespace

std::string ProposedObjectName(const std::string& baseName) {
    // Only the proposal is mended: a name the user types is checked as typed.
    const std::string name = vesk::SufSafeName(baseName);
    return name.empty() ? kDefaultObjectName : name;
}

double PreviewScale(int boxSize, int imageSize) {
    if (imageSize == 0)
        throw FloatFault(kDivideByZeroText);
    return double(boxSize) / imageSize;
}

TerrainDocument::TerrainDocument() = default;

int TerrainDocument::addListener(Listener listener) {
    const int id = m_nextListenerId++;
    m_listeners.emplace_back(id, std::move(listener));
    return id;
}

void TerrainDocument::removeListener(int id) {
    std::erase_if(m_listeners, [id](const auto& entry) { return entry.first == id; });
}

void TerrainDocument::notify(unsigned changes) {
    ++m_version;
    for (const auto& [id, listener] : m_listeners)
        listener(changes);
}

// --- The image -------------------------------------------------------------------

void TerrainDocument::setImage(Bitmap image, const std::string& baseName) {
    if (image.empty())
        throw Error(Text(Msg::ImageEmpty));
    // Everything that can fail first, so that a failure changes nothing.
    const double scaleX = PreviewScale(kPreviewWidth, image.width());
    const double scaleY = PreviewScale(kPreviewHeight, image.height());
    const MeshLattice lattice = InitMeshLattice(image, m_paMax);

    m_image = std::make_shared<const Bitmap>(std::move(image));
    m_scaleX = scaleX;
    m_scaleY = scaleY;
    m_lattice = lattice;
    m_objectName = ProposedObjectName(baseName);
    m_attributeName = kImageAttributeName;
    // Edits of another picture cannot be taken back onto this one.
    m_undo.clear();
    m_redo.clear();
    notify(kImageChanged | kLatticeChanged | kSettingsChanged | kHistoryChanged);
}

const Bitmap& TerrainDocument::image() const {
    return m_image ? *m_image : EmptyBitmap();
}

// --- The lattice -----------------------------------------------------------------

void TerrainDocument::commitLatticeChange(const LatticeState& before, unsigned changes) {
    if (before.paMax == m_paMax && before.lattice == m_lattice)
        return;
    m_undo.push_back(before);
    if (m_undo.size() > kUndoLimit)
        m_undo.pop_front();
    m_redo.clear();
    notify(changes | kLatticeChanged | kHistoryChanged);
}

void TerrainDocument::press(const PreviewPress& press) {
    m_lastPress = press;
    if (!m_image)
        return;
    const LatticeState before{m_lattice, m_paMax};
    AdjustMeshDensity(m_lattice, m_paMax, press.x, press.y, press.button, m_scaleX, m_scaleY,
                      kPreviewWidth, kPreviewHeight);
    commitLatticeChange(before, 0);
}

void TerrainDocument::setDensity(int paMax) {
    if (paMax < kMinPaMax || paMax > kMaxPaMax)
        throw Error(Text(Msg::DensityRange, {std::to_string(kMinPaMax), std::to_string(kMaxPaMax)}));
    if (paMax == m_paMax)
        return;
    if (!m_image) {
        m_paMax = paMax;
        notify(kDensityChanged);
        return;
    }
    const LatticeState before{m_lattice, m_paMax};
    m_lattice = InitMeshLattice(*m_image, paMax);
    m_paMax = paMax;
    commitLatticeChange(before, kDensityChanged);
}

void TerrainDocument::reset() {
    if (!m_image)
        return;
    const LatticeState before{m_lattice, m_paMax};
    m_lattice = InitMeshLattice(*m_image, m_paMax);
    commitLatticeChange(before, 0);
}

void TerrainDocument::setLattice(int paMax, const MeshLattice& lattice) {
    if (!m_image)
        throw Error(Text(Msg::NoContourImage));
    if (paMax < kMinPaMax || paMax > kMaxPaMax)
        throw Error(Text(Msg::DensityRange, {std::to_string(kMinPaMax), std::to_string(kMaxPaMax)}));
    const LatticeState before{m_lattice, m_paMax};
    m_lattice = lattice;
    m_paMax = paMax;
    commitLatticeChange(before, before.paMax != paMax ? kDensityChanged : 0u);
}

void TerrainDocument::clearHistory() {
    if (m_undo.empty() && m_redo.empty())
        return;
    m_undo.clear();
    m_redo.clear();
    notify(kHistoryChanged);
}

bool TerrainDocument::undo() {
    if (m_undo.empty())
        return false;
    m_redo.push_back({m_lattice, m_paMax});
    const LatticeState state = m_undo.back();
    m_undo.pop_back();
    restore(state);
    return true;
}

bool TerrainDocument::redo() {
    if (m_redo.empty())
        return false;
    m_undo.push_back({m_lattice, m_paMax});
    const LatticeState state = m_redo.back();
    m_redo.pop_back();
    restore(state);
    return true;
}

void TerrainDocument::restore(const LatticeState& state) {
    const bool densityChanged = state.paMax != m_paMax;
    m_lattice = state.lattice;
    m_paMax = state.paMax;
    notify(kLatticeChanged | kHistoryChanged | (densityChanged ? kDensityChanged : 0u));
}

// --- Settings --------------------------------------------------------------------

void TerrainDocument::setSettings(const TerrainSettings& settings) {
    if (settings.shapeMode > 2)
        throw Error(Text(Msg::ProfileRange));
    if (settings.level < kMinLevel || settings.level > kMaxLevel)
        throw Error(Text(Msg::LevelRange, {std::to_string(kMinLevel), std::to_string(kMaxLevel)}));
    if (settings == m_settings)
        return;
    m_settings = settings;
    notify(kSettingsChanged);
}

void TerrainDocument::setDepth(int depth) {
    if (depth == m_settings.depth)
        return;
    m_settings.depth = depth;
    notify(kSettingsChanged);
}

void TerrainDocument::setQuadMode(bool quads) {
    if (quads == m_settings.quadMode)
        return;
    m_settings.quadMode = quads;
    notify(kSettingsChanged);
}

void TerrainDocument::setShapeMode(std::uint8_t mode) {
    if (mode > 2)
        throw Error(Text(Msg::ProfileRange));
    if (mode == m_settings.shapeMode)
        return;
    m_settings.shapeMode = mode;
    notify(kSettingsChanged);
}

void TerrainDocument::setLevel(int level) {
    if (level < kMinLevel || level > kMaxLevel)
        throw Error(Text(Msg::LevelRange, {std::to_string(kMinLevel), std::to_string(kMaxLevel)}));
    if (level == m_settings.level)
        return;
    m_settings.level = level;
    notify(kSettingsChanged);
}

void TerrainDocument::setWithUV(bool on) {
    if (on == m_settings.withUV)
        return;
    m_settings.withUV = on;
    notify(kSettingsChanged);
}

void TerrainDocument::setWithShade(bool on) {
    if (on == m_settings.withShade)
        return;
    m_settings.withShade = on;
    notify(kSettingsChanged);
}

void TerrainDocument::setSampling(HeightSampling sampling) {
    if (sampling == m_settings.sampling)
        return;
    m_settings.sampling = sampling;
    notify(kSettingsChanged);
}

void TerrainDocument::setAspect(TerrainAspect aspect) {
    if (aspect == m_settings.aspect)
        return;
    m_settings.aspect = aspect;
    notify(kSettingsChanged);
}

void TerrainDocument::setSolid(bool on) {
    if (on == m_solid)
        return;
    m_solid = on;
    notify(kSettingsChanged);
}

void TerrainDocument::setSolidBase(const std::string& text, double value) {
    if (!(value > 0) || !std::isfinite(value))
        throw Error(Text(Msg::BaseThickness));
    if (text == m_solidBaseText && value == m_solidBase)
        return;
    m_solidBaseText = text;
    m_solidBase = value;
    notify(kSettingsChanged);
}

void TerrainDocument::setText(std::string& field, const std::string& text) {
    if (field == text)
        return;
    field = text;
    notify(kSettingsChanged);
}

void TerrainDocument::setSizeText(const std::string& text) {
    setText(m_settings.sizeText, text);
}
void TerrainDocument::setHeightText(const std::string& text) {
    setText(m_settings.heightText, text);
}
void TerrainDocument::setObjectName(const std::string& utf8) {
    setText(m_objectName, utf8);
}
void TerrainDocument::setAttributeName(const std::string& utf8) {
    setText(m_attributeName, utf8);
}

// --- Derived values --------------------------------------------------------------

std::int32_t TerrainDocument::polygonCount() const {
    return EstimatePolygonCount(m_settings.depth, m_settings.quadMode ? 1 : 0, m_paMax);
}

Talorin_Args TerrainDocument::makeArgs() const {
    using Field = ArgsError::Field;
    // Each conversion's own message, tagged with the field it came from.
    const auto convert = [](Field field, auto&& conversion) {
        try {
            return conversion();
        } catch (const ArgsError&) {
            throw;
        } catch (const Error& e) {
            throw ArgsError(field, e.what());
        }
    };
    Talorin_Args args;
    args.Size = convert(Field::Size, [&] { return vesk::TextToFloat(m_settings.sizeText); });
    args.MaxHeight = convert(Field::Height, [&] { return vesk::TextToFloat(m_settings.heightText); });
    args.QuadMode = m_settings.quadMode;
    args.ShapeMode = m_settings.shapeMode;
    args.CurveLevel = curveLevel();
    if (!m_image)
        throw ArgsError(Field::Image, Text(Msg::NoContourImage));
    args.Bitmap = m_image;
    if (m_settings.depth < kMinDepth || m_settings.depth > kMaxDepth)
        throw ArgsError(Field::Depth,
                        Text(Msg::DepthRange, {std::to_string(kMinDepth), std::to_string(kMaxDepth)}));
    args.Depth = m_settings.depth;
    args.ObjName = convert(Field::ObjectName, [&] { return vesk::Cp932FromUtf8(m_objectName); });
    args.AtrName =
        convert(Field::AttributeName, [&] { return vesk::Cp932FromUtf8(m_attributeName); });
    // A name that the file would not give back as it is is refused like a bad number.
    if (std::string problem = vesk::SufNameProblem(args.ObjName, false); !problem.empty())
        throw ArgsError(Field::ObjectName, problem, true);
    if (std::string problem = vesk::SufNameProblem(args.AtrName, true); !problem.empty())
        throw ArgsError(Field::AttributeName, problem, true);
    args.Lattice = m_lattice;
    args.PaMax = m_paMax;
    args.WithUV = m_settings.withUV;
    args.WithShade = m_settings.withShade;
    args.Sampling = m_settings.sampling;
    args.Aspect = m_settings.aspect;
    return args;
}

} // namespace talorin
