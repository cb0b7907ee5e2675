#pragma once
// One check cycle: a short POP3 conversation with every marked mailbox, the header
// lines of every message, and the announcement at the end.
#include "anuncio.h"
#include "buzon.h"
#include "lector.h"
#include "opciones.h"
#include "presentacion.h"
#include "sockets.h"

#include <QByteArray>
#include <QList>

namespace pirel {

// What one cycle found, for the callers that act on it; the tray's texts are for the user.
struct ResultadoChequeo {
    // False when a cycle was already under way and this call did nothing.
    bool hecho = false;
    EstadoBandeja estado = EstadoBandeja::SinMensajes;
    // New mail was announced.
    bool nuevos = false;
    // Header lines collected: the number the tooltip shows.
    int cabeceras = 0;
    // The message count of every mailbox, mailbox 1 first, as the cycle left them.
    QList<int> cuentas;
    // Positions of the mailboxes whose check failed in this cycle.
    QList<int> fallidos;
};

class Chequeo {
public:
    // The socket's error event is taken over by this cycle.
    Chequeo(TSockets& sockets, TBuzon& buzones, TMensaje& mensajes, const TOpciones& opciones,
            Presentacion& presentacion);
    Chequeo(const Chequeo&) = delete;
    Chequeo& operator=(const Chequeo&) = delete;

    // When set, every mailbox is reached on this port rather than on its own.
    QByteArray puerto;
    int espera = 60;
    // Log-in and STAT alone, no TOP: the test of one mailbox being set up.
    bool soloCuenta = false;

    ResultadoChequeo CheckMail();
    // The last cycle that ran.
    const ResultadoChequeo& ultimoResultado() const { return resultado_; }
    void CierraSesion();
    // The program is ending: whatever session was open counts as closed.
    void terminaSesion() { chequeando_ = false; }
    [[nodiscard]] bool ConsumeTiempoAgotado();
    void Sockets1ErrorOccurred(TSockets* Sender, int Socket, int Error, const QByteArray& Msg);

    bool chequeando() const { return chequeando_; }
    int ultimoError() const { return ultimoError_; }
    int buzonActual() const { return buzonActual_; }
    const QByteArray& sello() const { return sello_; }

private:
    void atiendeBuzon(int i);
    [[nodiscard]] bool conecta(int i);
    void conversa(int i);
    [[nodiscard]] bool cifra(int i);
    [[nodiscard]] bool pasaASTLS(int i);
    // The connection could not be made secure: told as an unreachable server is.
    void fallaSeguridad(int i, const QString& motivo);
    void recogeCabeceras(int i, int k);
    [[nodiscard]] bool ordena(const QByteArray& orden, QByteArray* linea);
    [[nodiscard]] bool roto() const { return tiempoAgotado_ || ultimoError_ != 0; }
    void vigilaPlazo();

    QByteArray noResponde(int i) const;

    TSockets& Sockets1;
    TBuzon& buzones_;
    TMensaje& mensajes_;
    const TOpciones& opciones_;
    Presentacion& presentacion_;
    LectorRespuestas lector_;

    bool chequeando_ = false;
    bool tiempoAgotado_ = false;
    int ultimoError_ = 0;
    int buzonActual_ = 0;
    // True from the greeting until QUIT has gone out, so one session gets one QUIT.
    bool sesionAbierta_ = false;
    // While QUIT goes out and its answer is awaited.
    bool cerrando_ = false;
    // The mailbox being handled has failed in this cycle.
    bool fallo_ = false;
    QByteArray sello_;
    ResultadoChequeo resultado_;
};

}
