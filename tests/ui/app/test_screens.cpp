#include "app_context.h"
#include "auth/auth_manager.h"
#include "server_test_support.h"
#include "support/fake_audio_system.h"
#include "support/test_environment.h"
#include "user_store.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(VernaloPlugin)

using namespace vernalo;
using namespace vernalo::test;

namespace {
const QString kUserEmail = QStringLiteral("user@vernalo.local");
const QString kAdminEmail = QStringLiteral("admin@vernalo.local");
const QString kPassword = QStringLiteral("secret-pass");
} // namespace

// The application's own QML over its own core objects: the root switch, sign-in, the main
// window's gates and that every control can be named by assistive technology.
class ScreensTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<InProcessServer> m_server;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    // Every screen the root switch showed, in order.
    QStringList m_shown;

    void openApp()
    {
        m_engine.reset();
        m_context.reset();
        m_shown.clear();
        const QString url = m_server->baseUrl().toString();
        m_context = std::make_unique<AppContext>(BackendOverride {url, url},
                                                 std::make_unique<FakeAudioSystem>());
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_context->exposeTo(m_engine.get());
        m_engine->load(AppContext::mainScreenUrl());
        QVERIFY(!m_engine->rootObjects().isEmpty());
        QObject *loader = find("rootLoader");
        QVERIFY(loader);
        recordScreen();
        connect(loader, SIGNAL(itemChanged()), this, SLOT(recordScreen()));
    }

    QObject *find(const char *name) const
    {
        QObject *root = m_engine->rootObjects().first();
        return root->objectName() == QLatin1String(name)
            ? root
            : root->findChild<QObject *>(QLatin1String(name));
    }

    QString screen() const { return m_shown.isEmpty() ? QString() : m_shown.last(); }

    void signIn(const QString &email, const QString &password, bool remember = false)
    {
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("loginView"), 10000);
        find("emailField")->setProperty("text", email);
        find("passwordField")->setProperty("text", password);
        find("rememberBox")->setProperty("checked", remember);
        QMetaObject::invokeMethod(find("loginButton"), "clicked");
    }

    // Visible interactive controls under the item that lack an accessible name or an object
    // name (the handle tests and scripts reach them by).
    static void collectUnnamed(QQuickItem *item, QStringList *unnamed)
    {
        if (!item->isVisible())
            return;
        const QAccessible::Role role = QAccessible::queryAccessibleInterface(item)
            ? QAccessible::queryAccessibleInterface(item)->role()
            : QAccessible::NoRole;
        static const QList<QAccessible::Role> interactive = {
            QAccessible::Button,   QAccessible::CheckBox,     QAccessible::RadioButton,
            QAccessible::ComboBox, QAccessible::EditableText, QAccessible::Slider,
            QAccessible::Link};
        if (interactive.contains(role) &&
            (QAccessible::queryAccessibleInterface(item)->text(QAccessible::Name).isEmpty() ||
             item->objectName().isEmpty()))
            unnamed->append(
                QStringLiteral("%1 (%2)").arg(item->objectName(), item->metaObject()->className()));
        for (QQuickItem *child : item->childItems())
            collectUnnamed(child, unnamed);
    }

public Q_SLOTS:
    void recordScreen()
    {
        if (auto *item = find("rootLoader")->property("item").value<QObject *>())
            m_shown.append(item->objectName());
    }

