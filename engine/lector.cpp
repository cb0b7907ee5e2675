#include "lector.h"

#include "lectura.h"

namespace pirel {
namespace {

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
    cerrada_ = false;
    excedido_ = false;
}

void LectorRespuestas::inicia(int segundos)
{
    excedido_ = false;
    plazo_ = segundos > 0 ? QDeadlineTimer(std::chrono::seconds(segundos)) : QDeadlineTimer(QDeadlineTimer::Forever);
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
    pendiente_ += datos;
    return true;
}

bool LectorRespuestas::linea(QByteArray* destino, qsizetype guardar)
{
    destino->clear();
    for (;;) {
        const qsizetype lf = pendiente_.indexOf('\n');
        if (lf >= 0) {
            agrega(destino, pendiente_.constData(), lf + 1, guardar);
            pendiente_.remove(0, lf + 1);
            return true;
        }
        agrega(destino, pendiente_.constData(), pendiente_.size(), guardar);
        pendiente_.clear();
        if (!recibeMas())
            return false;
    }
}

bool LectorRespuestas::multilinea(QByteArray* destino, qsizetype guardar)
{
    if (!linea(destino, guardar))
        return false;
    if (!EmpiezaPor(*destino, "+OK"))
        return true;
    // Only a line holding "." alone ends the answer; dot-stuffed lines do not.
    enum { Inicio, Punto, PuntoCR, Medio } estado = Inicio;
    for (;;) {
        for (qsizetype i = 0; i < pendiente_.size(); ++i) {
            const char c = pendiente_[i];
            if (c == '\n') {
                if (estado == Punto || estado == PuntoCR) {
                    agrega(destino, pendiente_.constData(), i + 1, guardar);
                    pendiente_.remove(0, i + 1);
                    return true;
                }
                estado = Inicio;
            } else if (estado == Inicio && c == '.') {
                estado = Punto;
            } else if (estado == Punto && c == '\r') {
                estado = PuntoCR;
            } else {
                estado = Medio;
            }
        }
        agrega(destino, pendiente_.constData(), pendiente_.size(), guardar);
        pendiente_.clear();
        if (!recibeMas())
            return false;
    }
}

}
