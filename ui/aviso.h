#pragma once
// The new-mail notice: a small animated window that, clicked, widens to list the
// messages found. However it is closed, the counts it announced are acknowledged.
#include "buzon.h"
#include "opciones.h"

#include <QList>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace pirel {

// The frame the animation shows; it runs on from one notice to the next.
[[nodiscard]] int FotogramaActual();

class TFAvisa : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFotogramas = 12, kAncho = 148, kAlto = 112, kAltoAmpliado = 200;
    static constexpr int kIntervalo = 160;

    // The tallies and the options are read when the notice widens, as a later check may
    // have changed them; `datos` is the folder of the frames package.
    TFAvisa(const TMensaje& mensajes, const TOpciones& opciones, int mediaPantalla, const QString& datos);
    ~TFAvisa() override;

    // Set by whoever opens the notice: its button, and every way of closing it (which
    // acknowledges the counts it announced).
    std::function<void()> alAbrirCorreo;
    std::function<void()> alCerrar;

    // Why the frames could not be loaded, empty when they were.
    const QString& errorAlCrear() const { return errorAlCrear_; }

    void Timer1Timer();
    void Memo1Click();
    void BitBtn1Click();
    void CierraAviso();
    // A later announcement while the notice is open.
    void refresca(const QString& textoCuenta, const QStringList& cabeceras);

    [[nodiscard]] bool ampliado() const;
    [[nodiscard]] bool cerrado() const { return cerrado_; }
    [[nodiscard]] const QList<QPixmap>& fotogramas() const { return ImageList1; }

    QPlainTextEdit* Memo1;
    QPushButton* BitBtn1;
    QTimer Timer1;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void FormCreate();
    void FormMouseUp(Qt::MouseButton boton);
    void amplia();
    void centra(QSize tamano);
    bool cargaPaquete();
    void liberaPaquete();
    void llenaLista(const QStringList& lineas);

    const TMensaje& mensajes_;
    const TOpciones& opciones_;
    const int mediaPantalla_;
    const QString datos_;
    QString errorAlCrear_;
    QList<QPixmap> ImageList1;
    QString paquete_; // the registered frames package, empty when none
    bool cerrado_ = false;
};

}
