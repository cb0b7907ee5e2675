#pragma once
// A POP3 server for tests that follows a script per connection, on a loopback port of
// its own, and checks every line the client sends. A script that does not mention CAPA is
// a server without it: a CAPA where the script expects another line is answered -ERR.
#include <QByteArray>
#include <QList>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

namespace pirel::prueba {

class ServidorGuion;

class Guion {
public:
    struct Paso {
        enum Tipo { Envia, Espera, Pausa, Goteo, Cierra, Repite, SinFin, Escucha, Junta, Cita } tipo;
        QByteArray datos;
        int ms = 0;
        qint64 veces = 0;
        const ServidorGuion* otro = nullptr;
    };

    Guion& S(const QByteArray& datos) { return agrega({Paso::Envia, datos}); }
    // The next line the client must send, without its CR LF.
    Guion& C(const QByteArray& linea) { return agrega({Paso::Espera, linea}); }
    Guion& pausa(int ms) { return agrega({Paso::Pausa, {}, ms}); }
    Guion& goteo(const QByteArray& datos, int msPorByte) { return agrega({Paso::Goteo, datos, msPorByte}); }
    // Hangs up: the client sees the end of the stream.
    Guion& cierra() { return agrega({Paso::Cierra, {}}); }
    // `trozo` sent `veces` times in a row. These sends never wait on a client that has
    // hung up or stopped reading: the step ends instead.
    Guion& repite(const QByteArray& trozo, qint64 veces) { return agrega({Paso::Repite, trozo, 0, veces}); }
    // `trozo` over and over until the client hangs up.
    Guion& sinFin(const QByteArray& trozo) { return agrega({Paso::SinFin, trozo}); }
    // Takes whatever the client sends, unjudged but recorded, until it hangs up.
    Guion& escucha() { return agrega({Paso::Escucha, {}}); }
    // Answers nothing until `lineas` commands have come in a row, and fails if more have:
    // the client's window. The C() steps after it then take them one by one.
    Guion& junta(int lineas) { return agrega({Paso::Junta, {}, 0, lineas}); }
    // Goes on once `otro` has received `lineas` lines from its clients, at most 10 s later.
    Guion& cita(const ServidorGuion& otro, int lineas) { return agrega({Paso::Cita, {}, 0, lineas, &otro}); }

    // Greeting, USER and PASS accepted.
    static Guion entrada(const QByteArray& usuario = "pepe", const QByteArray& clave = "secreta",
                         const QByteArray& saludo = "+OK POP3 listo\r\n");
    Guion& stat(int cuenta) { return C("STAT").S("+OK " + QByteArray::number(cuenta) + " 4096\r\n"); }
    // `despues` follows the answer in the same send.
    Guion& top(int k, const QByteArray& asunto, const QByteArray& remitente, const QByteArray& despues = {});
    Guion& quit() { return C("QUIT").S("+OK adios\r\n"); }
    // A CAPA answer naming these capabilities.
    Guion& capa(const QList<QByteArray>& nombres);
    // A UIDL answer with these ids for messages 1, 2...
    Guion& uidl(const QList<QByteArray>& ids);
    // Every C() step fails when another command has already come behind its own.
    Guion& unoAUno()
    {
        unoAUno_ = true;
        return *this;
    }
    bool esUnoAUno() const { return unoAUno_; }

    QList<Paso> pasos;

private:
    Guion& agrega(Paso p)
    {
        pasos.append(std::move(p));
        return *this;
    }
    bool unoAUno_ = false;
};

class ServidorGuion {
public:
    // One script for each connection, in the order they arrive.
    explicit ServidorGuion(QList<Guion> conexiones);
    ~ServidorGuion();
    ServidorGuion(const ServidorGuion&) = delete;
    ServidorGuion& operator=(const ServidorGuion&) = delete;

    quint16 puerto() const { return puerto_; }
    // Waits until every script has run to its end and the client has hung up.
    bool termina(int ms = 10000);
    // Lines that did not match the script, lines after its end, missing connections.
    QStringList fallos() const;
    // Every line received, with the number of its connection ("1: USER pepe").
    QStringList recibidas() const;
    int conexiones() const { return aceptadas_; }

private:
    void atiende();
    void sigue(int fd, int numero, const Guion& guion);
    bool leeLinea(int fd, QByteArray* linea, int ms);
    // Whatever arrives within `ms`; false once the client has hung up.
    bool recibe(int fd, int ms);
    // Whole lines already received and not yet taken.
    qsizetype lineasPendientes() const { return pendiente_.count('\n'); }
    // False once the client is gone, has read nothing for `ms`, or the server stops.
    bool enviaSinBloquear(int fd, const QByteArray& datos, int ms);
    void falla(const QString& texto);

    QList<Guion> guiones_;
    int escucha_ = -1;
    quint16 puerto_ = 0;
    std::atomic<bool> parar_{false};
    std::atomic<int> aceptadas_{0};
    std::atomic<bool> hecho_{false};
    mutable std::mutex mutex_;
    QStringList fallos_;
    QStringList recibidas_;
    QByteArray pendiente_;
    std::thread hilo_;
};

// A loopback port on which nothing listens.
quint16 PuertoCerrado();

}
