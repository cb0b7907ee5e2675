// The hidden main form with a real settings file and a scripted server: start-up, the tray
// and its menu, the new-mail notice and the sounds, played by libcanberra into a file. The
// primary screen lies right of and below another one, as on a desk with two monitors.
#include "escritorio_grabado.h"
#include "anuncio.h"
#include "aviso.h"
#include "conf.h"
#include "recursos.h"
#include "servidor_guion.h"

#include <QTemporaryFile>
#include <QTest>
#include <QtWidgets>

using namespace pirel;
using namespace pirel::prueba;

namespace {

// Markup in a header is shown as it came.
QStringList lineasDe(int cuantas) {
    QStringList r;
    for (int k = 1; k <= cuantas; ++k)
        r << QStringLiteral("Casa => <b>Asunto %1</b> &amp; <img src=\"/x\">: Remite %1 Привет 😀").arg(k);
    return r;
}
// The plugin takes the screen first by name as the primary one.
QTemporaryFile gPantallas;
[[maybe_unused]] const bool kPantallas = gPantallas.open() && gPantallas.write(R"({"screens": [{"name": "1 principal", "x": 1280, "y": 96,
    "width": 1024, "height": 768}, {"name": "2 otra", "x": 0, "y": 0, "width": 1280, "height": 1024}]})") && gPantallas.flush()
    && qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(gPantallas.fileName()));
QRect centrado(QSize t) { return QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, t, QGuiApplication::primaryScreen()->geometry()); }

}

