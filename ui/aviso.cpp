#include "aviso.h"

#include "textos.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QResource>
#include <QScreen>
#include <QSvgRenderer>

namespace pirel {
namespace {

const QColor kMarino(0, 0, 128);
const QString kPaquete = QStringLiteral("pirel01.rcc");

int fotogramaActual = 0;

QString nombreFotograma(int indice)
{
    return QStringLiteral(":/pirel01/fotograma%1.svg").arg(indice + 1, 2, 10, QLatin1Char('0'));
}

QPixmap dibujaFotograma(QSvgRenderer& svg)
{
    QImage imagen(TFAvisa::kAncho, TFAvisa::kAlto, QImage::Format_RGB32);
    imagen.fill(Qt::black);
    QPainter pintor(&imagen);
    svg.render(&pintor);
    pintor.end();
    // Black is the list's transparent colour: the notice's own background shows through.
    const QRgb marino = kMarino.rgb();
    for (int y = 0; y < imagen.height(); ++y) {
        auto* linea = reinterpret_cast<QRgb*>(imagen.scanLine(y));
        for (int x = 0; x < imagen.width(); ++x)
            if ((linea[x] & 0x00ffffff) == 0)
                linea[x] = marino;
    }
    return QPixmap::fromImage(imagen);
}

QIcon iconoSobre()
{
    QPixmap dibujo(16, 16);
    dibujo.fill(Qt::transparent);
    QPainter p(&dibujo);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2b, 0x2f, 0x33), 1));
    p.setBrush(QColor(0xfb, 0xfb, 0xf4));
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.setPen(QPen(QColor(0x8a, 0x94, 0x9f), 1));
    p.drawPolyline(QPolygonF({QPointF(2.5, 4.5), QPointF(8, 9), QPointF(13.5, 4.5)}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe3, 0x1c, 0x1c));
    p.drawRect(QRectF(11, 5, 2.5, 3));
    p.end();
    return QIcon(dibujo);
}

}

int FotogramaActual()
{
    return fotogramaActual;
}

TFAvisa::TFAvisa(const TMensaje& mensajes, const TOpciones& opciones, int mediaPantalla, const QString& datos)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowDoesNotAcceptFocus)
    , Memo1(new QPlainTextEdit(this))
    , BitBtn1(new QPushButton(this))
    , mensajes_(mensajes)
    , opciones_(opciones)
    , mediaPantalla_(mediaPantalla)
    , datos_(datos)
{
    // It appears while the user types elsewhere: a key must never reach it, least of all
    // its button, which starts the mail program and acknowledges the mail.
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette fondo = palette();
    fondo.setColor(QPalette::Window, kMarino);
    setPalette(fondo);
    setAutoFillBackground(true);

    Memo1->hide();
    Memo1->setGeometry(62, 10, 179, 91);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette colores = Memo1->palette();
    for (const QPalette::ColorGroup grupo : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colores.setColor(grupo, QPalette::Base, kMarino);
        colores.setColor(grupo, QPalette::Text, Qt::white);
    }
    Memo1->setPalette(colores);
    QFont letra(QStringLiteral("Arial"));
    letra.setPixelSize(12);
    letra.setBold(true);
    Memo1->setFont(letra);
    Memo1->viewport()->setCursor(Qt::ArrowCursor);
    Memo1->installEventFilter(this);
    Memo1->viewport()->installEventFilter(this);

    BitBtn1->setGeometry(204, 66, 22, 21);
    BitBtn1->setIcon(iconoSobre());
    BitBtn1->setToolTip(QStringLiteral("Abrir Correo"));
    BitBtn1->setFocusPolicy(Qt::NoFocus);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    Timer1.setInterval(kIntervalo);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    FormCreate();
    centra(size());
}

TFAvisa::~TFAvisa()
{
    // Only when the program ends with the notice still open: nothing is acknowledged.
    if (!cerrado_) {
        Timer1.stop();
        ImageList1.clear();
        liberaPaquete();
    }
}

void TFAvisa::FormCreate()
{
    setWindowTitle(QString::number(mensajes_.numCabeceras()) + textos::kMensajes);
    setFixedSize(kAncho, kAlto);
    if (!cargaPaquete()) {
        errorAlCrear_ = QStringLiteral("Error en la carga de Pirel01.DLL");
        return;
    }
    for (int i = 0; i < kFotogramas; ++i) {
        QSvgRenderer svg(nombreFotograma(i));
        ImageList1.append(dibujaFotograma(svg));
    }
    Timer1.start();
}

