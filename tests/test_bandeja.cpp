// The tray icon component, watched through the notification area it talks to.
#include "tray_icon.h"

#include <QApplication>
#include <QMenu>
#include <QTest>

using namespace pirel;

namespace {

struct AreaGrabada final : AreaNotificacion {
    QStringList* envios;
    explicit AreaGrabada(QStringList* e) : envios(e) {}
    void agrega(const QIcon& icono, const QString& consejo) override
    {
        *envios << "agrega:" + consejo + (icono.isNull() ? "" : "+icono");
    }
    void modifica(const QIcon& icono, const QString& consejo) override
    {
        *envios << "modifica:" + consejo + (icono.isNull() ? "" : "+icono");
    }
    void quita() override { *envios << QStringLiteral("quita"); }
    QPoint cursor() const override { return {640, 12}; }
    void muestraMenu(QMenu* menu, const QPoint& p) override
    {
        *envios << QStringLiteral("menu:%1@%2,%3").arg(menu->actions().size()).arg(p.x()).arg(p.y());
    }
};

}

class TestBandeja : public QObject {
    Q_OBJECT

    QStringList envios_;
    std::unique_ptr<TTrayIcon> nuevo()
    {
        envios_.clear();
        return std::make_unique<TTrayIcon>(nullptr, std::make_unique<AreaGrabada>(&envios_));
    }

private slots:
    void activarYQuitarUnaVez()
    {
        auto t = nuevo();
        t->setToolTip(QStringLiteral("x"));
        QVERIFY2(envios_.isEmpty(), "nothing reaches the area while inactive");
        t->setActive(true);
        t->setActive(true);
        t->setActive(false);
        t->setActive(false);
        QCOMPARE(envios_, (QStringList{"agrega:x", "quita"}));
        t->setShowDesigning(true);
        QVERIFY(!t->ShowDesigning());
        t.reset();
        QCOMPARE(envios_.size(), 2);

        t = nuevo();
        t->setActive(true);
        QApplication::processEvents();
        envios_.clear();
        t.reset();
        QCOMPARE(envios_, QStringList{"quita"});
    }

    void consejoDe62()
    {
        auto t = nuevo();
        t->setActive(true);
        t->setToolTip(QString(100, u'a'));
        QCOMPARE(t->ToolTip(), QString(62, u'a'));
        t->setToolTip(QString(62, u'b'));
        QCOMPARE(t->ToolTip(), QString(62, u'b'));
        QCOMPARE(envios_.last(), "modifica:" + QString(62, u'b'));
    }

    void consejoVacioSeRefrescaUnaVez()
    {
        auto t = nuevo();
        t->setActive(true);
        t->setToolTip(QStringLiteral("No hay Mensajes"));
        QApplication::processEvents();
        QApplication::processEvents();
        QCOMPARE(envios_, (QStringList{"agrega:", "modifica:No hay Mensajes", "modifica:No hay Mensajes"}));

        auto u = nuevo();
        u->setToolTip(QStringLiteral("ya"));
        u->setActive(true);
        QApplication::processEvents();
        QCOMPARE(envios_, QStringList{"agrega:ya"});
    }

    void icono()
    {
        auto t = nuevo();
        t->setActive(true);
        QApplication::processEvents();
        envios_.clear();
        t->setIcon(t->Icon());
        QVERIFY2(envios_.isEmpty(), "its own icon object changes nothing");
        QPixmap rojo(16, 16);
        rojo.fill(Qt::red);
        t->setIcon(QIcon(rojo));
        QCOMPARE(envios_, QStringList{"modifica:+icono"});
    }

    void raton()
    {
        auto t = nuevo();
        QStringList eventos;
        t->OnClick = [&](QObject*) { eventos << "click"; };
        t->OnDblClick = [&](QObject*) { eventos << "doble"; };
        t->OnRightClick = [&](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
            eventos << QStringLiteral("derecho:%1:%2:%3,%4").arg(b == Qt::RightButton).arg(m == Qt::NoModifier).arg(x).arg(y);
        };
        for (int m : {TTrayIcon::WM_LBUTTONUP, TTrayIcon::WM_LBUTTONDBLCLK, TTrayIcon::WM_LBUTTONUP, 0x0201, 0x0204, 0x0207})
            t->WndProc(m);
        QCOMPARE(eventos, (QStringList{"click", "doble", "click"}));

        eventos.clear();
        t->WndProc(TTrayIcon::WM_RBUTTONUP);
        QCOMPARE(eventos, QStringList{"derecho:1:1:640,12"});
        QVERIFY2(envios_.isEmpty(), "no menu, nothing shown");

        QMenu menu;
        menu.addAction(QStringLiteral("uno"));
        menu.addAction(QStringLiteral("dos"));
        t->PopupMenu = &menu;
        eventos.clear();
        t->WndProc(TTrayIcon::WM_RBUTTONUP);
        QCOMPARE(envios_, QStringList{"menu:2@640,12"});
        QCOMPARE(eventos.size(), 1);
    }
};

QTEST_MAIN(TestBandeja)
#include "test_bandeja.moc"
