#include "chequeo_consola.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return pirel::EjecutaChequeo(QCoreApplication::arguments(), stdin, stdout, stderr);
}
