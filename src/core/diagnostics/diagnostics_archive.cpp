#include "diagnostics/diagnostics_archive.h"

#include "diagnostics/secret_redaction.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <zip.h>

namespace vernalo {

namespace {

QString zipError(zip_t *archive)
{
    return QString::fromUtf8(zip_strerror(archive));
}

// Adds every file of the work folder under its entry name and writes the archive. The sources
// are read when the archive is closed, so the work folder must live until then.
QString writeZip(const QString &zipPath, const QString &workFolder,
                 const QList<DiagnosticsArchive::Entry> &entries)
{
    int openError = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(zipPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &openError);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, openError);
        const QString text = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        return QStringLiteral("cannot create %1: %2").arg(zipPath, text);
    }
    for (const DiagnosticsArchive::Entry &entry : entries) {
        const QByteArray file = QFile::encodeName(workFolder + u'/' + entry.name);
        zip_source_t *source = zip_source_file(archive, file.constData(), 0, entry.content.size());
        if (!source) {
            const QString text = zipError(archive);
            zip_discard(archive);
            return QStringLiteral("cannot read %1: %2").arg(entry.name, text);
        }
        if (zip_file_add(archive, entry.name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            const QString text = zipError(archive);
            zip_discard(archive);
            return QStringLiteral("cannot add %1: %2").arg(entry.name, text);
        }
    }
    if (zip_close(archive) != 0) {
        const QString text = zipError(archive);
        zip_discard(archive);
        QFile::remove(zipPath);
        return QStringLiteral("cannot write %1: %2").arg(zipPath, text);
    }
    return {};
}

} // namespace

QString DiagnosticsArchive::readmeText()
{
    return QStringLiteral(
        "Vernalo diagnostiikkapaketti\n\nSisalto:\n- diagnostiikka.json (asetukset + runtime + "
        "virhetila)\n- transkriptio-local.txt (paikallinen tekstinakyma)\n- "
        "transkriptio-server.json (palvelimen transkriptidata, jos saatavilla)\n- "
        "sessio-meta.json (palvelimen sessiometa, jos saatavilla)\n- app-log.txt (sovelluksen "
        "loki)");
}

QList<DiagnosticsArchive::Entry> DiagnosticsArchive::entries(const DiagnosticExportPayload &payload,
                                                             const QString &localTranscript,
                                                             const QStringList &secrets)
{
    auto json = [&secrets](const QJsonObject &object) {
        return encodeDiagnosticJson(redactSecrets(object, secrets));
    };
    auto text = [&secrets](const QString &value) { return redactSecrets(value, secrets).toUtf8(); };

    QList<Entry> list;
    list.append({QStringLiteral("diagnostiikka.json"), json(payload.toJson())});
    list.append({QStringLiteral("transkriptio-local.txt"), text(localTranscript)});
    list.append({QStringLiteral("app-log.txt"), text(payload.logTail)});
    if (payload.transcript)
        list.append(
            {QStringLiteral("transkriptio-server.json"), json(payload.transcript->toJson())});
    if (payload.sessionMeta)
        list.append({QStringLiteral("sessio-meta.json"), json(payload.sessionMeta->toJson())});
    list.append({QStringLiteral("README.txt"), readmeText().toUtf8()});
    return list;
}

DiagnosticsArchive::Result DiagnosticsArchive::create(const QList<Entry> &entries,
                                                      const QString &prefix, const QDateTime &now,
                                                      const QString &tempFolder)
{
    const QString workFolder = tempFolder + QStringLiteral("/vernalo-diag-") +
        QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QDir().mkpath(workFolder))
        return {{}, QStringLiteral("cannot create work folder %1").arg(workFolder)};

    const QString zipPath =
        tempFolder + u'/' + prefix + u'-' + diagnosticFileTimestamp(now) + QStringLiteral(".zip");
    QString error;
    // Plain writes: the work folder is read once by the zip and removed, so flushing each file
    // to disk (as the files the user keeps are) would only hold up the caller.
    for (const Entry &entry : entries) {
        QFile file(workFolder + u'/' + entry.name);
        if (!file.open(QIODevice::WriteOnly) || file.write(entry.content) != entry.content.size() ||
            !file.flush()) {
            error = QStringLiteral("cannot write %1: %2").arg(entry.name, file.errorString());
            break;
        }
    }
    if (error.isEmpty() && QFile::exists(zipPath) && !QFile::remove(zipPath))
        error = QStringLiteral("cannot replace %1").arg(zipPath);
    if (error.isEmpty())
        error = writeZip(zipPath, workFolder, entries);
    // The package holds the log and the transcript: readable by its owner only.
    if (error.isEmpty())
        QFile::setPermissions(zipPath, QFile::ReadOwner | QFile::WriteOwner);
    QDir(workFolder).removeRecursively();
    if (!error.isEmpty())
        return {{}, error};
    return {zipPath, {}};
}

} // namespace vernalo
