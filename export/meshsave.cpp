#include "export/meshsave.h"

#include <filesystem>

#include "base/atomicsave.h"
#include "base/error.h"
#include "base/sjis.h"
#include "export/exportbytes.h"
#include "export/glbwriter.h"
#include "export/objwriter.h"
#include "export/plywriter.h"
#include "export/stlwriter.h"

namespace talorin {

namespace {

namespace fs = std::filesystem;

// The bytes of format for mesh; mtlFileName only matters for OBJ.
vesk::ByteProducer Producer(ExportFormat format, const TerrainMesh& mesh,
                            const ExportTexture& texture, const std::string& mtlFileName) {
    return [=, &mesh, &texture](const vesk::ByteSink& sink) {
        switch (format) {
        case ExportFormat::Obj:
            WriteObj(mesh, mtlFileName, sink);
            return;
        case ExportFormat::Stl:
            WriteStl(mesh, sink);
            return;
        case ExportFormat::Ply:
            WritePly(mesh, sink);
            return;
        case ExportFormat::Glb:
            WriteGlb(mesh, texture.image, sink);
            return;
        case ExportFormat::Suf:
            break;
        }
        throw Error(".suf 形式はこの書き出しでは書けません");
    };
}

using WrittenFn = std::function<void(std::uint64_t written)>;

// produce with every byte it hands on added to written and told to
// onWritten; produce itself when there is no one to tell.
vesk::ByteProducer Counted(vesk::ByteProducer produce, std::uint64_t& written,
                           const WrittenFn& onWritten) {
    if (!onWritten)
        return produce;
    return [produce = std::move(produce), &written, &onWritten](const vesk::ByteSink& sink) {
        produce([&](const char* data, std::size_t size) {
            sink(data, size);
            written += size;
            onWritten(written);
        });
    };
}

bool HasControlCharacter(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// The image's path as seen from the OBJ's folder, with "/" separators; empty
// when there is no image or the path could not be written on one line.
std::string TexturePath(const fs::path& objFolder, const std::string& imageFile) {
    if (imageFile.empty() || HasControlCharacter(imageFile))
        return {};
    std::error_code ec;
    const fs::path image = fs::absolute(imageFile, ec).lexically_normal();
    if (ec)
        return {};
    const fs::path relative = image.lexically_relative(objFolder);
    return (relative.empty() ? image : relative).generic_string();
}

bool SameFile(const fs::path& a, const std::string& b) {
    std::error_code ec;
    return !b.empty() && fs::equivalent(a, b, ec) && !ec;
}

} // namespace

void SaveMeshExport(ExportFormat format, const std::string& fileName, const TerrainMesh& mesh,
                    const ExportTexture& texture, const WrittenFn& onWritten) {
    CheckMeshIndices(mesh);
    std::uint64_t written = 0;
    std::string mtlFileName;
    if (format == ExportFormat::Obj) {
        std::error_code ec;
        const fs::path obj = fs::absolute(fileName, ec).lexically_normal();
        const fs::path folder = obj.parent_path();
        mtlFileName = obj.stem().string() + ".mtl";
        const fs::path mtl = folder / mtlFileName;
        if (SameFile(mtl, texture.file))
            throw Error("ファイル " + vesk::ValidUtf8(mtl.string()) +
                        " に書き込めませんでした: "
                        "等高線画像そのものです (OBJ ファイルに別の名前を付けてください)");
        const std::string texturePath = HasUv(mesh) ? TexturePath(folder, texture.file) : "";
        const vesk::ByteProducer material = [&](const vesk::ByteSink& sink) {
            WriteMtl(mesh, texturePath, sink);
        };
        vesk::SaveAtomically(mtl.string(), Counted(material, written, onWritten));
        if (HasControlCharacter(mtlFileName))
            mtlFileName.clear();
    }
    vesk::SaveAtomically(fileName,
                         Counted(Producer(format, mesh, texture, mtlFileName), written, onWritten));
}

void WriteMeshExport(int fd, const std::string& name, ExportFormat format, const TerrainMesh& mesh,
                     const ExportTexture& texture, const WrittenFn& onWritten) {
    CheckMeshIndices(mesh);
    std::uint64_t written = 0;
    vesk::WriteThrough(fd, name, Counted(Producer(format, mesh, texture, ""), written, onWritten));
}

} // namespace talorin
