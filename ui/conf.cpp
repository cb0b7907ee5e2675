#include "conf.h"

#include "ansi.h"
#include "error_almacen.h"
#include "orden.h"
#include "recursos.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace pirel {
namespace {

const QString kNuevo = QStringLiteral("&Nuevo");
const QString kAnadir = QStringLiteral("Aña&dir");
const QString kTitulo = QStringLiteral("Ludaren Electrónico");
// The program's own executable, under the name it always had and under its own path.
const QString kPropio = QStringLiteral("PIREL.EXE");

// Help contexts: 13 the dialog as a whole, 14 setting up a mailbox.
void ayuda(QWidget* w, int contexto) { w->setProperty("contextoAyuda", contexto); }

QLineEdit* campo(int maximo, int contexto)
{
    auto* e = new QLineEdit;
    e->setMaxLength(maximo);
    ayuda(e, contexto);
    return e;
}

// A push button, so that Enter presses it while it has the focus, as any other button.
QPushButton* botonCarpeta()
{
    auto* b = new QPushButton;
    b->setIcon(QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon));
    b->setToolTip(QStringLiteral("Buscar…"));
    return b;
}

QString texto(const QByteArray& b) { return ansi::aTexto(b); }
QByteArray bytes(const QString& t) { return ansi::deTexto(t); }

}

void CargarCombo(const TBuzon& buzones, QComboBox* combo)
{
    combo->clear();
    for (int i = 1; i <= buzones.numBuzones(); ++i)
        combo->addItem(texto(buzones.nombre(i)));
    combo->setCurrentIndex(buzones.numBuzones() > 0 ? 0 : -1);
}

TConf::TConf(const TBuzon& buzones, const TOpciones& opciones)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(kTitulo);
    setAttribute(Qt::WA_DeleteOnClose, false);
    eligeFichero = [this](const QString& t, const QString& filtro, const QString& inicial) {
        return QFileDialog::getOpenFileName(this, t, inicial, filtro);
    };
    advierte = [this](const QString& t) {
        QMessageBox caja(QMessageBox::Warning, kTitulo, t, QMessageBox::Ok, this);
        caja.setTextFormat(Qt::PlainText);
        caja.exec();
    };

    PageControl1 = new QTabWidget;
    ayuda(PageControl1, 13);
    PageControl1->addTab(creaPaginaConfiguracion(), QStringLiteral("Configuración"));
    PageControl1->addTab(creaPaginaInformacion(), QStringLiteral("Información"));
    auto* raiz = new QVBoxLayout(this);
    raiz->setContentsMargins(3, 1, 3, 2);
    raiz->addWidget(PageControl1);
    // Only now does the button belong to the dialog; set earlier, the dialog would make
    // the first button of the page its default.
    BitBtn1->setDefault(true);
    // A single border: fixed, though never smaller than what the controls need.
    setFixedSize(sizeHint().expandedTo(QSize(391, 363)));
    if (const QScreen* pantalla = QGuiApplication::primaryScreen())
        move(pantalla->geometry().center() - rect().center());

    // F1 opens the help at the topic of the control that has the focus.
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, [this] {
        for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
            if (w->property("contextoAyuda").isValid()) {
                if (pideAyuda)
                    pideAyuda(w->property("contextoAyuda").toInt());
                return;
            }
        if (pideAyuda)
            pideAyuda(13);
    });
    foco_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* antes, QWidget* ahora) {
        if (antes && GroupBox2->isAncestorOf(antes) && !(ahora && GroupBox2->isAncestorOf(ahora)))
            GroupBox2Exit();
    });
    FormCreate(buzones, opciones);
}

TConf::~TConf()
{
    // The focus moves while the controls are destroyed; the dialog is gone by then.
    disconnect(foco_);
}

