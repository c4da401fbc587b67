#include "export/format.h"

#include <array>

namespace talorin {

namespace {

constexpr std::array<std::pair<ExportFormat, const char*>, 5> kNames{{
    {ExportFormat::Suf, "suf"},
    {ExportFormat::Obj, "obj"},
    {ExportFormat::Stl, "stl"},
    {ExportFormat::Ply, "ply"},
    {ExportFormat::Glb, "glb"},
}};

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

std::optional<ExportFormat> FormatFromName(std::string_view name) {
    for (const auto& [format, text] : kNames)
        if (name == text)
            return format;
    return std::nullopt;
}

std::optional<ExportFormat> FormatFromFileName(std::string_view fileName) {
    const std::size_t slash = fileName.rfind('/');
    const std::string_view base =
        slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    // A name that is only an extension (".obj") is a hidden file, not an OBJ.
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    std::string extension(base.substr(dot + 1));
    for (char& c : extension)
        c = AsciiLower(c);
    return FormatFromName(extension);
}

const char* FormatName(ExportFormat format) {
    for (const auto& [f, text] : kNames)
        if (f == format)
            return text;
    return "suf";
}

std::string FormatExtension(ExportFormat format) {
    return std::string(".") + FormatName(format);
}

} // namespace talorin
