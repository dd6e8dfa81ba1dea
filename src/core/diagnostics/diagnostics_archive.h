#pragma once

#include "diagnostics/diagnostic_export_payload.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace vernalo {

// The zip package support receives: the record, the transcript on screen, the log tail, the
// server's transcript and session metadata when they were fetched, and a README. Written in
// process with libzip from a work folder of its own that is removed afterwards.
class DiagnosticsArchive
{
public:
    struct Entry
    {
        QString name;
        QByteArray content;
    };

    // The path of the written zip, or why it could not be written (English, for the log).
    struct Result
    {
        QString path;
        QString error;
        bool ok() const { return error.isEmpty(); }
    };

    DiagnosticsArchive() = delete;

    // The entries in package order, every known secret (and every secret-named value) replaced
    // by a marker in each of them.
    static QList<Entry> entries(const DiagnosticExportPayload &payload,
                                const QString &localTranscript, const QStringList &secrets);

    // Writes the entries into a work folder "vernalo-diag-<UUID>" under `tempFolder`, zips them
    // into `tempFolder`/<prefix>-<yyyyMMdd-HHmmss>.zip (replacing a file of that name) and
    // removes the work folder whatever happened. A failed zip leaves no file behind.
    static Result create(const QList<Entry> &entries, const QString &prefix, const QDateTime &now,
                         const QString &tempFolder);

    static QString readmeText();
};

} // namespace vernalo
