// The hidden main form, with the tray and the boxes recorded and a real settings file.
#include "escritorio_grabado.h"
#include "ajustes.h"
#include "clave.h"
#include "pirel.h"
#include "plataforma.h"
#include "servidor_guion.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace pirel;
using namespace pirel::prueba;
using pirel::prueba::Guion;
using pirel::prueba::ServidorGuion;

namespace {

QByteArray configurado(const QByteArray& opciones)
{
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n" + opciones +
           "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n"
           "\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n\"usuario1\"=\"pepe\"\n\"Codigo1\"=\"" + CodificaClave("secreta") +
           "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n"
           "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n";
}

}

class TestPirel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString consejo_;
    CajasGrabadas cajas_;
    int dialogos_ = 0;
    int avisos_ = 0;

    std::unique_ptr<TPirel> forma(const QByteArray& registro = {})
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
        const QString fichero = dir_->filePath(QStringLiteral("Ludaren/registro.reg"));
        if (!registro.isEmpty()) {
            QDir().mkpath(dir_->filePath(QStringLiteral("Ludaren")));
            QFile f(fichero);
            f.open(QIODevice::WriteOnly);
            f.write(registro);
        }
        cajas_.vistas.clear();
        dialogos_ = avisos_ = 0;
        TPirel::Piezas piezas;
        piezas.area = std::make_unique<AreaGrabada>(&consejo_);
        piezas.cajas = &cajas_;
        piezas.registro = fichero;
        piezas.programa = QStringLiteral("/usr/bin/pirel");
        auto p = std::make_unique<TPirel>(std::move(piezas));
        p->abreConfiguracion = [this] { ++dialogos_; };
        p->abreAviso = [this] { ++avisos_; };
        return p;
    }

