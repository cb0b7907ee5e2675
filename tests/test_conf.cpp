// The configuration dialog as the main form opens it on the offscreen platform, with a real
// settings file, driven by keys where the user would type; "Comprobar" against private
// Dovecot servers over TLS.
#include "certificados.h"
#include "escritorio_grabado.h"
#include "conf.h"
#include "pirel.h"
#include "recursos.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;
using Tipo = Certificados::Tipo;

namespace {

// Three mailboxes, the second pinned; the wave sound and a mail program.
const QByteArray kTres = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n"
                         "\"frecuencia\"=\"9\"\n\"Hacer Sonido\"=\"Wave\"\n\"Gestor de Correo\"=\"thunderbird\"\n\"Animacion\"=\"Si\"\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
                         "\"Buzon1\"=\"Gmail trabajo\"\n\"Host1\"=\"127.0.0.2\"\n\"usuario1\"=\"ana\"\n\"Chequear1\"=\"Si\"\n"
                         "\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"1995\"\n\"Buzon2\"=\"Casa\"\n\"Host2\"=\"127.0.0.3\"\n\"usuario2\"=\"ana\"\n"
                         "\"Chequear2\"=\"Si\"\n\"Seguridad2\"=\"STLS\"\n\"Puerto2\"=\"110\"\n\"Huella2\"=\"" + QByteArray(64, 'a') + "\"\n"
                         "\"Buzon3\"=\"Club\"\n\"Host3\"=\"127.0.0.4\"\n\"usuario3\"=\"ana\"\n\"Chequear3\"=\"Si\"\n\"nBuzon\"=\"3\"\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n";

QStringList nombres(const TBuzon& tabla)
{
    QStringList r;
    for (int i = 1; i <= tabla.numBuzones(); ++i)
        r << QString::fromLatin1(tabla.nombre(i) + '@' + tabla.host(i));
    return r;
}

}

