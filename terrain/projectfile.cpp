#include "terrain/projectfile.h"

#include <nettle/sha2.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/error.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "image/filebytes.h"
#include "image/imagefile.h"
#include "base/atomicsave.h"

namespace talorin {

namespace {

using Json = nlohmann::json;
// Written in the order a reader expects: format and version first.
using OrderedJson = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The deepest nesting a project has (root, lattice, points, column, point),
// with room; deeper input is refused while it is parsed.
constexpr int kMaxNesting = 8;

const char* const kProfileNames[] = {"rise", "dome", "hill"};

std::string HexOf(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

// The reasons of a refused file, each naming the key it is about.
[[noreturn]] void Refuse(const std::string& reason) {
    throw Error(reason);
}

const Json& Member(const Json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end())
        Refuse(talorin::Text(Msg::ProjectKeyMissing, {where + key}));
    return *it;
}

const Json& Object(const Json& object, const char* key) {
    const Json& value = Member(object, key, "");
    if (!value.is_object())
        Refuse(talorin::Text(Msg::ProjectBadType, {std::string(key)}));
    return value;
}

std::string Text(const Json& object, const char* key, const std::string& where) {
    const Json& value = Member(object, key, where);
    if (!value.is_string())
        Refuse(talorin::Text(Msg::ProjectBadType, {where + key}));
    const auto& text = value.get_ref<const std::string&>();
    if (text.size() > kMaxProjectText)
        Refuse(talorin::Text(Msg::ProjectStringTooLong, {where + key}));
    return text;
}

bool Flag(const Json& object, const char* key, const std::string& where) {
    const Json& value = Member(object, key, where);
    if (!value.is_boolean())
        Refuse(talorin::Text(Msg::ProjectBadType, {where + key}));
    return value.get<bool>();
}

int Integer(const Json& object, const char* key, const std::string& where, int lo, int hi) {
    const Json& value = Member(object, key, where);
    if (!value.is_number_integer())
        Refuse(talorin::Text(Msg::ProjectBadType, {where + key}));
    // Compared as 64-bit values: a huge number must not wrap into the range.
    const bool inRange = value.is_number_unsigned()
                             ? value.get<std::uint64_t>() <= std::uint64_t(std::max(hi, 0)) &&
                                   std::int64_t(value.get<std::uint64_t>()) >= lo
                             : value.get<std::int64_t>() >= lo && value.get<std::int64_t>() <= hi;
    if (!inRange)
        Refuse(talorin::Text(Msg::ProjectOutOfRange, {where + key}));
    return int(value.get<std::int64_t>());
}

double Number(const Json& value, const std::string& what) {
    if (!value.is_number())
        Refuse(talorin::Text(Msg::ProjectBadType, {what}));
    const double v = value.get<double>();
    if (!std::isfinite(v))
        Refuse(talorin::Text(Msg::ProjectNotFinite, {what}));
    return v;
}

// The point at [i][j] in image pixels; within the image widened by its own
// size on every side (a pull near the edge may overshoot it a little).
MeshPoint Point(const Json& value, int i, int j, int width, int height) {
    const std::string what = "lattice.points[" + std::to_string(i) + "][" + std::to_string(j) + "]";
    if (!value.is_array() || value.size() != 2)
        Refuse(talorin::Text(Msg::ProjectNotPair, {what}));
    const MeshPoint p{Number(value[0], what), Number(value[1], what)};
    if (p.X < -double(width) || p.X > 2.0 * width || p.Y < -double(height) || p.Y > 2.0 * height)
        Refuse(talorin::Text(Msg::ProjectOutOfRange, {what}));
    return p;
}

constexpr const char* kSamplingNames[] = {"nearest", "bilinear"};
constexpr const char* kAspectNames[] = {"square", "image"};

// The index of the text at key among names.
template <std::size_t N>
int Choice(const Json& object, const char* key, const std::string& where,
           const char* const (&names)[N]) {
    const std::string text = Text(object, key, where);
    for (std::size_t i = 0; i < N; ++i)
        if (text == names[i])
            return int(i);
    std::string list;
    for (std::size_t i = 0; i < N; ++i)
        list.append(i ? ", " : "").append(names[i]);
    Refuse(talorin::Text(Msg::ProjectOneOf, {where + key, list}));
}

bool IsSha256(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string ParentFolder(const std::string& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(file), ec);
    if (ec)
        absolute = fs::path(file);
    return absolute.lexically_normal().parent_path().string();
}

// Not a regular file (a folder, a device, a pipe): refused with its kind.
void RequireRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return; // a missing file is its reader's to report
    if (S_ISREG(st.st_mode))
        return;
    const Msg kind = S_ISDIR(st.st_mode)                            ? Msg::ImageIsFolder
                     : S_ISFIFO(st.st_mode)                         ? Msg::ImageIsPipe
                     : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? Msg::ImageIsDevice
                                                                    : Msg::ImageNotRegular;
    throw Error(ErrorKind::Io, talorin::Text(kind, {path}));
}

} // namespace

