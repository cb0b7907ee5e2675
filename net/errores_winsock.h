#pragma once
#include <QByteArray>

namespace pirel {

namespace winsock {
inline constexpr int kInterrumpida = 10004;      // WSAEINTR: a waiting call was cancelled
inline constexpr int kBloquearia = 10035;        // WSAEWOULDBLOCK
inline constexpr int kEnProgreso = 10036;        // WSAEINPROGRESS: a blocking call is already waiting
inline constexpr int kNoSocket = 10038;          // WSAENOTSOCK
inline constexpr int kTiempoAgotado = 10060;     // WSAETIMEDOUT
}

// Spanish description of a WinSock code (Windows-1252 bytes).
[[nodiscard]] QByteArray ErrorText(int codigo);

// The WinSock code for a POSIX errno value.
[[nodiscard]] int CodigoWinsock(int numeroErrno);

}
