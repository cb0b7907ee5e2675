// The configuration dialog on the offscreen platform: alone, driven by keys, and opened
// by the main form with a real settings file and, for "Aceptar", a scripted POP3 server.
#include "escritorio_grabado.h"
#include "conf.h"
#include "pirel.h"
#include "recursos.h"
#include "servidor_guion.h"
#include "sonido.h"

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

namespace {

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
    QStringList advertencias_;
    QList<TBuzon> aceptadas_;

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
        conf_->advierte = [this](const QString& t) { advertencias_ << t; };
    }
    // The dialog alone, on two mailboxes, in front; "Aceptar" hands the table over here.
    void solo()
    {
        TBuzon tabla;
        tabla.agregar("Gmail trabajo", "pop.gmail.com", "ana", "x", true);
        tabla.agregar("Casa", "pop.casa.es", "ana", "y", true);
        aceptadas_.clear();
        conf_ = new TConf(tabla, TOpciones{});
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
    void escribeBuzon(const QString& nombre, const QString& host, const QString& usuario, const QString& clave)
    {
        conf_->nuevo->click();
        conf_->dBuzon->setEditText(nombre);
        conf_->dHost->setText(host);
        conf_->dusuario->setText(usuario);
        conf_->dclave->setText(clave);
    }

private slots:
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
        for (const QString paso : {"Nuevo", "Buzon:", "Servidor:", "Usuario:", "Clave:", "Chequear", "Añadir", "Aceptar"}) {
            const qsizetype donde = negritas.indexOf(paso, antes + 1);
            QVERIFY2(donde > antes, qPrintable(paso + QStringLiteral(" is missing or out of order")));
            antes = donde;
        }
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
