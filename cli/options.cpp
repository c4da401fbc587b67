#include "cli/options.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "terrain/lattice.h"
#include "terrain/terraindocument.h"

namespace talorin::cli {

namespace {

constexpr const char* kUsage =
    "usage: talorin-cli generate IMAGE [-o OUT] [options]   make a terrain shape from a contour "
    "image\n"
    "       talorin-cli generate --project P.talorin [-o OUT] [options]   ... from a project\n"
    "       talorin-cli estimate [--depth N] [--density N] [--triangles]   print the polygon "
    "count\n"
    "       talorin-cli estimate IMAGE --max-error E [options]   the same for adaptive depth\n"
    "       talorin-cli list FILE.suf                      print the object names of a shape file\n"
    "       talorin-cli resave IN.suf OUT.suf              read a shape file and write it again\n"
    "       talorin-cli --help                             explain every option\n";

constexpr const char* kHelp =
    "talorin-cli: the terrain generator without its window.\n"
    "\n"
    "talorin-cli generate IMAGE [-o OUT] [options]\n"
    "  Makes a terrain shape from a contour image (pixel brightness is height; a\n"
    "  BMP, PNG, or binary PGM/PPM file, told by its content, 16-bit samples at\n"
    "  full precision) and writes it as a .suf shape file. The defaults are those\n"
    "  the window starts with.\n"
    "  -o FILE          output file; \"-\" writes to standard output. Default: the\n"
    "                   image's folder and base name (up to its first \".\") + the\n"
    "                   format's extension (\".suf\").\n"
    "                   A failed run writes nothing and leaves an existing file as it was.\n"
    "  --size TEXT      edge of the square terrain, a decimal number (default {size})\n"
    "  --height TEXT    height of a white pixel, a decimal number (default {height})\n"
    "  --depth N        subdivision depth, {minDepth}..{maxDepth} (default {depth}); every level "
    "makes four\n"
    "                   times as many polygons\n"
    "  --density N      lattice cells per side, {minDensity}..{maxDensity} (default {density})\n"
    "  --triangles      four triangles per leaf instead of one quad\n"
    "  --profile P      mountain profile: rise, dome or hill (default rise)\n"
    "  --level N        how extreme the profile is, 1..100 = exponent 0.1..10.0\n"
    "                   (default {level}, exponent {exponent})\n"
    "  --sampling S     how heights are read from the image: nearest (the pixel a\n"
    "                   point rounds to) or bilinear (smooth: the brightness between\n"
    "                   the four pixels around it, edges clamped) (default nearest)\n"
    "  --aspect A       square (a square of --size) or image (the image's proportions:\n"
    "                   the longer side spans --size, one pixel step is as long on\n"
    "                   both axes) (default square)\n"
    "  --no-uv          write no UV coordinates\n"
    "  --normals        write (zero) normal vectors\n"
    "  --object NAME    object name (default: the image's base name)\n"
    "  --attribute NAME attribute name every polygon carries (default {attribute})\n"
    "                   Names must be representable in Shift-JIS (CP932).\n"
    "  --pull X,Y       a left-button press at pixel (X, Y) of the 233 x 233 preview:\n"
    "                   pulls the lattice's interior points toward it (denser mesh)\n"
    "  --push X,Y       a right-button press there: pushes them away (sparser mesh)\n"
    "                   Presses repeat and apply in the order given, to the uniform\n"
    "                   lattice at the chosen density. X and Y are 0..232.\n"
    "  --format F       suf (shape file), obj (Wavefront OBJ with a .mtl beside it),\n"
    "                   stl (binary STL), ply (binary PLY) or glb (glTF 2.0 binary).\n"
    "                   Default: from the extension of -o, in any case; .suf for\n"
    "                   standard output. Other extensions need --format.\n"
    "  --solid BASE     close the terrain into a solid for printing: walls from its\n"
    "                   border down to a flat bottom at height -BASE (BASE > 0, in\n"
    "                   output units). Not for .suf.\n"

