// The configuration dialog on the offscreen platform: alone, driven by keys, and opened
// by the main form with a real settings file and, for "Aceptar", a scripted POP3 server;
// its test of a mailbox against private Dovecot servers over TLS.
#include "certificados.h"
#include "escritorio_grabado.h"
#include "conf.h"
#include "pirel.h"
#include "recursos.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"
#include "sonido.h"

#include <QClipboard>
#include <QKeyEvent>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;
using Tipo = Certificados::Tipo;

namespace {

QString conexionEnTexto(const Conexion& c)
{
    const char* modo = c.seguridad == Seguridad::SSL ? "SSL" : c.seguridad == Seguridad::STLS ? "STLS" : "Ninguna";
    return QLatin1String(modo) + u':' + QString::number(c.puerto) + (c.huella.isEmpty() ? "" : ":pin");
}

QStringList nombres(const TBuzon& tabla)
{
    QStringList r;
    for (int i = 1; i <= tabla.numBuzones(); ++i)
        r << QString::fromLatin1(tabla.nombre(i)) + u'@' + QString::fromLatin1(tabla.host(i));
    return r;
}

// Keys go where the focus is, as they would from a keyboard.
void teclea(const QString& texto) { QTest::keyClicks(QApplication::focusWidget(), texto); }
void pulsa(Qt::Key tecla, Qt::KeyboardModifiers mod = {}) { QTest::keyClick(QApplication::focusWidget(), tecla, mod); }

}

