#include "recognizer.h"

#include "script_recognizer.h"
#ifdef VERNALO_HAVE_POCKETSPHINX
#include "pocketsphinx_recognizer.h"
#endif

#include <QFile>

namespace vernalo::server {

std::unique_ptr<RecognizerFactory> makeRecognizerFactory(const QString &name,
                                                         const QString &scriptFile,
                                                         const QString &grammarFile, QString *error)
{
    if (name == QLatin1String("script")) {
        QFile file(scriptFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read script ") + scriptFile;
            return nullptr;
        }
        QString parseError;
        auto entries = parseRecognitionScript(QString::fromUtf8(file.readAll()), &parseError);
        if (!entries) {
            *error = scriptFile + QStringLiteral(" ") + parseError;
            return nullptr;
        }
        return std::make_unique<ScriptRecognizerFactory>(*entries);
    }
    if (name == QLatin1String("pocketsphinx")) {
#ifdef VERNALO_HAVE_POCKETSPHINX
        auto factory = std::make_unique<PocketsphinxRecognizerFactory>(
            QStringLiteral(VERNALO_POCKETSPHINX_MODEL_DIR), grammarFile);
        if (!factory->validate(error))
            return nullptr;
        return factory;
#else
        Q_UNUSED(grammarFile);
        *error = QStringLiteral("this build has no pocketsphinx; use --recognizer script");
        return nullptr;
#endif
    }
    *error = QStringLiteral("unknown recognizer ") + name;
    return nullptr;
}

} // namespace vernalo::server