std::string FileSha256(const std::string& path) {
    RequireRegularFile(path);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error(ErrorKind::Io, talorin::Text(Msg::CannotReadFile, {path, kCannotOpenText}));
    sha256_ctx context;
    sha256_init(&context);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const auto got = in.gcount();
        if (got > 0)
            sha256_update(&context, std::size_t(got), reinterpret_cast<const std::uint8_t*>(buffer.data()));
    }
    if (in.bad())
        throw Error(ErrorKind::Io, talorin::Text(Msg::CannotReadFile, {path, kReadFailedText}));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    return HexOf(digest, sizeof digest);
}

ProjectState CaptureProject(const TerrainDocument& document, const std::string& imageFile,
                       const std::string& projectFile, bool adaptive,
                       const std::string& maxErrorText, double maxError) {
    if (!document.hasImage())
        throw Error(talorin::Text(Msg::NoContourImage));
    ProjectState p;
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(imageFile), ec);
    if (ec)
        absolute = fs::path(imageFile);
    absolute = absolute.lexically_normal();
    p.imageAbsolutePath = absolute.string();
    const fs::path relative = absolute.lexically_relative(fs::path(ParentFolder(projectFile)));
    p.imagePath = relative.empty() ? p.imageAbsolutePath : relative.generic_string();
    p.imageWidth = document.image().width();
    p.imageHeight = document.image().height();
    p.imageSha256 = FileSha256(imageFile);
    p.density = document.density();
    p.lattice = document.lattice();
    p.settings = document.settings();
    p.objectName = document.objectName();
    p.attributeName = document.attributeName();
    p.solid = document.solid();
    p.solidBaseText = document.solidBaseText();
    p.solidBase = document.solidBase();
    p.adaptive = adaptive;
    p.maxErrorText = maxErrorText;
    p.maxError = maxError;
    return p;
}

std::string ProjectText(const ProjectState& p) {
    // Each lattice column on one line; nlohmann writes doubles in the
    // shortest form that reads back exactly.
    constexpr const char* kPointsMark = "@points@";
    OrderedJson root = OrderedJson::object();
    root["format"] = kProjectFormatName;
    root["version"] = kProjectFormatVersion;
    root["image"] = {{"path", p.imagePath},       {"absolutePath", p.imageAbsolutePath},
                     {"width", p.imageWidth},     {"height", p.imageHeight},
                     {"sha256", p.imageSha256}};
    root["lattice"] = {{"density", p.density}, {"points", kPointsMark}};
    root["settings"] = {{"polygons", p.settings.quadMode ? "quads" : "triangles"},
                        {"uv", p.settings.withUV},
                        {"normals", p.settings.withShade},
                        {"depth", p.settings.depth},
                        {"profile", kProfileNames[p.settings.shapeMode]},
                        {"level", p.settings.level},
                        {"size", p.settings.sizeText},
                        {"height", p.settings.heightText},
                        {"objectName", p.objectName},
                        {"attributeName", p.attributeName},
                        {"sampling", kSamplingNames[int(p.settings.sampling)]},
                        {"aspect", kAspectNames[int(p.settings.aspect)]}};
    root["output"] = {{"adaptive", p.adaptive},     {"maxErrorText", p.maxErrorText},
                      {"maxError", p.maxError},     {"solid", p.solid},
                      {"solidBaseText", p.solidBaseText}, {"solidBase", p.solidBase}};
    std::string text;
    try {
        text = root.dump(2);
    } catch (const OrderedJson::type_error&) {
        throw Error(talorin::Text(Msg::ProjectNotUtf8));
    }
    std::string points = "[\n";
    for (int i = 0; i <= p.density; ++i) {
        OrderedJson column = OrderedJson::array();
        for (int j = 0; j <= p.density; ++j)
            column.push_back(OrderedJson::array({p.lattice[i][j].X, p.lattice[i][j].Y}));
        points += "      " + column.dump() + (i < p.density ? ",\n" : "\n");
    }
    points += "    ]";
    const std::string mark = std::string("\"") + kPointsMark + "\"";
    text.replace(text.find(mark), mark.size(), points);
    return text + '\n';
}

