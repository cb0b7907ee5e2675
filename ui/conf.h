#pragma once
// The configuration dialog: the mailboxes, edited in a working copy that only
// "Aceptar" takes over, and the options.
#include "buzon.h"

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
class QToolButton;

namespace pirel {

class TPirel;

// Creates and shows the configuration dialog, unless one is already open.
void AbreConfiguracion(TPirel& pirel);

// The mailbox names into the selector, the first one chosen.
void CargarCombo(const TBuzon& buzones, QComboBox* combo);

class TConf : public QDialog {
    Q_OBJECT
public:
    explicit TConf(TPirel& pirel);
    ~TConf() override;

    TBuzon buzonesEdicion;

    QTabWidget* PageControl1;
    QComboBox* dBuzon;
    QGroupBox* GroupBox2;
    QLineEdit *dHost, *dusuario, *dclave;
    QCheckBox* cCheck;
    QPushButton *nuevo, *eliminar;
    QCheckBox *AnimaSobre, *CheckBox1;
    QSpinBox* dfrecuencia;
    QCheckBox* CheckBox3;
    QLineEdit* gcorreo;
    QToolButton* BitBtn3;
    QCheckBox *ReWav, *CheckBox2;
    QLineEdit* Edit1;
    QToolButton* BitBtn4;
    QPushButton *BitBtn1, *BitBtn2;
    QLabel* titulo;
    QPushButton* Button1;

    // The file picker and the warning box, replaceable where no one can click.
    std::function<QString(const QString& titulo, const QString& filtro, const QString& inicial)> eligeFichero;
    std::function<void(const QString& texto)> advierte;

    void CheckBox2Click();
    void ReWavClick();
    void CheckBox3Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void dBuzonClick();
    void nuevoClick();
    void eliminarClick();
    void GroupBox2Exit();
    void BitBtn1Click();
    void BitBtn2Click();
    void Button1Click();
    void FormClose();

    bool anadiendo() const;
    // Shows mailbox `pos` of the working copy in the fields.
    void visualizar(int pos);

protected:
    void closeEvent(QCloseEvent* evento) override;
    void reject() override;

private:
    void FormCreate();
    QWidget* creaPaginaConfiguracion();
    QWidget* creaPaginaInformacion();
    void vaciaCampos();
    void cierra();

    TPirel& pirel_;
    bool cerrado_ = false;
    QMetaObject::Connection foco_;
};

}
