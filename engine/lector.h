#pragma once
// Splits the byte stream of one POP3 connection into replies, in order. When a command
// goes out with no answer outstanding, whatever is still pending answers nothing and is
// dropped; commands sent in a row keep what follows, which is the next one's answer. Each
// reply keeps a bounded number of bytes and is bounded in time as a whole.
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
    // A command is about to go out with no answer outstanding: what came before it, read
    // or not, is dropped.
    void descarta();
    // A reply begins; it may take `segundos` in all (0 or less: no limit).
    void inicia(int segundos);
    // One line with its end, of which the first `guardar` bytes are kept. A line ends at
    // LF, at CR LF, or at a CR alone, which is handed on as CR LF. False when the reply
    // stopped before the line's end.
    bool linea(QByteArray* destino, qsizetype guardar);
    // A TOP answer: a first line that is not "+OK" alone, otherwise everything up to
    // the line that holds only ".".
    bool multilinea(QByteArray* destino, qsizetype guardar);

    // Bytes have arrived past the last reply, read or not; nothing is waited for.
    [[nodiscard]] bool quedaAlgo();

    // The last reply outlasted its time while data kept arriving.
    bool excedido() const { return excedido_; }
    bool cerrada() const { return cerrada_; }

private:
    bool recibeMas();
    // Appends one line to `destino`, keeping it within `guardar` bytes in all; `largo`
    // and `primero` tell the line's length without its end and its first byte.
    bool agregaLinea(QByteArray* destino, qsizetype guardar, qsizetype* largo, char* primero);

    TSockets& socket_;
    std::function<bool()> roto_;
    QByteArray pendiente_;
    // Bytes of `pendiente_` already handed on.
    qsizetype leido_ = 0;
    // A line ended at a CR that was the last byte received: a LF that comes next is its.
    bool saltaLF_ = false;
    QDeadlineTimer plazo_;
    bool excedido_ = false;
    bool cerrada_ = false;
};

}
