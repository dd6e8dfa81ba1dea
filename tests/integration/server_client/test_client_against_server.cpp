#include "audio/pcm_format.h"
#include "auth/auth_manager.h"
#include "backend/stt_api_client.h"
#include "backend/websocket_stream_client.h"
#include "foundation/build_info.h"
#include "foundation/secure_settings.h"
#include "recording/recording_rules.h"
#include "recording/transcript_assembly.h"
#include "server_test_support.h"
#include "session_registry.h"
#include "support/fake_clock.h"
#include "support/fake_desktop_services.h"
#include "support/socket_wait.h"
#include "support/task_outcome.h"
#include "support/test_environment.h"
#include "support/zip_contents.h"
#include "updates/update_checker.h"
#include "wire/json_fields.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;
using namespace std::chrono_literals;

namespace {

// What the script recognizer hears at these audio offsets, whatever the audio holds.
const QString kScript = QStringLiteral("2.2 [Anna] the budget is approved\n"
                                       "5.5 [Ben] next meeting on monday\n");
const QStringList kFinals {QStringLiteral("the budget is approved"),
                           QStringLiteral("next meeting on monday")};
const QString kDemoEmail = QStringLiteral("demo@vernalo.local");

} // namespace

// The client's own classes against the reference server in this process: sign-in, the REST
// client, the live stream client and the update check, each speaking to the real thing.
class ClientAgainstServerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<InProcessServer> m_server;
    // The stream client's own timers (ping, reconnect back-off) run on this clock alone, so its
    // armed timers say what the client is about to do.
    FakeClock m_streamClock;
    FakeClock m_clientClock;
    QNetworkAccessManager m_network;
    FakeDesktopServices m_desktop;
    QTemporaryDir m_dir;
    int m_profiles = 0;
    std::unique_ptr<SecureSettings> m_settings;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<STTAPIClient> m_api;
    std::unique_ptr<WebSocketStreamClient> m_stream;
    STTConfiguration m_config;
    QList<StreamEvent> m_events;

    bool startServer(const QString &script, server::ServerOptions options = {})
    {
        options.demoUsers = {{kDemoEmail, QStringLiteral("demo")},
                             {QStringLiteral("other@vernalo.local"), QStringLiteral("other")}};
        m_server = std::make_unique<InProcessServer>(script, options);
        QString error;
        const bool started = m_server->start(&error);
        if (!started)
            qWarning("server did not start: %s", qPrintable(error));
        m_settings = std::make_unique<SecureSettings>(
            m_dir.filePath(QStringLiteral("profile-%1.conf").arg(++m_profiles)));
        m_settings->setValue(QLatin1String(AuthManager::kAuthURLKey),
                             m_server->baseUrl().toString());
        m_config = STTConfiguration::defaults();
        m_config.baseURL = m_server->baseUrl().toString();
        m_config.apiKey = buildinfo::defaultSharedAPIKey();
        m_api = std::make_unique<STTAPIClient>(&m_network, &m_clientClock);
        return started;
    }

    // Signs in with the client's auth session and hands its token to the REST configuration, as
    // the main window does for the recording controller.
    bool signIn(const QString &email = kDemoEmail, const QString &password = "demo")
    {
        m_auth =
            std::make_unique<AuthManager>(m_settings.get(), &m_network, &m_desktop, &m_clientClock);
        if (!waitUntil([this] { return !m_auth->isChecking(); }) ||
            !QCoro::waitFor(m_auth->login(email, password, false)))
            return false;
        const QString token = m_auth->currentBackendSessionToken().value_or(QString()).trimmed();
        m_config.authToken = token;
        return !token.isEmpty();
    }

    // The outcome of a client call; an error is logged, so a failed QVERIFY on the value says why.
    template<typename T> std::shared_ptr<TaskOutcome<T>> finish(QCoro::Task<T> task)
    {
        auto outcome = runCaptured(std::move(task));
        waitUntil([&outcome] { return outcome->done; }, 20000);
        if (!outcome->done || outcome->error)
            qWarning("call ended with: %s",
                     outcome->done ? qPrintable(outcome->error->localizedDescription()) : "");
        return outcome;
    }

    // Creates a session and opens its live stream.
    std::optional<STTSessionCreateResponse> startSession()
    {
        const STTSessionCreateRequest request {QStringLiteral("en-US"), true,
                                               QStringLiteral("chirp_3"), false, 0};
        const auto created = finish(m_api->createSession(m_config, request))->value;
        m_events.clear();
        m_stream = std::make_unique<WebSocketStreamClient>(&m_streamClock);
        if (created)
            m_stream->open(created->wsUrl, QStringLiteral("en-US"), QStringLiteral("chirp_3"),
                           [this](const StreamEvent &event) { m_events.append(event); });
        return created && waitUntil([this] { return m_stream->isStartConfirmed(); }) ? created
                                                                                     : std::nullopt;
    }

    qint64 atServer(const QString &sessionId, qint64 server::SessionRecord::*field) const
    {
        const auto session = m_server->server().registry().find(sessionId);
        return session ? (*session).*field : -1;
    }

    // Hands each chunk to the stream as capture would and lets the server take it in, and the
    // client hear every final it made of it, before the next, with 100 ms of server time per
    // chunk, so the server dates finals by their audio.
    bool sendChunks(const QString &sessionId, const QList<QByteArray> &chunks)
    {
        for (const QByteArray &chunk : chunks) {
            const qint64 before = atServer(sessionId, &server::SessionRecord::audioFrameCount);
            m_stream->sendAudio(chunk);
            if (!waitUntil([&] {
                    return atServer(sessionId, &server::SessionRecord::audioFrameCount) > before &&
                        finals().size() == atServer(sessionId, &server::SessionRecord::finalCount);
                }))
                return false;
            m_server->clock().advance(100ms);
        }
        return true;
    }
    bool heard(int count)
    {
        return waitUntil([&] { return texts("final").size() == count; });
    }

    QList<StreamEvent::Final> finals() const
    {
        QList<StreamEvent::Final> out;
        for (const StreamEvent &event : m_events) {
            if (const auto *final = event.final())
                out.append(*final);
        }
        return out;
    }
    // The texts of the finals, partials or states of the stream's events, in order.
    QStringList texts(const char *kind) const
    {
        QStringList out;
        for (const StreamEvent &event : m_events) {
            if (event.final() && !qstrcmp(kind, "final"))
                out << event.final()->text;
            else if (event.partial() && !qstrcmp(kind, "partial"))
                out << event.partial()->text;
            else if (event.status() && !qstrcmp(kind, "status"))
                out << event.status()->state;
        }
        return out;
    }

    QStringList listedIds(std::optional<QString> status)
    {
        QStringList ids;
        for (const SessionMetaResponse &item : finish(m_api->listSessions(m_config, status, 100))
                                                   ->value.value_or(QList<SessionMetaResponse>()))
            ids << item.id.value_or(QString());
        return ids;
    }

