// talorin-cli: the terrain generator of the window as a command-line tool.
// Exit status: 0 success, 1 a failure the system reports (message on stderr),
// 2 a usage error.

#include <charconv>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

#include "cli/console.h"
#include "cli/options.h"
#include "core/bmp.h"
#include "core/lattice.h"
#include "core/names.h"
#include "core/sufmesh.h"
#include "core/terrain.h"
#include "shape/error.h"
#include "shape/numtext.h"
#include "shape/sjis.h"
#include "shape/suf.h"

namespace {

using namespace talorin;
using namespace talorin::cli;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct FreeShape {
    void operator()(vesk::TVESK_Object* chain) const { vesk::FreeSuf(chain); }
};
using ShapePtr = std::unique_ptr<vesk::TVESK_Object, FreeShape>;

// A name from the command line as the CP932 bytes the file holds; what says
// where it came from, for the message when CP932 cannot hold it.
std::string NameToCp932(const std::string& utf8, const char* what) {
    try {
        return vesk::Cp932FromUtf8(utf8);
    } catch (const Error& e) {
        throw Error(std::string(what) + ": " + e.what());
    }
}

// The library's own message (CP932) for display, or a fallback when it gave none.
std::string ShapeError(const std::string& fallback) {
    return vesk::SufError.empty() ? fallback : vesk::Utf8FromCp932(vesk::SufError);
}

// Fills the record the way the window's output command does: the size first,
// then the height, then the rest.
Talorin_Args MakeArgs(const GenerateOptions& o, const Bitmap& image) {
    Talorin_Args args;
    args.Size = vesk::TextToFloat(o.sizeText);
    args.MaxHeight = vesk::TextToFloat(o.heightText);
    args.QuadMode = o.quads;
    args.ShapeMode = o.shapeMode;
    args.CurveLevel = o.level / 10.0;
    args.Bitmap = &image;
    args.Depth = o.depth;
    args.ObjName = o.objectName ? NameToCp932(*o.objectName, "--object")
                                : NameToCp932(BaseFileName(o.image), "image name (use --object)");
    args.AtrName = NameToCp932(o.attributeName, "--attribute");
    args.PaMax = o.density;
    args.WithUV = o.withUV;
    args.WithShade = o.withShade;
    return args;
}

// The presses of the command line on the preview of this image, in order.
void ApplyPresses(MeshLattice& mesh, int paMax, const GenerateOptions& o, const Bitmap& image) {
    const double scaleX = double(kPreviewWidth) / image.width();
    const double scaleY = double(kPreviewHeight) / image.height();
    for (const Press& p : o.presses)
        AdjustMeshDensity(mesh, paMax, p.x, p.y, p.button, scaleX, scaleY);
}

std::string OutputName(const GenerateOptions& o) {
    return o.output.value_or(FolderPart(o.image) + BaseFileName(o.image) + ".suf");
}

// Whether two names reach the same file (through links or other spellings too).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

int Generate(const GenerateOptions& o) {
    // Read the contour image.
    const Bitmap image = LoadBmpFile(o.image);
    // An output that is the image itself would destroy the input.
    const std::string out = OutputName(o);
    if (out != "-" && SameFile(out, o.image))
        throw Error(out + ": this is the contour image; name another output with -o");
    // Convert the settings into the generation record.
    Talorin_Args args = MakeArgs(o, image);
    // Lay the uniform lattice and apply the presses to it.
    args.Lattice = InitMeshLattice(image, args.PaMax);
    ApplyPresses(args.Lattice, args.PaMax, o, image);
    // Generate the terrain; the output is not touched before this has succeeded.
    TerminalProgress progress;
    const TerrainMesh mesh = GenerateTerrainMesh(args, progress.callback());
    // Save it (atomically) or write it to standard output.
    progress.phase("writing");
    if (out == "-") {
        if (!WriteSufMesh(STDOUT_FILENO, "standard output", mesh)) {
            progress.finish();
            PrintError(ShapeError("cannot write to standard output"));
            return kExitFailure;
        }
    } else if (!SaveSufMesh(out, mesh)) {
        progress.finish();
        PrintError(ShapeError("cannot write " + out));
        return kExitFailure;
    }
    return 0;
}

int Estimate(const EstimateOptions& o) {
    const std::int32_t count = EstimatePolygonCount(o.depth, o.quads ? 1 : 0, o.density);
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, count).ptr;
    *end = '\n';
    WriteStdout(std::string_view(text, std::size_t(end + 1 - text)));
    return 0;
}

// Reads a shape file; throws talorin::Error with the reader's message on failure.
// A file without objects gives null.
ShapePtr ReadShape(const std::string& file) {
    ShapePtr chain(vesk::LoadSuf(file));
    if (!chain && !vesk::SufError.empty())
        throw Error(vesk::Utf8FromCp932(vesk::SufError));
    return chain;
}

int List(const ListOptions& o) {
    const ShapePtr chain = ReadShape(o.file);
    std::string names;
    for (const vesk::TVESK_Object* obj = chain.get(); obj; obj = obj->Next)
        names += vesk::Utf8FromCp932(obj->Name) + '\n';
    WriteStdout(names);
    return 0;
}

int Resave(const ResaveOptions& o) {
    const ShapePtr chain = ReadShape(o.input);
    if (!vesk::SaveSuf(o.output, chain.get())) {
        PrintError(ShapeError("cannot write " + o.output));
        return kExitFailure;
    }
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
