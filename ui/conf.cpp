#include "conf.h"

#include "ansi.h"
#include "comprobacion.h"
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
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QValidator>
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

// The modes in the selector's order.
struct Modo {
    Seguridad seguridad;
    const char* rotulo;
};
constexpr Modo kModos[] = {{Seguridad::SSL, "SSL/TLS"}, {Seguridad::STLS, "STARTTLS"}, {Seguridad::Ninguna, "Ninguna"}};
// A new mailbox is secure from the first byte.
const Conexion kConexionNueva{Seguridad::SSL, PuertoPorDefecto(Seguridad::SSL), {}};

// Where the text first holds a character that Windows-1252 has not, or -1.
qsizetype noCabe(const QString& t)
{
    for (qsizetype i = 0; i < t.size(); ++i) {
        const qsizetype largo = t.at(i).isHighSurrogate() && i + 1 < t.size() ? 2 : 1;
        if (texto(bytes(t.mid(i, largo))) != t.mid(i, largo))
            return i;
        i += largo - 1;
    }
    return -1;
}

// Refuses an edit that would bring a character the stored 8-bit texts cannot hold,
// rather than let it become a '?'. The refusal is told once the key has been handled.
class Latino final : public QValidator {
public:
    Latino(QObject* padre, std::function<void(const QString&)> rechazo)
        : QValidator(padre)
        , rechazo_(std::move(rechazo))
    {
    }
    State validate(QString& t, int&) const override
    {
        const qsizetype i = noCabe(t);
        if (i < 0)
            return Acceptable;
        const QString caracter = t.mid(i, t.at(i).isHighSurrogate() ? 2 : 1);
        QMetaObject::invokeMethod(parent(), [r = rechazo_, caracter] { r(caracter); }, Qt::QueuedConnection);
        return Invalid;
    }

private:
    std::function<void(const QString&)> rechazo_;
};

const QString kSoloLatino =
    QStringLiteral("solo caben las letras, cifras y signos de Europa occidental (Windows-1252).");
const QString kRutaNoCabe =
    QStringLiteral("caben 255 caracteres, solo letras, cifras y signos de Europa occidental (Windows-1252).");

// Groups of two hex digits, sixteen to a line.
QString huellaLegible(const QByteArray& huella)
{
    QString r;
    for (qsizetype i = 0; i < huella.size(); i += 2)
        r += QString::fromLatin1(huella.mid(i, 2)) + (i + 2 >= huella.size() ? "" : i % 32 == 30 ? "\n" : ":");
    return r;
}

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
    informa = [this](const QString& t) {
        QMessageBox caja(QMessageBox::Information, kTitulo, t, QMessageBox::Ok, this);
        caja.setTextFormat(Qt::PlainText);
        caja.exec();
    };
    pregunta = [this](const QString& t) {
        QMessageBox caja(QMessageBox::Question, kTitulo, t, QMessageBox::NoButton, this);
        caja.setTextFormat(Qt::PlainText);
        QPushButton* si = caja.addButton(QStringLiteral("&Sí"), QMessageBox::YesRole);
        // Trust is given on purpose: Enter and Esc say no.
        caja.setDefaultButton(caja.addButton(QStringLiteral("&No"), QMessageBox::NoRole));
        caja.exec();
        return caja.clickedButton() == si;
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

    buzones->addWidget(creaCamposBuzon());
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
    gcorreo->setValidator(new Latino(this, [this](const QString& caracter) {
        advierte(QStringLiteral("El programa de correo no admite el carácter «%1»: ").arg(caracter) + kSoloLatino);
    }));
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
    Edit1->setValidator(new Latino(this, [this](const QString& caracter) {
        advierte(QStringLiteral("El fichero de sonido no admite el carácter «%1»: ").arg(caracter) + kSoloLatino);
    }));
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

    QWidget* const orden[] = {dBuzon, dHost, dusuario, dclave, cCheck, dSeguridad, dPuerto, comprobar, nuevo,
                              eliminar, AnimaSobre, CheckBox1, dfrecuencia, CheckBox3, gcorreo, BitBtn3, ReWav,
                              CheckBox2, Edit1, BitBtn4, BitBtn1, BitBtn2};
    for (std::size_t i = 0; i + 1 < std::size(orden); ++i)
        setTabOrder(orden[i], orden[i + 1]);
    return pagina;
}

