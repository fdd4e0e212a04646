#include "platform/linux/posix_errors.h"

#include <cerrno>
#include <cstring>

namespace orbitreel {

PlatformError posixError(int code, const Path& path) {
    std::string where = path.empty() ? std::string() : " (" + path.string() + ")";
    std::string text;
    switch (code) {
        case ENOENT: text = "No existe el archivo o la carpeta" + where + "."; break;
        case EACCES:
        case EPERM: text = "No hay permiso para acceder" + where + "."; break;
        case ENOSPC:
        case EDQUOT: text = "No queda espacio en el disco" + where + "."; break;
        case EEXIST:
        case ENOTEMPTY: text = "Ya existe un elemento con ese nombre" + where + "."; break;
        case EROFS: text = "El disco es de solo lectura" + where + "."; break;
        case ENOTDIR: text = "Una parte de la ruta no es una carpeta" + where + "."; break;
        case EISDIR: text = "Es una carpeta, no un archivo" + where + "."; break;
        case EIO: text = "Error de lectura o escritura en el disco" + where + "."; break;
        case ENAMETOOLONG: text = "El nombre es demasiado largo" + where + "."; break;
        default: text = std::string(std::strerror(code)) + where + "."; break;
    }
    return PlatformError{"posix", code, text};
}

}  // namespace orbitreel
