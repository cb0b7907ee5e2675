// The configuration dialog as the main form opens it on the offscreen platform, with a real
// settings file, driven by keys where the user would type; "Comprobar" against private
// Dovecot servers over TLS.
#include "certificados.h"
#include "escritorio_grabado.h"
#include "conf.h"
#include "recursos.h"
#include "servidor_dovecot.h"
#include "servidor_guion.h"

#include <QTest>
#include <QtWidgets>

using namespace pirel;
using namespace pirel::prueba;
using Tipo = Certificados::Tipo;

namespace {

// Three mailboxes, the second pinned; the wave sound and a mail program.
const QByteArray kTres = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n\"frecuencia\"=\"9\"\n"
    "\"Hacer Sonido\"=\"Wave\"\n\"Gestor de Correo\"=\"thunderbird\"\n\"Animacion\"=\"Si\"\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
    "\"Buzon1\"=\"Gmail trabajo\"\n\"Host1\"=\"127.0.0.2\"\n\"usuario1\"=\"ana\"\n\"Chequear1\"=\"Si\"\n\"Seguridad1\"=\"SSL\"\n\"Puerto1\"=\"1995\"\n"
    "\"Buzon2\"=\"Casa\"\n\"Host2\"=\"localhost\"\n\"usuario2\"=\"ana\"\n\"Chequear2\"=\"Si\"\n\"Seguridad2\"=\"STLS\"\n\"Puerto2\"=\"110\"\n\"Huella2\"=\""
    + QByteArray(64, 'a') + "\"\n\"Buzon3\"=\"Club\"\n\"Host3\"=\"127.0.0.4\"\n\"usuario3\"=\"ana\"\n\"Chequear3\"=\"Si\"\n\"nBuzon\"=\"3\"\n\n"
    "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n";

QStringList nombres(const TBuzon& tabla) {
    QStringList r;
    for (int i = 1; i <= tabla.numBuzones(); ++i)
        r << QString::fromLatin1(tabla.nombre(i) + '@' + tabla.host(i));
    return r;
}

}

