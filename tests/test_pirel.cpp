// The hidden main form with a real settings file and a scripted server: start-up, the tray
// and its menu, the new-mail notice and the sounds, played by libcanberra into a file. The
// primary screen lies right of and below another one, as on a desk with two monitors.
#include "escritorio_grabado.h"
#include "anuncio.h"
#include "aviso.h"
#include "clave.h"
#include "conf.h"
#include "plataforma.h"
#include "recursos.h"
#include "servidor_guion.h"

#include <QTemporaryFile>
#include <QTest>
#include <QtWidgets>

using namespace pirel;
using namespace pirel::prueba;

namespace {

QByteArray configurado(const QByteArray& opciones)
{
    return "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion]\n" + opciones
        + "\n[HKEY_CURRENT_USER\\Software\\Ludaren\\Configuracion\\Buzones]\n\"Buzon1\"=\"Casa\"\n\"Host1\"=\"127.0.0.1\"\n"
          "\"usuario1\"=\"pepe\"\n\"Codigo1\"=\"" + CodificaClave("secreta") + "\"\n\"Chequear1\"=\"Si\"\n\"nBuzon\"=\"1\"\n\n"
          "[HKEY_CURRENT_USER\\Software\\Ludaren\\Version]\n\"Numero\"=\"2.0\"\n";
}
// Markup in a header is shown as it came.
QStringList lineasDe(int cuantas)
{
    QStringList r;
    for (int k = 1; k <= cuantas; ++k)
        r << QStringLiteral("Casa => <b>Asunto %1</b> &amp; <img src=\"/x\">: Remite %1 Привет 😀").arg(k);
    return r;
}
QRect centrado(QSize tamano)
{
    QRect r({}, tamano);
    r.moveCenter(QGuiApplication::primaryScreen()->geometry().center());
    return r;
}
void suelta(QWidget* w, Qt::MouseButton boton)
{
    QMouseEvent e(QEvent::MouseButtonRelease, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), boton, {}, {});
    QApplication::sendEvent(w, &e);
}
const QString kSinTema = QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga");

}

