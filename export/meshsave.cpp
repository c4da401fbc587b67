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
        throw Error(Text(Msg::SufNotExport));
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
    fs::path image = fs::absolute(imageFile, ec);
    if (ec)
        return {};
    // Its folder as the system resolves it, as the OBJ's is.
    if (const fs::path real = fs::weakly_canonical(image.parent_path(), ec); !ec)
        image = real / image.filename();
    image = image.lexically_normal();
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
    if (format != ExportFormat::Obj) {
        vesk::SaveAtomically(fileName,
                             Counted(Producer(format, mesh, texture, ""), written, onWritten));
        return;
    }
    // The material file goes beside the OBJ that is really written: its
    // folder with links (and "..") resolved as the system resolves them.
    std::error_code ec;
    fs::path obj = fs::absolute(fileName, ec);
    const fs::path realFolder = fs::weakly_canonical(obj.parent_path(), ec);
    if (!ec)
        obj = realFolder / obj.filename();
    obj = obj.lexically_normal();
    const fs::path folder = obj.parent_path();
    std::string mtlFileName = obj.stem().string() + ".mtl";
    const fs::path mtl = folder / mtlFileName;
    if (mtl == obj)
        throw Error(Text(Msg::ObjIsOwnMtl, {vesk::ValidUtf8(fileName)}));
    if (SameFile(mtl, texture.file))
        throw Error(Text(Msg::MtlIsImage, {vesk::ValidUtf8(mtl.string())}));
    const std::string texturePath = HasUv(mesh) ? TexturePath(folder, texture.file) : "";
    const vesk::ByteProducer material = [&](const vesk::ByteSink& sink) {
        WriteMtl(mesh, texturePath, sink);
    };
    const std::string mtlLine = HasControlCharacter(mtlFileName) ? "" : mtlFileName;
    // The two files are one save: both are written in full first, then the
    // material file takes its name, and is put back as it was when the OBJ
    // cannot take its own.
    vesk::StagedSave mtlSave, objSave;
    mtlSave.stage(mtl.string(), Counted(material, written, onWritten));
    objSave.stage(fileName, Counted(Producer(format, mesh, texture, mtlLine), written, onWritten));
    mtlSave.commit(true);
    try {
        objSave.commit();
    } catch (...) {
        mtlSave.undo();
        throw;
    }
}

void WriteMeshExport(int fd, const std::string& name, ExportFormat format, const TerrainMesh& mesh,
                     const ExportTexture& texture, const WrittenFn& onWritten) {
    CheckMeshIndices(mesh);
    std::uint64_t written = 0;
    vesk::WriteThrough(fd, name, Counted(Producer(format, mesh, texture, ""), written, onWritten));
}

} // namespace talorin
