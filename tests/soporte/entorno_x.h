#pragma once
// A private X server (Xvfb) with an XEmbed tray (trayer), for running the real program
// in tests and benchmarks.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace pirel::prueba {

// The output of a short command, or empty when it fails or takes over 10 s.
QString Orden(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno,
              QByteArray* binario = nullptr);
// Polls for something that only another process's windows tell.
bool EsperaA(const std::function<bool()>& condicion, int ms = 10000);
void Termina(QProcess& proceso);

class EntornoX {
public:
    EntornoX() = default;
    ~EntornoX();
    EntornoX(const EntornoX&) = delete;
    EntornoX& operator=(const EntornoX&) = delete;

    // Starts Xvfb and waits until it answers; the text says what failed.
    [[nodiscard]] bool arranca(QString* error);
    [[nodiscard]] bool arrancaBandeja();
    void paraBandeja() { Termina(trayer_); }
    // The environment of a client of this display.
    const QProcessEnvironment& entorno() const { return x_; }
    // The environment in which the program docks into the tray over XEmbed.
    QProcessEnvironment entornoPrograma() const;
    QStringList ventanas(const QString& clase) const;

private:
    QTemporaryDir dir_;
    QProcess xvfb_, trayer_;
    QProcessEnvironment x_;
};

}
