// The new-mail notice on the main form: its two states, every way of closing it, later
// announcements, the animation, a missing frames package, and the announcement's sounds.
// The primary screen lies right of and below another one, as on a desk with two monitors.
#include "escritorio_grabado.h"
#include "anuncio.h"
#include "aviso.h"
#include "pirel.h"
#include "recursos.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace pirel;
using namespace pirel::prueba;

namespace {

QStringList lineasDe(int cuantas)
{
    QStringList r;
    for (int k = 1; k <= cuantas; ++k)
        r << QStringLiteral("Casa => Asunto %1: Remite %1").arg(k);
    return r;
}

QPoint centrado(QSize tamano)
{
    const QRect g = QGuiApplication::primaryScreen()->geometry();
    return g.topLeft() + QPoint((g.width() - tamano.width()) / 2, (g.height() - tamano.height()) / 2);
}

void suelta(QWidget* w, Qt::MouseButton boton, QPoint donde = {5, 5})
{
    QMouseEvent e(QEvent::MouseButtonRelease, donde, w->mapToGlobal(donde), boton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

}

class TestAviso : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    CajasGrabadas cajas_;
    QStringList sonidos_;

    // The main form with one mailbox holding `cuantas` new messages.
    std::unique_ptr<TPirel> forma(int cuantas, const QByteArray& gestor = "/bin/true", const QString& datos = {})
    {
        cajas_.vistas.clear();
        sonidos_.clear();
        TPirel::Piezas piezas;
        piezas.area = std::make_unique<AreaGrabada>();
        piezas.cajas = &cajas_;
        piezas.registro = dir_.filePath(QStringLiteral("Ludaren/registro.reg"));
        piezas.programa = QStringLiteral("/usr/bin/pirel");
        piezas.datos = datos;
        piezas.altavoz = std::make_unique<AltavozGrabado>(&sonidos_);
        auto p = std::make_unique<TPirel>(std::move(piezas));
        if (!p->FormCreate())
            return nullptr;
        p->buzones->agregar("Casa", "127.0.0.1", "pepe", "c", true);
        p->opciones.gestorCorreo = gestor;
        pon(*p, cuantas);
        return p;
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
        p.abreAviso();
        return p.aviso();
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(1280, 96, 1024, 768));
    }