private Q_SLOTS:
    void cleanup()
    {
        m_stream.reset();
        m_auth.reset();
        m_api.reset();
        m_settings.reset();
        m_server.reset();
    }

    // One recording as the client runs it: sign in, create the session, stream, read the live
    // events and the polled transcript, stop, make the memo, list and delete.
    void recordingRoundTrip()
    {
        // Loud for 3 s, silent for 2 s, loud for 2 s: quiet long enough for the server to say
        // that it waits for audio, then loud again.
        const QList<QByteArray> chunks = speechChunks(3000) +
            QList<QByteArray>(20, QByteArray(pcm::kChunkBytes, '\0')) + speechChunks(2000);
        const QStringList statuses {"listening", "waiting-for-audio", "listening"};
        QVERIFY(startServer(kScript) && signIn());
        const auto created = startSession();
        QVERIFY(created);
        const QString id = created->sessionId;
        QVERIFY(created->wsUrl.contains(created->token)); // the stream's only credential
        QVERIFY(sendChunks(id, chunks));
        QVERIFY(waitUntil([&] { return texts("status").size() >= statuses.size(); }));
        QCOMPARE(texts("final"), kFinals);
        QCOMPARE(finals().at(0).speakerLabel, std::optional<QString>(QStringLiteral("Anna")));
        QCOMPARE(finals().at(1).speakerLabel, std::optional<QString>(QStringLiteral("Ben")));
        QCOMPARE(texts("partial"), (QStringList {"the budget", "next meeting"}));
        QCOMPARE(texts("status"), statuses);

        // The stream's finals and the polled transcript are the same sentences in the same
        // seconds: the client's de-duplicating merge adds nothing.
        TranscriptAssembly assembly;
        for (const auto &final : finals())
            QVERIFY(assembly.appendStreamFinal(final.text, final.timestamp, final.speakerLabel));
        const auto transcript = finish(m_api->getTranscript(m_config, id))->value;
        QVERIFY(transcript);
        QCOMPARE(transcript->sessionId, id);
        QList<PolledSegment> polled;
        for (const auto &segment : transcript->segments)
            polled.append({segment.text, segment.ts, segment.speakerLabel});
        QCOMPARE(polled.size(), kFinals.size());
        QCOMPARE(assembly.mergePolled(polled, m_clientClock.now()), 0);

        // The counters the client's audio health rules read.
        double levelSum = 0.0;
        double peak = 0.0;
        for (const QByteArray &chunk : chunks) {
            levelSum += estimatePCM16Level(chunk);
            peak = std::max(peak, estimatePCM16Level(chunk));
        }
        const auto meta = finish(m_api->getSessionMeta(m_config, id))->value;
        QVERIFY(meta && meta->avgAudioLevel && meta->peakAudioLevel);
        QCOMPARE(meta->status, std::optional<QString>(QStringLiteral("active")));
        QCOMPARE(meta->audioFrameCount, std::optional<qint64>(chunks.size()));
        QCOMPARE(meta->audioBytes, std::optional<qint64>(chunks.size() * pcm::kChunkBytes));
        QVERIFY(qAbs(*meta->avgAudioLevel - levelSum / chunks.size()) < 1e-9);
        QVERIFY(qAbs(*meta->peakAudioLevel - peak) < 1e-9);
        QCOMPARE(meta->finalCount, std::optional<qint64>(kFinals.size()));
        QCOMPARE(meta->interimCount, std::optional<qint64>(2));
        QVERIFY(!isTerminalSessionStatus(meta->status, meta->endedAt));

        // The stop as the recording controller makes it: stop message, close, backend stop.
        m_stream->sendStop();
        m_stream->close();
        QVERIFY(finish(m_api->stopSession(m_config, id))->value);

        // The memo: generation with the client's own transcript along, then the document, saved
        // to a file as the client saves it.
        QList<SummaryGenerateRequest::Segment> fallback;
        for (const TranscriptSegment &segment : assembly.segments())
            fallback.append({segment.text, toIso8601(segment.timestamp), segment.speakerLabel});
        const auto summary = finish(m_api->generateSummary(m_config, id, fallback))->value;
        QVERIFY(summary && summary->sessionId == id);
        const auto docx = finish(m_api->downloadSummaryDocx(m_config, id))->value;
        QVERIFY(docx);
        const QString path = m_dir.filePath(id + QStringLiteral("-muistio.docx"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(*docx) == docx->size());
        file.close();
        const auto memo = ZipContents::read(path);
        QVERIFY2(memo && memo->entry("word/document.xml"), "no word/document.xml in the memo");
        for (const QString &text : kFinals)
            QVERIFY2(memo->entry("word/document.xml")->contains(text.toUtf8()), qPrintable(text));

        QVERIFY(listedIds(QStringLiteral("stopped")).contains(id));
        QVERIFY(!listedIds(QStringLiteral("active")).contains(id));
        QVERIFY(finish(m_api->deleteSession(m_config, id))->value);
        QVERIFY(!listedIds(std::nullopt).contains(id));
    }

    // A session the server ends, with its "stopped" status and a normal close, ends the stream;
    // a server that goes away mid-recording is reconnected to, and the recording goes on where
    // it was.
    void streamEndsAsTheServerSays_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("backend stop") << "stop";
        QTest::newRow("session deleted") << "delete";
        QTest::newRow("server restarted") << "restart";
    }
    void streamEndsAsTheServerSays()
    {
        QFETCH(QString, action);
        QVERIFY(startServer(QStringLiteral("1 [Anna] before the break\n3 after the break\n")));
        QVERIFY(signIn());
        const auto created = startSession();
        QVERIFY(created);
        const QString id = created->sessionId;
        const QList<QByteArray> chunks = speechChunks(4000);
        QVERIFY(sendChunks(id, chunks.mid(0, 20)) && heard(1));
        QCOMPARE(m_streamClock.activeTimerCount(), 1); // the open socket's ping

        QString error;
        if (action == u"restart")
            QVERIFY2(m_server->restart(&error), qPrintable(error));
        else if (action == u"stop")
            QVERIFY(finish(m_api->stopSession(m_config, id))->value);
        else
            QVERIFY(finish(m_api->deleteSession(m_config, id))->value);

        if (action != u"restart") {
            // The socket's ping timer goes and no reconnect timer takes its place.
            QVERIFY(waitUntil([this] { return m_streamClock.activeTimerCount() == 0; }));
            QCOMPARE(texts("status").constLast(), QStringLiteral("stopped"));
            m_streamClock.advance(30s);
            QVERIFY(!texts("status").contains(QStringLiteral("reconnecting")));
            QCOMPARE(m_stream->reconnectAttempts(), 0);
            QCOMPARE(m_server->server().registry().liveStreamCount(), 0);
            const auto transcript = finish(m_api->getTranscript(m_config, id));
            QCOMPARE(transcript->error.has_value(), action == u"delete");
            QVERIFY(action == u"delete" || transcript->value->segments.size() == 1);
            return;
        }

        QVERIFY(waitUntil([this] { return m_stream->isReconnecting(); }));
        QCOMPARE(texts("status").constLast(), QStringLiteral("reconnecting"));
        QVERIFY(!texts("status").contains(QStringLiteral("stopped")));
        m_streamClock.advance(400ms);
        QVERIFY(waitUntil([this] { return m_stream->isStartConfirmed(); }));
        QCOMPARE(m_stream->reconnectAttempts(), 0);
        QVERIFY(sendChunks(id, chunks.mid(20)) && heard(2));
        QCOMPARE(texts("final"), (QStringList {"before the break", "after the break"}));
        const auto transcript = finish(m_api->getTranscript(m_config, id))->value;
        QVERIFY(transcript && transcript->segments.size() == 2);
        QCOMPARE(transcript->segments.at(1).text, QStringLiteral("after the break"));
        QCOMPARE(atServer(id, &server::SessionRecord::audioFrameCount), qint64(chunks.size()));
    }

    // Some servers ignore binary frames: a stream that hears nothing by its 50th chunk sends
    // that chunk and the rest as Base64 JSON, which the reference server hears as well; text
    // before then keeps the binary frames.
    void framingFollowsTheTranscript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("earlyFinals"); // heard by the 20th chunk
        QTest::addColumn<bool>("base64");
        // The server hears the second final only with the 50th or 60th chunk itself.
        QTest::newRow("text before the 50th chunk") << "1 early\n5.95 later\n" << 1 << false;
        QTest::newRow("first text with the 50th chunk") << "4.95 finally\n5.95 more\n" << 0 << true;
    }
    void framingFollowsTheTranscript()
    {
        QFETCH(QString, script);
        QFETCH(int, earlyFinals);
        QFETCH(bool, base64);
        QVERIFY(startServer(script));
        const auto created = startSession();
        QVERIFY(created);
        const QList<QByteArray> chunks = speechChunks(6000);
        QVERIFY(sendChunks(created->sessionId, chunks.mid(0, 20)) && heard(earlyFinals));
        QVERIFY(sendChunks(created->sessionId, chunks.mid(20, 30)) && heard(1));
        QCOMPARE(m_stream->isBase64Framing(), base64);
        QVERIFY(sendChunks(created->sessionId, chunks.mid(50)) && heard(2));
        QCOMPARE(m_stream->isBase64Framing(), base64);
        QCOMPARE(atServer(created->sessionId, &server::SessionRecord::audioBytes),
                 qint64(chunks.size() * pcm::kChunkBytes));
    }

    // The server's own error texts reach the caller unchanged, as the user will read them.
    void failuresReachTheCallerWordForWord_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("expected"); // %1: the session's ID
        QTest::newRow("wrong API key") << "list-wrong-key"
                                       << "Virheellinen tai puuttuva API-avain";
        QTest::newRow("stale sign-in token") << "list-stale-token"
                                             << "Kirjautuminen on vanhentunut. Kirjaudu uudelleen.";
        QTest::newRow("another user's session") << "transcript-other-user"
                                                << "Sessiota ei löydy: %1";
        QTest::newRow("memo of a session without text")
            << "summary-empty"
            << "Litteraatti on tyhjä, muistiota ei voi muodostaa";
        QTest::newRow("session request the server refuses")
            << "create-too-many-speakers"
            << "Virheellinen sessiopyyntö: speakerCount must be between 0 and 32";
    }
    void failuresReachTheCallerWordForWord()
    {
        QFETCH(QString, call);
        QFETCH(QString, expected);
        QVERIFY(startServer(kScript) && signIn());
        const STTSessionCreateRequest request {QStringLiteral("fi-FI"), true,
                                               QStringLiteral("chirp_3"), true, 99};
        const auto created = startSession();
        QVERIFY(created);
        const QString id = created->sessionId;
        if (call == u"list-wrong-key")
            m_config.apiKey = QStringLiteral("väärä-avain");
        if (call == u"list-stale-token")
            m_config.authToken = QStringLiteral("vanhentunut");
        if (call == u"transcript-other-user")
            QVERIFY(signIn(QStringLiteral("other@vernalo.local"), QStringLiteral("other")));

        const auto error = call.startsWith(u"list")
            ? finish(m_api->listSessions(m_config, std::nullopt, 10))->error
            : call.startsWith(u"transcript") ? finish(m_api->getTranscript(m_config, id))->error
            : call.startsWith(u"summary") ? finish(m_api->generateSummary(m_config, id, {}))->error
                                          : finish(m_api->createSession(m_config, request))->error;
        QVERIFY(error);
        QCOMPARE(error->kind(), APIClientError::Kind::serverError);
        QCOMPARE(error->localizedDescription(),
                 QString(expected).replace(QStringLiteral("%1"), id));
    }

    // The update check reads the manifest the server publishes.
    void updateCheck_data()
    {
        QTest::addColumn<QString>("runningVersion"); // empty: this build's version
        QTest::addColumn<QByteArray>("manifestFile"); // empty: the server's generated manifest
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("opened"); // empty: nothing opened
        using Outcome = UpdateCheckResult::Outcome;
        QTest::newRow("this build")
            << QString() << QByteArray() << int(Outcome::upToDate) << QString();
        QTest::newRow("older build, no download page")
            << "0.0.1" << QByteArray() << int(Outcome::updateAvailable) << QString();
        QTest::newRow("newer release with a download page")
            << QString()
            << R"({"version":"999.1","downloadURL":"https://example.invalid/vernalo.deb"})"_qba
            << int(Outcome::updateAvailable) << "https://example.invalid/vernalo.deb";
    }
    void updateCheck()
    {
        QFETCH(QString, runningVersion);
        QFETCH(QByteArray, manifestFile);
        QFETCH(int, outcome);
        QFETCH(QString, opened);
        server::ServerOptions options;
        QTemporaryFile manifest;
        if (!manifestFile.isEmpty()) {
            QVERIFY(manifest.open() && manifest.write(manifestFile) == manifestFile.size());
            manifest.close();
            options.updateManifestFile = manifest.fileName();
        }
        QVERIFY(startServer(kScript, options));
        m_desktop.openedUrls.clear();
        UpdateChecker checker(m_api.get(), &m_desktop,
                              runningVersion.isEmpty() ? buildinfo::version() : runningVersion);
        const UpdateCheckResult result = QCoro::waitFor(
            checker.check(m_server->baseUrl().toString() + "/vernalo/latest-linux.json"));
        QCOMPARE(int(result.outcome), outcome);
        QVERIFY(result.manifest);
        QCOMPARE(m_desktop.openedUrls, opened.isEmpty() ? QList<QUrl>() : QList {QUrl(opened)});
    }
};

VERNALO_TEST_MAIN(ClientAgainstServerTest)
#include "test_client_against_server.moc"
