#pragma once
// The hidden main form: owner of the tray icon and its menu, the check timer and the
// socket, and of everything the program keeps from start to end.
#include "buzon.h"
#include "cajas.h"
#include "chequeo.h"
#include "notificaciones.h"
#include "opciones.h"
#include "presentacion.h"
#include "registro.h"
#include "sockets.h"
#include "sonido.h"
#include "tray_icon.h"
#include "ventana_ayuda.h"
#include "vigias.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace pirel {

class TConf;
class TFAvisa;
struct Aceptacion;

class TPirel : public QObject, public Presentacion {
    Q_OBJECT
public:
    struct Piezas {
        std::unique_ptr<AreaNotificacion> area; // the desktop's when empty
        Cajas* cajas = nullptr;                 // QMessageBoxes when empty
        QString registro;                       // the settings file; the user's when empty
        QString programa;                       // this program's path, for the log-on entry
        QString ayuda;                          // the help document; the installed one when empty
        QString datos;                          // the data folder; the installed one when empty
        std::unique_ptr<Altavoz> altavoz;       // libcanberra's when empty
    };
    TPirel();
    explicit TPirel(Piezas piezas);
    ~TPirel() override;

    // False when the program must end here (the digest library is missing).
    [[nodiscard]] bool FormCreate();
    void FormShow();
    void FormDestroy();

    void Timer1Timer();
    void TrayIcon1Click();
    void ChequearCorreoAhora1Click();
    void AbrirCorreo1Click();
    void ConfiguracionClick();
    void Ayuda1Click();
    void CerrarClick();
    // Starts the user's mail program; a failure is silent.
    void Ejecuta(const QByteArray& lineaOrdenes);
    // Another start of the program handed over to this one: the dialog opens or comes forward.
    void muestraConfiguracion();

    // Where the configuration dialog and the new-mail notice are opened; each sets its
    // bit in ventanasAbiertas while it exists.
    std::function<void()> abreConfiguracion;
    std::function<void()> abreAviso;

    static constexpr quint8 kAvisoAbierto = 1, kConfiguracionAbierta = 2;
    quint8 ventanasAbiertas = 0;
    int mediaPantalla = 0;

    TTrayIcon TrayIcon1;
    QMenu PopupMenu1;
    QAction* ChequearCorreoAhora1 = nullptr;
    QAction* AbrirCorreo1 = nullptr;
    QAction* Configuracion = nullptr;
    QAction* Ayuda1 = nullptr;
    QAction* Cerrar = nullptr;
    QTimer Timer1;
    TSockets Sockets1;
    QIcon bandera0, bandera1, Bandera2, Bandera5;

    TOpciones opciones;
    Registro registro;
    // Created by FormCreate once the digest library is there.
    std::unique_ptr<TBuzon> buzones;
    std::unique_ptr<TMensaje> mensajes;
    std::unique_ptr<Chequeo> chequeo;
    VentanaAyuda ayuda;

    // What the cycle found; nothing is done while one is under way.
    ResultadoChequeo CheckMail();
    void muestraAyuda(int contexto);
    // Where the frames package and the default sound are.
    const QString& directorioDatos() const { return datos_; }
    // The open notice and the open dialog, or null.
    TFAvisa* aviso() const;
    TConf* configuracion() const;

    // What the check shows, through the tray and the boxes.
    void caja(const QString& texto, const QString& titulo) override;
    void termina() override;
    void cajaError(const QString& texto) override;
    void dialogo(const QString& texto) override;
    void icono(Bandera bandera) override;
    void consejo(const QString& texto) override;
    void muestraAviso(const QString& textoCuenta, const QStringList& cabeceras) override;
    void pitido() override;
    void reproduce(const QByteArray& ficheroWav) override;

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void creaMenu();
    // A check on the schedule, skipped while the network is down.
    void chequeoProgramado();
    // After a resume or the network's return, once things have settled.
    void chequeoTrasEspera();
    void notificaNuevos();
    void creaConfiguracion();
    // The dialog's "Aceptar": true once saved, and the dialog then ends.
    bool aceptaConfiguracion(const Aceptacion& aceptacion);
    void cierraConfiguracion(bool aceptado);
    // An error that leaves a handler is shown in an error box; the program goes on.
    void informa(const std::function<void()>& manejador);
    // Creates the notice when none is open; false when none is open afterwards (the
    // box about missing frames runs a loop in which the notice can be closed).
    bool creaAviso();
    void presentaAviso();

    CajasQt cajasQt_;
    Cajas* cajas_;
    QString programa_;
    QString datos_;
    std::unique_ptr<Altavoz> altavoz_;
    QPointer<TFAvisa> aviso_;
    QPointer<TConf> configuracion_;
    bool saliendo_ = false;

    Vigias vigias_;
    Notificaciones notificaciones_;
    QTimer asentar_;
    // When the last cycle ran, in ms since boot; -1 before the first.
    qint64 ultimoChequeo_ = -1;
};

}