    void compacto()
    {
        auto p = forma(3);
        QVERIFY(p);
        TFAvisa* a = abre(*p);
        QVERIFY(a);
        QVERIFY(a->isVisible());
        QCOMPARE(a->windowTitle(), QStringLiteral("3 Mensajes"));
        QCOMPARE(a->size(), QSize(148, 112));
        QCOMPARE(a->pos(), centrado(a->size()));
        QVERIFY(a->windowFlags().testFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                           Qt::WindowTitleHint));
        QVERIFY(!a->windowFlags().testAnyFlags(Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint |
                                               Qt::WindowSystemMenuHint));
        QCOMPARE(p->ventanasAbiertas & TPirel::kAvisoAbierto, TPirel::kAvisoAbierto);
        QVERIFY(!a->ampliado());
        QVERIFY(!a->Memo1->isVisible());
        QCOMPARE(a->Memo1->geometry(), QRect(62, 10, 179, 91));
        QVERIFY(a->Memo1->isReadOnly());
        QCOMPARE(a->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(a->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(a->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(a->Memo1->palette().color(QPalette::Base), QColor(0, 0, 128));
        QCOMPARE(a->Memo1->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(a->Memo1->font().family(), QStringLiteral("Arial"));
        QCOMPARE(a->Memo1->font().pixelSize(), 12);
        QVERIFY(a->Memo1->font().bold());
        QCOMPARE(a->Memo1->viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(a->BitBtn1->geometry(), QRect(204, 66, 22, 21));
        QVERIFY(a->BitBtn1->text().isEmpty());
        QVERIFY(!a->BitBtn1->icon().isNull());
        QCOMPARE(a->BitBtn1->toolTip(), QStringLiteral("Abrir Correo"));
        QVERIFY(a->Timer1.isActive());
        QCOMPARE(a->Timer1.interval(), 160);
        QCOMPARE(a->fotogramas().size(), 12);
        for (const QPixmap& f : a->fotogramas())
            QCOMPARE(f.size(), QSize(148, 112));
        // Black in the pictures is shown as the notice's navy.
        const QImage primero = a->fotogramas().first().toImage();
        QCOMPARE(primero.pixelColor(0, 0), QColor(0, 0, 128));
        QVERIFY(primero != a->fotogramas().at(8).toImage());
        QCOMPARE(cajas_.vistas, QStringList());
        a->CierraAviso();
    }

    void ampliado_data()
    {
        QTest::addColumn<int>("cuantas");
        QTest::addColumn<Qt::MouseButton>("boton");
        QTest::addColumn<bool>("barraVertical");
        QTest::addColumn<int>("margen");
        QTest::newRow("8 lines: only the horizontal bar") << 8 << Qt::LeftButton << false << 6;
        QTest::newRow("9 lines: both bars") << 9 << Qt::LeftButton << true << 20;
        QTest::newRow("the middle button widens too") << 2 << Qt::MiddleButton << false << 6;
    }
    void ampliado()
    {
        QFETCH(int, cuantas);
        QFETCH(Qt::MouseButton, boton);
        QFETCH(bool, barraVertical);
        QFETCH(int, margen);
        auto p = forma(cuantas);
        QVERIFY(p);
        TFAvisa* a = abre(*p);
        QTest::mouseClick(a, boton, {}, QPoint(70, 50));
        QVERIFY(!a->cerrado());
        QVERIFY(a->ampliado());
        QVERIFY(!a->Timer1.isActive());
        QCOMPARE(a->windowTitle(), QStringLiteral("Ludaren Electronico: %1 Mensajes").arg(cuantas));
        QCOMPARE(a->size(), QSize(p->mediaPantalla, 200));
        QCOMPARE(a->pos(), centrado(a->size()));
        QVERIFY(a->Memo1->isVisible());
        QCOMPARE(a->Memo1->geometry(), a->rect());
        QCOMPARE(a->Memo1->toPlainText(), lineasDe(cuantas).join(u'\n'));
        QCOMPARE(a->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(a->Memo1->verticalScrollBarPolicy(), barraVertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        QVERIFY(a->BitBtn1->isVisible());
        QCOMPARE(a->BitBtn1->pos(), QPoint(p->mediaPantalla - (22 + margen), 200 - (21 + 20)));
        // The button sits over the list, where it can be clicked.
        QCOMPARE(a->childAt(a->BitBtn1->geometry().center()), a->BitBtn1);
        // Scrolling does not close it.
        QTest::mouseClick(a->Memo1->horizontalScrollBar(), Qt::LeftButton);
        QTest::mouseClick(a->Memo1->horizontalScrollBar(), Qt::RightButton);
        QVERIFY(!a->cerrado());
        QCOMPARE(p->mensajes->anteriores(1), 0);
        a->CierraAviso();
    }

    void sinGestorNoHayBoton()
    {
        auto p = forma(2, "");
        QVERIFY(p);
        TFAvisa* a = abre(*p);
        QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QVERIFY(a->ampliado());
        QVERIFY(!a->BitBtn1->isVisible());
        a->CierraAviso();
    }

    void cierres_data()
    {
        QTest::addColumn<QString>("como");
        for (const char* c : {"right click", "right click when widened", "click when widened", "click on the list",
                              "the button", "the window manager"})
            QTest::newRow(c) << QString::fromLatin1(c);
    }
    void cierres()
    {
        QFETCH(QString, como);
        const QString marca = dir_.filePath(QStringLiteral("gestor-") + QString::number(qHash(como)));
        auto p = forma(3, "touch \"" + QFile::encodeName(marca) + '"');
        QVERIFY(p);
        QPointer<TFAvisa> a = abre(*p);
        QVERIFY(a);
        if (como != u"right click")
            QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QCOMPARE(a->ampliado(), como != u"right click");
        QCOMPARE(p->mensajes->anteriores(1), 0);

        if (como.startsWith(u"right click"))
            suelta(a, Qt::RightButton);
        else if (como == u"click when widened")
            suelta(a, Qt::LeftButton);
        else if (como == u"click on the list")
            QTest::mouseClick(a->Memo1->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
        else if (como == u"the button")
            QTest::mouseClick(a->BitBtn1, Qt::LeftButton);
        else
            a->close();

        QVERIFY(a->cerrado());
        QVERIFY(!a->isVisible());
        QVERIFY(!a->Timer1.isActive());
        QVERIFY(a->fotogramas().isEmpty());
        QCOMPARE(p->mensajes->anteriores(1), 3);
        QCOMPARE(p->ventanasAbiertas & TPirel::kAvisoAbierto, 0);
        QVERIFY2(!QFile::exists(QStringLiteral(":/pirel01/fotograma01.svg")), "the frames package was released");
        QCOMPARE(p->aviso(), nullptr);
        // Acknowledged once: counts that change afterwards stay unacknowledged.
        p->mensajes->setActuales(1, 7);
        a->close();
        QTRY_VERIFY(a.isNull());
        QCOMPARE(p->mensajes->anteriores(1), 3);
        if (como == u"the button")
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marca), 5000);
        QVERIFY(!QFile::exists(marca) || como == u"the button");
    }

    void segundoAnuncioCompacto()
    {
        auto p = forma(3);
        QVERIFY(p);
        p->muestraAviso(QStringLiteral("3 Mensajes"), lineasDe(3));
        TFAvisa* a = p->aviso();
        QVERIFY(a && a->isVisible());
        QCOMPARE(a->windowTitle(), QStringLiteral("3 Mensajes"));
        pon(*p, 4);
        p->muestraAviso(QStringLiteral("4 Mensajes"), lineasDe(4));
        QCOMPARE(p->aviso(), a);
        QCOMPARE(a->windowTitle(), QStringLiteral("4 Mensajes"));
        QVERIFY(!a->Memo1->isVisible());
        a->CierraAviso();
        QCOMPARE(p->mensajes->anteriores(1), 4);
    }

    void segundoAnuncioAmpliado()
    {
        auto p = forma(3);
        QVERIFY(p);
        p->muestraAviso(QStringLiteral("3 Mensajes"), lineasDe(3));
        TFAvisa* a = p->aviso();
        QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QCOMPARE(a->Memo1->toPlainText(), lineasDe(3).join(u'\n'));
        pon(*p, 5);
        p->muestraAviso(QStringLiteral("5 Mensajes"), lineasDe(5));
        QCOMPARE(p->aviso(), a);
        QCOMPARE(a->windowTitle(), QStringLiteral("Ludaren Electronico: 3 Mensajes"));
        QCOMPARE(a->Memo1->toPlainText(), lineasDe(5).join(u'\n'));
        QCOMPARE(a->Memo1->document()->blockCount(), 5);
        QVERIFY(a->isVisible());
        a->CierraAviso();
    }

    void textoSoloPlano()
    {
        auto p = forma(0);
        QVERIFY(p);
        const QString hostil = QStringLiteral("Casa => Привет 你好 😀 <b>negrita</b> <img src=\"/etc/passwd\"> &amp;: <a href=\"x\">y</a>");
        p->mensajes->setActuales(1, 1);
        p->mensajes->AgregaCab(hostil);
        TFAvisa* a = abre(*p);
        QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QCOMPARE(a->Memo1->toPlainText(), hostil);
        a->CierraAviso();
    }

    void bandeja()
    {
        auto p = forma(2);
        QVERIFY(p);
        p->TrayIcon1Click();
        TFAvisa* a = p->aviso();
        QVERIFY(a && a->isVisible());
        QCOMPARE(a->windowTitle(), QStringLiteral("2 Mensajes"));
        p->TrayIcon1Click();
        p->abreAviso();
        QCOMPARE(p->aviso(), a);
        a->CierraAviso();
        // Acknowledged mail still waiting: the tray opens a new notice.
        p->TrayIcon1Click();
        QVERIFY(p->aviso() && p->aviso() != a);
        p->aviso()->CierraAviso();
        pon(*p, 0);
        p->TrayIcon1Click();
        QCOMPARE(p->aviso(), nullptr);
    }

    void laAnimacionSigueDondeQuedo()
    {
        auto p = forma(2);
        QVERIFY(p);
        QPointer<TFAvisa> a = abre(*p);
        a->Timer1.stop();
        const int desde = FotogramaActual();
        for (int i = 0; i < 14; ++i)
            a->Timer1Timer();
        QCOMPARE(FotogramaActual(), (desde + 14) % 12);
        const QImage pintado = a->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pintado, a->fotogramas().at(FotogramaActual()).toImage().convertToFormat(QImage::Format_RGB32));
        a->CierraAviso();
        QTRY_VERIFY(a.isNull());

        const int seguia = FotogramaActual();
        TFAvisa* b = abre(*p);
        QCOMPARE(FotogramaActual(), seguia);
        b->Timer1Timer();
        QCOMPARE(FotogramaActual(), (seguia + 1) % 12);
        // And the real timer drives it.
        QTRY_VERIFY(FotogramaActual() != (seguia + 1) % 12);
        b->CierraAviso();
    }

    void sinPaqueteDeFotogramas()
    {
        QTemporaryDir vacio;
        auto p = forma(2, "/bin/true", vacio.path());
        QVERIFY(p);
        // A check that ends while the error box is open does not make a second notice.
        cajas_.mientras = [&p] {
            p->muestraAviso(QStringLiteral("2 Mensajes"), lineasDe(2));
            p->abreAviso();
            p->TrayIcon1Click();
        };
        QPointer<TFAvisa> a = abre(*p);
        cajas_.mientras = nullptr;
        QCOMPARE(cajas_.vistas, QStringList{"mensaje: Error en la carga de Pirel01.DLL"});
        QCOMPARE(p->aviso(), a);
        int abiertos = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* otro = qobject_cast<TFAvisa*>(w); otro && !otro->cerrado())
                ++abiertos;
        QCOMPARE(abiertos, 1);
        QVERIFY(a && a->isVisible());
        QCOMPARE(a->windowTitle(), QStringLiteral("2 Mensajes"));
        QCOMPARE(a->size(), QSize(148, 112));
        QVERIFY(a->fotogramas().isEmpty());
        QVERIFY(!a->Timer1.isActive());
        QCOMPARE(p->ventanasAbiertas & TPirel::kAvisoAbierto, TPirel::kAvisoAbierto);
        QCOMPARE(a->grab().toImage().pixelColor(70, 50), QColor(0, 0, 128));
        QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(70, 50));
        QVERIFY(a->ampliado());
        QCOMPARE(a->Memo1->toPlainText(), lineasDe(2).join(u'\n'));
        QTest::mouseClick(a->Memo1->viewport(), Qt::LeftButton, {}, QPoint(30, 20));
        QVERIFY(a->cerrado());
        QCOMPARE(p->mensajes->anteriores(1), 2);
        QCOMPARE(p->ventanasAbiertas, 0);
        QTRY_VERIFY(a.isNull());
    }

    void anuncio_data()
    {
        QTest::addColumn<bool>("animacion");
        QTest::addColumn<int>("sonido");
        QTest::addColumn<QStringList>("sonidos");
        QTest::addColumn<bool>("aviso");
        const QString wav = QDir(DirectorioDatos()).absoluteFilePath(QStringLiteral("spirel.wav"));
        QTest::newRow("Beep: the bell") << true << int(Sonido::Pitido) << QStringList{"evento: bell"}
                                        << true;
        QTest::newRow("Wave: the file") << true << int(Sonido::Wave) << QStringList{"fichero: " + wav}
                                        << true;
        QTest::newRow("no sound") << true << int(Sonido::Ninguno) << QStringList() << true;
        QTest::newRow("no animation, still the sound") << false << int(Sonido::Pitido)
                                                       << QStringList{"evento: bell"} << false;
    }
    void anuncio()
    {
        QFETCH(bool, animacion);
        QFETCH(int, sonido);
        QFETCH(QStringList, sonidos);
        QFETCH(bool, aviso);
        auto p = forma(2);
        QVERIFY(p);
        p->opciones.animacion = animacion;
        p->opciones.sonido = static_cast<Sonido>(sonido);
        p->opciones.ficheroWav = "spirel.wav";
        Anuncia(*p->mensajes, *p->buzones, p->opciones, {}, *p);
        QCOMPARE(sonidos_, sonidos);
        QCOMPARE(p->aviso() != nullptr, aviso);
        QCOMPARE(p->mensajes->anteriores(1), aviso ? 0 : 2);
        if (aviso) {
            QCOMPARE(p->aviso()->windowTitle(), QStringLiteral("2 Mensajes"));
            p->aviso()->CierraAviso();
        }
        // The same counts again: silent.
        sonidos_.clear();
        Anuncia(*p->mensajes, *p->buzones, p->opciones, {}, *p);
        QCOMPARE(sonidos_, QStringList());
        QCOMPARE(p->aviso(), nullptr);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    const QString pantallas = dir.filePath(QStringLiteral("pantallas.json"));
    QFile f(pantallas);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    // The plugin takes the screen first by name as the primary one.
    f.write(R"({"screens": [{"name": "1 principal", "x": 1280, "y": 96, "width": 1024, "height": 768},
                            {"name": "2 otra", "x": 0, "y": 0, "width": 1280, "height": 1024}]})");
    f.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(pantallas));
    QApplication app(argc, argv);
    TestAviso prueba;
    return QTest::qExec(&prueba, argc, argv);
}
#include "test_aviso.moc"
