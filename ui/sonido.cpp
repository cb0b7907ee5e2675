#include "sonido.h"

#include "ansi.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <canberra.h>

#include <atomic>

namespace pirel {
namespace {

// One context for the whole process, never destroyed: destroying it unloads the sound
// driver module while the driver's own thread may still be finishing a sound, which
// crashes. The system reclaims it when the program ends.
ca_context* contextoCompartido()
{
    static ca_context* const contexto = [] {
        ca_context* c = nullptr;
        if (ca_context_create(&c) != CA_SUCCESS)
            return static_cast<ca_context*>(nullptr);
        ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "Ludaren Electrónico", CA_PROP_APPLICATION_ID,
                                "ludaren-electronico", nullptr);
        return c;
    }();
    return contexto;
}

// Sound ids are the context's, so they are unique across loudspeakers.
std::atomic<std::uint32_t> siguienteId{0};

}

AltavozCanberra::AltavozCanberra()
    : contexto_(contextoCompartido())
{
}

AltavozCanberra::~AltavozCanberra() = default;

bool AltavozCanberra::evento(const char* id)
{
    if (!contexto_)
        return false;
    ultimo_ = ++siguienteId;
    ultimoError_ = ca_context_play(contexto_, ultimo_, CA_PROP_EVENT_ID, id, nullptr);
    return ultimoError_ == CA_SUCCESS;
}

bool AltavozCanberra::fichero(const QString& ruta)
{
    if (!contexto_)
        return false;
    const QByteArray nombre = QFile::encodeName(ruta);
    ultimo_ = ++siguienteId;
    ultimoError_ = ca_context_play(contexto_, ultimo_, CA_PROP_MEDIA_FILENAME, nombre.constData(), nullptr);
    return ultimoError_ == CA_SUCCESS;
}

bool AltavozCanberra::sonando() const
{
    int sonando = 0;
    if (!contexto_ || ultimo_ == 0 || ca_context_playing(contexto_, ultimo_, &sonando) != CA_SUCCESS)
        return false;
    return sonando != 0;
}

bool Pitido(Altavoz& altavoz)
{
    if (altavoz.evento("bell"))
        return true;
    QApplication::beep();
    return false;
}

QString RutaSonido(const QByteArray& ficheroWav, const QString& directorioDatos)
{
    const QString nombre = ansi::aTexto(ficheroWav);
    if (nombre.isEmpty() || QFileInfo(nombre).isAbsolute())
        return nombre;
    const QString aqui = QDir::current().absoluteFilePath(nombre);
    if (QFileInfo::exists(aqui))
        return aqui;
    return QDir(directorioDatos).absoluteFilePath(nombre);
}

void Reproduce(Altavoz& altavoz, const QByteArray& ficheroWav, const QString& directorioDatos)
{
    const QString ruta = RutaSonido(ficheroWav, directorioDatos);
    if (!ruta.isEmpty())
        altavoz.fichero(ruta);
}

}