    "  --true-scale [X] for a georeferenced elevation raster (GeoTIFF): the size\n"
    "                   becomes its real extent in metres along the longer side and\n"
    "                   the height its real relief times X (default 1); sets --aspect\n"
    "                   image. Not with --size or --height.\n"
    "  --max-error E    adaptive depth: --depth becomes the largest depth, and a leaf\n"
    "                   is split further only while the terrain it stands for departs\n"
    "                   from it by more than E (output height units, E > 0). Flat\n"
    "                   ground gets few polygons, ridges many; the lattice stays yours.\n"
    "  --project P      take the image, lattice, settings and output options (the\n"
    "                   solid too, for formats other than .suf) from the project\n"
    "                   file P (.talorin, as the window saves it) instead of an\n"
    "                   IMAGE; options given override its settings, and presses\n"
    "                   apply after its lattice.\n"
    "  --save-project P save this run's image, lattice (presses included), settings,\n"
    "                   --max-error and --solid as the project file P; without -o only the\n"
    "                   project is written.\n"
    "  STL has no units; slicers read it in millimetres: a size of 150 prints 150 mm wide.\n"
    "\n"
    "talorin-cli estimate [--depth N] [--density N] [--triangles]\n"
    "  Prints the number of polygons that generate makes with these settings.\n"
    "talorin-cli estimate IMAGE [--max-error E] [generate's options but -o, --format, --solid]\n"
    "  The same for a run on that image (adaptive with --max-error); for an\n"
    "  elevation raster a second line gives its range in metres.\n"
    "\n"
    "talorin-cli list FILE.suf\n"
    "  Prints the object names of a shape file, one per line.\n"
    "\n"
    "talorin-cli resave IN.suf OUT.suf\n"
    "  Reads a shape file and writes it again in the canonical form; OUT.suf \"-\"\n"
    "  writes to standard output.\n"
    "\n"
    "Exit status: 0 success, 1 failure (message on stderr), 2 usage error.\n";

// The same help for a locale that asks for Japanese by name, line for line.
constexpr const char* kHelpJapanese =
    "talorin-cli: ウィンドウを使わない地形の生成。\n"
    "\n"
    "talorin-cli generate IMAGE [-o OUT] [options]\n"
    "  等高線画像から地形形状を作ります (画素の明るさが高さです。BMP、PNG、\n"
    "  バイナリの PGM/PPM ファイルを内容で見分け、16 ビットのサンプルは精度を\n"
    "  落とさずに読みます)。形状ファイル .suf として書き出します。既定値は\n"
    "  ウィンドウの起動時の値です。\n"
    "  -o FILE          出力ファイル。\"-\" で標準出力に書きます。既定: 画像の\n"
    "                   フォルダーと基本名 (最初の \".\" まで) + 形式の拡張子\n"
    "                   (\".suf\")。\n"
    "                   失敗した実行は何も書かず、既存のファイルをそのまま残します。\n"
    "  --size TEXT      正方形の地形の一辺、10 進数 (既定 {size})\n"
    "  --height TEXT    白い画素の高さ、10 進数 (既定 {height})\n"
    "  --depth N        再帰回数、{minDepth}..{maxDepth} (既定 {depth})。1 段ごとにポリゴンが\n"
    "                   4 倍になります\n"
    "  --density N      格子の一辺のセルの数、{minDensity}..{maxDensity} (既定 {density})\n"
    "  --triangles      葉ごとに四角形 1 つの代わりに三角形 4 つ\n"
    "  --profile P      山の形: rise、dome、hill のどれか (既定 rise)\n"
    "  --level N        山の形の極端さ、1..100 = 指数 0.1..10.0\n"
    "                   (既定 {level}、指数 {exponent})\n"
    "  --sampling S     画像から高さを読む方法: nearest (点を丸めた位置の画素)\n"
    "                   または bilinear (なめらか: 周りの 4 画素の間の明るさ、\n"
    "                   縁では縁の画素) (既定 nearest)\n"
    "  --aspect A       square (一辺 --size の正方形) または image (画像の縦横比:\n"
    "                   長い辺が --size に渡り、1 画素の間隔は両方の軸で同じ\n"
    "                   長さ) (既定 square)\n"
    "  --no-uv          UV 座標を書きません\n"
    "  --normals        (ゼロの) 法線ベクトルを書きます\n"
    "  --object NAME    オブジェクト名 (既定: 画像の基本名)\n"
    "  --attribute NAME すべてのポリゴンが持つ属性名 (既定 {attribute})\n"
    "                   名前は Shift-JIS (CP932) で表せなければなりません。\n"
    "  --pull X,Y       233 x 233 のプレビューの画素 (X, Y) での左ボタンの押下:\n"
    "                   格子の内側の点をそこへ引き寄せます (メッシュが密に)\n"
    "  --push X,Y       そこでの右ボタンの押下: 点を遠ざけます (メッシュが疎に)\n"
    "                   押下は繰り返せ、指定した順に、選んだ密度の一様な格子に\n"
    "                   適用されます。X と Y は 0..232 です。\n"
    "  --format F       suf (形状ファイル)、obj (Wavefront OBJ、横に .mtl)、\n"
    "                   stl (バイナリ STL)、ply (バイナリ PLY)、glb (glTF 2.0 バイナリ)。\n"
    "                   既定: -o の拡張子から (大文字小文字を問わず)。標準出力には\n"
    "                   .suf。ほかの拡張子には --format が要ります。\n"
    "  --solid BASE     印刷のために地形を閉じた立体にします: 縁から高さ -BASE の\n"
    "                   平らな底まで壁を立てます (BASE > 0、出力の単位)。\n"
    "                   .suf にはできません。\n"