class TestConf : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    CajasGrabadas cajas_;
    AreaGrabada* area_ = nullptr;
    std::unique_ptr<TPirel> pirel_;
    QPointer<TConf> conf_;
    QStringList vistas_; // the dialog's own boxes
    bool confia_ = false;
    Certificados certificados_;
    std::unique_ptr<ServidorDovecot> dovecot_[4];
    ServidorDovecot* dovecot(Tipo t)
    {
        if (!dovecot_[t]) {
            dovecot_[t] = std::make_unique<ServidorDovecot>();
            dovecot_[t]->agregaUsuario("ana", "secreta", {{"Uno", "Ana <ana@ejemplo.org>"}, {"Dos", "Luis <luis@ejemplo.org>"}});
            dovecot_[t]->usaTLS(certificados_.certificado(t), certificados_.clave(t));
            if (!dovecot_[t]->arranca())
                return nullptr;
        }
        return dovecot_[t].get();
    }
    QByteArray guardado() const
    {
        QFile f(dir_->filePath(QStringLiteral("Ludaren/registro.reg")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The program started on this store (on the one left by the last start when `nuevo` is
    // false), every mailbox refused, and its dialog opened in front.
    void abre(const QByteArray& registro = kTres, bool nuevo = true)
    {
        pirel_.reset();
        cajas_.vistas.clear();
        if (nuevo) {
            dir_ = std::make_unique<QTemporaryDir>();
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
            QDir().mkpath(dir_->filePath(QStringLiteral("Ludaren")));
            if (QFile f(dir_->filePath(QStringLiteral("Ludaren/registro.reg"))); !registro.isEmpty() && f.open(QIODevice::WriteOnly))
                f.write(registro);
        }
        auto area = std::make_unique<AreaGrabada>();
        area_ = area.get();
        pirel_ = std::make_unique<TPirel>(TPirel::Piezas{std::move(area), &cajas_, dir_->filePath(QStringLiteral("Ludaren/registro.reg")),
                                                         {}, {}, {}, std::make_unique<AltavozGrabado>()});
        QVERIFY(pirel_->FormCreate());
        pirel_->chequeo->puerto = QByteArray::number(PuertoCerrado());
        pirel_->chequeo->espera = 2;
        pirel_->FormShow();
        pirel_->ayuda.hide();
        pirel_->ConfiguracionClick();
        conf_ = pirel_->configuracion();
        QVERIFY(conf_ && conf_->isVisible());
        vistas_.clear();
        conf_->advierte = [this](const QString& t) { vistas_ << "advierte: " + t; };
        conf_->informa = [this](const QString& t) { vistas_ << "informa: " + t; };
        conf_->pregunta = [this](const QString& t) { vistas_ << "pregunta: " + t; return confia_; };
        conf_->esperaComprobacion = 10;
        QApplication::setActiveWindow(conf_);
        QVERIFY(QTest::qWaitForWindowActive(conf_));
    }
    // Keys where the focus is: "Alt+N", "Shift+Tab"... ; 'text typed; @field takes the focus.
    void teclas(const QString& guion)
    {
        for (const QString& t : guion.split(u' ', Qt::SkipEmptyParts)) {
            if (t.startsWith(u'\''))
                QTest::keyClicks(QApplication::focusWidget(), t.mid(1));
            else if (t.startsWith(u'@')) // a control by its place in the tab order
                orden().at(t.mid(1).toInt())->setFocus();
            else
                QTest::keyClick(QApplication::focusWidget(), QKeySequence(t)[0].key(), QKeySequence(t)[0].keyboardModifiers());
            if (t == u"Alt+N") // a mnemonic clicks its button a moment later
                QTRY_VERIFY(conf_->anadiendo());
        }
    }
    QList<QWidget*> orden() const
    {
        return {conf_->dBuzon, conf_->dHost, conf_->dusuario, conf_->dclave, conf_->cCheck, conf_->dSeguridad, conf_->dPuerto,
                conf_->comprobar, conf_->nuevo, conf_->eliminar, conf_->AnimaSobre, conf_->CheckBox1, conf_->dfrecuencia,
                conf_->CheckBox3, conf_->gcorreo, conf_->BitBtn3, conf_->ReWav, conf_->CheckBox2, conf_->Edit1, conf_->BitBtn4,
                conf_->BitBtn1, conf_->BitBtn2};
    }
    void escribe(const QString& nombre, const QString& host, const QString& clave = {}, const QString& modo = "Ninguna", int puerto = 110)
    {
        conf_->nuevo->click();
        conf_->dBuzon->setEditText(nombre);
        conf_->dHost->setText(host);
        conf_->dusuario->setText(QStringLiteral("ana"));
        conf_->dclave->setText(clave);
        conf_->dSeguridad->setCurrentText(modo);
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
    void cleanup() { pirel_.reset(); }
    // Saved only once the table holds a mailbox; then the timer, the log-on entry and a check.
    void aceptar()
    {
        abre({});
        QCOMPARE(conf_->titulo->text(), QStringLiteral("Ludaren Electrónico versión 2.0"));
        QCOMPARE(conf_->size().expandedTo(conf_->layout()->totalMinimumSize()), conf_->size());
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        pirel_->chequeo->puerto = QByteArray::number(servidor.puerto());
        escribe(QStringLiteral("Casa"), QStringLiteral("127.0.0.1"), QStringLiteral("clave"));
        conf_->BitBtn1->click();
        QVERIFY2(conf_ && conf_->isVisible() && !guardado().contains("Buzones"), "with an empty table nothing is saved");
        QVERIFY(!pirel_->Timer1.isActive());
        conf_->nuevo->click();
        conf_->BitBtn1->click();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QTRY_VERIFY(!conf_);
        for (const char* linea : {"\"Buzon1\"=\"Casa\"", "\"nBuzon\"=\"1\"", "\"Numero\"=\"2.0\"", "\"frecuencia\"=\"5\""})
            QVERIFY2(guardado().contains(linea), linea);
        QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))));
        QCOMPARE(pirel_->TrayIcon1.ToolTip(), QStringLiteral("1 Mensajes"));
        QCOMPARE(pirel_->Timer1.interval(), 5 * 60000);
        QVERIFY(pirel_->Timer1.isActive() && !(pirel_->ventanasAbiertas & TPirel::kConfiguracionAbierta));
    }
    // Options set through the controls, saved, and shown again by the next start; the tray
    // is reset from the connection error before the check that follows.
    void opciones_data()
    {
        QTest::addColumn<int>("minutos"); QTest::addColumn<QString>("sonido"); QTest::addColumn<bool>("animacion");
        QTest::addColumn<QString>("gestor"); QTest::addColumn<bool>("siempre");
        QTest::newRow("the bell, 7 minutes, no animation, no mail program") << 7 << "Beep" << false << "" << true;
        QTest::newRow("a wave file, 720 minutes, another program, not at log-on") << 720 << "Wave" << true << "mutt -y" << false;
        QTest::newRow("silent, 1 minute") << 1 << "" << true << "thunderbird" << true;
    }
    void opciones()
    {
        QFETCH(int, minutos); QFETCH(QString, sonido); QFETCH(bool, animacion); QFETCH(QString, gestor);
        QFETCH(bool, siempre);
        abre();
        QCOMPARE(pirel_->TrayIcon1.ToolTip(), QStringLiteral("Error en Conexion"));
        const QString wav = DirectorioDatos() + QStringLiteral("/spirel.wav");
        teclas("@12 Ctrl+A '" + QString::number(minutos));
        conf_->CheckBox2->setChecked(sonido == u"Beep");
        if (sonido != u"Beep") // the bell's box clears the other
            conf_->ReWav->setChecked(sonido == u"Wave");
        QCOMPARE(conf_->Edit1->isEnabled(), sonido == u"Wave");
        conf_->Edit1->setText(wav);
        conf_->AnimaSobre->setChecked(animacion);
        conf_->CheckBox1->setChecked(siempre);
        conf_->CheckBox3->setChecked(!gestor.isEmpty());
        QCOMPARE(conf_->gcorreo->isEnabled(), !gestor.isEmpty());
        if (!gestor.isEmpty()) {
            QTest::keyClick(conf_->gcorreo, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(conf_->gcorreo, gestor);
        }
        const auto controles = [this] {
            QString r = QStringList{QString::number(conf_->dfrecuencia->value()), conf_->Edit1->text(), conf_->gcorreo->text()}.join(u'|');
            for (const QCheckBox* c : {conf_->CheckBox2, conf_->ReWav, conf_->AnimaSobre, conf_->CheckBox1})
                r += c->isChecked() ? u'1' : u'0';
            return r;
        };
        const QString elegido = controles();
        area_->envios.clear();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        QCOMPARE(area_->envios.mid(0, 2), (QStringList{"modifica:Error en Conexion", "modifica:No Hay Mensajes"}));
        QCOMPARE(pirel_->Timer1.interval(), minutos * 60000);
        for (const QString& l : {QStringLiteral("\"frecuencia\"=\"%1\"").arg(minutos), "\"Hacer Sonido\"=\"" + sonido + '"',
                                 QStringLiteral("\"Animacion\"=\"%1\"").arg(animacion ? "Si" : "No"), "\"Gestor de Correo\"=\"" + gestor + '"',
                                 "\"Fichero Wav\"=\"" + wav + '"'})
            QVERIFY2(guardado().contains(l.toLatin1()), qPrintable(l));
        QCOMPARE(QFile::exists(dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))), siempre);
        abre({}, false);
        QCOMPARE(pirel_->Timer1.interval(), minutos * 60000);
        QCOMPARE(controles(), elegido);
    }
    // Enter presses "Aceptar" wherever it has no other meaning; typing a mailbox's name
    // never chooses one; the list and the arrow keys do, and so give up an addition.
    void teclado_data()
    {
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<QStringList>("tabla"); // the saved table, or the working copy when not accepted
        QTest::addColumn<bool>("aceptado");
        const QStringList tres{"Gmail trabajo@127.0.0.2", "Casa@127.0.0.3", "Club@127.0.0.4"};
        QTest::newRow("browsing, a server retyped") << "@1 Ctrl+A '127.0.0.9 Return"
                                                    << QStringList{"Gmail trabajo@127.0.0.9", tres[1], tres[2]} << true;
        for (const char* nombre : {"Gmail", "casa", "Casa"})
            QTest::newRow(qPrintable(QStringLiteral("adding %1, then Enter in the name").arg(nombre)))
                << QStringLiteral("Alt+N '%1 Tab '127.0.0.9 Tab 'eva Shift+Tab Shift+Tab Return").arg(nombre)
                << tres + QStringList{QStringLiteral("%1@127.0.0.9").arg(nombre)} << true;
        QTest::newRow("adding, then an arrow key chooses") << "Alt+N 'Nueva Tab '127.0.0.9 Tab 'eva Shift+Tab Shift+Tab Down Return"
                                                           << tres << true;
        QTest::newRow("on the security") << "@5 Return" << tres << true;
        QTest::newRow("on the port") << "@6 Return" << tres << true;
        QTest::newRow("on Eliminar") << "@9 Return" << QStringList{tres[1], tres[2]} << false;
    }
    void teclado()
    {
        QFETCH(QString, teclas); QFETCH(QStringList, tabla); QFETCH(bool, aceptado);
        abre();
        this->teclas(teclas);
        if (aceptado)
            QTRY_VERIFY(!conf_);
        QCOMPARE(nombres(aceptado ? *pirel_->buzones : conf_->buzonesEdicion), tabla);
    }
    // Every control in reading order, the connection after the fields the fingers know.
    void tabulador()
    {
        abre();
        conf_->dBuzon->setFocus();
        for (QWidget* w : orden().mid(1)) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), w);
        }
    }
    void eliminar_data()
    {
        QTest::addColumn<int>("cual"); QTest::addColumn<int>("veces"); QTest::addColumn<QStringList>("quedan");
        QTest::addColumn<QString>("muestra");
        QTest::newRow("the first: the one below") << 0 << 1 << QStringList{"Casa@127.0.0.3", "Club@127.0.0.4"} << "Casa@127.0.0.3";
        QTest::newRow("a middle one: the one above") << 1 << 1 << QStringList{"Gmail trabajo@127.0.0.2", "Club@127.0.0.4"} << "Gmail trabajo@127.0.0.2";
        QTest::newRow("the last: the one above") << 2 << 1 << QStringList{"Gmail trabajo@127.0.0.2", "Casa@127.0.0.3"} << "Casa@127.0.0.3";
        QTest::newRow("all: empty fields") << 0 << 3 << QStringList() << "@";
    }
    void eliminar()
    {
        QFETCH(int, cual); QFETCH(int, veces); QFETCH(QStringList, quedan); QFETCH(QString, muestra);
        abre();
        conf_->dBuzon->setCurrentIndex(cual);
        for (int i = 0; i < veces; ++i) {
            conf_->cCheck->setChecked(false);
            conf_->eliminar->click();
        }
        QCOMPARE(nombres(conf_->buzonesEdicion), quedan);
        QCOMPARE(conf_->dBuzon->currentText() + u'@' + conf_->dHost->text(), muestra);
        QVERIFY2(conf_->cCheck->isChecked(), "the stored flag, or a new mailbox's");
        QCOMPARE(conf_->eliminar->isEnabled(), !quedan.isEmpty());
    }
    // A mailbox already there is chosen, not added; the 20th disables "Nuevo" until one goes.
    void duplicadoYVeinte()
    {
        abre();
        escribe(QStringLiteral("Otra"), QStringLiteral("127.0.0.3"));
        conf_->nuevo->click();
        QCOMPARE(conf_->buzonesEdicion.numBuzones(), 3);
        QCOMPARE(conf_->dBuzon->currentIndex(), 1);
        for (int i = 4; i <= 20; ++i) {
            escribe(QStringLiteral("B%1").arg(i), QStringLiteral("10.0.0.%1").arg(i));
            conf_->nuevo->click();
        }
        QCOMPARE(conf_->buzonesEdicion.numBuzones(), 20);
        QVERIFY(!conf_->nuevo->isEnabled());
        conf_->eliminar->click();
        QVERIFY(conf_->nuevo->isEnabled());
    }
    // Leaving the fields keeps a complete mailbox in the working copy; Esc drops it all.
    void edicionYCancelar()
    {
        abre();
        const QByteArray antes = guardado();
        for (QLineEdit* campo : {conf_->dHost, conf_->dusuario}) { // a mailbox without a user is not kept
            campo->setFocus();
            campo->setText(campo == conf_->dHost ? QStringLiteral("127.0.0.8") : QString());
            conf_->dBuzon->setFocus();
            QCOMPARE(conf_->buzonesEdicion.host(1) + '/' + conf_->buzonesEdicion.usuario(1), QByteArray("127.0.0.8/ana"));
        }
        QTest::keyClick(conf_->dBuzon, Qt::Key_Down);
        QCOMPARE(conf_->dHost->text(), QStringLiteral("127.0.0.3"));
        QTest::keyClick(conf_, Qt::Key_Escape);
        QTRY_VERIFY(!conf_);
        QCOMPARE(pirel_->buzones->host(1), QByteArray("127.0.0.2"));
        QCOMPARE(guardado(), antes);
        QVERIFY2(pirel_->Timer1.isActive() && !pirel_->ventanasAbiertas, "closing enables the timer again");
    }
    void frecuenciaIlegible()
    {
        abre(QByteArray(kTres).replace("\"9\"", "\"cinco\""));
        QCOMPARE(cajas_.vistas.last(), QStringLiteral("error: 'cinco' is not a valid integer value"));
        QCOMPARE(conf_->dfrecuencia->value(), 1);
        QVERIFY2(conf_->CheckBox2->isChecked() && !conf_->ReWav->isChecked(), "the form's own states stay");
    }
    // What the file pickers bring is taken as a quoted command or a path, unless 8-bit
    // text cannot hold it; this program is no mail program.
    void ficheros_data()
    {
        QTest::addColumn<bool>("sonido"); QTest::addColumn<QString>("elegido"); QTest::addColumn<QString>("queda");
        QTest::addColumn<QString>("aviso");
        const QString propio = QStringLiteral("Pirel no es un programa gestor de correo... todavia. :)");
        const QString cabe = QStringLiteral("caben 255 caracteres, solo letras, cifras y signos de Europa occidental (Windows-1252).");
        QTest::newRow("our own, by its old name") << false << "/opt/xPiReL.ExE" << "thunderbird" << propio;
        QTest::newRow("our own, by its path") << false << QCoreApplication::applicationFilePath() << "thunderbird" << propio;
        QTest::newRow("spaces and a quote") << false << "/opt/Mis programas/co\"rreo" << "\"/opt/Mis programas/co\"\"\"rreo\"" << "";
        QTest::newRow("cancelled") << false << "" << "thunderbird" << "";
        QTest::newRow("Cyrillic") << false << "/opt/Программы/correo" << "thunderbird" << "No se puede guardar la ruta de ese programa: " + cabe;
        QTest::newRow("too long") << false << "/opt/" + QString(260, u'x') << "thunderbird" << "No se puede guardar la ruta de ese programa: " + cabe;
        QTest::newRow("a sound") << true << "/tmp/sonido.wav" << "/tmp/sonido.wav" << "";
        QTest::newRow("a Cyrillic sound") << true << "/tmp/Звук.wav" << "spirel.wav" << "No se puede guardar la ruta de ese fichero: " + cabe;
    }
    void ficheros()
    {
        QFETCH(bool, sonido); QFETCH(QString, elegido); QFETCH(QString, queda); QFETCH(QString, aviso);
        abre();
        conf_->Edit1->setText(QStringLiteral("spirel.wav"));
        conf_->eligeFichero = [&](const QString&, const QString&, const QString&) { return elegido; };
        (sonido ? conf_->BitBtn4 : conf_->BitBtn3)->click();
        QCOMPARE((sonido ? conf_->Edit1 : conf_->gcorreo)->text(), queda);
        QCOMPARE(vistas_, aviso.isEmpty() ? QStringList() : QStringList{"advierte: " + aviso});
    }
    // Whatever the 8-bit fields cannot hold is refused and said, never stored as a '?'.
    void soloCaracteresDe8Bits_data()
    {
        QTest::addColumn<int>("campo"); QTest::addColumn<bool>("pegado"); QTest::addColumn<QString>("escrito");
        QTest::addColumn<QString>("queda"); QTest::addColumn<QString>("aviso");
        const QString cabe = QStringLiteral(": solo caben las letras, cifras y signos de Europa occidental (Windows-1252).");
        QTest::newRow("Cyrillic in the server") << 1 << false << "pop.ж.es" << "pop..es" << "El servidor no admite el carácter «ж»" + cabe;
        QTest::newRow("an emoji pasted into the user: all refused") << 2 << true << "ana😀" << "" << "El usuario no admite el carácter «😀»" + cabe;
        QTest::newRow("Greek in the password, not shown") << 3 << false << "clave€Ω" << "clave€" << "La clave no admite uno de los caracteres escritos" + cabe;
        QTest::newRow("Polish in a new name") << 0 << false << "Łeba" << "eba" << "El nombre del buzón no admite el carácter «Ł»" + cabe;
        QTest::newRow("Western letters, € and œ") << 1 << false << "señal€œ.es" << "señal€œ.es" << "";
        QTest::newRow("and pasted") << 2 << true << "ñoño@señal.es" << "ñoño@señal.es" << "";
    }
    void soloCaracteresDe8Bits()
    {
        QFETCH(int, campo); QFETCH(bool, pegado); QFETCH(QString, escrito); QFETCH(QString, queda);
        QFETCH(QString, aviso);
        abre();
        conf_->nuevo->click();
        QLineEdit* const e = QList<QLineEdit*>{conf_->dBuzon->lineEdit(), conf_->dHost, conf_->dusuario, conf_->dclave}[campo];
        e->setFocus();
        QApplication::clipboard()->setText(escrito);
        if (pegado)
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        for (qsizetype i = 0, largo = 1; !pegado && i < escrito.size(); i += largo) {
            largo = escrito.at(i).isHighSurrogate() ? 2 : 1; // as a keyboard of any language sends them
            QKeyEvent tecla(QEvent::KeyPress, 0, Qt::NoModifier, escrito.mid(i, largo));
            QApplication::sendEvent(e, &tecla);
        }
        QCOMPARE(e->text(), queda);
        QCoreApplication::processEvents();
        QCOMPARE(vistas_, aviso.isEmpty() ? QStringList() : QStringList{"advierte: " + aviso});
    }
    // The port follows the mode unless the user chose one; the pin stays with its server.
    void modoYPuerto_data()
    {
        QTest::addColumn<QString>("pasos"); // "Nuevo", a mode, "puerto N", "buzon N", "servidor X"
        QTest::addColumn<QString>("aceptado");
        QTest::newRow("a new mailbox: SSL/TLS and 995") << "Nuevo" << "SSL:995";
        QTest::newRow("STARTTLS takes 110") << "Nuevo STARTTLS" << "STLS:110";
        QTest::newRow("Ninguna takes 110 and warns") << "Nuevo Ninguna" << "Ninguna:110:aviso";
        QTest::newRow("and back to SSL/TLS, 995") << "Nuevo Ninguna SSL/TLS" << "SSL:995";
        QTest::newRow("a typed port stays") << "Nuevo puerto:2995 STARTTLS" << "STLS:2995";
        QTest::newRow("a typed default port stays too") << "Nuevo puerto:995 Ninguna" << "Ninguna:995:aviso";
        QTest::newRow("a stored port of its own stays") << "buzon:1 STARTTLS" << "STLS:1995";
        QTest::newRow("a stored default port follows, the pin stays") << "buzon:2 SSL/TLS" << "SSL:995:pin";
        QTest::newRow("another server drops the pin") << "buzon:2 servidor:127.0.0.7" << "STLS:110";
        QTest::newRow("a new mailbox after a pinned one has none") << "buzon:2 Nuevo" << "SSL:995";
    }
    void modoYPuerto()
    {
        QFETCH(QString, pasos); QFETCH(QString, aceptado);
        abre();
        for (const QString& paso : pasos.split(u' ')) {
            const QString valor = paso.section(u':', 1);
            if (paso == u"Nuevo") {
                conf_->nuevo->click();
                conf_->dBuzon->setEditText(QStringLiteral("Nuevo"));
                conf_->dHost->setText(QStringLiteral("127.0.0.9"));
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
            }
        }
        const int pos = conf_->anadiendo() ? 4 : conf_->dBuzon->currentIndex() + 1;
        const bool aviso = !conf_->avisoSinCifrar->isHidden();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        const Conexion c = pirel_->buzones->conexion(pos);
        QCOMPARE(QStringList({QStringList{"Ninguna", "SSL", "STLS"}[int(c.seguridad)], QString::number(c.puerto)}).join(u':')
                     + (aviso ? ":aviso" : "") + (c.huella.isEmpty() ? "" : ":pin"),
                 aceptado);
    }
    // "Comprobar" against Dovecot: a certificate is offered only when its authority is its
    // one fault, trusted only on a yes, and a pinned one refuses any other without asking.
    void comprobar_data()
    {
        QTest::addColumn<int>("certificado"); QTest::addColumn<QString>("modo"); QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("clave"); QTest::addColumn<bool>("confia");
        QTest::addColumn<QStringList>("vistas"); // how each box begins
        const QString pregunta = QStringLiteral("pregunta: Casa: no hay conexión segura con localhost: el certificado es autofirmado");
        const QString seguro = QStringLiteral("advierte: Casa: no hay conexión segura con ");
        QTest::newRow("self-signed, trusted: pinned, then counted") << +Tipo::Autofirmado << "SSL/TLS" << "localhost" << "secreta" << true
                                                                    << QStringList{pregunta, "informa: 2 mensajes"};
        QTest::newRow("self-signed over STARTTLS, not trusted") << +Tipo::Autofirmado << "STARTTLS" << "localhost" << "secreta" << false
                                                                << QStringList{pregunta};
        QTest::newRow("trusted, then a wrong password") << +Tipo::Autofirmado << "SSL/TLS" << "localhost" << "mala" << true
                                                        << QStringList{pregunta, "advierte: Casa: Clave incorrecta "};
        QTest::newRow("self-signed for another name: no question") << +Tipo::Autofirmado << "SSL/TLS" << "127.0.0.1" << "secreta" << true
                                                                   << QStringList{seguro + "127.0.0.1: el certificado es de otro servidor."};
        QTest::newRow("valid, over STARTTLS") << +Tipo::Valido << "STARTTLS" << "localhost" << "secreta" << true << QStringList{"informa: 2 mensajes"};
        QTest::newRow("pinned, then another certificate: no question") << +Tipo::Valido << "SSL/TLS" << "localhost" << "secreta" << true
            << QStringList{seguro + "localhost: el certificado no es el que se aceptó para este buzón."};
    }
    void comprobar()
    {
        QFETCH(int, certificado); QFETCH(QString, modo); QFETCH(QString, host); QFETCH(QString, clave);
        QFETCH(bool, confia); QFETCH(QStringList, vistas);
        const ServidorDovecot* s = dovecot(Tipo(certificado));
        const ServidorDovecot* propio = dovecot(Tipo::Autofirmado);
        QVERIFY(s && propio);
        abre();
        confia_ = confia;
        escribe(QStringLiteral("Casa"), host, clave, modo, modo == u"SSL/TLS" ? s->puertoTLS() : s->puerto());
        const QByteArray huella = certificados_.huella(Tipo::Autofirmado);
        const bool fijado = QByteArray(QTest::currentDataTag()).startsWith("pinned");
        if (fijado) { // trusted while setting up; then its server shows another certificate
            conf_->dPuerto->setValue(propio->puertoTLS());
            conf_->comprobar->click();
            QCOMPARE(conf_->conexionEditada().huella, huella);
            vistas_.clear();
            conf_->dPuerto->setValue(s->puertoTLS());
        }
        conf_->comprobar->click();
        QCOMPARE(vistas_.size(), vistas.size());
        for (qsizetype i = 0; i < vistas.size(); ++i)
            QVERIFY2(vistas_[i].startsWith(vistas[i]), qPrintable(vistas_[i]));
        const bool pregunta = vistas.first().startsWith(u"pregunta");
        if (pregunta)
            QVERIFY(vistas_.first().remove(u':').remove(u'\n').contains(QString::fromLatin1(huella)));
        QCOMPARE(conf_->conexionEditada().huella, confia && (pregunta || fijado) ? huella : QByteArray());
        QVERIFY(conf_->PageControl1->isEnabled());
    }
};

QTEST_MAIN(TestConf)
#include "test_conf.moc"
