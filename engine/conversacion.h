#pragma once
// One mailbox's POP3 session. It may run on a thread of its own beside the others of a
// cycle, so it touches neither the tables nor the user: everything it would change or
// show is written down in order, and the cycle plays that back in table order.
#include "lector.h"
#include "lectura.h"
#include "presentacion.h"
#include "recuerdo.h"
#include "sockets.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

namespace pirel {

struct Efecto {
    enum Tipo { CajaError, Dialogo, Caja, Termina, Icono, Consejo, ConError, Actuales, Linea, Sello, Fallo };
    Tipo tipo;
    // The message whose header was being read, 0 before the first: what happened for a
    // message whose line would not have been kept did not happen for the user.
    int mensaje = 0;
    QString texto{};
    QString titulo{};
    int valor = 0;
    QByteArray bytes{};
};

struct Diario {
    QList<Efecto> efectos;
    // The mailbox's headers by unique id after this session; none when the session
    // learnt nothing of its ids and what was known stays.
    std::optional<CabecerasBuzon> recuerdo;
    InformeTLS tls;
};

// What a session needs to know of its mailbox, copied so that it owes the table nothing.
struct DatosBuzon {
    QByteArray nombre, host, usuario, clave;
    Conexion conexion;
    // The port actually used, as text.
    QByteArray puerto;
    int espera = 60;
    bool soloCuenta = false;
    bool conError = false;
    CabecerasBuzon recuerdo;
};

// How many header lines the mailboxes ahead of each one take, as far as is known: a
// session asks for no header whose line could not be kept. Shared by a cycle's sessions.
class Reparto {
public:
    explicit Reparto(int sesiones);
    // The session in place `orden` will add `lineas` lines.
    void anota(int orden, int lineas);
    // At most this many lines are left for the session in place `orden`.
    [[nodiscard]] int tope(int orden) const;

private:
    mutable std::mutex mutex_;
    std::vector<int> lineas_;
};

class Conversacion final : private AvisosSocket {
public:
    // TOPs outstanding at once where the server takes commands in a row: enough to keep a
    // slow link busy, few enough that a server is never sent a flood it must queue.
    static constexpr int kVentana = 32;

    // The socket's error event and its boxes belong to this session while it lives.
    Conversacion(TSockets& sockets, const DatosBuzon& datos, Reparto& reparto, int orden);
    ~Conversacion() override;
    Conversacion(const Conversacion&) = delete;
    Conversacion& operator=(const Conversacion&) = delete;

    Diario atiende();
    // Ends the session under way with QUIT, as the program does when it ends.
    void CierraSesion();

private:
    enum class Forma { Linea, Multilinea };

    void caja(const QString& texto, const QString& titulo) override;
    void termina() override;
    void anota(Efecto::Tipo tipo, const QString& texto = {}, int valor = 0);
    void fallo();
    void setConError(bool valor);

    void Sockets1ErrorOccurred(int Error, const QByteArray& Msg);
    [[nodiscard]] bool ConsumeTiempoAgotado();
    [[nodiscard]] bool roto() const { return tiempoAgotado_ || ultimoError_ != 0; }
    void vigilaPlazo();
    [[nodiscard]] QByteArray noResponde() const;

    [[nodiscard]] bool conecta();
    void conversa();
    [[nodiscard]] bool cifra();
    [[nodiscard]] bool pasaASTLS();
    void fallaSeguridad(const QString& motivo);
    void claveRechazada();
    void cuentaLeida(int cuenta);

    // One command, its answer awaited: what came before it answers nothing and is dropped.
    [[nodiscard]] bool ordena(const QByteArray& orden, QByteArray* respuesta, Forma forma = Forma::Linea,
                              qsizetype guardar = 4096);
    void pasoAPaso(const Capacidades& capacidades);
    void recogeCabeceras(int k);

    // Commands sent in a row: their answers are read in order, nothing dropped.
    void enCadena(const Capacidades& capacidades);
    void encola(const QByteArray& ordenes, std::initializer_list<Forma> formas);
    // False when the connection failed or timed out; `entera` tells the answer came whole.
    [[nodiscard]] bool leeSiguiente(QByteArray* respuesta, qsizetype guardar = 4096, bool* entera = nullptr);
    // TOP for the messages from `desde` on whose headers are not known, up to the window.
    void pideTops(int desde);
    void recogeEnCadena(int cuenta);

    [[nodiscard]] std::optional<CabecerasBuzon> recuerdoFinal() const;
    void anotaLinea(const Partes& partes);
    [[nodiscard]] bool conocido(int k) const;
    void recuerdaLista(const QByteArray& respuesta, int cuenta);

    TSockets& Sockets1;
    const DatosBuzon& datos_;
    Reparto& reparto_;
    const int orden_;
    LectorRespuestas lector_;
    Diario diario_;

    bool conError_;
    bool tiempoAgotado_ = false;
    int ultimoError_ = 0;
    // True from the greeting until QUIT has gone out, so one session gets one QUIT.
    bool sesionAbierta_ = false;
    // While QUIT goes out and its answer is awaited.
    bool cerrando_ = false;
    // From the connection until it is closed.
    bool abierta_ = false;
    // The message being read, put on everything written down meanwhile.
    int etiqueta_ = 0;
    // The reparto has this session's line count.
    bool lineasAnotadas_ = false;

    // Answers still to come for commands sent in a row, oldest first.
    std::deque<Forma> pendientes_;
    // Messages whose TOP has gone out, oldest first; the next one to ask for.
    std::deque<int> pedidos_;
    int siguiente_ = 1;
    int cuentaEnCadena_ = 0;
    // An answer in a row began with neither +OK nor -ERR, or one never came: what was read
    // may belong to another command, so none of it is remembered.
    bool desfase_ = false;

    // Unique ids by message number, once a listing came.
    QList<QByteArray> ids_;
    // A whole listing came: the ids not in it are gone.
    bool listaLeida_ = false;
    // The server keeps no ids: nothing is remembered for it.
    bool sinUIDL_ = false;
    // Headers read in this session, by id.
    CabecerasBuzon nuevas_;
};

}
