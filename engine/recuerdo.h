#pragma once
// The subject and sender of every message seen, by mailbox and unique id, so that a cycle
// asks only for the headers of messages it has not seen. Kept in memory by the tray
// program and in a file by the command-line checker; a file is only ever a source of
// header texts, never of counts, flags or anything else.
#include "buzon.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

namespace pirel {

struct Partes {
    QString asunto;
    QString remitente;
    bool operator==(const Partes&) const = default;
};

// One mailbox's headers by unique id.
using CabecerasBuzon = QHash<QByteArray, Partes>;

class RecuerdoCabeceras {
public:
    // A file larger than this was not written here.
    static constexpr qint64 kFicheroMax = 8 << 20;

    // Server, port, user and mode: a mailbox pointed elsewhere starts afresh. No password.
    [[nodiscard]] static QByteArray Identidad(const QByteArray& host, const QByteArray& puerto,
                                              const QByteArray& usuario, Seguridad seguridad);
    // $XDG_CACHE_HOME/Ludaren/cabeceras.
    [[nodiscard]] static QString FicheroPorDefecto();

    [[nodiscard]] CabecerasBuzon de(const QByteArray& identidad) const { return buzones_.value(identidad); }
    void pon(const QByteArray& identidad, const CabecerasBuzon& cabeceras);
    // Forgets the mailboxes not named, so what is kept follows the table.
    void conservaSolo(const QSet<QByteArray>& identidades);
    [[nodiscard]] qsizetype buzones() const { return buzones_.size(); }

    // False, and nothing kept, when the file is missing, damaged, foreign or too large.
    bool carga(const QString& fichero);
    // Written whole and replaced at once, readable by its owner alone.
    bool guarda(const QString& fichero) const;
    [[nodiscard]] QByteArray texto() const;
    bool leeTexto(const QByteArray& texto);

private:
    QHash<QByteArray, CabecerasBuzon> buzones_;
};

}
