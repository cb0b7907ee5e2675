#include "lector.h"

#include "lectura.h"

namespace pirel {
namespace {

// The most one command's drop throws away; whatever keeps coming past it is read as the
// reply, which is no worse than a reply that is wrong.
constexpr qint64 kDescarteMax = 1 << 20;

void agrega(QByteArray* destino, const char* datos, qsizetype n, qsizetype guardar)
{
    const qsizetype sitio = guardar - destino->size();
    if (sitio > 0)
        destino->append(datos, qMin(n, sitio));
}

}

LectorRespuestas::LectorRespuestas(TSockets& socket, std::function<bool()> roto)
    : socket_(socket)
    , roto_(std::move(roto))
{
}

void LectorRespuestas::reinicia()
{
    pendiente_.clear();
    leido_ = 0;
    saltaLF_ = false;
    cerrada_ = false;
    excedido_ = false;
}

void LectorRespuestas::descarta()
{
    pendiente_.clear();
    leido_ = 0;
    if (cerrada_ || roto_())
        return;
    bool cerrada = false;
    socket_.Descarta(kDescarteMax, &cerrada);
    cerrada_ = cerrada;
}

void LectorRespuestas::inicia(int segundos)
{
    excedido_ = false;
    plazo_ = segundos > 0 ? QDeadlineTimer(std::chrono::seconds(segundos)) : QDeadlineTimer(QDeadlineTimer::Forever);
}

bool LectorRespuestas::quedaAlgo()
{
    // A line that ended at a CR, the last byte then received, owns the LF right after it.
    if (saltaLF_ && leido_ < pendiente_.size() && pendiente_[leido_] == '\n') {
        saltaLF_ = false;
        ++leido_;
    }
    return leido_ < pendiente_.size() || socket_.Disponibles() > 0;
}

bool LectorRespuestas::recibeMas()
{
    if (cerrada_ || roto_())
        return false;
    if (plazo_.hasExpired()) {
        excedido_ = true;
        return false;
    }
    // One receive may wait only for what is left of the reply's time.
    const int antes = socket_.Timeout;
    if (!plazo_.isForever())
        socket_.Timeout = static_cast<int>(qMax<qint64>(1, (plazo_.remainingTime() + 999) / 1000));
    bool cerrada = false;
    const QByteArray datos = socket_.Recibe(&cerrada);
    socket_.Timeout = antes;
    cerrada_ = cerrada;
    if (datos.isEmpty())
        return false;
    pendiente_.remove(0, leido_);
    leido_ = 0;
    pendiente_ += datos;
    return true;
}

bool LectorRespuestas::agregaLinea(QByteArray* destino, qsizetype guardar, qsizetype* largo, char* primero)
{
    *largo = 0;
    *primero = 0;
    for (;;) {
        if (saltaLF_ && leido_ < pendiente_.size()) {
            saltaLF_ = false;
            if (pendiente_[leido_] == '\n')
                ++leido_;
        }
        const char* inicio = pendiente_.constData() + leido_;
        const qsizetype resto = pendiente_.size() - leido_;
        qsizetype fin = 0;
        while (fin < resto && inicio[fin] != '\n' && inicio[fin] != '\r')
            ++fin;
        if (*largo == 0 && fin > 0)
            *primero = inicio[0];
        *largo += fin;
        agrega(destino, inicio, fin, guardar);
        if (fin == resto) {
            leido_ = pendiente_.size();
            if (!recibeMas())
                return false;
            continue;
        }
        if (inicio[fin] == '\n') {
            agrega(destino, "\n", 1, guardar);
            leido_ += fin + 1;
        } else if (fin + 1 < resto) {
            agrega(destino, "\r\n", 2, guardar);
            leido_ += fin + (inicio[fin + 1] == '\n' ? 2 : 1);
        } else {
            // A CR that ends what has arrived ends the line at once: a server that ends
            // its lines with CR alone and then waits must not cost the time-out.
            agrega(destino, "\r\n", 2, guardar);
            leido_ += fin + 1;
            saltaLF_ = true;
        }
        return true;
    }
}

bool LectorRespuestas::linea(QByteArray* destino, qsizetype guardar)
{
    destino->clear();
    qsizetype largo;
    char primero;
    return agregaLinea(destino, guardar, &largo, &primero);
}

bool LectorRespuestas::multilinea(QByteArray* destino, qsizetype guardar)
{
    if (!linea(destino, guardar))
        return false;
    if (!EmpiezaPor(*destino, "+OK"))
        return true;
    // Only a line holding "." alone ends the answer; dot-stuffed lines do not.
    for (;;) {
        qsizetype largo;
        char primero;
        if (!agregaLinea(destino, guardar, &largo, &primero))
            return false;
        if (largo == 1 && primero == '.')
            return true;
    }
}

}
