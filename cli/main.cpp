// talorin-cli: the terrain generator of the window as a command-line tool.
// Exit status: 0 success, 1 a failure the system reports (message on stderr),
// 2 a usage error.

#include <charconv>
#include <csignal>
#include <filesystem>
#include <new>
#include <string>
#include <unistd.h>

#include "base/error.h"
#include "base/filenames.h"
#include "base/sjis.h"
#include "cli/console.h"
#include "cli/options.h"
#include "export/output.h"
#include "image/imagefile.h"
#include "shape/suf.h"
#include "shape/sufmesh.h"
#include "terrain/adaptive.h"
#include "terrain/lattice.h"
#include "terrain/projectfile.h"
#include "terrain/terrain.h"
#include "terrain/terraindocument.h"
#include "terrain/truescale.h"

namespace {

using namespace talorin;

bool SameFile(const std::string& a, const std::string& b);
using namespace talorin::cli;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The document the window would hold for these options: the image, the
// settings, and the presses applied in order to the uniform lattice.
// The settings of o into doc, and then the presses; over a project
// (fromProject) only the settings given on the command line.
void ApplySettings(TerrainDocument& doc, const GenerateOptions& o, bool fromProject) {
    const auto use = [&](unsigned given) { return !fromProject || (o.given & given); };
    if (fromProject && use(kGivenDensity))
        doc.setDensity(o.density);
    TerrainSettings settings = doc.settings();
    const auto take = [&](unsigned given, auto member) {
        if (use(given))
            settings.*member = o.settings.*member;
    };
    take(kGivenSize, &TerrainSettings::sizeText);
    take(kGivenHeight, &TerrainSettings::heightText);
    take(kGivenTriangles, &TerrainSettings::quadMode);
    take(kGivenProfile, &TerrainSettings::shapeMode);
    take(kGivenLevel, &TerrainSettings::level);
    take(kGivenDepth, &TerrainSettings::depth);
    take(kGivenNoUv, &TerrainSettings::withUV);
    take(kGivenNormals, &TerrainSettings::withShade);
    take(kGivenSampling, &TerrainSettings::sampling);
    take(kGivenAspect, &TerrainSettings::aspect);
    doc.setSettings(settings);
    if (o.objectName)
        doc.setObjectName(*o.objectName);
    if (use(kGivenAttribute))
        doc.setAttributeName(o.attributeName);
    if (o.solidBase) {
        char text[32];
        doc.setSolid(true);
        doc.setSolidBase(std::string(text, std::to_chars(text, text + sizeof text, *o.solidBase).ptr),
                         *o.solidBase);
    }
    for (const PreviewPress& p : o.presses)
        doc.press(p);
}

// With --true-scale, the size and height texts of image's real extent and
// relief; throws talorin::Error when image is not a georeferenced raster.
void FillTrueScale(GenerateOptions& o, const Bitmap& image) {
    if (!o.trueScale)
        return;
    const TrueScale scale = ComputeTrueScale(image, *o.trueScale);
    o.settings.sizeText = MetresText(scale.size);
    o.settings.heightText = MetresText(scale.height);
}

void FillDocument(TerrainDocument& doc, const GenerateOptions& o, Bitmap image) {
    doc.setDensity(o.density);
    doc.setImage(std::move(image), BaseFileName(o.image));
    ApplySettings(doc, o, false);
}

// The document of o.project in doc, with the options given applied over it.
// o.image becomes the project's image, and its allowed error the run's when
// it was adaptive and --max-error is not given.
void LoadProject(TerrainDocument& doc, GenerateOptions& o) {
    const ProjectState project = ReadProjectFile(*o.project);
    const std::string imageFile = LocateProjectImage(project, *o.project);
    if (imageFile.empty())
        throw Error(Text(Msg::ProjectImageMissing, {*o.project, project.imagePath}));
    bool hashMatches = true;
    Bitmap image = LoadProjectImage(project, imageFile, hashMatches);
    if (!hashMatches)
        PrintError(Text(Msg::ProjectImageChanged, {imageFile}));
    ApplyProject(doc, project, std::move(image), BaseFileName(imageFile));
    o.image = imageFile;
    if (!o.maxError && project.adaptive)
        o.maxError = project.maxError;
    FillTrueScale(o, doc.image());
    ApplySettings(doc, o, true);
}

// Saves the run's document as the project o.saveProject, with its allowed
// error (written in the shortest form that reads back to the same value).
void SaveRunProject(const TerrainDocument& doc, const GenerateOptions& o) {
    if (SameFile(*o.saveProject, o.image))
        throw Error(*o.saveProject + ": this is the contour image; name another project file");
    std::string maxErrorText = kDefaultMaxErrorText;
    if (o.maxError) {
        char text[32];
        maxErrorText.assign(text, std::to_chars(text, text + sizeof text, *o.maxError).ptr);
    }
    SaveProjectFile(*o.saveProject,
                    CaptureProject(doc, o.image, *o.saveProject, o.maxError.has_value(),
                                   maxErrorText, o.maxError.value_or(kDefaultMaxError)));
}

// The generation arguments; a name that CP932 cannot hold is reported with
// the option it came from.
Talorin_Args MakeArgs(const TerrainDocument& doc, const GenerateOptions& o) {
    try {
        return doc.makeArgs();
    } catch (const ArgsError& e) {
        if (e.namesField())
            throw;
        switch (e.field()) {
        case ArgsError::Field::ObjectName:
            throw Error(std::string(o.objectName ? "--object" : "image name (use --object)") +
                        ": " + e.what());
        case ArgsError::Field::AttributeName:
            throw Error(std::string("--attribute: ") + e.what());
        default:
            throw;
        }
    }
}

// The last part of a path: what follows the last '/'.
std::string BaseNamePart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string OutputName(const GenerateOptions& o) {
    return o.output.value_or(FolderPart(o.image) + BaseFileName(o.image) +
                             FormatExtension(o.format));
}

// Whether two names reach the same file (through links or other spellings too).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

// The extension of fileName's last part, lower case, with its dot; empty for
// none (and for a hidden file's name that is only an extension).
std::string LowerExtension(const std::string& fileName) {
    const std::string base = BaseNamePart(fileName);
    const std::size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string extension = base.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return extension;
}

int Generate(const GenerateOptions& given) {
    GenerateOptions o = given;
    // An OBJ named NAME.mtl would be its own material file.
    if (o.format == ExportFormat::Obj && o.output && LowerExtension(*o.output) == ".mtl")
        throw UsageError("-o " + *o.output +
                         ": an OBJ's material file is NAME.mtl beside it; name the OBJ otherwise");
    TerrainDocument doc;
    // Read the contour image, or the project and its image.
    Bitmap image = o.project ? Bitmap() : LoadImageFile(o.image);
    if (o.project)
        LoadProject(doc, o);
    // An output that is the image itself would destroy the input.
    const std::string out = OutputName(o);
    if (out != kStandardOutputFile && SameFile(out, o.image))
        throw Error(out + ": this is the contour image; name another output with -o");
    // Lay the uniform lattice, apply the presses, and convert the settings.
    if (!o.project) {
        FillTrueScale(o, image);
        FillDocument(doc, o, std::move(image));
    }
    const Talorin_Args args = MakeArgs(doc, o);
    if (o.saveProject) {
        SaveRunProject(doc, o);
        if (!o.output)
            return 0;
    }
    // Generate the terrain, closed into a solid when asked; the output is not
    // touched before this has succeeded.
    // The solid of --solid or of the project, for the formats that hold one.
    std::optional<double> solidBase;
    if (doc.solid() && o.format != ExportFormat::Suf)
        solidBase = doc.solidBase();
    TerminalProgress progress;
    const TerrainMesh mesh =
        GenerateOutput({args, o.maxError, solidBase, o.format}, progress.callback());
    // Save it (atomically) or write it to standard output, in its format; a
    // failure throws, and the progress line goes before the message comes.
    progress.phase("writing");
    SaveTerrain(o.format, out, mesh, {o.image, &doc.image()});
    return 0;
}

// The count of a run on the image, which depends on the terrain when it is
// adaptive; range gets the elevation raster's range line, if it is one.
std::uint64_t EstimateOnImage(const GenerateOptions& given, std::string& range) {
    GenerateOptions o = given;
    Bitmap image = LoadImageFile(o.image);
    if (const Elevation* elevation = image.elevation())
        range = ElevationRangeText(*elevation) + '\n';
    FillTrueScale(o, image);
    TerrainDocument doc;
    FillDocument(doc, o, std::move(image));
    const Talorin_Args args = MakeArgs(doc, o);
    if (!o.maxError)
        return std::uint64_t(EstimatePolygonCount(o.settings.depth, o.settings.quadMode ? 1 : 0, o.density));
    TerminalProgress progress;
    const std::uint64_t count = AdaptivePolygonCount(args, *o.maxError, progress.callback());
    progress.finish();
    return count;
}

int Estimate(const EstimateOptions& o) {
    std::string range;
    const std::uint64_t count =
        o.terrain ? EstimateOnImage(*o.terrain, range)
                  : std::uint64_t(EstimatePolygonCount(o.depth, o.quads ? 1 : 0, o.density));
    WriteStdout(std::to_string(count) + '\n' + range);
    return 0;
}

int List(const ListOptions& o) {
    const vesk::SufChain chain = vesk::ReadSufFile(o.file);
    std::string names;
    for (const vesk::TVESK_Object* obj = chain.get(); obj; obj = obj->Next)
        names += vesk::Utf8FromCp932(obj->Name) + '\n';
    WriteStdout(names);
    return 0;
}

// The extensions of files the program writes or reads in another format than
// .suf, which resave must not write .suf text into.
constexpr const char* kOtherFormatExtensions[] = {".obj", ".mtl", ".stl", ".ply", ".glb", ".png",
                                                  ".bmp", ".pgm", ".ppm", ".tif", ".tiff",
                                                  ".talorin"};

int Resave(const ResaveOptions& o) {
    if (o.output != kStandardOutputFile) {
        const std::string extension = LowerExtension(o.output);
        for (const char* other : kOtherFormatExtensions)
            if (extension == other)
                throw UsageError("resave " + o.output + ": resave writes .suf text, and " +
                                 extension + " is another format's extension");
    }
    const vesk::SufChain chain = vesk::ReadSufFile(o.input);
    // "-" is standard output, as for generate -o -.
    if (o.output == "-")
        vesk::WriteSufFile(STDOUT_FILENO, kStandardOutputName, chain.get());
    else
        vesk::SaveSufFile(o.output, chain.get());
    return 0;
}

int Run(const Options& o) {
    switch (o.command) {
    case Command::Generate:
        return Generate(o.generate);
    case Command::Estimate:
        return Estimate(o.estimate);
    case Command::List:
        return List(o.list);
    case Command::Resave:
        return Resave(o.resave);
    case Command::Help:
        break;
    }
    WriteStdout(HelpText());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A reader that goes away (generate -o - | head) makes the write fail,
    // which is reported like any other failed write, instead of killing the
    // tool without a word.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(ParseCommandLine(argc, argv));
    } catch (const UsageError& e) {
        PrintError(std::string("talorin-cli: ") + e.what());
        WriteStderr(UsageText());
        return kExitUsage;
    } catch (const Error& e) {
        PrintError(e.what());
    } catch (const std::bad_alloc&) {
        PrintError(kOutOfMemoryText);
    } catch (const std::exception& e) {
        PrintError(e.what());
    }
    return kExitFailure;
}
