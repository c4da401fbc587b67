#pragma once
// The command line of talorin-cli: which command to run and its settings, as
// typed. Parsing only checks the form of the arguments; texts that the core
// converts itself (the size and height, the names) are passed on untouched.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "terrain/terraindocument.h"
#include "export/format.h"

namespace talorin::cli {

// A command line that does not make sense: the tool prints the text and the
// short usage on stderr and exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The settings given on the command line, as bits of GenerateOptions::given:
// with --project only these override the project's.
enum GivenOption : unsigned {
    kGivenSize = 1u << 0,
    kGivenHeight = 1u << 1,
    kGivenDepth = 1u << 2,
    kGivenDensity = 1u << 3,
    kGivenTriangles = 1u << 4,
    kGivenProfile = 1u << 5,
    kGivenLevel = 1u << 6,
    kGivenNoUv = 1u << 7,
    kGivenNormals = 1u << 8,
    kGivenAttribute = 1u << 9,
    kGivenSampling = 1u << 10,
    kGivenAspect = 1u << 11,
};

// The defaults are the document's, which the window starts with too.
struct GenerateOptions {
    std::string image;
    std::optional<std::string> output; // "-" is standard output; unset: next to the image
    TerrainSettings settings;
    int density = kDefaultPaMax;
    std::optional<std::string> objectName;           // UTF-8; unset: the image's base name
    std::string attributeName = kImageAttributeName; // UTF-8
    // Presses on the 233 x 233 preview (pull = left, push = right), in
    // command-line order.
    std::vector<PreviewPress> presses;
    // --format, or else the extension of -o; .suf for standard output and
    // when neither is given.
    ExportFormat format = ExportFormat::Suf;
    std::optional<double> solidBase; // --solid: close into a solid down to -base
    // --max-error: adaptive depth; depth is then the largest depth and a leaf
    // is split only while the terrain departs from it by more than this
    // (output height units, MaxErrorInRange).
    std::optional<double> maxError;
    // --true-scale: the size and height of the georeferenced elevation raster
    // in metres, its relief times this exaggeration; proportions kept.
    std::optional<double> trueScale;
    // --project: the document comes from this project file (then image is
    // empty until the project names it); the settings in given override it,
    // and presses apply after its lattice.
    std::optional<std::string> project;
    // --save-project: the document of this run is saved as a project; without
    // -o nothing is generated.
    std::optional<std::string> saveProject;
    unsigned given = 0; // GivenOption bits
};

struct EstimateOptions {
    int depth = kDefaultDepth;
    int density = kDefaultPaMax;
    bool quads = kDefaultQuadMode;
    // estimate IMAGE ...: the settings of a generate run on that image (output
    // options excepted), with which the count of an adaptive run is made; the
    // range of an elevation raster is printed too.
    std::optional<GenerateOptions> terrain;
};

struct ListOptions {
    std::string file;
};

struct ResaveOptions {
    std::string input;
    std::string output;
};

enum class Command { Help, Generate, Estimate, List, Resave };

struct Options {
    Command command = Command::Help;
    GenerateOptions generate;
    EstimateOptions estimate;
    ListOptions list;
    ResaveOptions resave;
};

// Parses argv[1..argc-1]. Throws UsageError for an unknown command or option,
// a missing or extra argument, or a number that is malformed or out of range.
Options ParseCommandLine(int argc, const char* const* argv);

// The short usage (for usage errors) and the full help (for --help). Both are
// English; the help is Japanese where the locale asks for Japanese by name.
const char* UsageText();
const char* HelpText();

} // namespace talorin::cli