private Q_SLOTS:
    void initTestCase()
    {
        server::ServerOptions options;
        options.demoUsers = {{kUserEmail, kPassword}, {kAdminEmail, kPassword}};
        m_server = std::make_unique<InProcessServer>(QString(), options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        auto admin = m_server->server().users().findByEmail(kAdminEmail);
        QVERIFY(admin);
        QVERIFY(m_server->server().users().setRole(admin->id, QStringLiteral("admin")));
    }

    void cleanup()
    {
        m_engine.reset();
        m_context.reset();
        qunsetenv("VERNALO_INAPP_ADMIN_ENABLED");
    }

    void wrongPasswordShowsTheServersErrorAndStaysSignedOut()
    {
        openApp();
        signIn(kUserEmail, QStringLiteral("not-the-password"));
        QObject *error = find("loginError");
        QTRY_VERIFY_WITH_TIMEOUT(!error->property("text").toString().isEmpty(), 10000);
        QVERIFY(error->property("visible").toBool());
        QCOMPARE(screen(), QStringLiteral("loginView"));
    }

    void signOutReturnsToSignInAtOnce()
    {
        openApp();
        signIn(kUserEmail, kPassword);
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QCOMPARE(find("signedInEmail")->property("text").toString(), kUserEmail);
        QMetaObject::invokeMethod(find("logoutButton"), "clicked");
        QCOMPARE(screen(), QStringLiteral("loginView"));
    }

    void rememberedTokenOpensTheMainWindowWithoutSignIn()
    {
        openApp();
        signIn(kUserEmail, kPassword, true);
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);

        openApp();
        QCOMPARE(m_shown.value(0), QStringLiteral("checkingView"));
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QVERIFY2(!m_shown.contains(QStringLiteral("loginView")), qPrintable(m_shown.join(' ')));
        QMetaObject::invokeMethod(find("logoutButton"), "clicked");
    }

    void adminPanelNeedsTheExactSwitchAndAnAdmin_data()
    {
        QTest::addColumn<QByteArray>("flag");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("shown");
        QTest::newRow("'true' is not on") << QByteArray("true") << kAdminEmail << false;
        QTest::newRow("on, plain user") << QByteArray("1") << kUserEmail << false;
        QTest::newRow("on, admin") << QByteArray("1") << kAdminEmail << true;
    }

    void adminPanelNeedsTheExactSwitchAndAnAdmin()
    {
        QFETCH(QByteArray, flag);
        QFETCH(QString, email);
        QFETCH(bool, shown);
        qputenv("VERNALO_INAPP_ADMIN_ENABLED", flag);
        openApp();
        signIn(email, kPassword);
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(find("adminCard")->property("visible").toBool(), shown, 10000);
        QMetaObject::invokeMethod(find("logoutButton"), "clicked");
    }

    // At 1280x800 the main column scrolls, every section can be brought into view and no
    // control sticks out past the right edge of the window.
    void mainWindowFitsEverySize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest") << QSize(1024, 700);
        QTest::newRow("laptop") << QSize(1280, 800);
        QTest::newRow("large") << QSize(2560, 1440);
    }

    // The control card stays whole on top, the transcript takes at least half the height beside
    // the side panel, and no button leaves the window.
    void mainWindowFitsEverySize()
    {
        QFETCH(QSize, size);
        qputenv("VERNALO_INAPP_ADMIN_ENABLED", "1");
        openApp();
        auto *window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        window->resize(size);
        signIn(kAdminEmail, kPassword);
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(find("adminCard")->property("visible").toBool(), 10000);
        for (const char *toggle : {"diagnosticsToggle", "connectionToggle"})
            QMetaObject::invokeMethod(find(toggle), "clicked");

        const auto sceneBox = [this](const char *name) {
            auto *item = qobject_cast<QQuickItem *>(find(name));
            return item ? item->mapRectToScene(item->boundingRect()) : QRectF();
        };
        QTRY_VERIFY(sceneBox("transcriptCard").height() >= 0.5 * size.height());
        const QRectF control = sceneBox("controlCard");
        const QRectF transcript = sceneBox("transcriptCard");
        const QRectF side = sceneBox("mainScroll");
        QVERIFY(QRectF(QPointF(0, 0), QSizeF(size)).contains(control.united(transcript)));
        QVERIFY(control.bottom() <= transcript.top());
        QVERIFY(transcript.right() <= side.left());

        auto *flick = find("mainScroll")->property("contentItem").value<QQuickItem *>();
        QVERIFY(flick);
        QTRY_VERIFY(flick->property("contentHeight").toDouble() > 0);
        for (const char *section : {"historyCard", "connectionCard", "diagnosticsCard"}) {
            QVariant found;
            QMetaObject::invokeMethod(find("mainView"), "scrollToSection",
                                      Q_RETURN_ARG(QVariant, found),
                                      Q_ARG(QVariant, QString::fromLatin1(section)));
            QVERIFY2(found.toBool(), section);
            auto *card = qobject_cast<QQuickItem *>(find(section));
            const QRectF inView = card->mapRectToItem(flick, card->boundingRect());
            QVERIFY2(inView.top() >= -0.5 && inView.top() < flick->height(), section);
        }

        // A picture makes every layout settle first.
        window->grabWindow();
        QStringList outside;
        const std::function<void(QQuickItem *)> walk = [&](QQuickItem *item) {
            if (!item->isVisible())
                return;
            if (item->inherits("QQuickAbstractButton")) {
                const QRectF box = item->mapRectToScene(item->boundingRect());
                if (box.right() > window->width() + 0.5)
                    outside.append(item->objectName());
            }
            for (QQuickItem *child : item->childItems())
                walk(child);
        };
        walk(window->contentItem());
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral(", "))));
        QMetaObject::invokeMethod(find("logoutButton"), "clicked");
    }

    void everyControlHasAnAccessibleName()
    {
        qputenv("VERNALO_INAPP_ADMIN_ENABLED", "1");
        openApp();
        auto *window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
        QVERIFY(window);
        QStringList unnamed;
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("loginView"), 10000);
        collectUnnamed(window->contentItem(), &unnamed);
        signIn(kAdminEmail, kPassword);
        QTRY_COMPARE_WITH_TIMEOUT(screen(), QStringLiteral("mainView"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(find("adminCard")->property("visible").toBool(), 10000);
        // The advanced sections start folded; their controls are named all the same.
        for (const char *toggle : {"diagnosticsToggle", "connectionToggle"}) {
            QObject *button = find(toggle);
            QVERIFY2(button, toggle);
            QMetaObject::invokeMethod(button, "clicked");
        }
        for (const char *section : {"exportDiagnosticsButton", "apiKeyFromClipboardButton"})
            QVERIFY2(qobject_cast<QQuickItem *>(find(section))->isVisible(), section);
        collectUnnamed(window->contentItem(), &unnamed);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
        QMetaObject::invokeMethod(find("logoutButton"), "clicked");
    }
};

int main(int argc, char *argv[])
{
    TestEnvironment::prepareProcess();
    QGuiApplication app(argc, argv);
    // Controls build their accessible interfaces only while something listens.
    QAccessible::setActive(true);
    ScreensTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_screens.moc"