class TestPirel : public QObject {
    Q_OBJECT
    std::unique_ptr<Escritorio> e_;
    QTemporaryDir casa_;
    QString salida_;
    // The main form on this store, created; with `cuantas` new messages in one mailbox when no store is given.
    TPirel& forma(const QByteArray& registro = {}, int cuantas = -1, const QString& datos = {}) {
        e_ = std::make_unique<Escritorio>(registro);
        if (e_->crea(datos) && cuantas >= 0) {
            e_->pirel->buzones->agregar("Casa", "127.0.0.1", "pepe", "c", true);
            e_->pirel->mensajes->setActuales(1, cuantas);
            for (const QString& l : lineasDe(cuantas))
                e_->pirel->mensajes->AgregaCab(l);
        }
        return *e_->pirel;
    }
    static TFAvisa* abre(TPirel& p) {
        p.TrayIcon1.WndProc(TTrayIcon::WM_LBUTTONUP);
        return p.aviso();
    }
    qint64 escritos() const { return QFileInfo(salida_).size(); }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(1280, 96, 1024, 768));
        qputenv("HOME", QFile::encodeName(casa_.path()));
        salida_ = casa_.filePath(QStringLiteral("out.raw"));
        // ALSA reads the user's configuration once, when the first sound opens a device.
        QFile asoundrc(casa_.filePath(QStringLiteral(".asoundrc")));
        QVERIFY(asoundrc.open(QIODevice::WriteOnly)
                && asoundrc.write("pcm.!default { type file; slave.pcm \"null\"; file \"" + QFile::encodeName(salida_)
                                  + "\"; format \"raw\" }\n") > 0);
    }
    void init() { QFile::remove(salida_); }
    void cleanup() { e_.reset(); }
    void arranque_data() {
        // minutos 0: no timer and no check
        QTest::addColumn<QByteArray>("registro");
        QTest::addColumn<int>("minutos");
        QTest::addColumn<bool>("correo");
        QTest::addColumn<QStringList>("cajas");
        QTest::newRow("first start: help and dialog, the timer off") << QByteArray() << 0 << true << QStringList();
        QTest::newRow("an unreadable interval stops before the timer") << configurado("\"frecuencia\"=\"cinco\"\n") << 0 << true
                                                                       << QStringList{"error: 'cinco' is not a valid integer value"};
        QTest::newRow("none stored: every minute") << configurado("\"Gestor de Correo\"=\"thunderbird\"\n") << 1 << true << QStringList();
        QTest::newRow("beyond the limit, no mail program") << configurado("\"frecuencia\"=\"99999\"\n") << 720 << false << QStringList();
        QTest::newRow("no libAPOP.so: nothing made") << configurado({}) << 0 << true << QStringList{"mensaje: No se encuentra libreria APOP.DLL"};
    }
    void arranque() {
        QFETCH(QByteArray, registro);
        QFETCH(int, minutos);
        QFETCH(bool, correo);
        QFETCH(QStringList, cajas);
        // Without the digest library the program ends before anything is created: this row runs again from a folder without it.
        if (!cajas.isEmpty() && cajas[0].startsWith(u"mensaje") && QFile::exists(QCoreApplication::applicationDirPath() + "/libAPOP.so")) {
            QTemporaryDir otro;
            QProcess q;
            if (QFile::copy(QCoreApplication::applicationFilePath(), otro.filePath(QStringLiteral("test_pirel"))))
                q.start(otro.filePath(QStringLiteral("test_pirel")), {"arranque:" + QString::fromUtf8(QTest::currentDataTag())});
            QVERIFY2(q.waitForFinished(60000) && q.exitStatus() == QProcess::NormalExit && q.exitCode() == 0, q.readAll().constData());
            return;
        }
        // A tick while the first check waits on the server starts no second one.
        ServidorGuion servidor(minutos ? QList<Guion>{Guion::entrada().pausa(300).stat(2).top(1, "a", "b").top(2, "c", "d").quit()}
                                       : QList<Guion>{});
        TPirel& p = forma(registro);
        if (p.chequeo) {
            p.chequeo->puerto = QByteArray::number(servidor.puerto());
            QTimer::singleShot(100, &p, [&p] { p.Timer1Timer(); });
            p.FormShow();
        } else { // nothing made: no check, no dialog, no crash
            p.ChequearCorreoAhora1->trigger();
            p.ayuda.hide();
        }
        QVERIFY(servidor.termina() && servidor.fallos().isEmpty() && servidor.conexiones() == (minutos ? 1 : 0));
        QCOMPARE(p.Timer1.isActive() ? p.Timer1.interval() : 0, minutos * 60000);
        QCOMPARE(e_->cajas.vistas, cajas);
        QVERIFY(p.AbrirCorreo1->isEnabled() == correo && p.TrayIcon1.ToolTip() == (minutos ? "2 Mensajes" : "No hay Mensajes"));
        QVERIFY((p.configuracion() != nullptr) == registro.isEmpty() && e_->enArranque() == registro.isEmpty());
        QCOMPARE(p.ayuda.isVisible() ? p.ayuda.contexto() : 0, registro.isEmpty() ? 14 : 0);
    }
    // "Chequear Correo &Ahora" opens the dialog, once, until there is a mailbox; the notice
    // opens only while no window is open.
    void menuYBandeja() {
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
        p.TrayIcon1.WndProc(TTrayIcon::WM_RBUTTONUP);
        p.TrayIcon1.setActive(false);
        p.TrayIcon1.setActive(false);
        QCOMPARE(e_->area->envios, (QStringList{"agrega:"} + QStringList(3, "modifica:No hay Mensajes")
                                    + QStringList{"modifica:" + QString(62, u'a'), "menu:6@640,12", "quita"}));
        QVERIFY2(!abre(p), "no messages, no notice");
        p.ChequearCorreoAhora1->trigger();
        QPointer<TConf> conf = p.configuracion();
        QVERIFY(conf && p.ayuda.contexto() == 14);
        p.ChequearCorreoAhora1->trigger();
        p.Configuracion->trigger();
        p.Ayuda1->trigger();
        QVERIFY(p.configuracion() == conf.data() && p.ayuda.contexto() == 1);
        conf->BitBtn2->click();
        QTRY_VERIFY(!conf);
        p.buzones->agregar("Casa", "127.0.0.1", "pepe", "secreta", true);
        p.chequeo->puerto = QByteArray::number(servidor.puerto());
        p.ChequearCorreoAhora1->trigger();
        QVERIFY(servidor.termina() && servidor.fallos().isEmpty() && p.TrayIcon1.ToolTip() == u"1 Mensajes" && !p.configuracion());
        TFAvisa* a = abre(p);
        QVERIFY(a && abre(p) == a);
        p.Configuracion->trigger();
        a->CierraAviso();
        QVERIFY(p.configuracion() && !abre(p));
        p.configuracion()->BitBtn2->click();
        QVERIFY2(abre(p), "acknowledged mail still waiting: a new notice");
    }
    // Compact and animated, then widened by a click, and closed: the counts it announced are
    // acknowledged, whichever way.
    void aviso_data() {
        QTest::addColumn<int>("cuantas");
        QTest::addColumn<Qt::MouseButton>("amplia");
        QTest::addColumn<bool>("gestor");
        QTest::addColumn<QString>("cierre");
        QTest::newRow("8 lines, only the horizontal bar; a right click") << 8 << Qt::LeftButton << true << "derecho";
        QTest::newRow("9 lines, both bars; a click on the list") << 9 << Qt::LeftButton << true << "lista";
        QTest::newRow("the middle button; no mail program, no button; a click") << 2 << Qt::MiddleButton << false << "izquierdo";
        QTest::newRow("its button starts the mail program, never through a shell") << 3 << Qt::LeftButton << true << "boton";
        QTest::newRow("a right click while compact") << 3 << Qt::NoButton << true << "derecho";
        QTest::newRow("no frames package: said once, still") << 2 << Qt::LeftButton << true << "lista";
    }
    void aviso() {
        QFETCH(int, cuantas);
        QFETCH(Qt::MouseButton, amplia);
        QFETCH(bool, gestor);
        QFETCH(QString, cierre);
        QTemporaryDir vacio;
        const bool paquete = !QByteArray(QTest::currentDataTag()).startsWith("no frames");
        TPirel& p = forma({}, cuantas, paquete ? QString() : vacio.path());
        const QString hecho = e_->dir.filePath(QStringLiteral("x$(id);y"));
        p.opciones.gestorCorreo = gestor ? "touch \"" + QFile::encodeName(hecho) + '"' : QByteArray();
        QPointer<TFAvisa> a = abre(p);
        QCOMPARE(e_->cajas.vistas, paquete ? QStringList() : QStringList{"mensaje: Error en la carga de Pirel01.DLL"});
        QVERIFY(a && p.aviso() == a && a->isVisible() && a->Timer1.isActive() == paquete
                && p.ventanasAbiertas == TPirel::kAvisoAbierto);
        QVERIFY(QRect(a->pos(), a->size()) == centrado({148, 112}) && a->fotogramas().size() == (paquete ? 12 : 0));
        QCOMPARE(a->grab().toImage().pixelColor(0, 0), QColor(0, 0, 128)); // black shows as navy
        const int desde = FotogramaActual();
        for (int i = 0; paquete && i < 14; ++i)
            a->Timer1Timer();
        QCOMPARE(FotogramaActual(), (desde + (paquete ? 14 : 0)) % 12);
        if (paquete)
            QCOMPARE(a->grab().toImage().convertToFormat(QImage::Format_RGB32),
                     a->fotogramas().at(FotogramaActual()).toImage().convertToFormat(QImage::Format_RGB32));
        p.muestraAviso(QStringLiteral("%1 Mensajes").arg(cuantas + 1), {});
        QVERIFY(p.aviso() == a && a->windowTitle() == QStringLiteral("%1 Mensajes").arg(cuantas + 1));
        if (amplia != Qt::NoButton) {
            QTest::mouseClick(a, amplia, {}, QPoint(70, 50));
            QVERIFY(a->ampliado() && !a->Timer1.isActive() && a->BitBtn1->isVisible() == gestor);
            QCOMPARE(a->windowTitle(), QStringLiteral("Ludaren Electronico: %1 Mensajes").arg(cuantas + 1));
            QCOMPARE(QRect(a->pos(), a->size()), centrado({p.mediaPantalla, 200}));
            QCOMPARE(a->Memo1->toPlainText(), lineasDe(cuantas).join(u'\n'));
            const int margen = !gestor ? 0 : cuantas > 8 ? 20 : 6; // the button lies over the list, where it can be clicked
            QVERIFY(a->Memo1->verticalScrollBarPolicy() == (margen == 20 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff)
                    && (!gestor || a->childAt(QPoint(p.mediaPantalla - 11 - margen, 200 - 30)) == a->BitBtn1));
        }
        QVERIFY(!a->cerrado() && p.mensajes->anteriores(1) == 0);
        if (cierre == u"derecho" || cierre == u"izquierdo") {
            QMouseEvent suelta(QEvent::MouseButtonRelease, QPointF(5, 5), a->mapToGlobal(QPointF(5, 5)),
                               cierre == u"derecho" ? Qt::RightButton : Qt::LeftButton, {}, {});
            QApplication::sendEvent(a, &suelta);
        } else if (cierre == u"lista")
            QTest::mouseClick(a->Memo1->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
        else
            QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
        QVERIFY(a->cerrado() && !a->isVisible() && !a->Timer1.isActive() && a->fotogramas().isEmpty()
                && p.ventanasAbiertas == 0);
        QVERIFY2(!QFile::exists(QStringLiteral(":/pirel01/fotograma01.svg")), "the frames package was released");
        QCOMPARE(p.mensajes->anteriores(1), cuantas);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hecho) == (cierre == u"boton"), 5000);
    }
    // The announcement through the real libcanberra: what is played, all of it, and the notice;
    // a file's name is 8-bit text, and a bare one lies in the data folder.
    void anuncio_data() {
        QTest::addColumn<bool>("animacion");
        QTest::addColumn<int>("sonido");
        QTest::addColumn<QByteArray>("wav");
        QTest::addColumn<QString>("hecho");
        QTest::newRow("Wave: the whole chime") << true << int(Sonido::Wave) << QByteArray("spirel.wav")
                                               << "fichero: " + DirectorioDatos() + "/spirel.wav";
        QTest::newRow("a missing file is silent") << true << int(Sonido::Wave) << QByteArray("/x/campa\xF1" "a.wav") << "fichero: /x/campaña.wav";
        QTest::newRow("no sound") << true << int(Sonido::Ninguno) << QByteArray("spirel.wav") << QString();
        QTest::newRow("no animation, still the sound") << false << int(Sonido::Pitido) << QByteArray() << "evento: bell";
    }
    void anuncio() {
        QFETCH(bool, animacion);
        QFETCH(int, sonido);
        QFETCH(QByteArray, wav);
        QFETCH(QString, hecho);
        if (hecho.endsWith(QLatin1String("bell")) && !QFile::exists(QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga")))
            QSKIP("the freedesktop sound theme is not installed: run tools/instalar");
        AltavozCanberra real;
        TPirel& p = forma({}, 2);
        e_->altavoz->real = &real;
        p.opciones.animacion = animacion;
        p.opciones.sonido = Sonido(sonido);
        p.opciones.ficheroWav = wav;
        Anuncia(*p.mensajes, *p.buzones, p.opciones, {}, p);
        QCOMPARE(e_->altavoz->hechos, hecho.isEmpty() ? QStringList() : QStringList{hecho});
        QCOMPARE(real.ultimoError(), wav.startsWith("/x") ? -9 : 0);
        if (!hecho.isEmpty() && !wav.startsWith("/x")) {
            QVERIFY(QTest::qWaitFor([&] { return !real.sonando(); }, 15000)
                    && QTest::qWaitFor([this] { return escritos() > 0; }, 5000));
            if (wav == "spirel.wav") // 16-bit mono samples, all of them
                QTRY_COMPARE_WITH_TIMEOUT(escritos(), QFileInfo(DirectorioDatos() + "/spirel.wav").size() - 44, 5000);
        }
        QVERIFY((p.aviso() != nullptr) == animacion && p.mensajes->anteriores(1) == (animacion ? 0 : 2));
    }
};

QTEST_MAIN(TestPirel)
#include "test_pirel.moc"
