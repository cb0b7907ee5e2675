#pragma once
// The notice's sounds: the desktop's bell and a wave file, played through libcanberra
// behind a small interface so tests can record what would have sounded.
#include <QByteArray>
#include <QString>

#include <cstdint>

struct ca_context;

namespace pirel {

class Altavoz {
public:
    virtual ~Altavoz() = default;
    // The desktop theme's sound for the event; false when it could not start.
    virtual bool evento(const char* id) = 0;
    // Starts playing the file and returns at once; false when it could not start.
    virtual bool fichero(const QString& ruta) = 0;
};

class AltavozCanberra final : public Altavoz {
public:
    AltavozCanberra();
    ~AltavozCanberra() override;
    AltavozCanberra(const AltavozCanberra&) = delete;
    AltavozCanberra& operator=(const AltavozCanberra&) = delete;

    bool evento(const char* id) override;
    bool fichero(const QString& ruta) override;
    // libcanberra's code for the last sound started (0 when it started).
    int ultimoError() const { return ultimoError_; }
    // Whether the last sound started is still playing.
    bool sonando() const;

private:
    ca_context* contexto_ = nullptr;
    std::uint32_t ultimo_ = 0;
    int ultimoError_ = 0;
};

// The bell event, or the windowing system's beep when the desktop cannot play it.
// True when the bell event started.
bool Pitido(Altavoz& altavoz);
// Plays the configured wave file without waiting for it; a failure is silent.
void Reproduce(Altavoz& altavoz, const QByteArray& ficheroWav, const QString& directorioDatos);
// A relative name is looked for in the current folder, then in the data folder.
[[nodiscard]] QString RutaSonido(const QByteArray& ficheroWav, const QString& directorioDatos);

}
