#include "pocketsphinx_recognizer.h"

#include "server_log.h"
#include "wire/stream_audio_format.h"

#include <algorithm>
#include <pocketsphinx.h>
#include <QFileInfo>
#include <QMutexLocker>
#include <sphinxbase/err.h>

namespace vernalo::server {

namespace {
constexpr int kBlockSamples = 1600; // 100 ms

QString hmmDir(const QString &modelDir)
{
    return modelDir + QStringLiteral("/en-us/en-us");
}
QString lmFile(const QString &modelDir)
{
    return modelDir + QStringLiteral("/en-us/en-us.lm.bin");
}
QString dictFile(const QString &modelDir)
{
    return modelDir + QStringLiteral("/en-us/cmudict-en-us.dict");
}
} // namespace

PocketsphinxRecognizerFactory::PocketsphinxRecognizerFactory(QString modelDir, QString grammarFile)
    : m_modelDir(std::move(modelDir))
    , m_grammarFile(std::move(grammarFile))
{
    // The decoder's own chatter would drown the server log.
    err_set_logfp(nullptr);
}

PocketsphinxRecognizerFactory::~PocketsphinxRecognizerFactory()
{
    for (ps_decoder_t *decoder : std::as_const(m_idle))
        ps_free(decoder);
}

bool PocketsphinxRecognizerFactory::validate(QString *error) const
{
    QStringList required {hmmDir(m_modelDir), dictFile(m_modelDir)};
    required << (m_grammarFile.isEmpty() ? lmFile(m_modelDir) : m_grammarFile);
    for (const QString &path : required) {
        if (!QFileInfo::exists(path)) {
            *error = QStringLiteral("pocketsphinx model file missing: ") + path;
            return false;
        }
    }
    return true;
}

QString PocketsphinxRecognizerFactory::modelName() const
{
    return m_grammarFile.isEmpty() ? QStringLiteral("pocketsphinx-en-us")
                                   : QStringLiteral("pocketsphinx-en-us-grammar");
}

ps_decoder_t *PocketsphinxRecognizerFactory::load()
{
    const QByteArray hmm = hmmDir(m_modelDir).toLocal8Bit();
    const QByteArray dict = dictFile(m_modelDir).toLocal8Bit();
    const QByteArray lm = lmFile(m_modelDir).toLocal8Bit();
    const QByteArray grammar = m_grammarFile.toLocal8Bit();
    cmd_ln_t *config = m_grammarFile.isEmpty()
        ? cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(),
                      "-dict", dict.constData(), nullptr)
        : cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-jsgf",
                      grammar.constData(), "-dict", dict.constData(), nullptr);
    if (!config)
        return nullptr;
    ps_decoder_t *decoder = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    return decoder;
}

void PocketsphinxRecognizerFactory::warmUp()
{
    release(acquire());
}

ps_decoder_t *PocketsphinxRecognizerFactory::acquire()
{
    QMutexLocker locker(&m_mutex);
    if (!m_idle.isEmpty())
        return m_idle.takeLast();
    // Loading under the lock keeps two first streams from loading two models at once.
    ps_decoder_t *decoder = load();
    if (!decoder)
        ServerLog::write(QStringLiteral("server pocketsphinx load failed"));
    return decoder;
}

void PocketsphinxRecognizerFactory::release(ps_decoder_t *decoder)
{
    if (!decoder)
        return;
    QMutexLocker locker(&m_mutex);
    m_idle.append(decoder);
}

std::unique_ptr<Recognizer> PocketsphinxRecognizerFactory::create(const QString &, bool interim,
                                                                  qint64 startOffsetMs)
{
    ps_decoder_t *decoder = acquire();
    if (!decoder)
        return nullptr;
    return std::make_unique<PocketsphinxRecognizer>(*this, decoder, interim, startOffsetMs);
}

PocketsphinxRecognizer::PocketsphinxRecognizer(PocketsphinxRecognizerFactory &factory,
                                               ps_decoder_t *decoder, bool interim,
                                               qint64 startOffsetMs)
    : m_factory(factory)
    , m_decoder(decoder)
    , m_interim(interim)
    , m_baseMs(startOffsetMs)
{
    ps_start_utt(m_decoder);
}

PocketsphinxRecognizer::~PocketsphinxRecognizer()
{
    ps_end_utt(m_decoder);
    m_factory.release(m_decoder);
}

qint64 PocketsphinxRecognizer::nowMs() const
{
    return m_baseMs + m_samples * 1000 / pcm::kSampleRate;
}

QList<RecognitionEvent> PocketsphinxRecognizer::process(const QByteArray &pcm)
{
    QList<RecognitionEvent> out;
    QByteArray bytes = m_pendingByte + pcm;
    m_pendingByte.clear();
    if (bytes.size() % 2 != 0) {
        m_pendingByte = bytes.right(1);
        bytes.chop(1);
    }
    const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
    const int total = static_cast<int>(bytes.size() / 2);
    for (int offset = 0; offset < total; offset += kBlockSamples)
        processBlock(samples + offset, std::min(kBlockSamples, total - offset), out);
    return out;
}

void PocketsphinxRecognizer::processBlock(const qint16 *samples, int count,
                                          QList<RecognitionEvent> &out)
{
    ps_process_raw(m_decoder, samples, static_cast<size_t>(count), FALSE, FALSE);
    m_samples += count;
    const qint64 blockMs = qint64(count) * 1000 / pcm::kSampleRate;
    const bool speech = ps_get_in_speech(m_decoder) != 0;
    if (speech && !m_inSpeech) {
        m_inSpeech = true;
        // The detector reports speech a little after it began.
        m_utteranceStartMs = std::max(m_baseMs, nowMs() - 300);
        m_lastPartialMs = nowMs();
    }
    if (!m_inSpeech)
        return;
    m_silenceMs = speech ? 0 : m_silenceMs + blockMs;
    if (m_silenceMs >= kEndSilenceMs || nowMs() - m_utteranceStartMs >= kMaxUtteranceMs) {
        endUtterance(out);
        return;
    }
    if (m_interim && nowMs() - m_lastPartialMs >= kPartialEveryMs) {
        m_lastPartialMs = nowMs();
        const char *hypothesis = ps_get_hyp(m_decoder, nullptr);
        const QString text = QString::fromUtf8(hypothesis ? hypothesis : "").trimmed();
        if (!text.isEmpty() && text != m_lastPartial) {
            m_lastPartial = text;
            RecognitionEvent partial;
            partial.kind = RecognitionEvent::Kind::Partial;
            partial.text = text;
            partial.startMs = m_utteranceStartMs;
            out.append(partial);
        }
    }
}

void PocketsphinxRecognizer::endUtterance(QList<RecognitionEvent> &out)
{
    ps_end_utt(m_decoder);
    const char *hypothesis = ps_get_hyp(m_decoder, nullptr);
    const QString text = QString::fromUtf8(hypothesis ? hypothesis : "").trimmed();
    if (!text.isEmpty()) {
        RecognitionEvent final;
        final.kind = RecognitionEvent::Kind::Final;
        final.text = text;
        final.startMs = m_utteranceStartMs;
        final.endMs = nowMs();
        out.append(final);
    }
    m_inSpeech = false;
    m_silenceMs = 0;
    m_lastPartial.clear();
    ps_start_utt(m_decoder);
}

QList<RecognitionEvent> PocketsphinxRecognizer::finish()
{
    QList<RecognitionEvent> out;
    if (m_inSpeech)
        endUtterance(out);
    return out;
}

} // namespace vernalo::server
