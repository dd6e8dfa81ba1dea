#pragma once

#include "ports/desktop_services.h"

#include <coroutine>
#include <QHash>
#include <QObject>
#include <QVariantMap>

namespace vernalo {

// DesktopServices for the Qt Quick application. Modal questions cannot block a QML scene, so
// each prompt, confirmation, message and save dialog is published as a request with an id that
// the QML dialog host shows; the host answers with respond(), which resumes the waiting task.
class QtDesktopServices : public QObject, public DesktopServices
{
    Q_OBJECT
public:
    explicit QtDesktopServices(QObject *parent = nullptr);

    QCoro::Task<std::optional<QString>> promptText(TextPromptRequest request) override;
    QCoro::Task<bool> confirm(ConfirmRequest request) override;
    QCoro::Task<> showMessage(QString title, QString message) override;
    QCoro::Task<std::optional<QString>> chooseSaveFile(SaveDialogRequest request) override;

    std::optional<QString> clipboardText() override;
    void setClipboardText(const QString &text) override;
    bool openUrl(const QUrl &url) override;
    bool revealInFolder(const QString &path) override;
    bool openSoundSettings() override;
    void bringToFront() override;
    std::optional<QString> relaunch() override;

    // Called by the dialog host. `value` is the entered text or the chosen file URL/path.
    Q_INVOKABLE void respond(int requestId, bool accepted, const QString &value = {});
    int pendingRequestCount() const { return m_pending; }

Q_SIGNALS:
    // kind: "prompt", "confirm", "message" or "save"; fields depend on the kind.
    void dialogRequested(int requestId, const QString &kind, const QVariantMap &fields);
    void answered(int requestId, bool accepted, const QString &value);
    void frontRequested();

private:
    struct Answer
    {
        bool accepted = false;
        QString value;
    };
    // Resumed straight from respond(): a queued signal listener per question outlived its
    // question and resumed a finished coroutine once a second dialog followed a first.
    struct AnswerAwaiter
    {
        QtDesktopServices *services;
        int id;
        bool await_ready() const { return services->m_answers.contains(id); }
        void await_suspend(std::coroutine_handle<> waiting)
        {
            services->m_waiting.insert(id, waiting);
        }
        Answer await_resume() { return services->m_answers.take(id); }
    };
    QCoro::Task<Answer> ask(QString kind, QVariantMap fields);

    int m_nextId = 1;
    int m_pending = 0;
    QHash<int, Answer> m_answers;
    QHash<int, std::coroutine_handle<>> m_waiting;
};

} // namespace vernalo