ProjectState ParseProject(std::string_view text) {
    if (text.size() > kMaxProjectFileBytes)
        Refuse(talorin::Text(Msg::ErrFileTooLarge));
    Json root;
    try {
        // Nesting is refused as it grows, before it can take memory or stack.
        root = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
            if (depth > kMaxNesting)
                throw Error(talorin::Text(Msg::NestedTooDeep));
            return true;
        });
    } catch (const Json::parse_error& e) {
        Refuse(talorin::Text(Msg::NotJson, {std::to_string(e.byte)}));
    } catch (const Json::exception&) {
        // A number beyond the range of double (1e999).
        Refuse(talorin::Text(Msg::JsonNumberTooLarge));
    }
    if (!root.is_object())
        Refuse(talorin::Text(Msg::NotProject));
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() ||
        format->get_ref<const std::string&>() != kProjectFormatName)
        Refuse(talorin::Text(Msg::NotProject));
    const Json& versionValue = Member(root, "version", "");
    if (!versionValue.is_number_unsigned() || versionValue.get<std::uint64_t>() < 1)
        Refuse(talorin::Text(Msg::BadVersion));
    if (versionValue.get<std::uint64_t>() > std::uint64_t(kProjectFormatVersion))
        Refuse(talorin::Text(Msg::NewerVersion,
                             {versionValue.dump(), std::to_string(kProjectFormatVersion)}));

    ProjectState p;
    const Json& image = Object(root, "image");
    p.imagePath = Text(image, "path", "image.");
    p.imageAbsolutePath = Text(image, "absolutePath", "image.");
    if (p.imagePath.empty() && p.imageAbsolutePath.empty())
        Refuse(talorin::Text(Msg::EmptyImagePath));
    p.imageWidth = Integer(image, "width", "image.", 1, std::numeric_limits<int>::max());
    p.imageHeight = Integer(image, "height", "image.", 1, std::numeric_limits<int>::max());
    p.imageSha256 = Text(image, "sha256", "image.");
    if (!IsSha256(p.imageSha256))
        Refuse(talorin::Text(Msg::BadSha256));

    const Json& lattice = Object(root, "lattice");
    p.density = Integer(lattice, "density", "lattice.", kMinPaMax, kMaxPaMax);
    const Json& points = Member(lattice, "points", "lattice.");
    if (!points.is_array() || points.size() != std::size_t(p.density) + 1)
        Refuse(talorin::Text(Msg::ColumnsDensity, {std::to_string(p.density)}));
    for (int i = 0; i <= p.density; ++i) {
        const Json& column = points[std::size_t(i)];
        if (!column.is_array() || column.size() != std::size_t(p.density) + 1)
            Refuse(talorin::Text(Msg::PointsDensity,
                                 {std::to_string(i), std::to_string(p.density)}));
        for (int j = 0; j <= p.density; ++j)
            p.lattice[i][j] = Point(column[std::size_t(j)], i, j, p.imageWidth, p.imageHeight);
    }

    const Json& settings = Object(root, "settings");
    const std::string polygons = Text(settings, "polygons", "settings.");
    if (polygons != "quads" && polygons != "triangles")
        Refuse(talorin::Text(Msg::BadPolygons));
    p.settings.quadMode = polygons == "quads";
    p.settings.withUV = Flag(settings, "uv", "settings.");
    p.settings.withShade = Flag(settings, "normals", "settings.");
    p.settings.depth = Integer(settings, "depth", "settings.", kMinDepth, kMaxDepth);
    const std::string profile = Text(settings, "profile", "settings.");
    const auto known = std::find(std::begin(kProfileNames), std::end(kProfileNames), profile);
    if (known == std::end(kProfileNames))
        Refuse(talorin::Text(Msg::BadProfile));
    p.settings.shapeMode = std::uint8_t(known - std::begin(kProfileNames));
    p.settings.level = Integer(settings, "level", "settings.", kMinLevel, kMaxLevel);
    p.settings.sizeText = Text(settings, "size", "settings.");
    p.settings.heightText = Text(settings, "height", "settings.");
    p.objectName = Text(settings, "objectName", "settings.");
    p.attributeName = Text(settings, "attributeName", "settings.");

    const Json& output = Object(root, "output");
    p.adaptive = Flag(output, "adaptive", "output.");
    p.maxErrorText = Text(output, "maxErrorText", "output.");
    p.maxError = Number(Member(output, "maxError", "output."), "output.maxError");
    if (!MaxErrorInRange(p.maxError))
        Refuse(talorin::Text(Msg::ProjectOutOfRange, {"output.maxError"}));

    // Added after the first files were written: absent means the default.
    if (settings.contains("sampling"))
        p.settings.sampling = HeightSampling(Choice(settings, "sampling", "settings.", kSamplingNames));
    if (settings.contains("aspect"))
        p.settings.aspect = TerrainAspect(Choice(settings, "aspect", "settings.", kAspectNames));
    if (output.contains("solid"))
        p.solid = Flag(output, "solid", "output.");
    if (output.contains("solidBaseText"))
        p.solidBaseText = Text(output, "solidBaseText", "output.");
    if (output.contains("solidBase")) {
        p.solidBase = Number(Member(output, "solidBase", "output."), "output.solidBase");
        if (!(p.solidBase > 0))
            Refuse(talorin::Text(Msg::ProjectOutOfRange, {"output.solidBase"}));
    }
    return p;
}

