#pragma once
// The program's own help window, opened at a context number.
#include <QTextBrowser>

namespace pirel {

class VentanaAyuda : public QTextBrowser {
    Q_OBJECT
public:
    explicit VentanaAyuda(QString documento);
    void muestra(int contexto);
    int contexto() const { return contexto_; }

private:
    QString documento_;
    int contexto_ = 0;
};

}
