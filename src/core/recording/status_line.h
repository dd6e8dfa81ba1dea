#pragma once

#include <QObject>
#include <QString>

namespace vernalo {

// The one-line status and the longer hint under it. Every topic of the recording controller
// writes them; the controller publishes them.
class StatusLine : public QObject
{
    Q_OBJECT
public:
    explicit StatusLine(QString text, QObject *parent = nullptr);

    QString text() const { return m_text; }
    QString hint() const { return m_hint; }
    void setText(const QString &text);
    void setHint(const QString &hint);

Q_SIGNALS:
    void textChanged();
    void hintChanged();

private:
    QString m_text;
    QString m_hint;
};

} // namespace vernalo