bool TFAvisa::cargaPaquete()
{
    const QString ruta = datos_ + u'/' + kPaquete;
    if (!QFile::exists(ruta) || !QResource::registerResource(ruta))
        return false;
    paquete_ = ruta;
    for (int i = 0; i < kFotogramas; ++i) {
        if (!QSvgRenderer(nombreFotograma(i)).isValid()) {
            liberaPaquete();
            return false;
        }
    }
    return true;
}

void TFAvisa::liberaPaquete()
{
    if (!paquete_.isEmpty())
        QResource::unregisterResource(paquete_);
    paquete_.clear();
}

void TFAvisa::paintEvent(QPaintEvent*)
{
    if (ImageList1.isEmpty())
        return;
    QPainter pintor(this);
    pintor.drawPixmap(0, 0, ImageList1.at(fotogramaActual));
}

void TFAvisa::Timer1Timer()
{
    fotogramaActual = (fotogramaActual + 1) % kFotogramas;
    update();
}

bool TFAvisa::ampliado() const
{
    return width() >= mediaPantalla_;
}

void TFAvisa::mouseReleaseEvent(QMouseEvent* evento)
{
    if (rect().contains(evento->position().toPoint()))
        FormMouseUp(evento->button());
}

void TFAvisa::FormMouseUp(Qt::MouseButton boton)
{
    if (ampliado() || boton == Qt::RightButton) {
        CierraAviso();
        return;
    }
    if (boton == Qt::LeftButton || boton == Qt::MiddleButton)
        amplia();
}

void TFAvisa::amplia()
{
    Timer1.stop();
    setWindowTitle(QStringLiteral("Ludaren Electronico: ") + windowTitle());
    setFixedSize(mediaPantalla_, kAltoAmpliado);
    centra(QSize(mediaPantalla_, kAltoAmpliado));
    Memo1->setGeometry(rect());
    const int cuantas = mensajes_.numCabeceras();
    // With the vertical bar the button moves clear of it.
    const int margen = cuantas > 8 ? 20 : 6;
    Memo1->setVerticalScrollBarPolicy(cuantas > 8 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    BitBtn1->move(width() - (BitBtn1->width() + margen), kAltoAmpliado - (BitBtn1->height() + 20));
    Memo1->show();
    QStringList lineas;
    for (int n = 1; n <= cuantas; ++n)
        lineas << mensajes_.cabecera(n);
    llenaLista(lineas);
    BitBtn1->setVisible(!opciones_.gestorCorreo.isEmpty());
    BitBtn1->raise();
}

void TFAvisa::centra(QSize tamano)
{
    // On the primary screen, wherever that one lies among the others.
    if (const QScreen* pantalla = QGuiApplication::primaryScreen()) {
        const QRect g = pantalla->geometry();
        move(g.x() + (g.width() - tamano.width()) / 2, g.y() + (g.height() - tamano.height()) / 2);
    }
}

void TFAvisa::llenaLista(const QStringList& lineas)
{
    Memo1->clear();
    for (const QString& linea : lineas)
        Memo1->appendPlainText(linea);
}

void TFAvisa::refresca(const QString& textoCuenta, const QStringList& cabeceras)
{
    if (!ampliado())
        setWindowTitle(textoCuenta);
    else
        llenaLista(cabeceras);
}

bool TFAvisa::eventFilter(QObject* objeto, QEvent* evento)
{
    if (evento->type() != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(objeto, evento);
    const auto* raton = static_cast<QMouseEvent*>(evento);
    if (objeto == Memo1->viewport() && raton->button() == Qt::LeftButton) {
        if (Memo1->viewport()->rect().contains(raton->position().toPoint()))
            Memo1Click();
        return true;
    }
    // A release on the list's frame or between its bars must not reach the form.
    if (objeto == Memo1)
        return true;
    return QWidget::eventFilter(objeto, evento);
}

void TFAvisa::Memo1Click()
{
    CierraAviso();
}

void TFAvisa::BitBtn1Click()
{
    if (alAbrirCorreo)
        alAbrirCorreo();
    CierraAviso();
}

void TFAvisa::closeEvent(QCloseEvent* evento)
{
    CierraAviso();
    evento->accept();
}

void TFAvisa::CierraAviso()
{
    if (cerrado_)
        return;
    cerrado_ = true;
    Timer1.stop();
    if (alCerrar)
        alCerrar();
    ImageList1.clear();
    liberaPaquete();
    hide();
    deleteLater();
}

}