class TestConf : public QObject {
    Q_OBJECT
    std::unique_ptr<Escritorio> e_;
    QPointer<TConf> conf_;
    QStringList vistas_; // the dialog's own boxes
    bool confia_ = false;
    Dovecots dovecot_{[](ServidorDovecot& s) {
        s.agregaUsuario("ana", "secreta", {{"Uno", "Ana <ana@ejemplo.org>"}, {"Dos", "Luis <luis@ejemplo.org>"}});
    }};
    TPirel& p() const { return *e_->pirel; }
    // The program started on this store (again on the last one when `nuevo` is false), every
    // mailbox refused, and its dialog opened in front.
    void abre(const QByteArray& registro = kTres, bool nuevo = true) {
        if (nuevo)
            e_ = std::make_unique<Escritorio>(registro);
        QVERIFY(e_->crea());
        p().chequeo->puerto = QByteArray::number(PuertoCerrado());
        p().FormShow();
        p().ayuda.hide();
        p().ConfiguracionClick();
        QVERIFY((conf_ = p().configuracion()) && conf_->isVisible());
        conf_->advierte = [this](const QString& t) { vistas_ << "advierte: " + t; };
        conf_->informa = [this](const QString& t) { vistas_ << "informa: " + t; };
        conf_->pregunta = [this](const QString& t) { vistas_ << "pregunta: " + t; return confia_; };
        vistas_.clear();
        conf_->esperaComprobacion = 10;
        QApplication::setActiveWindow(conf_);
        QVERIFY(QTest::qWaitForWindowActive(conf_));
    }
    // Keys where the focus is: "Alt+N", "Shift+Tab"...; 'text typed; @n: the n-th place in the tab order takes the focus.
    void teclas(const QString& guion) {
        for (const QString& t : guion.split(u' ', Qt::SkipEmptyParts)) {
            if (t.startsWith(u'\''))
                QTest::keyClicks(QApplication::focusWidget(), t.mid(1));
            else if (t.startsWith(u'@'))
                orden().at(t.mid(1).toInt())->setFocus();
            else
                QTest::keyClick(QApplication::focusWidget(), QKeySequence(t)[0].key(), QKeySequence(t)[0].keyboardModifiers());
            if (t == u"Alt+N")
                QTRY_VERIFY(conf_->anadiendo()); // a mnemonic clicks its button a moment later
        }
    }
    QList<QWidget*> orden() const {
        return {conf_->dBuzon, conf_->dHost, conf_->dusuario, conf_->dclave, conf_->cCheck, conf_->dSeguridad, conf_->dPuerto,
                conf_->comprobar, conf_->nuevo, conf_->eliminar, conf_->AnimaSobre, conf_->CheckBox1, conf_->dfrecuencia,
                conf_->CheckBox3, conf_->gcorreo, conf_->BitBtn3, conf_->ReWav, conf_->CheckBox2, conf_->Edit1, conf_->BitBtn4,
                conf_->BitBtn1, conf_->BitBtn2};
    }
    void escribe(const QString& nombre, const QString& host, const QString& clave = {}, const QString& modo = "Ninguna") {
        conf_->nuevo->click();
        conf_->dBuzon->setEditText(nombre);
        conf_->dHost->setText(host);
        conf_->dusuario->setText(QStringLiteral("ana"));
        conf_->dclave->setText(clave);
        conf_->dSeguridad->setCurrentText(modo);
        conf_->dPuerto->setValue(110);
    }

private slots:
    void initTestCase() {
        // The test authority alone is trusted.
        qputenv("SSL_CERT_DIR", QFile::encodeName(dovecot_.certificados.carpeta()));
        QVERIFY(dovecot_(Tipo::Autofirmado) && dovecot_(Tipo::Valido));
    }
    void cleanup() { e_.reset(); }
    // First start: saved only once the table holds a mailbox; then the timer, the log-on entry and a check.
    void aceptar() {
        abre({});
        QVERIFY(conf_->titulo->text() == u"Ludaren Electrónico versión 2.0"
                && conf_->size().expandedTo(conf_->layout()->totalMinimumSize()) == conf_->size());
        ServidorGuion servidor({Guion::entrada("ana", "clave").stat(1).top(1, "Hola", "Eva").quit()});
        p().chequeo->puerto = QByteArray::number(servidor.puerto());
        escribe(QStringLiteral("Casa"), QStringLiteral("127.0.0.1"), QStringLiteral("clave"));
        conf_->BitBtn1->click();
        QVERIFY2(conf_ && conf_->isVisible() && !e_->guardado().contains("Buzones") && !p().Timer1.isActive(),
                 "an empty table is not saved");
        conf_->nuevo->click();
        conf_->BitBtn1->click();
        QVERIFY(servidor.termina() && servidor.fallos().isEmpty());
        QTRY_VERIFY(!conf_);
        for (const char* linea : {"\"Buzon1\"=\"Casa\"", "\"nBuzon\"=\"1\"", "\"Numero\"=\"2.0\"", "\"frecuencia\"=\"5\""})
            QVERIFY2(e_->guardado().contains(linea), linea);
        QVERIFY(e_->enArranque() && p().Timer1.interval() == 5 * 60000 && p().Timer1.isActive()
                && p().TrayIcon1.ToolTip() == u"1 Mensajes");
    }
    // Options set by keys and shown again by the next start; the tray is reset from the
    // connection error before the check that follows.
    void opciones_data() {
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<int>("minutos");
        QTest::newRow("the bell, no animation, no mail program, at log-on") << "@12 Ctrl+A '7 @17 Space @10 Space @13 Space @11 Space" << 7;
        QTest::newRow("a wave file, another program") << "@12 Ctrl+A '720 @18 Ctrl+A '" + DirectorioDatos() + "/spirel.wav @14 Ctrl+A 'mutt" << 720;
        QTest::newRow("silent") << "@12 Ctrl+A '1 @16 Space" << 1;
    }
    void opciones() {
        QFETCH(QString, teclas);
        QFETCH(int, minutos);
        abre();
        this->teclas(teclas);
        QVERIFY2(conf_->Edit1->isEnabled() == conf_->ReWav->isChecked() && conf_->gcorreo->isEnabled() == conf_->CheckBox3->isChecked(),
                 "a field only for its choice");
        const auto controles = [this] {
            return QVariantList{conf_->dfrecuencia->value(), conf_->Edit1->text(), conf_->gcorreo->text(),
                                conf_->CheckBox2->isChecked(), conf_->ReWav->isChecked(), conf_->AnimaSobre->isChecked(),
                                conf_->CheckBox1->isChecked()};
        };
        const QVariantList elegido = controles();
        e_->area->envios.clear();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        QCOMPARE(e_->area->envios.mid(0, 2), (QStringList{"modifica:Error en Conexion", "modifica:No Hay Mensajes"}));
        QVERIFY(p().Timer1.interval() == minutos * 60000 && e_->enArranque() == elegido.last().toBool());
        abre({}, false);
        QVERIFY(p().Timer1.interval() == minutos * 60000 && controles() == elegido);
    }
    // Enter presses "Aceptar" wherever it has no other meaning, Esc drops all; typing a
    // mailbox's name never chooses one, the arrow keys do and so give up an addition; leaving
    // the fields keeps a complete mailbox; deleting shows a neighbour with its own flag.
    void teclado_data() {
        // The saved table, or the working copy while open; the mailbox shown while open (none: closed).
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<QStringList>("tabla");
        QTest::addColumn<QString>("muestra");
        const QStringList tres{"Gmail trabajo@127.0.0.2", "Casa@localhost", "Club@127.0.0.4"};
        const QString anade = QStringLiteral("Alt+N '%1 Tab '127.0.0.9 Tab 'eva Shift+Tab Shift+Tab ");
        QTest::newRow("adding a name there, then Enter") << anade.arg("Casa") + "Return" << tres + QStringList{"Casa@127.0.0.9"} << "";
        QTest::newRow("adding, then an arrow key chooses") << anade.arg("Nueva") + "Down Return" << tres << "";
        QTest::newRow("a server retyped, then another mailbox") << "@1 Ctrl+A '127.0.0.8 @0 Down Return" << QStringList{"Gmail trabajo@127.0.0.8"} + tres.mid(1) << "";
        QTest::newRow("and the user emptied: not kept") << "@1 Ctrl+A '127.0.0.8 @2 Ctrl+A Backspace @0 Down Return" << tres << "";
        QTest::newRow("Esc") << "@1 Ctrl+A '127.0.0.8 @0 Escape" << tres << "";
        QTest::newRow("Enter on Eliminar: the first goes, the one below shows") << "@9 Return" << QStringList{tres[1], tres[2]} << tres[1];
        QTest::newRow("a middle one, unticked: the one above") << "@0 Down @4 Space @9 Return" << QStringList{tres[0], tres[2]} << tres[0];
        QTest::newRow("the last: the one above") << "@0 Down Down @9 Return" << QStringList{tres[0], tres[1]} << tres[1];
        QTest::newRow("all: empty fields") << "@9 Return Return Return" << QStringList() << "@";
    }
    void teclado() {
        QFETCH(QString, teclas);
        QFETCH(QStringList, tabla);
        QFETCH(QString, muestra);
        abre();
        this->teclas(teclas);
        if (muestra.isEmpty()) {
            QTRY_VERIFY(!conf_);
            QVERIFY2(p().Timer1.isActive() && !p().ventanasAbiertas, "closing enables the timer again");
            QCOMPARE(nombres(*p().buzones), tabla);
        } else {
            QCOMPARE(nombres(conf_->buzonesEdicion), tabla);
            QCOMPARE(conf_->dBuzon->currentText() + u'@' + conf_->dHost->text(), muestra);
            QVERIFY2(conf_->cCheck->isChecked() && conf_->eliminar->isEnabled() == !tabla.isEmpty(), "the stored flag, or a new mailbox's");
        }
    }
    // Tab walks every control in reading order.
    void tabulador() {
        QList<QWidget*> visto;
        abre();
        conf_->dBuzon->setFocus();
        for (int i = 1; i < orden().size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visto << QApplication::focusWidget();
        }
        QCOMPARE(visto, orden().mid(1));
    }

