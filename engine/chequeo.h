#pragma once
// One check cycle: a short POP3 conversation with every marked mailbox, the header
// lines of every message, and the announcement at the end. The conversations run side by
// side; what they found is shown in table order, as if they had run one after another.
#include "anuncio.h"
#include "buzon.h"
#include "conversacion.h"
#include "opciones.h"
#include "presentacion.h"
#include "recuerdo.h"
#include "sockets.h"

#include <QByteArray>
#include <QList>

#include <vector>

class QEventLoop;

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
    // With one mailbox at a time the cycle talks through `sockets`, in the caller's thread;
    // otherwise every mailbox has a socket and a thread of its own, and `sockets` only
    // lends them its caption. Its error event is taken over by this cycle.
    Chequeo(TSockets& sockets, TBuzon& buzones, TMensaje& mensajes, const TOpciones& opciones,
            Presentacion& presentacion);
    ~Chequeo();
    Chequeo(const Chequeo&) = delete;
    Chequeo& operator=(const Chequeo&) = delete;

    // When set, every mailbox is reached on this port rather than on its own.
    QByteArray puerto;
    int espera = 60;
    // Log-in and STAT alone, no TOP: the test of one mailbox being set up.
    bool soloCuenta = false;
    // Connections open at once. Two mailboxes that name the same user on the same server
    // and port are never checked at once: the second would find the maildrop locked.
    int simultaneos = kMaxBuzones;

    ResultadoChequeo CheckMail();
    // The last cycle that ran.
    const ResultadoChequeo& ultimoResultado() const { return resultado_; }
    // Ends the sessions under way with QUIT.
    void CierraSesion();
    // The program is ending: whatever session was open counts as closed.
    void terminaSesion() { chequeando_ = false; }

    bool chequeando() const { return chequeando_; }
    const QByteArray& sello() const { return sello_; }
    // The headers of earlier cycles, by mailbox and unique id.
    RecuerdoCabeceras& recuerdo() { return recuerdo_; }

private:
    struct Trabajo;

    [[nodiscard]] DatosBuzon datos(int i) const;
    [[nodiscard]] QByteArray identidad(const DatosBuzon& d) const;
    void reproduce(const Trabajo& t, ResultadoChequeo* r);
    void unoTrasOtro(std::vector<Trabajo>& trabajos, Reparto& reparto, ResultadoChequeo* r);
    [[nodiscard]] bool aLaVez(std::vector<Trabajo>& trabajos, Reparto& reparto, ResultadoChequeo* r);

    TSockets& Sockets1;
    TBuzon& buzones_;
    TMensaje& mensajes_;
    const TOpciones& opciones_;
    Presentacion& presentacion_;

    bool chequeando_ = false;
    Conversacion* enCurso_ = nullptr;
    // While sessions run on threads of their own: they, and the wait for them.
    std::vector<Trabajo>* trabajos_ = nullptr;
    QEventLoop* espera_ = nullptr;
    bool detener_ = false;
    QByteArray sello_;
    ResultadoChequeo resultado_;
    RecuerdoCabeceras recuerdo_;
};

}
