#pragma once
// The project file (.talorin): the whole terrain document kept on disk so that
// the work survives the window, and so that talorin-cli can take it up. UTF-8
// JSON with a format name and version; it holds the image by reference (path
// relative to the project, absolute path as a fallback, pixel size and SHA-256
// of the bytes), the lattice as exact doubles, every setting as typed and the
// output options. Nothing of the window and no undo history.
//
// Reading trusts nothing: the size is capped before parsing, nesting is
// capped while parsing, and every value is checked for type and range before
// anything is handed to a document, so a refused file changes nothing.

#include <cstdint>
#include <string>
#include <string_view>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/terraindocument.h"

namespace talorin {

inline constexpr const char* kProjectExtension = ".talorin";
inline constexpr const char* kProjectFormatName = "talorin-project";
// Bumped when a change needs more than ignoring unknown keys to read; a reader
// refuses versions above its own. Keys added since version 1 (sampling,
// aspect, the solid) are optional: a file without them reads their defaults.
inline constexpr int kProjectFormatVersion = 1;
// No real project comes near this (a full 16 x 16 lattice is some 15 kB); a
// larger file is refused before anything is parsed.
inline constexpr std::uint64_t kMaxProjectFileBytes = 4u << 20;
// Texts and names longer than this are refused.
inline constexpr std::size_t kMaxProjectText = 4096;

// The content of a project file, every value already checked.
struct ProjectState {
    // The contour image: path relative to the project file's folder ("/"
    // between parts), the absolute path, its pixel size and the SHA-256 of
    // its bytes (64 lowercase hex digits).
    std::string imagePath;
    std::string imageAbsolutePath;
    int imageWidth = 0;
    int imageHeight = 0;
    std::string imageSha256;
    // The lattice: density and points [i][j] as in MeshLattice (only i, j <=
    // density used; the rest zero).
    int density = kDefaultPaMax;
    MeshLattice lattice{};
    // The settings and names, as the document holds them.
    TerrainSettings settings;
    std::string objectName = kDefaultObjectName;
    std::string attributeName = kDefaultAttributeName;
    // The output options: adaptive depth, its allowed error as typed and as a
    // value (MaxErrorInRange).
    bool adaptive = kDefaultAdaptive;
    std::string maxErrorText = kDefaultMaxErrorText;
    double maxError = kDefaultMaxError;
    // The solid base for formats other than .suf, its depth as typed and as a
    // value (finite, above 0).
    bool solid = kDefaultSolid;
    std::string solidBaseText = kDefaultSolidBaseText;
    double solidBase = kDefaultSolidBase;
};

// The SHA-256 of the file at path as 64 lowercase hex digits, read in pieces.
// Throws talorin::Error (kind Io) when the file cannot be read.
std::string FileSha256(const std::string& path);

// The project of document (which must hold an image, read from imageFile)
// for a project file at projectFile, with the given output options. Hashes
// the image file as it is now. Throws talorin::Error without an image or when
// the image file cannot be read.
ProjectState CaptureProject(const TerrainDocument& document, const std::string& imageFile,
                       const std::string& projectFile, bool adaptive,
                       const std::string& maxErrorText, double maxError);

// The file's text: pretty-printed UTF-8 JSON ending in a newline, points in
// the shortest form that reads back to the same double. Throws talorin::Error
// when a text is not UTF-8.
std::string ProjectText(const ProjectState& project);

// Parses and checks a project file's text; throws talorin::Error with the
// reason alone (no file name) for anything that is not a readable project of
// a version up to kProjectFormatVersion.
ProjectState ParseProject(std::string_view text);

// Reads and checks the project file at path. Throws talorin::Error
// "プロジェクトファイル <path> を読み込めません: <reason>".
ProjectState ReadProjectFile(const std::string& path);

// Saves project atomically (a failure leaves any existing file as it was).
// Throws talorin::Error with the reason and the file's name on failure.
void SaveProjectFile(const std::string& path, const ProjectState& project);

// Whether the file at path holds a project rather than an image, told by its
// first bytes (a JSON object); false for a file that cannot be read.
bool LooksLikeProjectFile(const std::string& path);

// Where the project's image is: its relative path from projectFile's folder,
// else its absolute path, whichever exists first; empty when neither exists.
// Throws talorin::Error when the name found is not a regular file (a folder,
// a device, a pipe).
std::string LocateProjectImage(const ProjectState& project, const std::string& projectFile);

// The image at imageFile for project: refuses (talorin::Error naming the
// file) a file that is not a regular file, cannot be decoded, or whose pixel
// size differs from the project's. hashMatches tells whether its bytes are
// those the project was saved with.
Bitmap LoadProjectImage(const ProjectState& project, const std::string& imageFile, bool& hashMatches);

// Makes document hold project on image (already checked by
// LoadProjectImage): the image, the lattice exactly, every setting; the undo
// history is forgotten. The output options are the caller's.
void ApplyProject(TerrainDocument& document, const ProjectState& project, Bitmap image,
                  const std::string& imageBaseName);

} // namespace talorin