private slots:
    void menuYEstadoInicial()
    {
        auto p = forma();
        QStringList textos;
        for (const QAction* a : p->PopupMenu1.actions())
            textos << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(textos, (QStringList{"Chequear Correo &Ahora", "A&brir Correo", "&Configuración", "A&yuda", "-", "&Salir"}));
        QVERIFY(p->TrayIcon1.Active());
        QApplication::processEvents();
        QCOMPARE(consejo_, QStringLiteral("No hay Mensajes"));
        QVERIFY(!p->Timer1.isActive());
        QCOMPARE(p->Sockets1.Aplicacion, QByteArray("Ludaren Electr\xF3nico"));
        QVERIFY(p->FormCreate());
        QCOMPARE(p->Sockets1.MaximumReceiveLength, 255);
        QVERIFY(p->mediaPantalla > 0);
    }

    void primerArranque()
    {
        auto p = forma();
        QVERIFY(p->FormCreate());
        p->FormShow();
        QVERIFY(p->ayuda.isVisible());
        QCOMPARE(p->ayuda.contexto(), 14);
        QVERIFY2(p->ayuda.toPlainText().contains(QStringLiteral("buzón")), "the help document was found");
        QCOMPARE(dialogos_, 1);
        QVERIFY(!p->Timer1.isActive());
        QCOMPARE(p->Timer1.interval(), 0);
        QVERIFY(p->AbrirCorreo1->isEnabled());
        QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))));
        QCOMPARE(cajas_.vistas, QStringList());
    }

    // An interval that cannot be read stops the start-up before the timer and the check;
    // none stored at all checks every minute.
    void intervaloAlArrancar_data()
    {
        QTest::addColumn<QByteArray>("opcion");
        QTest::addColumn<int>("minutos");
        QTest::addColumn<QStringList>("cajas");
        QTest::newRow("unreadable") << QByteArray("\"frecuencia\"=\"cinco\"\n") << 0
                                    << QStringList{"error: 'cinco' is not a valid integer value"};
        QTest::newRow("missing") << QByteArray() << 1 << QStringList();
        QTest::newRow("beyond the limit") << QByteArray("\"frecuencia\"=\"99999\"\n") << 720 << QStringList();
    }
    void intervaloAlArrancar()
    {
        QFETCH(QByteArray, opcion);
        QFETCH(int, minutos);
        QFETCH(QStringList, cajas);
        auto p = forma(configurado(opcion));
        QVERIFY(p->FormCreate());
        p->chequeo->puerto = "1"; // nothing listens: a check would say so
        p->chequeo->espera = 1;
        p->FormShow();
        QCOMPARE(p->Timer1.isActive(), minutos > 0);
        if (minutos > 0)
            QCOMPARE(p->Timer1.interval(), minutos * 60000);
        else
            QCOMPARE(cajas_.vistas, cajas);
    }

    void arranqueConfiguradoChequeaEnseguida()
    {
        ServidorGuion servidor({Guion::entrada().stat(2).top(1, "a", "b").top(2, "c", "d").quit()});
        auto p = forma(configurado("\"frecuencia\"=\"7\"\n\"Gestor de Correo\"=\"\"\n"));
        QVERIFY(p->FormCreate());
        p->chequeo->puerto = QByteArray::number(servidor.puerto());
        p->chequeo->espera = 2;
        p->FormShow();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QVERIFY(p->Timer1.isActive());
        QCOMPARE(p->Timer1.interval(), 7 * 60000);
        QVERIFY2(!p->AbrirCorreo1->isEnabled(), "no mail program, no command");
        QCOMPARE(consejo_, QStringLiteral("2 Mensajes"));
        QCOMPARE(dialogos_, 0);

        // The tray click opens the notice only with messages and no window open.
        p->TrayIcon1.WndProc(TTrayIcon::WM_LBUTTONUP);
        QCOMPARE(avisos_, 1);
        p->ventanasAbiertas = TPirel::kAvisoAbierto;
        p->TrayIcon1Click();
        QCOMPARE(avisos_, 1);
    }

    void sinFrecuenciaUnMinuto()
    {
        auto p = forma(configurado("\"Gestor de Correo\"=\"thunderbird\"\n"));
        QVERIFY(p->FormCreate());
        p->chequeo->puerto = QByteArray::number(prueba::PuertoCerrado());
        p->chequeo->espera = 1;
        p->FormShow();
        QCOMPARE(p->Timer1.interval(), 60000);
        QVERIFY(p->AbrirCorreo1->isEnabled());
        QCOMPARE(cajas_.vistas, QStringList{"error: 127.0.0.1: Conexion rechazada"});
        QCOMPARE(consejo_, QStringLiteral("Error en Conexion"));
    }

    void reglasDelMenu()
    {
        auto p = forma();
        QVERIFY(p->FormCreate());
        p->ChequearCorreoAhora1->trigger();
        QCOMPARE(dialogos_, 1);
        QCOMPARE(p->ayuda.contexto(), 14);
        p->ventanasAbiertas = TPirel::kConfiguracionAbierta;
        p->ChequearCorreoAhora1->trigger();
        p->Configuracion->trigger();
        QCOMPARE(dialogos_, 1);
        p->ventanasAbiertas = TPirel::kAvisoAbierto;
        p->Configuracion->trigger();
        QCOMPARE(dialogos_, 2);
        p->Ayuda1->trigger();
        QCOMPARE(p->ayuda.contexto(), 1);
        p->ventanasAbiertas = 0;
        p->TrayIcon1Click();
        QCOMPARE(avisos_, 0);
    }

    void ayudaDelMenu_data()
    {
        QTest::addColumn<int>("bajadas");
        QTest::addColumn<int>("contexto");
        QTest::newRow("Chequear Correo &Ahora") << 1 << 2;
        QTest::newRow("A&brir Correo") << 2 << 2; // none of its own: the menu's
        QTest::newRow("&Configuración") << 3 << 14;
        QTest::newRow("A&yuda") << 4 << 2;
        QTest::newRow("&Salir") << 5 << 2;
    }
    void ayudaDelMenu()
    {
        QFETCH(int, bajadas);
        QFETCH(int, contexto);
        auto p = forma();
        QVERIFY(p->FormCreate());
        p->PopupMenu1.popup({});
        QVERIFY(QTest::qWaitForWindowExposed(&p->PopupMenu1));
        for (int i = 0; i < bajadas; ++i)
            QTest::keyClick(&p->PopupMenu1, Qt::Key_Down);
        QCOMPARE(p->PopupMenu1.activeAction()->text(), QString::fromUtf8(QTest::currentDataTag()));
        QTest::keyClick(&p->PopupMenu1, Qt::Key_F1);
        QVERIFY(!p->PopupMenu1.isVisible());
        QVERIFY(p->ayuda.isVisible());
        QCOMPARE(p->ayuda.contexto(), contexto);
        QCOMPARE(dialogos_, 0);
    }

    void tickDuranteUnChequeo()
    {
        ServidorGuion servidor({Guion().pausa(300).S("+OK\r\n").C("USER pepe").S("+OK\r\n").C("PASS secreta")
                                    .S("+OK\r\n").stat(0).quit()});
        auto p = forma(configurado("\"frecuencia\"=\"5\"\n"));
        QVERIFY(p->FormCreate());
        p->chequeo->puerto = QByteArray::number(servidor.puerto());
        p->chequeo->espera = 3;
        QTimer::singleShot(100, p.get(), [&p] { p->Timer1Timer(); });
        p->FormShow();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QCOMPARE(servidor.conexiones(), 1);
    }

    void plataformaEnWayland_data()
    {
        QTest::addColumn<QByteArray>("elegida");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("x");
        QTest::addColumn<QByteArray>("pedida");
        QTest::newRow("Wayland with XWayland") << QByteArray() << QByteArray("wayland-0") << QByteArray(":0") << QByteArray("xcb");
        QTest::newRow("Wayland alone") << QByteArray() << QByteArray("wayland-0") << QByteArray() << QByteArray();
        QTest::newRow("X11") << QByteArray() << QByteArray() << QByteArray(":0") << QByteArray();
        QTest::newRow("the user's choice") << QByteArray("wayland") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray();
    }
    void plataformaEnWayland()
    {
        QFETCH(QByteArray, elegida);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, x);
        QFETCH(QByteArray, pedida);
        QCOMPARE(PlataformaPreferida(elegida, wayland, x), pedida);
    }

    void ejecutaSinShell()
    {
        auto p = forma();
        const QString raro = dir_->filePath(QStringLiteral("x$(id);y"));
        p->Ejecuta("touch \"" + QFile::encodeName(raro) + "\"");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(raro), 5000);
        p->Ejecuta("");
        p->Ejecuta("/no/existe/programa");
        QCOMPARE(cajas_.vistas, QStringList());
    }
};

QTEST_MAIN(TestPirel)
#include "test_pirel.moc"
