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

class Guion {
public:
    struct Paso {
        enum Tipo { Envia, Espera, Pausa, Cierra, Escucha, Junta } tipo;
        QByteArray datos;
        qint64 n = 0;
    };
    QList<Paso> pasos;
    Guion& agrega(Paso p) { return pasos.append(std::move(p)), *this; }

    Guion& S(const QByteArray& datos) { return agrega({Paso::Envia, datos}); }
    // The next line the client must send, without its CR LF, and with no other behind it
    // unless a junta() let it come.
    Guion& C(const QByteArray& linea) { return agrega({Paso::Espera, linea}); }
    Guion& pausa(int ms) { return agrega({Paso::Pausa, {}, ms}); }
    Guion& goteo(const QByteArray& datos, int ms) { return datos.isEmpty() ? *this : S(datos.left(1)).pausa(ms).goteo(datos.mid(1), ms); }
    // Records, unjudged, what the client sends till it hangs up, after hanging up itself for cierra().
    Guion& cierra() { return agrega({Paso::Cierra, {}}); }
    Guion& escucha() { return agrega({Paso::Escucha, {}}); }
    // Lets the next `lineas` commands come in a row.
    Guion& junta(int lineas) { return lineas ? agrega({Paso::Junta, {}, lineas}) : *this; }
    // Greeting, USER and PASS accepted.
    static Guion entrada(const QByteArray& usuario = "pepe", const QByteArray& clave = "secreta")
    {
        return Guion().S("+OK POP3 listo\r\n").C("USER " + usuario).S("+OK\r\n").C("PASS " + clave).S("+OK dentro\r\n");
    }
    Guion& stat(int cuenta) { return C("STAT").S("+OK " + QByteArray::number(cuenta) + " 4096\r\n"); }
    // `despues` follows the answer in the same send.
    Guion& top(int k, const QByteArray& asunto, const QByteArray& remitente, const QByteArray& despues = {})
    {
        return C("TOP " + QByteArray::number(k) + " 1").S("+OK\r\nReturn-Path: <x@y>\r\nSubject: " + asunto + "\r\nFrom: " + remitente
                                                          + "\r\nTo: pepe@ejemplo.org\r\n\r\nHola\r\n.\r\n" + despues);
    }
    Guion& quit() { return C("QUIT").S("+OK adios\r\n"); }
    Guion& capa(const QList<QByteArray>& nombres) { return C("CAPA").S("+OK\r\n" + (nombres + QList<QByteArray>{".", ""}).join("\r\n")); }
};

class ServidorGuion {
public:
    // One script for each connection, in the order they arrive.
    explicit ServidorGuion(QList<Guion> conexiones);
    ~ServidorGuion();
    Q_DISABLE_COPY_MOVE(ServidorGuion)

    quint16 puerto() const { return puerto_; }
    // Waits until every script has run to its end and the client has hung up.
    bool termina(int ms = 10000);
    // Lines that did not match the script, lines after its end, missing connections.
    QStringList fallos() const { return copia(fallos_); }
    // Every line received, with the number of its connection ("1: USER pepe").
    QStringList recibidas() const { return copia(recibidas_); }
    int conexiones() const { return aceptadas_; }

private:
    void sigue(int fd, int numero, const Guion& guion);
    bool recibe(int fd);
    bool envia(int fd, const QByteArray& datos);
    QStringList copia(const QStringList& lista) const
    {
        std::lock_guard l(mutex_);
        return lista;
    }
    void anota(QStringList& lista, const QString& texto)
    {
        std::lock_guard l(mutex_);
        lista << texto;
    }

    QList<Guion> guiones_;
    quint16 puerto_ = 0;
    int escucha_;
    std::atomic<bool> parar_{false}, hecho_{false};
    std::atomic<int> aceptadas_{0};
    mutable std::mutex mutex_;
    QStringList fallos_, recibidas_;
    QByteArray pendiente_;
    std::thread hilo_;
};

// A loopback port on which nothing listens.
quint16 PuertoCerrado();

}
