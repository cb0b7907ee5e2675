#pragma once
// Splits the byte stream of one POP3 connection into replies. What arrives after the
// end of a reply stays for the next one, so no reply is ever read as part of another;
// each reply keeps a bounded number of bytes and is bounded in time as a whole.
#include "sockets.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <functional>

namespace pirel {

class LectorRespuestas {
public:
    // `roto` tells when the connection has failed or timed out.
    LectorRespuestas(TSockets& socket, std::function<bool()> roto);

    // A new connection: nothing pending.
    void reinicia();
    // A reply begins; it may take `segundos` in all (0 or less: no limit).
    void inicia(int segundos);
    // Up to and including the next LF, of which the first `guardar` bytes are kept.
    // False when the reply stopped before its LF.
    bool linea(QByteArray* destino, qsizetype guardar);
    // A TOP answer: a first line that is not "+OK" alone, otherwise everything up to
    // the line that holds only ".".
    bool multilinea(QByteArray* destino, qsizetype guardar);

    // The last reply outlasted its time while data kept arriving.
    bool excedido() const { return excedido_; }
    bool cerrada() const { return cerrada_; }

private:
    bool recibeMas();

    TSockets& socket_;
    std::function<bool()> roto_;
    QByteArray pendiente_;
    QDeadlineTimer plazo_;
    bool excedido_ = false;
    bool cerrada_ = false;
};

}