    "  --true-scale [X] 位置の情報を持つ標高データ (GeoTIFF) で: 大きさを長い辺に\n"
    "                   沿った実際の広がり (メートル) に、高さを実際の起伏の X 倍\n"
    "                   (既定 1) にします。--aspect image になります。--size、\n"
    "                   --height とは一緒に使えません。\n"
    "  --max-error E    再帰回数の自動調整: --depth が最大の再帰回数になり、葉は\n"
    "                   表す地形からのずれが E (出力の高さの単位、E > 0) より\n"
    "                   大きい間だけさらに分割されます。平らな土地はポリゴンが少なく、\n"
    "                   尾根は多くなります。格子は指定したままです。\n"
    "  --project P      画像、格子、設定、出力オプション (.suf 以外の形式では台座\n"
    "                   も) を IMAGE の代わりにプロジェクトファイル P (.talorin、\n"
    "                   ウィンドウが保存するもの) から取ります。指定した\n"
    "                   オプションはその設定より優先し、押下はその格子の後に\n"
    "                   適用されます。\n"
    "  --save-project P この実行の画像、格子 (押下を含む)、設定、--max-error、\n"
    "                   --solid をプロジェクトファイル P に保存します。-o がなければ\n"
    "                   プロジェクトだけを書きます。\n"
    "  STL には単位がなく、スライサーはミリメートルで読みます: 大きさ 150 は幅 150 mm で印刷されます。\n"
    "\n"
    "talorin-cli estimate [--depth N] [--density N] [--triangles]\n"
    "  generate がこの設定で作るポリゴンの数を表示します。\n"
    "talorin-cli estimate IMAGE [--max-error E] [-o、--format、--solid 以外の generate のオプション]\n"
    "  その画像での実行について同じものを表示します (--max-error では自動調整)。\n"
    "  標高データでは 2 行目にその範囲をメートルで表示します。\n"
    "\n"
    "talorin-cli list FILE.suf\n"
    "  形状ファイルのオブジェクト名を 1 行に 1 つずつ表示します。\n"
    "\n"
    "talorin-cli resave IN.suf OUT.suf\n"
    "  形状ファイルを読み込み、標準の形で書き直します。OUT.suf を \"-\" にすると\n"
    "  標準出力に書きます。\n"
    "\n"
    "終了ステータス: 0 成功、1 失敗 (標準エラー出力にメッセージ)、2 使い方の誤り。\n";

// Walks the arguments of one command: options with a value ("--depth 3" or
// "--depth=3") and positional arguments, with "--" ending the options.
class ArgCursor {
  public:
    ArgCursor(int argc, const char* const* argv, int first)
        : m_argc(argc), m_argv(argv), m_next(first) {}

    // Takes the next argument into arg and tells whether it is an option;
    // false at the end. For "--name=value" arg is the name and value() gives
    // the value.
    bool next(std::string_view& arg, bool& option) {
        while (m_next < m_argc) {
            arg = m_argv[m_next++];
            m_inlineValue.reset();
            if (!m_endOfOptions && arg == "--") {
                m_endOfOptions = true;
                continue;
            }
            option = !m_endOfOptions && arg.size() >= 2 && arg[0] == '-';
            if (option && arg.starts_with("--")) {
                const auto eq = arg.find('=');
                if (eq != std::string_view::npos) {
                    m_inlineValue = std::string(arg.substr(eq + 1));
                    arg = arg.substr(0, eq);
                }
            }
            return true;
        }
        return false;
    }

    // The value of the option just taken.
    std::string value(std::string_view option) {
        if (m_inlineValue) {
            std::string v = std::move(*m_inlineValue);
            m_inlineValue.reset();
            return v;
        }
        if (m_next >= m_argc)
            throw UsageError(std::string(option) + " needs a value");
        return m_argv[m_next++];
    }

