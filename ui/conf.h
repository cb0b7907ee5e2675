#pragma once
// The configuration dialog: the mailboxes, edited in a working copy that only
// "Aceptar" takes over, and the options.
#include "ajustes.h"
#include "buzon.h"
#include "opciones.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace pirel {

// The mailbox names into the selector, the first one chosen.
void CargarCombo(const TBuzon& buzones, QComboBox* combo);

// What "Aceptar" hands over: the options as chosen, the working copy of the table, and
// the mailbox still in the fields, which the save takes in only once it knows it saves.
struct Aceptacion {
    EleccionDialogo eleccion;
    TBuzon buzones;
    std::function<void(TBuzon&)> pendiente;
};

class TConf : public QDialog {
    Q_OBJECT
public:
    TConf(const TBuzon& buzones, const TOpciones& opciones);
    ~TConf() override;

    // Set by whoever opens the dialog. F1 asks for a help context. "Aceptar" hands its
    // choice over and the dialog ends only when that returns true (it was saved);
    // `alCerrar` follows once the dialog is hidden, before it is released.
    std::function<void(int contexto)> pideAyuda;
    std::function<bool(const Aceptacion&)> alAceptar;
    std::function<void(bool aceptado)> alCerrar;

    // The error of a stored interval that cannot be read, empty otherwise; the options
    // then keep the form's own states.
    const QString& errorAlCrear() const { return errorAlCrear_; }
    bool cerrado() const { return cerrado_; }

    TBuzon buzonesEdicion;

    QTabWidget* PageControl1;
    QComboBox* dBuzon;
    QGroupBox* GroupBox2;
    QLineEdit *dHost, *dusuario, *dclave;
    QCheckBox* cCheck;
    // How the mailbox is reached: "SSL/TLS", "STARTTLS" or "Ninguna", and on which port.
    QComboBox* dSeguridad;
    QSpinBox* dPuerto;
    // Shown while the mode is "Ninguna".
    QLabel* avisoSinCifrar;
    QPushButton* comprobar;
    QPushButton *nuevo, *eliminar;
    QCheckBox *AnimaSobre, *CheckBox1;
    QSpinBox* dfrecuencia;
    QCheckBox* CheckBox3;
    QLineEdit* gcorreo;
    QPushButton* BitBtn3;
    QCheckBox *ReWav, *CheckBox2;
    QLineEdit* Edit1;
    QPushButton* BitBtn4;
    QPushButton *BitBtn1, *BitBtn2;
    QLabel* titulo;
    QPushButton* Button1;

    // The file picker and the warning box, replaceable where no one can click.
    std::function<QString(const QString& titulo, const QString& filtro, const QString& inicial)> eligeFichero;
    std::function<void(const QString& texto)> advierte;
    // The outcome of a good test, and the question whether to trust a certificate.
    std::function<void(const QString& texto)> informa;
    std::function<bool(const QString& texto)> pregunta;
    // Seconds the test of a mailbox waits for each step.
    int esperaComprobacion = 60;

    void CheckBox2Click();
    void ReWavClick();
    void CheckBox3Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void dBuzonClick();
    void nuevoClick();
    void eliminarClick();
    void GroupBox2Exit();
    void dSeguridadChange();
    void comprobarClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void Button1Click();
    void FormClose();

    bool anadiendo() const;
    // Shows mailbox `pos` of the working copy in the fields; past the last one, the
    // fields of a new mailbox.
    void visualizar(int pos);
    // The mode, the port and the pin of the mailbox in the fields.
    Conexion conexionEditada() const;

protected:
    void closeEvent(QCloseEvent* evento) override;
    void reject() override;

private:
    void FormCreate(const TBuzon& buzones, const TOpciones& opciones);
    QWidget* creaPaginaConfiguracion();
    QWidget* creaPaginaInformacion();
    void editaNombre();
    void vaciaCampos();
    void muestraConexion(const Conexion& conexion);
    void fijaPuerto(int puerto);
    Seguridad modoElegido() const;
    QWidget* creaCamposBuzon();
    Aceptacion aceptacion() const;
    void termina(bool aceptado);

    QString errorAlCrear_;
    bool cerrado_ = false;
    QMetaObject::Connection foco_;
    // The mode the port last followed, and whether the user has set the port since the
    // mailbox was shown.
    Seguridad modoMostrado_ = Seguridad::SSL;
    bool puertoTecleado_ = false;
    // The certificate trusted for the server in the fields; a change of server drops it.
    QByteArray huella_;
    QString hostDeHuella_;
    bool comprobando_ = false;
};

}