ProjectState ReadProjectFile(const std::string& path) {
    const auto refuse = [&path](ErrorKind kind, const std::string& reason) {
        return Error(kind, talorin::Text(Msg::ProjectCannotRead, {path, reason}));
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw refuse(ErrorKind::Io, vesk::SystemErrorText(errno));
    if (!S_ISREG(st.st_mode))
        throw refuse(ErrorKind::Io, talorin::Text(Msg::NotRegularFile));
    if (std::uint64_t(st.st_size) > kMaxProjectFileBytes)
        throw refuse(ErrorKind::BadInput, talorin::Text(Msg::ErrFileTooLarge));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw refuse(ErrorKind::Io, kCannotOpenText);
    // Read up to one byte past the cap: a file that grew meanwhile is still refused.
    std::string text(std::size_t(kMaxProjectFileBytes) + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    if (in.bad())
        throw refuse(ErrorKind::Io, kReadFailedText);
    text.resize(std::size_t(in.gcount()));
    try {
        return ParseProject(text);
    } catch (const Error& e) {
        throw refuse(e.kind(), e.what());
    }
}

void SaveProjectFile(const std::string& path, const ProjectState& project) {
    const std::string text = ProjectText(project);
    vesk::SaveAtomically(path,
                         [&text](const vesk::ByteSink& sink) { sink(text.data(), text.size()); });
}

bool LooksLikeProjectFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::ifstream in(path, std::ios::binary);
    char head[64] = {};
    in.read(head, sizeof head);
    std::string_view bytes(head, std::size_t(in.gcount()));
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    const auto first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && bytes[first] == '{';
}

std::string LocateProjectImage(const ProjectState& project, const std::string& projectFile) {
    std::vector<std::string> candidates;
    if (!project.imagePath.empty()) {
        const fs::path relative(project.imagePath);
        candidates.push_back(relative.is_absolute()
                                 ? relative.string()
                                 : (fs::path(ParentFolder(projectFile)) / relative).string());
    }
    if (!project.imageAbsolutePath.empty())
        candidates.push_back(project.imageAbsolutePath);
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            continue;
        RequireRegularFile(candidate);
        return candidate;
    }
    return {};
}

Bitmap LoadProjectImage(const ProjectState& project, const std::string& imageFile, bool& hashMatches) {
    RequireRegularFile(imageFile);
    Bitmap image = LoadImageFile(imageFile);
    if (image.width() != project.imageWidth || image.height() != project.imageHeight)
        throw Error(talorin::Text(Msg::ImageSizeDiffers,
                                  {imageFile, std::to_string(image.width()),
                                   std::to_string(image.height()), std::to_string(project.imageWidth),
                                   std::to_string(project.imageHeight)}));
    hashMatches = FileSha256(imageFile) == project.imageSha256;
    return image;
}

void ApplyProject(TerrainDocument& document, const ProjectState& p, Bitmap image,
                  const std::string& imageBaseName) {
    document.setImage(std::move(image), imageBaseName);
    document.setLattice(p.density, p.lattice);
    document.setSettings(p.settings);
    document.setObjectName(p.objectName);
    document.setAttributeName(p.attributeName);
    document.setSolid(p.solid);
    document.setSolidBase(p.solidBaseText, p.solidBase);
    document.clearHistory();
}

} // namespace talorin