    // What the fields and the file pickers take: what 8-bit text cannot hold is refused and
    // said, never stored as a '?'; a program is a quoted command, and never this one.
    void campos_data() {
        QTest::addColumn<int>("campo"); // the name, server, user, password: typed; mail program, wave file: picked
        QTest::addColumn<QString>("escrito");
        QTest::addColumn<QString>("queda");
        QTest::addColumn<QString>("aviso");
        const QString cabe = QStringLiteral(": solo caben las letras, cifras y signos de Europa occidental (Windows-1252).");
        const QString ruta = QStringLiteral(": caben 255 caracteres, solo letras, cifras y signos de Europa occidental (Windows-1252).");
        const QString propio = QStringLiteral("Pirel no es un programa gestor de correo... todavia. :)");
        QTest::newRow("a new name") << 0 << "Łeba" << "eba" << "El nombre del buzón no admite el carácter «Ł»" + cabe;
        QTest::newRow("the password, not shown") << 3 << "clave€Ω" << "clave€" << "La clave no admite uno de los caracteres escritos" + cabe;
        QTest::newRow("Western letters, € and œ") << 1 << "señal€œ.es" << "señal€œ.es" << "";
        QTest::newRow("our own program, by its old name") << 4 << "/opt/xPiReL.ExE" << "thunderbird" << propio;
        QTest::newRow("spaces and a quote") << 4 << "/opt/Mis programas/co\"rreo" << "\"/opt/Mis programas/co\"\"\"rreo\"" << "";
        QTest::newRow("Cyrillic") << 4 << "/opt/Программы/correo" << "thunderbird" << "No se puede guardar la ruta de ese programa" + ruta;
        QTest::newRow("a sound too long") << 5 << "/tmp/" + QString(260, u'x') << "spirel.wav" << "No se puede guardar la ruta de ese fichero" + ruta;
    }
    void campos() {
        QFETCH(int, campo);
        QFETCH(QString, escrito);
        QFETCH(QString, queda);
        QFETCH(QString, aviso);
        abre();
        conf_->Edit1->setText(QStringLiteral("spirel.wav"));
        if (campo < 4)
            conf_->nuevo->click();
        QLineEdit* const e = QList<QLineEdit*>{conf_->dBuzon->lineEdit(), conf_->dHost, conf_->dusuario, conf_->dclave, conf_->gcorreo,
                                               conf_->Edit1}[campo];
        e->setFocus();
        conf_->eligeFichero = [&](const QString&, const QString&, const QString&) { return escrito; };
        if (campo >= 4)
            (campo == 5 ? conf_->BitBtn4 : conf_->BitBtn3)->click();
        for (qsizetype i = 0, largo = 1; campo < 4 && i < escrito.size(); i += largo) {
            // as keyboards send them
            QKeyEvent tecla(QEvent::KeyPress, 0, Qt::NoModifier, escrito.mid(i, largo = escrito.at(i).isHighSurrogate() ? 2 : 1));
            QApplication::sendEvent(e, &tecla);
        }
        QCoreApplication::processEvents();
        QCOMPARE(e->text(), queda);
        QCOMPARE(vistas_, aviso.isEmpty() ? QStringList() : QStringList{"advierte: " + aviso});
    }
    // The port follows the mode unless the user chose one; the pin stays with its server.
    void modoYPuerto_data() {
        QTest::addColumn<QString>("teclas");
        QTest::addColumn<QString>("aceptado");
        const QString nuevo = QStringLiteral("Alt+N 'Nuevo Tab '127.0.0.9 Tab 'eva ");
        QTest::newRow("STARTTLS takes 110") << nuevo + "@5 Home Down" << "STLS:110";
        QTest::newRow("Ninguna takes 110 and warns") << nuevo + "@5 End" << "Ninguna:110:aviso";
        QTest::newRow("SSL/TLS takes 995 back, no warning") << nuevo + "@5 End Home" << "SSL:995";
        QTest::newRow("a typed port stays") << nuevo + "@6 Ctrl+A '2995 @5 Home Down" << "STLS:2995";
        QTest::newRow("a stored default port follows, the pin stays") << "@0 Down @5 Home" << "SSL:995:pin";
        QTest::newRow("another server drops the pin") << "@0 Down @1 Ctrl+A '127.0.0.7" << "STLS:110";
        QTest::newRow("a new mailbox after a pinned one: SSL/TLS, no pin") << "@0 Down " + nuevo << "SSL:995";
    }
    void modoYPuerto() {
        QFETCH(QString, teclas);
        QFETCH(QString, aceptado);
        abre();
        this->teclas(teclas);
        const int pos = conf_->anadiendo() ? 4 : conf_->dBuzon->currentIndex() + 1;
        const bool aviso = !conf_->avisoSinCifrar->isHidden();
        conf_->BitBtn1->click();
        QTRY_VERIFY(!conf_);
        const Conexion c = p().buzones->conexion(pos);
        QCOMPARE((QStringList{"Ninguna", "SSL", "STLS"}[int(c.seguridad)] + u':' + QString::number(c.puerto) + (aviso ? ":aviso" : "")
                  + (c.huella.isEmpty() ? "" : ":pin")), aceptado);
    }
    // "Comprobar" against Dovecot: a certificate is offered only when its authority is its
    // one fault, trusted only on a yes, and a pinned one refuses any other without asking.
    void comprobar_data() {
        QTest::addColumn<int>("certificado");
        QTest::addColumn<QString>("modo");
        QTest::addColumn<QString>("clave");
        QTest::addColumn<bool>("confia");
        QTest::addColumn<QStringList>("vistas"); // how each box begins
        const QString pregunta = QStringLiteral("pregunta: Casa: no hay conexión segura con localhost: el certificado es autofirmado");
        QTest::newRow("self-signed, trusted: pinned, then counted") << +Tipo::Autofirmado << "SSL/TLS" << "secreta" << true
                                                                    << QStringList{pregunta, "informa: 2 mensajes"};
        QTest::newRow("self-signed over STARTTLS, not trusted") << +Tipo::Autofirmado << "STARTTLS" << "secreta" << false << QStringList{pregunta};
        QTest::newRow("valid over STARTTLS, a wrong password") << +Tipo::Valido << "STARTTLS" << "mala" << true << QStringList{"advierte: Casa: Clave incorrecta "};
        QTest::newRow("pinned, another certificate: no question") << +Tipo::Valido << "STARTTLS" << "" << true
            << QStringList{"advierte: Casa: no hay conexión segura con localhost: el certificado no es el que se aceptó para este buzón."};
    }
    void comprobar() {
        QFETCH(int, certificado);
        QFETCH(QString, modo);
        QFETCH(QString, clave);
        QFETCH(bool, confia);
        QFETCH(QStringList, vistas);
        const ServidorDovecot& s = *dovecot_(Tipo(certificado));
        const bool fijado = QByteArray(QTest::currentDataTag()).startsWith("pinned");
        abre();
        confia_ = confia;
        if (fijado)
            teclas("@0 Down");
        else
            escribe(QStringLiteral("Casa"), QStringLiteral("localhost"), clave, modo);
        conf_->dPuerto->setValue(modo == u"SSL/TLS" ? s.puertoTLS() : s.puerto());
        conf_->comprobar->click();
        QCOMPARE(vistas_.size(), vistas.size());
        for (qsizetype i = 0; i < vistas.size(); ++i)
            QVERIFY2(vistas_[i].startsWith(vistas[i]), qPrintable(vistas_[i]));
        const QByteArray huella = dovecot_.certificados.huella(Tipo::Autofirmado);
        const bool pregunta = vistas.first().startsWith(u"pregunta");
        QVERIFY(!pregunta || vistas_.first().remove(u':').remove(u'\n').contains(QString::fromLatin1(huella)));
        QVERIFY(conf_->PageControl1->isEnabled());
        QCOMPARE(conf_->conexionEditada().huella, fijado ? QByteArray(64, 'A') : confia && pregunta ? huella : QByteArray());
    }
};

QTEST_MAIN(TestConf)
#include "test_conf.moc"