QWidget* TConf::creaPaginaConfiguracion()
{
    auto* pagina = new QWidget;
    auto* columna = new QVBoxLayout(pagina);

    auto* GroupBox1 = new QGroupBox(QStringLiteral(" Buzones "));
    auto* buzones = new QVBoxLayout(GroupBox1);
    auto* fila = new QHBoxLayout;
    dBuzon = new QComboBox;
    dBuzon->setMinimumWidth(165);
    dBuzon->setInsertPolicy(QComboBox::NoInsert);
    auto* Label14 = new QLabel(QStringLiteral("Buzon:"));
    Label14->setBuddy(dBuzon);
    nuevo = new QPushButton(kNuevo);
    eliminar = new QPushButton(QStringLiteral("&Eliminar"));
    fila->addWidget(Label14);
    fila->addWidget(dBuzon);
    fila->addStretch();
    fila->addWidget(nuevo);
    fila->addWidget(eliminar);
    buzones->addLayout(fila);

    GroupBox2 = new QGroupBox;
    auto* datos = new QGridLayout(GroupBox2);
    dHost = campo(40, 14);
    dusuario = campo(20, 14);
    dclave = campo(12, 14);
    dclave->setEchoMode(QLineEdit::Password);
    cCheck = new QCheckBox(QStringLiteral("Chequear"));
    datos->addWidget(new QLabel(QStringLiteral("Servidor:")), 0, 0);
    datos->addWidget(dHost, 0, 1, 1, 3);
    datos->addWidget(cCheck, 0, 4);
    datos->addWidget(new QLabel(QStringLiteral("Usuario:")), 1, 0);
    datos->addWidget(dusuario, 1, 1);
    datos->addWidget(new QLabel(QStringLiteral("Clave:")), 1, 2);
    datos->addWidget(dclave, 1, 3, 1, 2);
    buzones->addWidget(GroupBox2);
    columna->addWidget(GroupBox1);

    auto* GroupBox4 = new QGroupBox(QStringLiteral(" Opciones "));
    auto* opciones = new QGridLayout(GroupBox4);
    AnimaSobre = new QCheckBox(QStringLiteral("Animación"));
    CheckBox1 = new QCheckBox(QStringLiteral("Ejecutar siempre"));
    dfrecuencia = new QSpinBox;
    dfrecuencia->setRange(1, 720);
    ayuda(dfrecuencia, 14);
    CheckBox3 = new QCheckBox(QStringLiteral("Permitir abrir correo con el programa:"));
    gcorreo = campo(255, 14);
    BitBtn3 = botonCarpeta();
    auto* Label5 = new QLabel(QStringLiteral("Frecuencia de Comprobación de Correo:"));
    Label5->setBuddy(dfrecuencia);
    opciones->addWidget(AnimaSobre, 0, 0);
    opciones->addWidget(CheckBox1, 0, 1, 1, 3);
    opciones->addWidget(Label5, 1, 0);
    opciones->addWidget(dfrecuencia, 1, 1);
    opciones->addWidget(new QLabel(QStringLiteral("Min.")), 1, 2);
    opciones->addWidget(CheckBox3, 2, 0, 1, 4);
    opciones->addWidget(gcorreo, 3, 0, 1, 3);
    opciones->addWidget(BitBtn3, 3, 3);
    columna->addWidget(GroupBox4);

    auto* GroupBox5 = new QGroupBox(QStringLiteral(" Sonido "));
    auto* sonido = new QGridLayout(GroupBox5);
    ReWav = new QCheckBox(QStringLiteral("Reproducir .wav"));
    CheckBox2 = new QCheckBox(QStringLiteral("Avisar con Beep"));
    Edit1 = campo(255, 14);
    BitBtn4 = botonCarpeta();
    sonido->addWidget(ReWav, 0, 0);
    sonido->addWidget(CheckBox2, 0, 1);
    sonido->addWidget(Edit1, 1, 0, 1, 2);
    sonido->addWidget(BitBtn4, 1, 2);
    columna->addWidget(GroupBox5);

    BitBtn1 = new QPushButton(QStringLiteral("&Aceptar"));
    BitBtn2 = new QPushButton(QStringLiteral("&Cancelar"));
    ayuda(BitBtn1, 14);
    ayuda(BitBtn2, 14);
    auto* botones = new QHBoxLayout;
    botones->addStretch();
    botones->addWidget(BitBtn1);
    botones->addStretch();
    botones->addWidget(BitBtn2);
    botones->addStretch();
    columna->addLayout(botones);

    // The form's own initial states, before any handler is connected.
    AnimaSobre->setChecked(true);
    CheckBox1->setChecked(true);
    CheckBox3->setChecked(true);
    CheckBox2->setChecked(true);
    Edit1->setText(QStringLiteral("spirel.wav"));

    connect(dBuzon, &QComboBox::activated, this, [this] { dBuzonClick(); });
    connect(nuevo, &QPushButton::clicked, this, [this] { nuevoClick(); });
    connect(eliminar, &QPushButton::clicked, this, [this] { eliminarClick(); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
    connect(ReWav, &QCheckBox::toggled, this, [this] { ReWavClick(); });
    connect(CheckBox3, &QCheckBox::toggled, this, [this] { CheckBox3Click(); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
    connect(BitBtn4, &QPushButton::clicked, this, [this] { BitBtn4Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });

    QWidget* const orden[] = {dBuzon, dHost, dusuario, dclave, cCheck, nuevo, eliminar, AnimaSobre, CheckBox1,
                                    dfrecuencia, CheckBox3, gcorreo, BitBtn3, ReWav, CheckBox2, Edit1, BitBtn4,
                                    BitBtn1, BitBtn2};
    for (std::size_t i = 0; i + 1 < std::size(orden); ++i)
        setTabOrder(orden[i], orden[i + 1]);
    return pagina;
}

QWidget* TConf::creaPaginaInformacion()
{
    auto* pagina = new QWidget;
    auto* columna = new QVBoxLayout(pagina);
    titulo = new QLabel(kTitulo);
    titulo->setAlignment(Qt::AlignCenter);
    titulo->setFrameStyle(QFrame::Panel | QFrame::Raised);
    QFont negrita = titulo->font();
    negrita.setBold(true);
    titulo->setFont(negrita);
    columna->addWidget(titulo);

    auto* descripcion = new QLabel(QStringLiteral(
        "Sistema de aviso de correo electrónico\npor el protocolo POP3.\n"
        "Vigila hasta 20 buzones y avisa\ncuando llega correo nuevo."));
    descripcion->setAlignment(Qt::AlignCenter);
    descripcion->setFrameStyle(QFrame::Box | QFrame::Sunken);
    descripcion->setStyleSheet(QStringLiteral("color: navy;"));
    columna->addWidget(descripcion);

    auto* fila = new QHBoxLayout;
    auto* imagen = new QLabel;
    imagen->setPixmap(IconoSvg(QStringLiteral(":/iconos/ludaren-electronico.svg")).pixmap(64, 64));
    imagen->setFrameStyle(QFrame::Panel | QFrame::Raised);
    fila->addWidget(imagen);
    auto* creditos = new QLabel(QStringLiteral(
        "Pirel avisa en el área de notificación, con un sonido y con un aviso animado que se "
        "despliega en la lista de remitentes y asuntos. Un clic con el botón derecho en su icono "
        "abre el menú; la ayuda explica cada opción."));
    creditos->setWordWrap(true);
    fila->addWidget(creditos, 1);
    columna->addLayout(fila);

    auto* contacto = new QLabel(QStringLiteral(
        "Sugerencias y problemas: en el gestor de incidencias del proyecto.\n"
        "Versiones nuevas: en el repositorio del proyecto."));
    contacto->setAlignment(Qt::AlignCenter);
    contacto->setWordWrap(true);
    columna->addWidget(contacto);
    columna->addStretch();

    Button1 = new QPushButton(QStringLiteral("Ok"));
    ayuda(Button1, 1);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    columna->addWidget(Button1, 0, Qt::AlignHCenter);
    return pagina;
}

void TConf::FormCreate(const TBuzon& buzones, const TOpciones& o)
{
    buzonesEdicion.copiar(buzones);
    CargarCombo(buzonesEdicion, dBuzon);
    visualizar(1);
    nuevo->setEnabled(buzonesEdicion.numBuzones() < kMaxBuzones);
    eliminar->setEnabled(buzonesEdicion.numBuzones() > 0);
    CheckBox3->setChecked(!o.gestorCorreo.isEmpty());
    gcorreo->setText(texto(o.gestorCorreo));
    if (!o.frecuenciaError.isEmpty()) {
        // As the stored interval cannot be read, the rest keeps the form's own states.
        errorAlCrear_ = o.frecuenciaError;
        return;
    }
    dfrecuencia->setValue(o.frecuencia);
    titulo->setText(kTitulo + QStringLiteral(" versión ") + texto(versionActual));
    Edit1->setText(texto(o.ficheroWav));
    CheckBox1->setChecked(o.ejecutarSiempre);
    CheckBox2->setChecked(false);
    ReWav->setChecked(false);
    if (o.sonido == Sonido::Pitido) {
        CheckBox2->setChecked(true);
        Edit1->setEnabled(false);
    } else if (o.sonido == Sonido::Wave) {
        ReWav->setChecked(true);
        Edit1->setEnabled(true);
    }
    AnimaSobre->setChecked(o.animacion);
}

void TConf::visualizar(int pos)
{
    dHost->setText(texto(buzonesEdicion.host(pos)));
    dusuario->setText(texto(buzonesEdicion.usuario(pos)));
    dclave->setText(texto(buzonesEdicion.clave(pos)));
    cCheck->setChecked(buzonesEdicion.chequear(pos));
}

bool TConf::anadiendo() const
{
    return nuevo->text() == kAnadir;
}

void TConf::editaNombre()
{
    dBuzon->setEditable(true);
    // Typing is never choosing: no completion, and the editor's own ways of picking the
    // entry that matches its text (Return, leaving it) are cut off. Only the list and
    // the arrow keys choose, and two mailboxes may share a name.
    dBuzon->setCompleter(nullptr);
    QLineEdit* nombre = dBuzon->lineEdit();
    disconnect(nombre, &QLineEdit::returnPressed, dBuzon, nullptr);
    disconnect(nombre, &QLineEdit::editingFinished, dBuzon, nullptr);
    dBuzon->setCurrentIndex(-1);
    dBuzon->setEditText(QString());
}

void TConf::vaciaCampos()
{
    dHost->clear();
    dusuario->clear();
    dclave->clear();
    cCheck->setChecked(true);
}

void TConf::CheckBox2Click()
{
    if (!CheckBox2->isChecked())
        return;
    ReWav->setChecked(false);
    Edit1->setEnabled(false);
    BitBtn4->setEnabled(false);
}

void TConf::ReWavClick()
{
    if (ReWav->isChecked())
        CheckBox2->setChecked(false);
    Edit1->setEnabled(ReWav->isChecked());
    BitBtn4->setEnabled(ReWav->isChecked());
}

void TConf::CheckBox3Click()
{
    const bool si = CheckBox3->isChecked();
    if (!si)
        gcorreo->clear();
    gcorreo->setEnabled(si);
    BitBtn3->setEnabled(si);
    if (si)
        gcorreo->setFocus();
}

void TConf::BitBtn3Click()
{
    const QString elegido = eligeFichero(QStringLiteral("Seleccione el nombre del programa gestor de correo"),
                                         QStringLiteral("Fichero Ejecutable (*)"), PartesDeOrden(gcorreo->text()).value(0));
    if (elegido.isEmpty())
        return;
    const bool propio = elegido.right(9).toUpper() == kPropio
        || QFileInfo(elegido).canonicalFilePath() == QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    if (propio)
        advierte(QStringLiteral("Pirel no es un programa gestor de correo... todavia. :)"));
    else
        gcorreo->setText(ComillasOrden(elegido));
}

void TConf::BitBtn4Click()
{
    const QString elegido = eligeFichero(QStringLiteral("Seleccione el fichero de sonido a reproducir"),
                                         QStringLiteral("Sonido (*.wav)"), Edit1->text());
    if (!elegido.isEmpty())
        Edit1->setText(elegido);
}

void TConf::dBuzonClick()
{
    const int elegido = dBuzon->currentIndex();
    dBuzon->setEditable(false);
    if (anadiendo()) {
        nuevo->setText(kNuevo);
        dBuzon->setCurrentIndex(buzonesEdicion.numBuzones() > 0 ? 0 : -1);
        visualizar(1);
    } else {
        visualizar(elegido + 1);
    }
    if (buzonesEdicion.numBuzones() >= 1)
        eliminar->setEnabled(true);
}

void TConf::nuevoClick()
{
    if (!anadiendo()) {
        editaNombre();
        vaciaCampos();
        nuevo->setText(kAnadir);
        eliminar->setEnabled(false);
        dBuzon->setFocus();
        return;
    }
    const QString nombre = dBuzon->currentText();
    if (nombre.isEmpty() || dHost->text().isEmpty() || dusuario->text().isEmpty())
        return;
    nuevo->setText(kNuevo);
    const int existente = buzonesEdicion.Existebuzon(bytes(dHost->text()), bytes(dusuario->text()));
    dBuzon->setEditable(false);
    if (existente == 0) {
        buzonesEdicion.agregar(bytes(nombre), bytes(dHost->text()), bytes(dusuario->text()), bytes(dclave->text()),
                               cCheck->isChecked());
        dBuzon->addItem(texto(buzonesEdicion.nombre(buzonesEdicion.numBuzones())));
        dBuzon->setCurrentIndex(dBuzon->count() - 1);
        if (buzonesEdicion.numBuzones() >= kMaxBuzones)
            nuevo->setEnabled(false);
    } else {
        dBuzon->setCurrentIndex(existente - 1);
    }
    eliminar->setEnabled(true);
}

void TConf::eliminarClick()
{
    const int p = dBuzon->currentIndex();
    if (p < 0)
        return;
    const int siguiente = p > 0 ? p - 1 : 0;
    buzonesEdicion.borrar(p + 1);
    dBuzon->removeItem(p);
    dBuzon->setCurrentIndex(buzonesEdicion.numBuzones() > 0 ? siguiente : -1);
    if (buzonesEdicion.numBuzones() > 0) {
        visualizar(siguiente + 1);
        eliminar->setEnabled(true);
        nuevo->setEnabled(buzonesEdicion.numBuzones() < kMaxBuzones);
    } else {
        dBuzon->setEditText(QString());
        vaciaCampos();
        eliminar->setEnabled(false);
    }
}

void TConf::GroupBox2Exit()
{
    const int p = dBuzon->currentIndex();
    if (anadiendo() || dBuzon->currentText().isEmpty() || p < 0 || dHost->text().isEmpty() || dusuario->text().isEmpty())
        return;
    buzonesEdicion.modificar(p + 1, bytes(dBuzon->currentText()), bytes(dHost->text()), bytes(dusuario->text()),
                             bytes(dclave->text()), cCheck->isChecked());
}

Aceptacion TConf::aceptacion() const
{
    Aceptacion a;
    a.eleccion.ficheroWav = bytes(Edit1->text());
    a.eleccion.gestorCorreo = bytes(gcorreo->text());
    a.eleccion.ejecutarSiempre = CheckBox1->isChecked();
    a.eleccion.beep = CheckBox2->isChecked();
    a.eleccion.wave = ReWav->isChecked();
    a.eleccion.animacion = AnimaSobre->isChecked();
    a.eleccion.frecuencia = dfrecuencia->value();
    a.buzones.copiar(buzonesEdicion);
    // The mailbox being added or edited is taken in even if its fields were never left.
    const int p = dBuzon->currentIndex();
    const QString nombre = dBuzon->currentText(), host = dHost->text(), usuario = dusuario->text();
    const QByteArray clave = bytes(dclave->text());
    const bool chequear = cCheck->isChecked();
    if (anadiendo() && !nombre.isEmpty() && !host.isEmpty() && !usuario.isEmpty())
        a.pendiente = [=](TBuzon& copia) { copia.agregar(bytes(nombre), bytes(host), bytes(usuario), clave, chequear); };
    else if (!anadiendo() && !host.isEmpty() && p >= 0 && !usuario.isEmpty())
        a.pendiente = [=](TBuzon& copia) {
            copia.modificar(p + 1, bytes(nombre), bytes(host), bytes(usuario), clave, chequear);
        };
    return a;
}

void TConf::BitBtn1Click()
{
    if (cerrado_ || !alAceptar || !alAceptar(aceptacion()))
        return;
    termina(true);
}

void TConf::termina(bool aceptado)
{
    if (cerrado_)
        return;
    cerrado_ = true;
    hide();
    if (alCerrar)
        alCerrar(aceptado);
    deleteLater();
}

void TConf::BitBtn2Click() { termina(false); }
void TConf::Button1Click() { termina(false); }
void TConf::FormClose() { termina(false); }
void TConf::reject() { BitBtn2Click(); }

void TConf::closeEvent(QCloseEvent* evento)
{
    FormClose();
    evento->accept();
}

}