    // The value of the option just taken when it has one: given as
    // "--name=value", or the next argument when that is a number.
    std::optional<std::string> numberValue() {
        if (m_inlineValue) {
            std::string v = std::move(*m_inlineValue);
            m_inlineValue.reset();
            return v;
        }
        if (m_next >= m_argc || m_endOfOptions)
            return std::nullopt;
        const std::string_view next = m_argv[m_next];
        double v = 0;
        const auto [end, ec] = std::from_chars(next.data(), next.data() + next.size(), v);
        if (next.empty() || ec != std::errc{} || end != next.data() + next.size())
            return std::nullopt;
        ++m_next;
        return std::string(next);
    }

    // A flag must not carry "=value".
    void noValue(std::string_view option) const {
        if (m_inlineValue)
            throw UsageError(std::string(option) + " takes no value");
    }

  private:
    int m_argc;
    const char* const* m_argv;
    int m_next;
    bool m_endOfOptions = false;
    std::optional<std::string> m_inlineValue;
};

// The whole text as a decimal integer within [lo, hi].
int ParseInt(std::string_view text, int lo, int hi, std::string_view what) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
        throw UsageError(std::string(what) + ": '" + std::string(text) + "' is not an integer");
    if (v < lo || v > hi)
        throw UsageError(std::string(what) + " must be " + std::to_string(lo) + ".." +
                         std::to_string(hi) + ", not " + std::to_string(v));
    return v;
}

// "X,Y" in preview pixels.
PreviewPress ParsePress(std::string_view text, std::uint8_t button, std::string_view what) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos)
        throw UsageError(std::string(what) + " wants X,Y, not '" + std::string(text) + "'");
    PreviewPress p;
    p.x = ParseInt(text.substr(0, comma), 0, kPreviewWidth - 1, std::string(what) + " X");
    p.y = ParseInt(text.substr(comma + 1), 0, kPreviewHeight - 1, std::string(what) + " Y");
    p.button = button;
    return p;
}

ExportFormat ParseFormat(std::string_view text) {
    if (const auto format = FormatFromName(text))
        return *format;
    throw UsageError("--format must be suf, obj, stl, ply or glb, not '" + std::string(text) + "'");
}

// The value of option: a decimal number greater than 0, in the C locale's form.
double ParsePositive(std::string_view option, std::string_view text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v))
        throw UsageError(
            std::string(option).append(": '").append(text).append("' is not a number"));
    if (!(v > 0))
        throw UsageError(std::string(option).append(" must be greater than 0, not ").append(text));
    return v;
}