class TestConf : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    CajasGrabadas cajas_;
    std::unique_ptr<TPirel> pirel_;
    QPointer<TConf> conf_;
    QStringList advertencias_, informes_, preguntas_;
    bool confia_ = false;
    QList<TBuzon> aceptadas_;
    Certificados certificados_;
    std::unique_ptr<ServidorDovecot> dovecot_[4];

    // One Dovecot per certificate, started when first needed.
    ServidorDovecot* dovecot(Tipo t)
    {
        auto& s = dovecot_[t];
        if (!s) {
            s = std::make_unique<ServidorDovecot>();
            s->agregaUsuario("ana", "secreta", {{"Uno", "Ana <ana@ejemplo.org>"}, {"Dos", "Luis <luis@ejemplo.org>"}});
            s->usaTLS(certificados_.certificado(t), certificados_.clave(t));
            if (!s->arranca())
                return nullptr;
        }
        return s.get();
    }
    // The boxes of the dialog, recorded; a question is answered with confia_.
    void graba()
    {
        advertencias_.clear();
        informes_.clear();
        preguntas_.clear();
        conf_->advierte = [this](const QString& t) { advertencias_ << t; };
        conf_->informa = [this](const QString& t) { informes_ << t; };
        conf_->pregunta = [this](const QString& t) {
            preguntas_ << t;
            return confia_;
        };
        conf_->esperaComprobacion = 10;
    }

    QString fichero() const { return dir_->filePath(QStringLiteral("Ludaren/registro.reg")); }
    QByteArray guardado() const
    {
        QFile f(fichero());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The program as it starts with this store, and its dialog opened.
    void abre(const QByteArray& registro = {})
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
        if (!registro.isEmpty()) {
            QDir().mkpath(dir_->filePath(QStringLiteral("Ludaren")));
            QFile f(fichero());
            f.open(QIODevice::WriteOnly);
            f.write(registro);
        }
        cajas_.vistas.clear();
        advertencias_.clear();
        TPirel::Piezas piezas;
        piezas.area = std::make_unique<AreaGrabada>();
        piezas.altavoz = std::make_unique<AltavozGrabado>();
        piezas.cajas = &cajas_;
        piezas.registro = fichero();
        pirel_ = std::make_unique<TPirel>(std::move(piezas));
        QVERIFY(pirel_->FormCreate());
        pirel_->chequeo->espera = 2;
        pirel_->FormShow();
        pirel_->ayuda.hide();
        pirel_->ConfiguracionClick();
        conf_ = pirel_->configuracion();
        QVERIFY(conf_ && conf_->isVisible());
        graba();
    }
    // The dialog alone, on two mailboxes, in front; "Aceptar" hands the table over here.
    void solo()
    {
        TBuzon tabla;
        tabla.agregar("Gmail trabajo", "pop.gmail.com", "ana", "x", true, {Seguridad::SSL, 1995, {}});
        tabla.agregar("Casa", "pop.casa.es", "ana", "y", true, {Seguridad::STLS, 110, QByteArray(64, 'A')});
        aceptadas_.clear();
        conf_ = new TConf(tabla, TOpciones{});
        graba();
        conf_->alAceptar = [this](const Aceptacion& a) {
            TBuzon t;
            t.copiar(a.buzones);
            if (a.pendiente)
                a.pendiente(t);
            aceptadas_ << t;
            return true;
        };
        conf_->show();
        QApplication::setActiveWindow(conf_);
        QVERIFY(QTest::qWaitForWindowActive(conf_));
    }
    // Plain text unless told: the scripted server speaks no TLS.
    void escribeBuzon(const QString& nombre, const QString& host, const QString& usuario, const QString& clave,
                      const QString& modo = QStringLiteral("Ninguna"), int puerto = 0)
    {
        conf_->nuevo->click();
        conf_->dBuzon->setEditText(nombre);
        conf_->dHost->setText(host);
        conf_->dusuario->setText(usuario);
        conf_->dclave->setText(clave);
        conf_->dSeguridad->setCurrentText(modo);
        if (puerto > 0)
            conf_->dPuerto->setValue(puerto);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(certificados_.hechos());
        // The test authority alone is trusted.
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificados_.autoridad()));
        qputenv("SSL_CERT_DIR", QFile::encodeName(certificados_.carpeta()));
    }

    void cleanup()
    {
        delete conf_.data();
        pirel_.reset();
    }

    void primerArranque()
    {
        abre();
        QVERIFY(pirel_->ventanasAbiertas & TPirel::kConfiguracionAbierta);
        QCOMPARE(conf_->windowTitle(), QStringLiteral("Ludaren Electrónico"));
        const QSize tamano = conf_->size();
        conf_->resize(tamano + QSize(80, 60));
        QCOMPARE(conf_->size(), tamano);
        QVERIFY(tamano.width() >= 391 && tamano.height() >= 363);
        QCOMPARE(tamano.expandedTo(conf_->layout()->totalMinimumSize()), tamano);
        QCOMPARE(conf_->dBuzon->count(), 0);
        QVERIFY(!conf_->eliminar->isEnabled());
        QVERIFY(conf_->nuevo->isEnabled());
        QVERIFY(conf_->CheckBox2->isChecked());
        QVERIFY(!conf_->ReWav->isChecked());
        QCOMPARE(conf_->Edit1->text(), QStringLiteral("spirel.wav"));
        QVERIFY(!conf_->Edit1->isEnabled());
        QVERIFY(!conf_->CheckBox3->isChecked());
        QVERIFY(!conf_->gcorreo->isEnabled());
        QCOMPARE(conf_->dfrecuencia->value(), 5);
        QVERIFY(conf_->AnimaSobre->isChecked());
        QVERIFY(conf_->CheckBox1->isChecked());
        QCOMPARE(conf_->titulo->text(), QStringLiteral("Ludaren Electrónico versión 2.0"));
        QVERIFY(!pirel_->Timer1.isActive());
    }

    void teclearNoElige_data()
    {
        QTest::addColumn<QString>("nombre");
        QTest::newRow("the beginning of another name") << QStringLiteral("Gmail");
        QTest::newRow("another name in other letters") << QStringLiteral("casa");
        QTest::newRow("the same name") << QStringLiteral("Casa");
    }
    void teclearNoElige()
    {
        QFETCH(QString, nombre);
        solo();
        pulsa(Qt::Key_N, Qt::AltModifier);
        // A mnemonic clicks its button a moment later, as a mouse would.
        QTRY_VERIFY(conf_->anadiendo());
        teclea(nombre);
        pulsa(Qt::Key_Tab);
        QVERIFY2(conf_->anadiendo(), "leaving the name chose a mailbox");
        QCOMPARE(QApplication::focusWidget(), conf_->dHost);
        teclea(QStringLiteral("pop.nuevo.es"));
        pulsa(Qt::Key_Tab);
        teclea(QStringLiteral("eva"));
        pulsa(Qt::Key_D, Qt::AltModifier);
        QTRY_VERIFY(!conf_->anadiendo());
        QCOMPARE(nombres(conf_->buzonesEdicion),
                 (QStringList{"Gmail trabajo@pop.gmail.com", "Casa@pop.casa.es", nombre + "@pop.nuevo.es"}));
        QCOMPARE(conf_->dBuzon->currentIndex(), 2);

        // The arrow keys do choose, and so give up an addition.
        pulsa(Qt::Key_N, Qt::AltModifier);
        QTRY_VERIFY(conf_->anadiendo());
        teclea(nombre);
        pulsa(Qt::Key_Down);
        QVERIFY(!conf_->anadiendo());
        QCOMPARE(conf_->dHost->text(), QStringLiteral("pop.gmail.com"));
    }

    void intro_data()
    {
        QTest::addColumn<QStringList>("aceptado"); // empty: "Aceptar" was not pressed
        QTest::newRow("browsing, a server retyped") << QStringList{"Gmail trabajo@pop.otro.es", "Casa@pop.casa.es"};
        QTest::newRow("adding, in the name") << QStringList{"Gmail trabajo@pop.gmail.com", "Casa@pop.casa.es",
                                                             "Casa@pop.otro.es"};
        QTest::newRow("on the security") << QStringList{"Gmail trabajo@pop.gmail.com", "Casa@pop.casa.es"};
        QTest::newRow("on the port") << QStringList{"Gmail trabajo@pop.gmail.com", "Casa@pop.casa.es"};
        QTest::newRow("on Eliminar") << QStringList();
    }
    void intro()
    {
        QFETCH(QStringList, aceptado);
        solo();
        const QString fila = QString::fromLatin1(QTest::currentDataTag());
        if (fila.startsWith(u"browsing")) {
            conf_->dHost->setFocus();
            pulsa(Qt::Key_A, Qt::ControlModifier);
            teclea(QStringLiteral("pop.otro.es"));
        } else if (fila.startsWith(u"adding")) {
            pulsa(Qt::Key_N, Qt::AltModifier);
            QTRY_VERIFY(conf_->anadiendo());
            pulsa(Qt::Key_Tab);
            teclea(QStringLiteral("pop.otro.es"));
            pulsa(Qt::Key_Tab);
            teclea(QStringLiteral("eva"));
            pulsa(Qt::Key_Backtab);
            pulsa(Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), conf_->dBuzon);
            teclea(QStringLiteral("Casa"));
        } else if (fila == u"on the security") {
            conf_->dSeguridad->setFocus();
        } else if (fila == u"on the port") {
            conf_->dPuerto->setFocus();
        } else {
            conf_->eliminar->setFocus();
        }
        pulsa(Qt::Key_Return);
        QCOMPARE(aceptadas_.size(), aceptado.isEmpty() ? 0 : 1);
        if (aceptado.isEmpty())
            QCOMPARE(nombres(conf_->buzonesEdicion), QStringList{"Casa@pop.casa.es"});
        else
            QCOMPARE(nombres(aceptadas_.first()), aceptado);
    }

    // The help's steps name the dialog's own controls, in the order the user meets them.
    void ayudaConLosRotulosDelDialogo()
    {
        solo();
        QStringList rotulos{conf_->windowTitle()};
        const auto recoge = [&] {
            for (const QLabel* l : conf_->findChildren<QLabel*>())
                rotulos << l->text();
            for (const QAbstractButton* b : conf_->findChildren<QAbstractButton*>())
                rotulos << b->text().remove(u'&');
            for (int i = 0; i < conf_->PageControl1->count(); ++i)
                rotulos << conf_->PageControl1->tabText(i).remove(u'&');
        };
        recoge();
        conf_->nuevo->click();
        recoge();
        QFile f(DirectorioDatos() + QStringLiteral("/ayuda.html"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        const qsizetype desde = html.indexOf(QStringLiteral("<a name=\"14\">")), hasta = html.indexOf(u"Importante", desde);
        QVERIFY(desde > 0 && hasta > desde);
        QStringList negritas;
        static const QRegularExpression kNegrita(QStringLiteral("<b>([^<]+)</b>"));
        for (const auto& m : kNegrita.globalMatch(html.mid(desde, hasta - desde)))
            negritas << m.captured(1);
        for (const QString& n : negritas)
            QVERIFY2(rotulos.contains(n), qPrintable(n + QStringLiteral(" is not a caption of the dialog")));
        qsizetype antes = -1;
        for (const QString paso : {"Nuevo", "Buzon:", "Servidor:", "Usuario:", "Clave:", "Chequear", "Seguridad:",
                                   "Puerto:", "Comprobar", "Añadir", "Aceptar"}) {
            const qsizetype donde = negritas.indexOf(paso, antes + 1);
            QVERIFY2(donde > antes, qPrintable(paso + QStringLiteral(" is missing or out of order")));
            antes = donde;
        }
    }

    // The mode and the port in the fields as the user changes them, and the connection
    // "Aceptar" hands over for that mailbox.
    void modoYPuerto_data()
    {
        QTest::addColumn<QStringList>("pasos"); // "Nuevo", a mode, "puerto N" typed, "buzon N", "servidor X"
        QTest::addColumn<QString>("mostrado");  // mode|port|warning
        QTest::addColumn<QString>("aceptado");
        QTest::newRow("a new mailbox starts on SSL/TLS and 995") << QStringList{"Nuevo"} << "SSL/TLS|995|-" << "SSL:995";
        QTest::newRow("STARTTLS takes 110") << QStringList{"Nuevo", "STARTTLS"} << "STARTTLS|110|-" << "STLS:110";
        QTest::newRow("Ninguna takes 110 and warns") << QStringList{"Nuevo", "Ninguna"} << "Ninguna|110|aviso"
                                                     << "Ninguna:110";
        QTest::newRow("and back to SSL/TLS, 995") << QStringList{"Nuevo", "Ninguna", "SSL/TLS"} << "SSL/TLS|995|-"
                                                  << "SSL:995";
        QTest::newRow("a typed port stays") << QStringList{"Nuevo", "puerto 2995", "STARTTLS"} << "STARTTLS|2995|-"
                                            << "STLS:2995";
        QTest::newRow("a typed default port stays too") << QStringList{"Nuevo", "puerto 995", "Ninguna"}
                                                        << "Ninguna|995|aviso" << "Ninguna:995";
        QTest::newRow("a stored port of its own stays") << QStringList{"buzon 1", "STARTTLS"} << "STARTTLS|1995|-"
                                                        << "STLS:1995";
        QTest::newRow("a stored default port follows; the pin stays with its server")
            << QStringList{"buzon 2", "SSL/TLS"} << "SSL/TLS|995|-" << "SSL:995:pin";
        QTest::newRow("changing the server drops the pin") << QStringList{"buzon 2", "servidor pop.otra.es"}
                                                           << "STARTTLS|110|-" << "STLS:110";
        QTest::newRow("a new mailbox after a pinned one has no pin") << QStringList{"buzon 2", "Nuevo"} << "SSL/TLS|995|-"
                                                                     << "SSL:995";
    }
    void modoYPuerto()
    {
        QFETCH(QStringList, pasos);
        QFETCH(QString, mostrado);
        QFETCH(QString, aceptado);
        solo();
        for (const QString& paso : pasos) {
            const QString valor = paso.section(u' ', 1);
            if (paso == u"Nuevo") {
                conf_->nuevo->click();
                conf_->dBuzon->setEditText(QStringLiteral("Nuevo"));
                conf_->dHost->setText(QStringLiteral("pop.nuevo.es"));
                conf_->dusuario->setText(QStringLiteral("eva"));
            } else if (paso.startsWith(u"puerto")) {
                QTest::keyClick(conf_->dPuerto, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(conf_->dPuerto, valor);
            } else if (paso.startsWith(u"buzon")) {
                conf_->dBuzon->setCurrentIndex(valor.toInt() - 1);
                emit conf_->dBuzon->activated(valor.toInt() - 1);
            } else if (paso.startsWith(u"servidor")) {
                conf_->dHost->setText(valor);
            } else {
                conf_->dSeguridad->setCurrentText(paso);
                QCOMPARE(conf_->dSeguridad->currentText(), paso);
            }
        }
        QCOMPARE(QStringList({conf_->dSeguridad->currentText(), QString::number(conf_->dPuerto->value()),
                              conf_->avisoSinCifrar->isHidden() ? "-" : "aviso"})
                     .join(u'|'),
                 mostrado);
        const int pos = conf_->anadiendo() ? 3 : conf_->dBuzon->currentIndex() + 1;
        conf_->BitBtn1->click();
        QCOMPARE(aceptadas_.size(), 1);
        QCOMPARE(conexionEnTexto(aceptadas_.first().conexion(pos)), aceptado);
    }

    // The new controls come after the ones the fingers know, in the order they are seen.
    void tabuladorPorLaConexion()
    {
        solo();
        conf_->cCheck->setFocus();
        for (QWidget* siguiente : {static_cast<QWidget*>(conf_->dSeguridad), static_cast<QWidget*>(conf_->dPuerto),
                                   static_cast<QWidget*>(conf_->comprobar), static_cast<QWidget*>(conf_->nuevo)}) {
            pulsa(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), siguiente);
        }
    }

    // Whatever the 8-bit fields cannot hold is refused and said, never stored as a '?'.
    void soloCaracteresDe8Bits_data()
    {
        QTest::addColumn<QString>("campo");
        QTest::addColumn<bool>("pegado");
        QTest::addColumn<QString>("escrito");
        QTest::addColumn<QString>("queda");
        QTest::addColumn<QString>("aviso"); // empty: none
        const QString cabe = QStringLiteral(": solo caben las letras, cifras y signos de Europa occidental (Windows-1252).");
        QTest::newRow("a Cyrillic letter in the server") << "dHost" << false << QStringLiteral("pop.ж.es")
                                                         << QStringLiteral("pop..es")
                                                         << QStringLiteral("El servidor no admite el carácter «ж»") + cabe;
        QTest::newRow("an emoji pasted into the user: the paste is refused whole")
            << "dusuario" << true << QStringLiteral("ana😀") << QString()
            << QStringLiteral("El usuario no admite el carácter «😀»") + cabe;
        QTest::newRow("a Greek letter in the password is not shown") << "dclave" << false << QStringLiteral("clave€Ω")
                                                                     << QStringLiteral("clave€")
                                                                     << "La clave no admite uno de los caracteres escritos"
                                                                            + cabe;
        QTest::newRow("a Polish letter in a new mailbox's name") << "dBuzon" << false << QStringLiteral("Łeba")
                                                                 << QStringLiteral("eba")
                                                                 << QStringLiteral("El nombre del buzón no admite el "
                                                                                   "carácter «Ł»") + cabe;
        QTest::newRow("Western letters, the euro and œ are taken")
            << "dHost" << false << QStringLiteral("señal€œ.es") << QStringLiteral("señal€œ.es") << QString();
        QTest::newRow("and pasted as well") << "dusuario" << true << QStringLiteral("ñoño@señal.es")
                                            << QStringLiteral("ñoño@señal.es") << QString();
    }
    void soloCaracteresDe8Bits()
    {
        QFETCH(QString, campo);
        QFETCH(bool, pegado);
        QFETCH(QString, escrito);
        QFETCH(QString, queda);
        QFETCH(QString, aviso);
        solo();
        conf_->nuevo->click();
        QLineEdit* const e = campo == u"dBuzon" ? conf_->dBuzon->lineEdit()
            : campo == u"dHost"                 ? conf_->dHost
            : campo == u"dusuario"              ? conf_->dusuario
                                                : conf_->dclave;
        e->setFocus();
        if (pegado) {
            QApplication::clipboard()->setText(escrito);
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        } else {
            // Character by character, as a keyboard of any language sends them.
            for (qsizetype i = 0; i < escrito.size(); ++i) {
                const qsizetype largo = escrito.at(i).isHighSurrogate() ? 2 : 1;
                QKeyEvent tecla(QEvent::KeyPress, 0, Qt::NoModifier, escrito.mid(i, largo));
                QApplication::sendEvent(e, &tecla);
                i += largo - 1;
            }
        }
        QCOMPARE(e->text(), queda);
        QCoreApplication::processEvents();
        QCOMPARE(advertencias_, aviso.isEmpty() ? QStringList() : QStringList{aviso});
    }

    // "Comprobar" with the mailbox in the fields, against Dovecot: a certificate is offered
    // only when its authority is its one fault, and trusted only on a yes.
    void comprobar_data()
    {
        QTest::addColumn<int>("certificado");
        QTest::addColumn<QString>("modo");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("clave");
        QTest::addColumn<bool>("confia");
        QTest::addColumn<bool>("pregunta");
        QTest::addColumn<QString>("caja"); // "informa: …" or "advierte: …"
        QTest::addColumn<bool>("fijado");
        const auto sinSeguridad = [](const char* host, const char* motivo) {
            return QStringLiteral("advierte: Casa: no hay conexión segura con %1: %2.").arg(host, motivo);
        };
        QTest::newRow("self-signed, trusted: pinned, then counted")
            << +Tipo::Autofirmado << "SSL/TLS" << "localhost" << "secreta" << true << true << "informa: 2 mensajes" << true;
        QTest::newRow("self-signed over STARTTLS, not trusted: nothing more")
            << +Tipo::Autofirmado << "STARTTLS" << "localhost" << "secreta" << false << true << QString() << false;
        QTest::newRow("trusted, then a wrong password")
            << +Tipo::Autofirmado << "SSL/TLS" << "localhost" << "mala" << true << true
            << "advierte: Casa: Clave incorrecta " << true;
        QTest::newRow("self-signed for another name: no question")
            << +Tipo::Autofirmado << "SSL/TLS" << "127.0.0.1" << "secreta" << true << false
            << sinSeguridad("127.0.0.1", "el certificado es de otro servidor") << false;
        QTest::newRow("valid, over STARTTLS") << +Tipo::Valido << "STARTTLS" << "localhost" << "secreta" << true << false
                                              << "informa: 2 mensajes" << false;
    }
    void comprobar()
    {
        QFETCH(int, certificado);
        QFETCH(QString, modo);
        QFETCH(QString, host);
        QFETCH(QString, clave);
        QFETCH(bool, confia);
        QFETCH(bool, pregunta);
        QFETCH(QString, caja);
        QFETCH(bool, fijado);
        const ServidorDovecot* s = dovecot(Tipo(certificado));
        QVERIFY(s);
        solo();
        confia_ = confia;
        escribeBuzon(QStringLiteral("Casa"), host, QStringLiteral("ana"), clave, modo,
                     modo == u"SSL/TLS" ? s->puertoTLS() : s->puerto());
        conf_->comprobar->click();
        QCOMPARE(preguntas_.size(), pregunta ? 1 : 0);
        const QByteArray huella = certificados_.huella(Tipo(certificado));
        if (pregunta) {
            QVERIFY2(preguntas_.first().startsWith(QStringLiteral("Casa: no hay conexión segura con localhost: el "
                                                                  "certificado es autofirmado")),
                     qPrintable(preguntas_.first()));
            QVERIFY(preguntas_.first().remove(u':').remove(u'\n').contains(QString::fromLatin1(huella)));
        }
        QStringList cajas;
        for (const QString& t : informes_)
            cajas << "informa: " + t;
        for (const QString& t : advertencias_)
            cajas << "advierte: " + t;
        QCOMPARE(cajas, caja.isEmpty() ? QStringList() : QStringList{caja});
        QCOMPARE(conf_->conexionEditada().huella, fijado ? huella : QByteArray());
        QVERIFY(conf_->PageControl1->isEnabled());
    }

    // Trusted while setting up and saved with the mailbox; from then on another
    // certificate is refused, by the test and by the program's check, without a question.
    void certificadoFijadoYCambiado()
    {
        const ServidorDovecot* propio = dovecot(Tipo::Autofirmado);
        const ServidorDovecot* otro = dovecot(Tipo::Valido);
        QVERIFY(propio && otro);
        abre();
        pirel_->chequeo->espera = 10;
        confia_ = true;
        escribeBuzon(QStringLiteral("Casa"), QStringLiteral("localhost"), QStringLiteral("ana"),
                     QStringLiteral("secreta"), QStringLiteral("SSL/TLS"), propio->puertoTLS());
        conf_->comprobar->click();
        QCOMPARE(informes_, QStringList{"2 mensajes"});
        conf_->nuevo->click();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        QCOMPARE(pirel_->TrayIcon1.ToolTip(), QStringLiteral("2 Mensajes"));
        const QByteArray huella = certificados_.huella(Tipo::Autofirmado);
        QVERIFY2(guardado().contains("\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"" + QByteArray::number(propio->puertoTLS())
                                     + "\"\n\"Huella1\"=\"" + huella + "\"\n"),
                 guardado().constData());

        pirel_->ConfiguracionClick();
        conf_ = pirel_->configuracion();
        QVERIFY(conf_);
        graba();
        QCOMPARE(conf_->conexionEditada().huella, huella);
        conf_->dPuerto->setValue(otro->puertoTLS());
        conf_->comprobar->click();
        const QString rechazo = QStringLiteral(
            "Casa: no hay conexión segura con localhost: el certificado no es el que se aceptó para este buzón.");
        QCOMPARE(advertencias_, QStringList{rechazo});
        QVERIFY(preguntas_.isEmpty());
        cajas_.vistas.clear();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        QCOMPARE(cajas_.vistas, QStringList{"error: " + rechazo});
        QCOMPARE(pirel_->TrayIcon1.ToolTip(), QStringLiteral("Error en Conexion"));
        QVERIFY(guardado().contains("\"Huella1\"=\"" + huella + "\"\n"));
    }

    void aceptarSoloTrasAnadir()
    {
        abre();
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        pirel_->chequeo->puerto = QByteArray::number(servidor.puerto());
        escribeBuzon(QStringLiteral("Casa"), QStringLiteral("127.0.0.1"), QStringLiteral("ana"), QStringLiteral("clave"));
        conf_->BitBtn1->click();
        QVERIFY2(conf_ && conf_->isVisible(), "with an empty table the dialog stays open");
        QVERIFY2(!guardado().contains("Buzones"), "nothing saved");
        QVERIFY(!pirel_->Timer1.isActive());

        conf_->nuevo->click();
        QCOMPARE(conf_->nuevo->text(), QStringLiteral("&Nuevo"));
        QCOMPARE(conf_->dBuzon->count(), 1);
        conf_->BitBtn1->click();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QVERIFY(!(pirel_->ventanasAbiertas & TPirel::kConfiguracionAbierta));
        QTRY_VERIFY(!conf_);
        const QByteArray escrito = guardado();
        QVERIFY(escrito.contains("\"Buzon1\"=\"Casa\"") && escrito.contains("\"nBuzon\"=\"1\"")
                && escrito.contains("\"Numero\"=\"2.0\"") && escrito.contains("\"frecuencia\"=\"5\""));
        QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))));
        QCOMPARE(pirel_->TrayIcon1.ToolTip(), QStringLiteral("1 Mensajes"));
        QVERIFY(pirel_->Timer1.isActive());
        QCOMPARE(pirel_->Timer1.interval(), 5 * 60000);
    }

    void duplicadoYVeinte()
    {
        abre();
        escribeBuzon(QStringLiteral("A"), QStringLiteral("pop.x.es"), QStringLiteral("ana"), {});
        conf_->nuevo->click();
        escribeBuzon(QStringLiteral("Otra"), QStringLiteral("pop.x.es"), QStringLiteral("ana"), {});
        conf_->nuevo->click();
        QCOMPARE(conf_->buzonesEdicion.numBuzones(), 1);
        QCOMPARE(conf_->dBuzon->currentIndex(), 0);
        for (int i = 2; i <= 20; ++i) {
            escribeBuzon(QStringLiteral("B%1").arg(i), QStringLiteral("pop%1.es").arg(i), QStringLiteral("u"), {});
            conf_->nuevo->click();
        }
        QCOMPARE(conf_->buzonesEdicion.numBuzones(), 20);
        QVERIFY2(!conf_->nuevo->isEnabled(), "the 20th mailbox disables Nuevo");
        escribeBuzon(QStringLiteral("Nombre demasiado largo"), {}, {}, {});
        conf_->dBuzon->setCurrentIndex(19);
        conf_->eliminarClick();
        QVERIFY(conf_->nuevo->isEnabled());
    }

    void eliminarPrimeroYUltimo()
    {
        abre();
        for (const char* n : {"A", "B", "C"}) {
            escribeBuzon(QLatin1String(n), QLatin1String(n) + QStringLiteral(".es"), QStringLiteral("u"), {});
            conf_->nuevo->click();
        }
        conf_->dBuzon->setCurrentIndex(0);
        conf_->eliminar->click();
        QCOMPARE(conf_->dBuzon->currentText(), QStringLiteral("B"));
        QCOMPARE(conf_->dHost->text(), QStringLiteral("B.es"));
        conf_->eliminar->click();
        conf_->cCheck->setChecked(false);
        conf_->eliminar->click();
        QCOMPARE(conf_->buzonesEdicion.numBuzones(), 0);
        QVERIFY(conf_->dHost->text().isEmpty());
        QVERIFY(conf_->cCheck->isChecked());
        QVERIFY(!conf_->eliminar->isEnabled());
    }

    void sonidosYProgramaDeCorreo()
    {
        abre();
        conf_->ReWav->setChecked(true);
        QVERIFY(!conf_->CheckBox2->isChecked());
        QVERIFY(conf_->Edit1->isEnabled() && conf_->BitBtn4->isEnabled());
        conf_->CheckBox2->setChecked(true);
        QVERIFY(!conf_->ReWav->isChecked());
        QVERIFY(!conf_->Edit1->isEnabled() && !conf_->BitBtn4->isEnabled());

        conf_->CheckBox3->setChecked(true);
        QVERIFY(conf_->gcorreo->isEnabled());
        QString respuesta;
        conf_->eligeFichero = [&](const QString&, const QString&, const QString&) { return respuesta; };
        for (const QString& propio : {QStringLiteral("/opt/xPiReL.ExE"), QCoreApplication::applicationFilePath()}) {
            respuesta = propio;
            conf_->BitBtn3->click();
        }
        QCOMPARE(advertencias_, QStringList(2, QStringLiteral("Pirel no es un programa gestor de correo... todavia. :)")));
        QVERIFY(conf_->gcorreo->text().isEmpty());
        respuesta = QStringLiteral("/opt/Mis programas/correo");
        conf_->BitBtn3->click();
        QCOMPARE(conf_->gcorreo->text(), QStringLiteral("\"/opt/Mis programas/correo\""));
        respuesta.clear();
        conf_->BitBtn3->click();
        QCOMPARE(conf_->gcorreo->text(), QStringLiteral("\"/opt/Mis programas/correo\""));
        // A path the stored 8-bit text cannot hold is refused, never kept with '?' in it.
        for (const QString& raro : {QStringLiteral("/opt/Программы/correo"), QStringLiteral("/opt/") + QString(260, u'x')}) {
            respuesta = raro;
            conf_->BitBtn3->click();
            QCOMPARE(conf_->gcorreo->text(), QStringLiteral("\"/opt/Mis programas/correo\""));
        }
        QCOMPARE(advertencias_.size(), 4);
        QVERIFY(advertencias_.last().startsWith(u"No se puede guardar la ruta de ese programa"));
        respuesta = QStringLiteral("/usr/share/sounds/Звук.wav");
        conf_->ReWav->setChecked(true);
        conf_->BitBtn4->click();
        QVERIFY(conf_->Edit1->text() != respuesta);
        QCOMPARE(advertencias_.size(), 5);
        conf_->CheckBox3->setChecked(false);
        QVERIFY(conf_->gcorreo->text().isEmpty());
        QVERIFY(!conf_->gcorreo->isEnabled() && !conf_->BitBtn3->isEnabled());
    }

    void edicionGuardadaAlSalirYPerdidaAlCancelar()
    {
        abre("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
             "\"frecuencia\"=\"9\"\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
             "\"Buzon1\"=\"A\"\n\"Host1\"=\"no-existe.invalid\"\n\"usuario1\"=\"u\"\n\"Chequear1\"=\"No\"\n"
             "\"Buzon2\"=\"B\"\n\"Host2\"=\"b.invalid\"\n\"usuario2\"=\"u\"\n\"Chequear2\"=\"No\"\n\"nBuzon\"=\"2\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n");
        const QByteArray antes = guardado();
        QCOMPARE(conf_->dfrecuencia->value(), 9);
        QApplication::setActiveWindow(conf_);
        conf_->dHost->setFocus();
        conf_->dHost->setText(QStringLiteral("nuevo.invalid"));
        conf_->dBuzon->setFocus();
        QCOMPARE(conf_->buzonesEdicion.host(1), QByteArray("nuevo.invalid"));
        conf_->dBuzon->setCurrentIndex(1);
        emit conf_->dBuzon->activated(1);
        QCOMPARE(conf_->dHost->text(), QStringLiteral("b.invalid"));
        QTest::keyClick(conf_, Qt::Key_Escape);
        QTRY_VERIFY(!conf_);
        QCOMPARE(pirel_->buzones->host(1), QByteArray("no-existe.invalid"));
        QCOMPARE(guardado(), antes);
        QVERIFY(!(pirel_->ventanasAbiertas & TPirel::kConfiguracionAbierta));
        QVERIFY2(pirel_->Timer1.isActive(), "closing enables the timer again");
    }

    void frecuenciaIlegible()
    {
        abre("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
             "\"frecuencia\"=\"cinco\"\n\"Hacer Sonido\"=\"Wave\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n\"nBuzon\"=\"0\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n");
        QVERIFY(cajas_.vistas.contains(QStringLiteral("error: 'cinco' is not a valid integer value")));
        QCOMPARE(conf_->dfrecuencia->value(), 1);
        QVERIFY2(conf_->CheckBox2->isChecked() && !conf_->ReWav->isChecked(), "the form's own states stay");
        QCOMPARE(conf_->titulo->text(), QStringLiteral("Ludaren Electrónico"));
    }
};

QTEST_MAIN(TestConf)
#include "test_conf.moc"
