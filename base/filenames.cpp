#include "base/filenames.h"

namespace talorin {

std::string FolderPart(const std::string& fileName) {
    const std::size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string BaseFileName(const std::string& fileName) {
    const std::size_t slash = fileName.rfind('/');
    const std::string name =
        slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    // The first dot cuts, not the last: "fuji.old.bmp" is "fuji".
    return name.substr(0, name.find('.'));
}

} // namespace talorin