// The fields of one mailbox: what the user types, then how the server is reached, with
// the test beside it.
QWidget* TConf::creaCamposBuzon()
{
    GroupBox2 = new QGroupBox;
    auto* datos = new QGridLayout(GroupBox2);
    dHost = campo(TBuzon::kHost, 14);
    dusuario = campo(TBuzon::kUsuario, 14);
    dclave = campo(TBuzon::kClave, 14);
    dclave->setEchoMode(QLineEdit::Password);
    const auto rechaza = [this](const QString& quien) {
        return [this, quien](const QString& caracter) { advierte(quien.arg(caracter) + kSoloLatino); };
    };
    dHost->setValidator(new Latino(this, rechaza(QStringLiteral("El servidor no admite el carácter «%1»: "))));
    dusuario->setValidator(new Latino(this, rechaza(QStringLiteral("El usuario no admite el carácter «%1»: "))));
    // The password's own character is not repeated on the screen.
    dclave->setValidator(new Latino(this, rechaza(QStringLiteral("La clave no admite uno de los caracteres escritos: "))));
    cCheck = new QCheckBox(QStringLiteral("Chequear"));
    dSeguridad = new QComboBox;
    for (const Modo& m : kModos)
        dSeguridad->addItem(QLatin1String(m.rotulo));
    ayuda(dSeguridad, 14);
    dPuerto = new QSpinBox;
    dPuerto->setRange(1, 65535);
    dPuerto->setButtonSymbols(QAbstractSpinBox::NoButtons);
    ayuda(dPuerto, 14);
    comprobar = new QPushButton(QStringLiteral("Com&probar"));
    ayuda(comprobar, 14);
    avisoSinCifrar = new QLabel(QStringLiteral("Sin cifrar, la clave viaja por la red y cualquiera puede leerla."));
    avisoSinCifrar->setTextFormat(Qt::PlainText);
    QPalette rojo = avisoSinCifrar->palette();
    rojo.setColor(QPalette::WindowText, QColor(0x99, 0, 0));
    avisoSinCifrar->setPalette(rojo);
    // The fields stay where they are whether or not the warning shows.
    QSizePolicy sitio = avisoSinCifrar->sizePolicy();
    sitio.setRetainSizeWhenHidden(true);
    avisoSinCifrar->setSizePolicy(sitio);

    datos->addWidget(new QLabel(QStringLiteral("Servidor:")), 0, 0);
    datos->addWidget(dHost, 0, 1, 1, 3);
    datos->addWidget(cCheck, 0, 4);
    datos->addWidget(new QLabel(QStringLiteral("Usuario:")), 1, 0);
    datos->addWidget(dusuario, 1, 1);
    datos->addWidget(new QLabel(QStringLiteral("Clave:")), 1, 2);
    datos->addWidget(dclave, 1, 3, 1, 2);
    datos->addWidget(new QLabel(QStringLiteral("Seguridad:")), 2, 0);
    datos->addWidget(dSeguridad, 2, 1);
    datos->addWidget(new QLabel(QStringLiteral("Puerto:")), 2, 2);
    datos->addWidget(dPuerto, 2, 3);
    datos->addWidget(comprobar, 2, 4);
    datos->addWidget(avisoSinCifrar, 3, 0, 1, 5);

    connect(dSeguridad, &QComboBox::currentIndexChanged, this, [this] { dSeguridadChange(); });
    connect(dPuerto, &QSpinBox::valueChanged, this, [this] { puertoTecleado_ = true; });
    connect(dHost, &QLineEdit::textChanged, this, [this](const QString& host) {
        if (host != hostDeHuella_)
            huella_.clear();
    });
    connect(comprobar, &QPushButton::clicked, this, [this] { comprobarClick(); });
    return GroupBox2;
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
    muestraConexion(pos >= 1 && pos <= buzonesEdicion.numBuzones() ? buzonesEdicion.conexion(pos) : kConexionNueva);
}

void TConf::muestraConexion(const Conexion& c)
{
    {
        const QSignalBlocker bloqueo(dSeguridad);
        for (int k = 0; k < int(std::size(kModos)); ++k)
            if (kModos[k].seguridad == c.seguridad)
                dSeguridad->setCurrentIndex(k);
    }
    modoMostrado_ = c.seguridad;
    avisoSinCifrar->setVisible(c.seguridad == Seguridad::Ninguna);
    fijaPuerto(c.puerto);
    puertoTecleado_ = false;
    hostDeHuella_ = dHost->text();
    huella_ = c.huella;
}

void TConf::fijaPuerto(int puerto)
{
    const QSignalBlocker bloqueo(dPuerto);
    dPuerto->setValue(puerto);
}

Seguridad TConf::modoElegido() const
{
    const int k = dSeguridad->currentIndex();
    return k >= 0 && k < int(std::size(kModos)) ? kModos[k].seguridad : Seguridad::SSL;
}

