#pragma once
// The command line of talorin-cli: which command to run and its settings, as
// typed. Parsing only checks the form of the arguments; texts that the core
// converts itself (the size and height, the names) are passed on untouched.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/format.h"

namespace talorin::cli {

// A command line that does not make sense: the tool prints the text and the
// short usage on stderr and exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One mouse press on the 233 x 233 preview, in preview pixels.
struct Press {
    int x = 0;
    int y = 0;
    std::uint8_t button = 0; // kLeftButton (pull) or kRightButton (push)
};

// The defaults are the main window's start values.
struct GenerateOptions {
    std::string image;
    std::optional<std::string> output; // "-" is standard output; unset: next to the image
    std::string sizeText = "2000";
    std::string heightText = "500";
    int depth = 2;
    int density = 4;
    bool quads = true;
    std::uint8_t shapeMode = 0;
    int level = 10;
    bool withUV = true;
    bool withShade = false;
    std::optional<std::string> objectName; // UTF-8; unset: the image's base name
    std::string attributeName = "BodyM";   // UTF-8
    std::vector<Press> presses;            // in command-line order
    // --format, or else the extension of -o; .suf for standard output and
    // when neither is given.
    ExportFormat format = ExportFormat::Suf;
    std::optional<double> solidBase; // --solid: close into a solid down to -base
};

struct EstimateOptions {
    int depth = 2;
    int density = 4;
    bool quads = true;
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

// The short usage (for usage errors) and the full help (for --help).
const char* UsageText();
const char* HelpText();

} // namespace talorin::cli