class TestPirel : public QObject {
    Q_OBJECT
    std::unique_ptr<Escritorio> e_;
    QTemporaryDir casa_;
    QString salida_;
    // The main form on this store, created; with `cuantas` new messages in one mailbox
    // when no store is given.
    TPirel& forma(const QByteArray& registro = {}, int cuantas = -1, const QString& datos = {})
    {
        e_ = std::make_unique<Escritorio>(registro);
        if (e_->crea(datos) && cuantas >= 0) {
            e_->pirel->buzones->agregar("Casa", "127.0.0.1", "pepe", "c", true);
            e_->pirel->opciones.gestorCorreo = "/bin/true";
            pon(*e_->pirel, cuantas);
        }
        return *e_->pirel;
    }
    static void pon(TPirel& p, int cuantas)
    {
        p.mensajes->vaciaCabeceras();
        p.mensajes->setActuales(1, cuantas);
        for (const QString& l : lineasDe(cuantas))
            p.mensajes->AgregaCab(l);
    }
    static TFAvisa* abre(TPirel& p)
    {
        p.TrayIcon1.WndProc(TTrayIcon::WM_LBUTTONUP);
        return p.aviso();
    }
    qint64 escritos() const { return QFileInfo(salida_).size(); }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(1280, 96, 1024, 768));
        // ALSA reads the user's configuration once, when the first sound opens a device.
        salida_ = casa_.filePath(QStringLiteral("out.raw"));
        QFile asoundrc(casa_.filePath(QStringLiteral(".asoundrc")));
        QVERIFY(asoundrc.open(QIODevice::WriteOnly));
        asoundrc.write("pcm.!default { type file; slave.pcm \"null\"; file \"" + QFile::encodeName(salida_) + "\"; format \"raw\" }\n");
        qputenv("HOME", QFile::encodeName(casa_.path()));
    }
    void init() { QFile::remove(salida_); }
    void cleanup() { e_.reset(); }
    void arranque_data()
    {
        QTest::addColumn<QByteArray>("registro"); QTest::addColumn<int>("minutos"); // 0: no timer and no check
        QTest::addColumn<bool>("correo"); QTest::addColumn<QStringList>("cajas");
        QTest::newRow("first start: help and dialog, the timer off") << QByteArray() << 0 << true << QStringList();
        QTest::newRow("an unreadable interval stops before the timer and the check")
            << configurado("\"frecuencia\"=\"cinco\"\n") << 0 << true << QStringList{"error: 'cinco' is not a valid integer value"};
        QTest::newRow("none stored: every minute") << configurado("\"Gestor de Correo\"=\"thunderbird\"\n") << 1 << true << QStringList();
        QTest::newRow("beyond the limit, no mail program") << configurado("\"frecuencia\"=\"99999\"\n") << 720 << false << QStringList();
    }
    void arranque()
    {
        QFETCH(QByteArray, registro); QFETCH(int, minutos); QFETCH(bool, correo); QFETCH(QStringList, cajas);
        // A tick while the first check waits on the server starts no second one.
        ServidorGuion servidor(minutos ? QList<Guion>{Guion::entrada().pausa(300).stat(2).top(1, "a", "b").top(2, "c", "d").quit()}
                                       : QList<Guion>{});
        TPirel& p = forma(registro);
        QVERIFY(p.chequeo);
        p.chequeo->puerto = QByteArray::number(servidor.puerto());
        QTimer::singleShot(100, &p, [&p] { p.Timer1Timer(); });
        p.FormShow();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QCOMPARE(servidor.conexiones(), minutos ? 1 : 0);
        QCOMPARE(p.Timer1.isActive() ? p.Timer1.interval() : 0, minutos * 60000);
        QCOMPARE(p.AbrirCorreo1->isEnabled(), correo);
        QCOMPARE(e_->cajas.vistas, cajas);
        QCOMPARE(p.TrayIcon1.ToolTip(), QString(minutos ? "2 Mensajes" : "No hay Mensajes"));
        QCOMPARE(p.configuracion() != nullptr, registro.isEmpty());
        QCOMPARE(p.ayuda.isVisible() ? p.ayuda.contexto() : 0, registro.isEmpty() ? 14 : 0);
        QCOMPARE(QFile::exists(e_->dir.filePath(QStringLiteral("autostart/ludaren-electronico.desktop"))), registro.isEmpty());
    }
    // Without the digest library the program ends before anything is created: run again
    // from a folder without it.
    void sinBibliotecaAPOP()
    {
        const QString aqui = QCoreApplication::applicationDirPath();
        if (QFile::exists(aqui + QStringLiteral("/libAPOP.so"))) {
            QTemporaryDir otro;
            const QString copia = otro.filePath(QStringLiteral("test_pirel"));
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copia));
            QProcess p;
            p.start(copia, {QStringLiteral("sinBibliotecaAPOP")});
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAll().constData());
            return;
        }
        TPirel& p = forma(configurado({}));
        QVERIFY(!p.chequeo && !p.buzones);
        QCOMPARE(e_->cajas.vistas, QStringList{"mensaje: No se encuentra libreria APOP.DLL"});
        p.ChequearCorreoAhora1->trigger();
        QVERIFY(!p.Timer1.isActive() && !p.configuracion());
    }
    void menuYBandeja()
    {
        ServidorGuion servidor({Guion::entrada().stat(1).top(1, "Hola", "Eva").quit()});
        TPirel& p = forma();
        QStringList textos;
        for (const QAction* a : p.PopupMenu1.actions())
            textos << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(textos, (QStringList{"Chequear Correo &Ahora", "A&brir Correo", "&Configuración", "A&yuda", "-", "&Salir"}));
        QApplication::processEvents();
        QCOMPARE(e_->area->icono.cacheKey(), p.bandera0.cacheKey());
        p.TrayIcon1.setActive(true);
        p.consejo(QString(100, u'a'));
        p.TrayIcon1.WndProc(TTrayIcon::WM_RBUTTONUP); // the menu, at the pointer
        p.TrayIcon1.setActive(false);
        p.TrayIcon1.setActive(false);
        QCOMPARE(e_->area->envios, (QStringList{"agrega:"} + QStringList(3, "modifica:No hay Mensajes") + QStringList{"modifica:" + QString(62, u'a'), "menu:6@640,12", "quita"}));
        QVERIFY2(!abre(p), "no messages, no notice");
        // No mailbox yet: the command opens the dialog, once.
        p.ChequearCorreoAhora1->trigger();
        QPointer<TConf> conf = p.configuracion();
        QVERIFY(conf && p.ayuda.contexto() == 14);
        p.ChequearCorreoAhora1->trigger();
        p.Configuracion->trigger();
        QCOMPARE(p.configuracion(), conf.data());
        p.Ayuda1->trigger();
        QCOMPARE(p.ayuda.contexto(), 1);
        conf->BitBtn2->click();
        QTRY_VERIFY(!conf);
        p.buzones->agregar("Casa", "127.0.0.1", "pepe", "secreta", true);
        p.chequeo->puerto = QByteArray::number(servidor.puerto());
        p.ChequearCorreoAhora1->trigger();
        QVERIFY(servidor.termina());
        QCOMPARE(servidor.fallos(), QStringList());
        QVERIFY(p.TrayIcon1.ToolTip() == u"1 Mensajes" && !p.configuracion());
        // The click opens the notice only while no window is open.
        TFAvisa* a = abre(p);
        QVERIFY(a && abre(p) == a);
        p.Configuracion->trigger();
        a->CierraAviso();
        QVERIFY(p.configuracion() && !abre(p));
        p.configuracion()->BitBtn2->click();
        QVERIFY2(abre(p), "acknowledged mail still waiting: a new notice");
    }
    // F1 on a menu item: its own help, or the menu's.
    void ayudaDelMenu_data()
    {
        QTest::addColumn<int>("bajadas"); QTest::addColumn<int>("contexto");
        QTest::newRow("A&brir Correo") << 2 << 2;
        QTest::newRow("&Configuración") << 3 << 14;
    }
    void ayudaDelMenu()
    {
        QFETCH(int, bajadas); QFETCH(int, contexto);
        TPirel& p = forma();
        p.PopupMenu1.popup({});
        QVERIFY(QTest::qWaitForWindowExposed(&p.PopupMenu1));
        for (int i = 0; i < bajadas; ++i)
            QTest::keyClick(&p.PopupMenu1, Qt::Key_Down);
        QCOMPARE(p.PopupMenu1.activeAction()->text(), QString::fromUtf8(QTest::currentDataTag()));
        QTest::keyClick(&p.PopupMenu1, Qt::Key_F1);
        QVERIFY(!p.PopupMenu1.isVisible() && p.ayuda.isVisible() && !p.configuracion());
        QCOMPARE(p.ayuda.contexto(), contexto);
        QVERIFY2(p.ayuda.toPlainText().contains(QStringLiteral("buzón")), "the help document was found");
    }
    void plataformaEnWayland()
    {
        QCOMPARE(PlataformaPreferida({}, "wayland-0", ":0"), QByteArray("xcb"));
        // No X server, no Wayland, or the user's own choice: Qt's.
        QCOMPARE(PlataformaPreferida({}, "wayland-0", {}) + PlataformaPreferida({}, {}, ":0") + PlataformaPreferida("wayland", "wayland-0", ":0"), QByteArray());
    }
    // Compact, then widened by a click, refreshed by later announcements, and closed: the
    // counts it announced are acknowledged once, whichever way.
    void aviso_data()
    {
        QTest::addColumn<int>("cuantas"); QTest::addColumn<Qt::MouseButton>("amplia"); QTest::addColumn<bool>("gestor");
        QTest::addColumn<QString>("cierre");
        QTest::newRow("8 lines, only the horizontal bar; a right click") << 8 << Qt::LeftButton << true << "derecho";
        QTest::newRow("9 lines, both bars; a click on the list") << 9 << Qt::LeftButton << true << "lista";
        QTest::newRow("the middle button; no mail program, no button; a click") << 2 << Qt::MiddleButton << false << "izquierdo";
        QTest::newRow("its button starts the mail program, never through a shell") << 3 << Qt::LeftButton << true << "boton";
        QTest::newRow("the window manager") << 3 << Qt::LeftButton << true << "ventana";
        QTest::newRow("a right click while compact") << 3 << Qt::NoButton << true << "derecho";
    }
    void aviso()
    {
        QFETCH(int, cuantas); QFETCH(Qt::MouseButton, amplia); QFETCH(bool, gestor); QFETCH(QString, cierre);
        TPirel& p = forma({}, cuantas);
        const QString hecho = e_->dir.filePath(QStringLiteral("x$(id);y"));
        p.opciones.gestorCorreo = gestor ? "touch \"" + QFile::encodeName(hecho) + '"' : QByteArray();
        QPointer<TFAvisa> a = abre(p);
        QVERIFY(a && a->isVisible() && a->Timer1.isActive() && a->fotogramas().size() == 12 && p.ventanasAbiertas == TPirel::kAvisoAbierto);
        QCOMPARE(QRect(a->pos(), a->size()), centrado({148, 112}));
        QCOMPARE(a->fotogramas().first().toImage().pixelColor(0, 0), QColor(0, 0, 128)); // black shows as navy
        QVERIFY(a->fotogramas().first().toImage() != a->fotogramas().at(8).toImage());
        p.muestraAviso(QStringLiteral("%1 Mensajes").arg(cuantas + 1), {});
        QVERIFY(p.aviso() == a && a->windowTitle() == QStringLiteral("%1 Mensajes").arg(cuantas + 1));
        if (amplia != Qt::NoButton) {
            QTest::mouseClick(a, amplia, {}, QPoint(70, 50));
            QVERIFY(a->ampliado() && !a->Timer1.isActive());
            QCOMPARE(a->windowTitle(), QStringLiteral("Ludaren Electronico: %1 Mensajes").arg(cuantas + 1));
            QCOMPARE(QRect(a->pos(), a->size()), centrado({p.mediaPantalla, 200}));
            QCOMPARE(a->Memo1->toPlainText(), lineasDe(cuantas).join(u'\n'));
            const int margen = !gestor ? 0 : cuantas > 8 ? 20 : 6;
            QCOMPARE(a->Memo1->verticalScrollBarPolicy(), margen == 20 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            QCOMPARE(a->BitBtn1->isVisible(), gestor);
            if (gestor) // over the list, where it can be clicked
                QCOMPARE(a->childAt(QPoint(p.mediaPantalla - 11 - margen, 200 - 30)), a->BitBtn1);
            QTest::mouseClick(a->Memo1->horizontalScrollBar(), Qt::LeftButton);
            QTest::mouseClick(a->Memo1->horizontalScrollBar(), Qt::RightButton);
            pon(p, cuantas + 1);
            p.muestraAviso(QStringLiteral("%1 Mensajes").arg(cuantas + 1), lineasDe(cuantas + 1));
            QCOMPARE(a->Memo1->toPlainText(), lineasDe(cuantas + 1).join(u'\n'));
        }
        QVERIFY(!a->cerrado() && p.mensajes->anteriores(1) == 0);
        if (cierre == u"derecho" || cierre == u"izquierdo")
            suelta(a, cierre == u"derecho" ? Qt::RightButton : Qt::LeftButton);
        else if (cierre == u"lista")
            QTest::mouseClick(a->Memo1->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
        else if (cierre == u"boton")
            QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
        else
            a->close();
        QVERIFY(a->cerrado() && !a->isVisible() && !a->Timer1.isActive() && a->fotogramas().isEmpty());
        const int anunciados = amplia != Qt::NoButton ? cuantas + 1 : cuantas;
        QVERIFY(p.mensajes->anteriores(1) == anunciados && p.ventanasAbiertas == 0);
        QVERIFY2(!QFile::exists(QStringLiteral(":/pirel01/fotograma01.svg")), "the frames package was released");
        p.mensajes->setActuales(1, 7);
        a->close();
        QTRY_VERIFY(a.isNull());
        QCOMPARE(p.mensajes->anteriores(1), anunciados);
        if (cierre == u"boton")
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hecho), 5000);
        QCOMPARE(QFile::exists(hecho), cierre == u"boton");
    }
    // One frame per tick, painted, and the animation goes on where the last notice left it.
    void animacion()
    {
        TPirel& p = forma({}, 2);
        QPointer<TFAvisa> a = abre(p);
        a->Timer1.stop();
        const int desde = FotogramaActual();
        for (int i = 0; i < 14; ++i)
            a->Timer1Timer();
        QCOMPARE(FotogramaActual(), (desde + 14) % 12);
        QCOMPARE(a->grab().toImage().convertToFormat(QImage::Format_RGB32),
                 a->fotogramas().at(FotogramaActual()).toImage().convertToFormat(QImage::Format_RGB32));
        a->CierraAviso();
        QTRY_VERIFY(a.isNull());
        const int seguia = FotogramaActual();
        QVERIFY(abre(p) && FotogramaActual() == seguia);
        QTRY_VERIFY(FotogramaActual() != seguia);
    }
    void sinPaqueteDeFotogramas()
    {
        QTemporaryDir vacio;
        TPirel& p = forma({}, 2, vacio.path());
        // A check that ends while the error box is open does not make a second notice.
        e_->cajas.mientras = [&p] {
            p.muestraAviso(QStringLiteral("2 Mensajes"), lineasDe(2));
            p.abreAviso();
            p.TrayIcon1Click();
        };
        QPointer<TFAvisa> a = abre(p);
        e_->cajas.mientras = nullptr;
        QCOMPARE(e_->cajas.vistas, QStringList{"mensaje: Error en la carga de Pirel01.DLL"});
        QVERIFY(a && p.aviso() == a && a->isVisible() && a->fotogramas().isEmpty() && !a->Timer1.isActive());
        QCOMPARE(a->grab().toImage().pixelColor(70, 50), QColor(0, 0, 128));
        QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QCOMPARE(a->Memo1->toPlainText(), lineasDe(2).join(u'\n'));
        QTest::mouseClick(a->Memo1->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
        QVERIFY(p.mensajes->anteriores(1) == 2 && p.ventanasAbiertas == 0);
    }
    // The announcement through the real libcanberra: what is played, all of it, and the notice;
    // a file's name is 8-bit text, and a bare one lies in the data folder.
    void anuncio_data()
    {
        QTest::addColumn<bool>("animacion"); QTest::addColumn<int>("sonido"); QTest::addColumn<QByteArray>("wav"); QTest::addColumn<QString>("hecho");
        QTest::newRow("Beep: the bell") << true << int(Sonido::Pitido) << QByteArray() << "evento: bell";
        QTest::newRow("Wave: the whole chime") << true << int(Sonido::Wave) << QByteArray("spirel.wav") << "fichero: " + DirectorioDatos() + "/spirel.wav";
        QTest::newRow("a missing file is silent") << true << int(Sonido::Wave) << QByteArray("/x/campa\xF1" "a.wav") << "fichero: /x/campaña.wav";
        QTest::newRow("no sound") << true << int(Sonido::Ninguno) << QByteArray("spirel.wav") << QString();
        QTest::newRow("no animation, still the sound") << false << int(Sonido::Pitido) << QByteArray() << "evento: bell";
    }
    void anuncio()
    {
        QFETCH(bool, animacion); QFETCH(int, sonido); QFETCH(QByteArray, wav); QFETCH(QString, hecho);
        if (hecho.endsWith(QLatin1String("bell")) && !QFile::exists(kSinTema))
            QSKIP("the freedesktop sound theme is not installed: run tools/instalar");
        AltavozCanberra real;
        TPirel& p = forma({}, 2);
        e_->altavoz->real = &real;
        p.opciones.animacion = animacion;
        p.opciones.sonido = Sonido(sonido);
        p.opciones.ficheroWav = wav;
        Anuncia(*p.mensajes, *p.buzones, p.opciones, {}, p);
        QCOMPARE(e_->altavoz->hechos, hecho.isEmpty() ? QStringList() : QStringList{hecho});
        const bool falta = wav.startsWith("/x");
        QCOMPARE(real.ultimoError(), falta ? -9 : 0);
        if (!hecho.isEmpty() && !falta) {
            QVERIFY(QTest::qWaitFor([&] { return !real.sonando(); }, 15000) && QTest::qWaitFor([this] { return escritos() > 0; }, 5000));
            if (wav == "spirel.wav") // 16-bit mono samples, all of them
                QTRY_COMPARE_WITH_TIMEOUT(escritos(), QFileInfo(DirectorioDatos() + "/spirel.wav").size() - 44, 5000);
        }
        QVERIFY((p.aviso() != nullptr) == animacion && p.mensajes->anteriores(1) == (animacion ? 0 : 2));
        if (p.aviso())
            p.aviso()->CierraAviso();
        e_->altavoz->hechos.clear();
        Anuncia(*p.mensajes, *p.buzones, p.opciones, {}, p);
        QVERIFY2(e_->altavoz->hechos.isEmpty() && !p.aviso(), "the same counts again: silent");
    }
};

int main(int argc, char** argv)
{
    // The plugin takes the screen first by name as the primary one.
    QTemporaryFile pantallas;
    if (!pantallas.open() || !pantallas.write(R"({"screens": [{"name": "1 principal", "x": 1280, "y": 96, "width": 1024, "height": 768},
        {"name": "2 otra", "x": 0, "y": 0, "width": 1280, "height": 1024}]})") || !pantallas.flush())
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(pantallas.fileName()));
    QApplication app(argc, argv);
    TestPirel prueba;
    return QTest::qExec(&prueba, argc, argv);
}
#include "test_pirel.moc"