Conexion TConf::conexionEditada() const
{
    return {modoElegido(), dPuerto->value(), dHost->text() == hostDeHuella_ ? huella_ : QByteArray()};
}

void TConf::dSeguridadChange()
{
    const Seguridad modo = modoElegido();
    // The port follows the mode, unless the user chose one of his own.
    if (!puertoTecleado_ && dPuerto->value() == PuertoPorDefecto(modoMostrado_))
        fijaPuerto(PuertoPorDefecto(modo));
    modoMostrado_ = modo;
    avisoSinCifrar->setVisible(modo == Seguridad::Ninguna);
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
    nombre->setMaxLength(TBuzon::kNombre);
    dBuzon->setValidator(new Latino(nombre, [this](const QString& caracter) {
        advierte(QStringLiteral("El nombre del buzón no admite el carácter «%1»: ").arg(caracter) + kSoloLatino);
    }));
    dBuzon->setCurrentIndex(-1);
    dBuzon->setEditText(QString());
}

void TConf::vaciaCampos()
{
    dHost->clear();
    dusuario->clear();
    dclave->clear();
    cCheck->setChecked(true);
    muestraConexion(kConexionNueva);
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
    else if (const QString orden = ComillasOrden(elegido); noCabe(orden) >= 0 || orden.size() > gcorreo->maxLength())
        advierte(QStringLiteral("No se puede guardar la ruta de ese programa: ") + kRutaNoCabe);
    else
        gcorreo->setText(orden);
}

void TConf::BitBtn4Click()
{
    const QString elegido = eligeFichero(QStringLiteral("Seleccione el fichero de sonido a reproducir"),
                                         QStringLiteral("Sonido (*.wav)"), Edit1->text());
    if (elegido.isEmpty())
        return;
    if (noCabe(elegido) >= 0 || elegido.size() > Edit1->maxLength())
        advierte(QStringLiteral("No se puede guardar la ruta de ese fichero: ") + kRutaNoCabe);
    else
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
                               cCheck->isChecked(), conexionEditada());
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
                             bytes(dclave->text()), cCheck->isChecked(), conexionEditada());
}

void TConf::comprobarClick()
{
    if (comprobando_)
        return;
    if (dHost->text().isEmpty() || dusuario->text().isEmpty()) {
        advierte(QStringLiteral("Escriba el servidor y el usuario del buzón antes de comprobarlo."));
        return;
    }
    const QByteArray nombre = bytes(dBuzon->currentText().isEmpty() ? dHost->text() : dBuzon->currentText());
    const QByteArray host = bytes(dHost->text()), usuario = bytes(dusuario->text()), clave = bytes(dclave->text());
    Conexion conexion = conexionEditada();
    const QPointer<TConf> yo(this);
    // The test waits in the event loop: nothing in the dialog may change meanwhile.
    const auto prueba = [&] {
        comprobando_ = true;
        PageControl1->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const Comprobacion c = CompruebaBuzon(nombre, host, usuario, clave, conexion, esperaComprobacion);
        QApplication::restoreOverrideCursor();
        if (yo) {
            comprobando_ = false;
            PageControl1->setEnabled(true);
            comprobar->setFocus();
        }
        return c;
    };
    Comprobacion c = prueba();
    if (!yo || cerrado_)
        return;
    if (!c.correcta && !c.huella.isEmpty()) {
        if (!pregunta(c.fallo + QStringLiteral("\n\nHuella SHA-256 del certificado:\n") + huellaLegible(c.huella)
                      + QStringLiteral("\n\n¿Confía en este certificado para este buzón? Hágalo solo si la huella "
                                       "es la que da su proveedor.")))
            return;
        huella_ = c.huella;
        hostDeHuella_ = dHost->text();
        conexion.huella = c.huella;
        GroupBox2Exit();
        c = prueba();
        if (!yo || cerrado_)
            return;
    }
    if (c.correcta)
        informa(QStringLiteral("%1 mensajes").arg(c.cuenta));
    else
        advierte(c.fallo);
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
    const Conexion conexion = conexionEditada();
    if (anadiendo() && !nombre.isEmpty() && !host.isEmpty() && !usuario.isEmpty())
        a.pendiente = [=](TBuzon& copia) {
            copia.agregar(bytes(nombre), bytes(host), bytes(usuario), clave, chequear, conexion);
        };
    else if (!anadiendo() && !host.isEmpty() && p >= 0 && !usuario.isEmpty())
        a.pendiente = [=](TBuzon& copia) {
            copia.modificar(p + 1, bytes(nombre), bytes(host), bytes(usuario), clave, chequear, conexion);
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
