#include "errores_winsock.h"

#include <cerrno>
#include <utility>

namespace pirel {
namespace {

struct Descripcion {
    int codigo;
    const char* texto;
};

// Texts kept exactly as users of the Windows program have always read them.
constexpr Descripcion kTextos[] = {
    {10004, "Llamada al sistema interrumpida"},
    {10009, "Numero de fichero erroneo"},
    {10013, "Permision denegada"},
    {10014, "Direccion incorrecta"},
    {10022, "Argumento no valido"},
    {10024, "Demasiados ficheros abiertos"},
    {10035, "Operacion bloqueada"},
    {10036, "Operacion realizandose ahora"},
    {10037, "Operacion ya en progreso"},
    {10038, "No hay sockets"},
    {10039, "Se requiere direccion de destino"},
    {10040, "Mensaje demasiado largo"},
    {10041, "Tipo de Protocolo erroneo para socket"},
    {10042, "Protocolo no disponible"},
    {10043, "Protocolo no soportado"},
    {10044, "Tipo de Socket no soportado"},
    {10045, "Operacion no suportada en socket"},
    {10046, "Familia de Protocolos no soportada"},
    {10047, "Familia de direcciones no soportada por familia de protocolos"},
    {10048, "Direcci\xF3n ya en uso"},
    {10049, "No es posible asignar la direccion pedida"},
    {10050, "La red esta desconectada"},
    {10051, "La red es inalcanzable"},
    {10052, "La red ha desconectado al reestablecerse"},
    {10053, "El Software ha abortado la conexion"},
    {10054, "Conexion resestablecida por el par"},
    {10055, "No hay disponible espacio en el buffer"},
    {10056, "Socket esta ya conectado"},
    {10057, "Socket no esta conectado"},
    {10058, "No se puede enviar despues de desconexion de socket"},
    {10059, "Demasiadas referencias: No es posible splice"},
    {10060, "El servidor no responde"},
    {10061, "Conexion rechazada"},
    {10062, "Demasiados niveles de enlaces simbolicos"},
    {10063, "Nombre de fichero demasiado largo"},
    {10064, "Servidor desconectado"},
    {10065, "No hay ruta a el servidor"},
    {10066, "Directorio no vacio"},
    {10067, "Demasiados procesos"},
    {10068, "Demasiados usuarios"},
    {10069, "Cuota del disco excedida"},
    {10070, "Stale NFS manejador de fichero"},
    {10071, "Demasiados niveles remotos en el camino"},
    {10091, "El subsistema de red no se puede usar"},
    {10092, "WinSock DLL no puede soportar esta aplicacion"},
    {10093, "WinSock no inicializado"},
    {11001, "Servidor no encontrado"},
    {11002, "Servidor no encontrado"},
    {11003, "Error no recuperable"},
    {11004, "No hay Datos"},
};

// Linux numbers its errno values differently from BSD, on which WinSock's are based.
constexpr std::pair<int, int> kErrno[] = {
    {EINTR, 10004}, {EBADF, 10038}, {EACCES, 10013}, {EFAULT, 10014},
    {EINVAL, 10022}, {EMFILE, 10024}, {ENFILE, 10024}, {EAGAIN, 10035},
    {EINPROGRESS, 10036}, {EALREADY, 10037}, {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040}, {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042}, {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051}, {ENETRESET, 10052}, {ECONNABORTED, 10053},
    {ECONNRESET, 10054}, {ENOBUFS, 10055}, {ENOMEM, 10055}, {EISCONN, 10056},
    {ENOTCONN, 10057}, {ESHUTDOWN, 10058},
    // Sending to a peer that has gone: WinSock's nearest code.
    {EPIPE, 10058},
    {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061},
    {ELOOP, 10062}, {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066}, {EUSERS, 10068},
    {EDQUOT, 10069}, {ESTALE, 10070}, {EREMOTE, 10071},
};

}

QByteArray ErrorText(int codigo)
{
    for (const auto& d : kTextos)
        if (d.codigo == codigo)
            return QByteArray(d.texto);
    return QByteArrayLiteral("No es un error WinSock");
}

int CodigoWinsock(int numeroErrno)
{
    for (const auto& [e, w] : kErrno)
        if (e == numeroErrno)
            return w;
    return 10000 + numeroErrno;
}

}
