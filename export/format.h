#pragma once
// The file formats a terrain can be saved in, and how a name or a file
// extension selects one.

#include <optional>
#include <string>
#include <string_view>

namespace talorin {

enum class ExportFormat { Suf, Obj, Stl, Ply, Glb };

// "suf", "obj", "stl", "ply" or "glb", exactly (lower case); nothing otherwise.
std::optional<ExportFormat> FormatFromName(std::string_view name);

// The format whose extension fileName ends in, compared without regard to
// case ("Hill.GLB" gives Glb); nothing for any other or no extension.
std::optional<ExportFormat> FormatFromFileName(std::string_view fileName);

// The name FormatFromName takes ("obj") and the extension with its dot (".obj").
const char* FormatName(ExportFormat format);
std::string FormatExtension(ExportFormat format);

} // namespace talorin
