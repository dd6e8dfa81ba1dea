// The session list of the controller: what it shows at start-up, loading a stored session back
// into the transcript, and the selection when sessions disappear.
#include "support/controller_harness.h"
#include "support/test_environment.h"

#include <QFile>
#include <QtTest>

using namespace vernalo;
using namespace vernalo::test;

namespace {

SavedSession storedSession(const QString &id, int endHour, const QStringList &texts)
{
    SavedSession session;
    session.id = id;
    session.createdAt = QDateTime(QDate(2026, 2, 20), QTime(endHour - 1, 0), Qt::UTC);
    session.endedAt = QDateTime(QDate(2026, 2, 20), QTime(endHour, 15), Qt::UTC);
    session.language = QStringLiteral("sv-SE");
    session.sttModel = QStringLiteral("long");
    for (int i = 0; i < texts.size(); ++i)
        session.segments.append({QUuid::createUuid(), texts[i],
                                 session.createdAt.addSecs(10 * (texts.size() - i)),
                                 i == 0 ? std::optional<QString>("S1") : std::nullopt});
    return session;
}

} // namespace

class ViewModelHistoryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ControllerHarness> h;
    TranscriptionViewModel *vm = nullptr;

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<ControllerHarness>();
        QVERIFY(h->start());
        QVERIFY(!h->history->save(storedSession("morning", 10, {"Aamun asia."})));
        QVERIFY(!h->history->save(storedSession("noon", 12, {"Toinen.", "Ensin tämä."})));
        vm = h->build();
    }
    void cleanup() { h.reset(); }

    void listIsNewestFirst()
    {
        SessionHistoryModel *model = vm->history()->model();
        QCOMPARE(model->count(), 2);
        QCOMPARE(model->data(model->index(0), SessionHistoryModel::SessionIdRole).toString(),
                 QStringLiteral("noon"));
        QCOMPARE(model->data(model->index(0), SessionHistoryModel::SegmentCountRole).toInt(), 2);
        QCOMPARE(model->data(model->index(1), SessionHistoryModel::EndedAtLabelRole).toString(),
                 QStringLiteral("20.02.2026 10:15"));
    }

    void loadingPutsTheSessionOnScreen()
    {
        vm->loadSession(QStringLiteral("noon"));
        QCOMPARE(vm->history()->selectedSessionHistoryId(), QStringLiteral("noon"));
        QCOMPARE(vm->sessionId(), QStringLiteral("noon"));
        QCOMPARE(vm->settings()->language(), QStringLiteral("sv-SE"));
        QCOMPARE(vm->settings()->sttModel(), QStringLiteral("long"));
        QCOMPARE(vm->statusText(), QStringLiteral("Sessio ladattu"));
        // Shown in time order, whatever order the file had.
        QCOMPARE(vm->segments().first().text, QStringLiteral("Ensin tämä."));
        QCOMPARE(vm->segmentModel()->wordCount(), 3);
        QVERIFY(vm->canSave());
        QCOMPARE(vm->transcriptText().count(QLatin1Char('\n')), 1);
    }

    void loadingSomethingMissingChangesNothing_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("unknown") << "elsewhere";
        QTest::newRow("empty") << "";
    }
    void loadingSomethingMissingChangesNothing()
    {
        QFETCH(QString, id);
        vm->loadSession(QStringLiteral("morning"));
        vm->loadSession(id);
        QCOMPARE(vm->sessionId(), QStringLiteral("morning"));
        QCOMPARE(vm->segments().size(), 1);
    }

    void loadingWaitsWhileARecordingRuns()
    {
        h->expectSession(QStringLiteral("rec-1"));
        QVERIFY(h->startLive());
        vm->loadSession(QStringLiteral("noon"));
        QCOMPARE(vm->sessionId(), QStringLiteral("rec-1"));
        QVERIFY(vm->segments().isEmpty());
        QVERIFY(vm->history()->selectedSessionHistoryId().isEmpty());
    }

    void selectionIsDroppedWhenItsFileGoes()
    {
        vm->loadSession(QStringLiteral("morning"));
        QVERIFY(QFile::remove(h->history->filePath(QStringLiteral("morning"))));
        vm->refreshSessionHistory();
        QCOMPARE(vm->history()->model()->count(), 1);
        QCOMPARE(vm->history()->selectedSessionHistoryId(), QString());
    }
};

VERNALO_TEST_MAIN(ViewModelHistoryTest)
#include "test_view_model_history.moc"