// The output format: --format wins, then the extension of -o.
ExportFormat ResolveFormat(const std::optional<ExportFormat>& given,
                           const std::optional<std::string>& output) {
    if (given)
        return *given;
    if (!output || *output == "-")
        return ExportFormat::Suf;
    if (const auto format = FormatFromFileName(*output))
        return *format;
    // A folder, a device or a pipe has no extension to tell the format by: it
    // takes the default, as before there were other formats (the save says
    // that a folder is a folder, and writes through a device or a pipe).
    std::error_code error;
    const auto status = std::filesystem::status(*output, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return ExportFormat::Suf;
    throw UsageError("cannot tell the format of '" + *output +
                     "': use the extension .suf, .obj, .stl, .ply or .glb, or --format");
}

std::uint8_t ParseProfile(std::string_view text) {
    if (text == "rise")
        return 0;
    if (text == "dome")
        return 1;
    if (text == "hill")
        return 2;
    throw UsageError("--profile must be rise, dome or hill, not '" + std::string(text) + "'");
}

HeightSampling ParseSampling(std::string_view text) {
    if (text == "nearest")
        return HeightSampling::Nearest;
    if (text == "bilinear")
        return HeightSampling::Bilinear;
    throw UsageError("--sampling must be nearest or bilinear, not '" + std::string(text) + "'");
}

TerrainAspect ParseAspect(std::string_view text) {
    if (text == "square")
        return TerrainAspect::Square;
    if (text == "image")
        return TerrainAspect::Image;
    throw UsageError("--aspect must be square or image, not '" + std::string(text) + "'");
}

bool IsHelp(std::string_view arg) {
    return arg == "--help" || arg == "-h";
}

// Options shared by generate and estimate; returns false when arg is not one of them.
bool TakeCountOption(ArgCursor& args, std::string_view arg, int& depth, int& density, bool& quads,
                     unsigned& given) {
    if (arg == "--depth") {
        depth = ParseInt(args.value(arg), kMinDepth, kMaxDepth, arg);
        given |= kGivenDepth;
    } else if (arg == "--density") {
        density = ParseInt(args.value(arg), kMinPaMax, kMaxPaMax, arg);
        given |= kGivenDensity;
    } else if (arg == "--triangles") {
        args.noValue(arg);
        quads = false;
        given |= kGivenTriangles;
    } else {
        return false;
    }
    return true;
}

[[noreturn]] void Unknown(std::string_view arg) {
    throw UsageError("unknown option " + std::string(arg));
}

[[noreturn]] void Extra(std::string_view arg) {
    throw UsageError("unexpected argument '" + std::string(arg) + "'");
}

// The options of a run on an image. For estimate (forEstimate) the image is
// optional, the output options are unknown, and imageOption names the first
// option given that only makes sense with an image.
GenerateOptions ParseRun(ArgCursor& args, bool& help, bool forEstimate, bool& haveImage,
                         std::string& imageOption) {
    GenerateOptions o;
    std::optional<ExportFormat> format;
    std::string_view arg;
    bool option = false;
    while (args.next(arg, option)) {
        if (option && forEstimate && (arg == "-o" || arg == "--format" || arg == "--solid"))
            Unknown(arg);
        if (option && imageOption.empty() && !IsHelp(arg) && arg != "--depth" &&
            arg != "--density" && arg != "--triangles")
            imageOption = arg;
        if (!option) {
            if (haveImage)
                Extra(arg);
            o.image = arg;
            haveImage = true;
        } else if (IsHelp(arg)) {
            help = true;
            return o;
        } else if (TakeCountOption(args, arg, o.settings.depth, o.density, o.settings.quadMode, o.given)) {
        } else if (arg == "-o") {
            o.output = args.value(arg);
        } else if (arg == "--size") {
            o.settings.sizeText = args.value(arg);
            o.given |= kGivenSize;
        } else if (arg == "--height") {
            o.settings.heightText = args.value(arg);
            o.given |= kGivenHeight;
        } else if (arg == "--profile") {
            o.settings.shapeMode = ParseProfile(args.value(arg));
            o.given |= kGivenProfile;
        } else if (arg == "--level") {
            o.settings.level = ParseInt(args.value(arg), kMinLevel, kMaxLevel, arg);
            o.given |= kGivenLevel;
        } else if (arg == "--sampling") {
            o.settings.sampling = ParseSampling(args.value(arg));
            o.given |= kGivenSampling;
        } else if (arg == "--aspect") {
            o.settings.aspect = ParseAspect(args.value(arg));
            o.given |= kGivenAspect;
        } else if (arg == "--no-uv") {
            args.noValue(arg);
            o.settings.withUV = false;
            o.given |= kGivenNoUv;
        } else if (arg == "--normals") {
            args.noValue(arg);
            o.settings.withShade = true;
            o.given |= kGivenNormals;
        } else if (arg == "--object") {
            o.objectName = args.value(arg);
        } else if (arg == "--attribute") {
            o.attributeName = args.value(arg);
            o.given |= kGivenAttribute;
        } else if (arg == "--format") {
            format = ParseFormat(args.value(arg));
        } else if (arg == "--solid") {
            o.solidBase = ParsePositive("--solid", args.value(arg));
        } else if (arg == "--pull") {
            o.presses.push_back(ParsePress(args.value(arg), kLeftButton, arg));
        } else if (arg == "--push") {
            o.presses.push_back(ParsePress(args.value(arg), kRightButton, arg));
        } else if (arg == "--max-error") {
            o.maxError = ParsePositive("--max-error", args.value(arg));
        } else if (arg == "--true-scale") {
            const std::optional<std::string> value = args.numberValue();
            o.trueScale = value ? ParsePositive("--true-scale", *value) : 1.0;
        } else if (!forEstimate && arg == "--project") {
            o.project = args.value(arg);
        } else if (!forEstimate && arg == "--save-project") {
            o.saveProject = args.value(arg);
        } else {
            Unknown(arg);
        }
    }
    if (o.trueScale) {
        if (o.given & (kGivenSize | kGivenHeight))
            throw UsageError("--true-scale sets the size and height; give it without --size and "
                             "--height");
        o.settings.aspect = TerrainAspect::Image;
        o.given |= kGivenAspect | kGivenSize | kGivenHeight;
    }
    if (forEstimate)
        return o;
    if (haveImage && o.project)
        throw UsageError("generate takes an image or --project, not both");
    if (!haveImage && !o.project)
        throw UsageError("generate needs an image file");
    if (o.project && o.project->empty())
        throw UsageError("--project needs a file name");
    if (o.saveProject && o.saveProject->empty())
        throw UsageError("--save-project needs a file name");
    if (o.output && o.output->empty())
        throw UsageError("-o needs a file name");
    o.format = ResolveFormat(format, o.output);
    // Only a project to write: the output options wait for a run that has an output.
    if (o.solidBase && o.format == ExportFormat::Suf && !(o.saveProject && !o.output))
        throw UsageError("--solid needs a mesh format (obj, stl, ply or glb); .suf holds no solid");
    return o;
}

GenerateOptions ParseGenerate(ArgCursor& args, bool& help) {
    bool haveImage = false;
    std::string imageOption;
    return ParseRun(args, help, false, haveImage, imageOption);
}

EstimateOptions ParseEstimate(ArgCursor& args, bool& help) {
    bool haveImage = false;
    std::string imageOption;
    GenerateOptions run = ParseRun(args, help, true, haveImage, imageOption);
    EstimateOptions o;
    o.depth = run.settings.depth;
    o.density = run.density;
    o.quads = run.settings.quadMode;
    if (help)
        return o;
    if (haveImage)
        o.terrain = std::move(run);
    else if (!imageOption.empty())
        throw UsageError("estimate: " + imageOption + " needs the image (estimate IMAGE ...)");
    return o;
}

// Commands that take only file names.
std::vector<std::string> ParseFiles(ArgCursor& args, std::size_t count, std::string_view command,
                                    bool& help) {
    std::vector<std::string> files;
    std::string_view arg;
    bool option = false;
    while (args.next(arg, option)) {
        if (option) {
            if (!IsHelp(arg))
                Unknown(arg);
            help = true;
            return files;
        }
        if (files.size() == count)
            Extra(arg);
        files.emplace_back(arg);
    }
    if (files.size() != count)
        throw UsageError(std::string(command) + " needs " +
                         (count == 1 ? "a shape file" : "an input and an output file"));
    return files;
}

} // namespace

Options ParseCommandLine(int argc, const char* const* argv) {
    if (argc < 2)
        throw UsageError("no command given");
    Options o;
    const std::string_view command = argv[1];
    ArgCursor args(argc, argv, 2);
    bool help = false;
    if (IsHelp(command)) {
        help = true;
    } else if (command == "generate") {
        o.command = Command::Generate;
        o.generate = ParseGenerate(args, help);
    } else if (command == "estimate") {
        o.command = Command::Estimate;
        o.estimate = ParseEstimate(args, help);
    } else if (command == "list") {
        o.command = Command::List;
        if (auto files = ParseFiles(args, 1, command, help); !help)
            o.list.file = files[0];
    } else if (command == "resave") {
        o.command = Command::Resave;
        if (auto files = ParseFiles(args, 2, command, help); !help)
            o.resave = {files[0], files[1]};
    } else {
        throw UsageError("unknown command '" + std::string(command) + "'");
    }
    if (help)
        o.command = Command::Help;
    return o;
}

const char* UsageText() {
    return kUsage;
}
const char* HelpText() {
    // The defaults and ranges as the document defines them, filled in once.
    static const std::string help = [] {
        std::string text = ProgramLocaleAsksForJapanese() ? kHelpJapanese : kHelp;
        const auto put = [&text](std::string_view field, const std::string& value) {
            std::string key = "{";
            key.append(field).append("}");
            for (auto at = text.find(key); at != std::string::npos;
                 at = text.find(key, at + value.size()))
                text.replace(at, key.size(), value);
        };
        put("size", kDefaultSizeText);
        put("height", kDefaultHeightText);
        put("minDepth", std::to_string(kMinDepth));
        put("maxDepth", std::to_string(kMaxDepth));
        put("depth", std::to_string(kDefaultDepth));
        put("minDensity", std::to_string(kMinPaMax));
        put("maxDensity", std::to_string(kMaxPaMax));
        put("density", std::to_string(kDefaultPaMax));
        put("level", std::to_string(kDefaultLevel));
        put("exponent",
            std::to_string(kDefaultLevel / 10) + "." + std::to_string(kDefaultLevel % 10));
        put("attribute", kImageAttributeName);
        return text;
    }();
    return help.c_str();
}

} // namespace talorin::cli
