#pragma once

#include <QLineEdit>

#include <optional>

// A count the received bytes change many times a second ("Nack", "Erro"). The count is
// current at once for the handler that reads and raises it; the box takes it, and is drawn,
// at the next refresh, together with the logs (framepacer.h): a line edit lays its text out
// anew at every change, which cost more than the rest of a received byte's handling.
class CountBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit CountBox(const QString &text, QWidget *parent = nullptr);

    // The count: what the box shows, or what it shows at the next refresh.
    QString count() const { return m_pending.value_or(text()); }
    void setCount(const QString &count);

protected:
    bool event(QEvent *event) override;

private:
    void showCount();

    std::optional<QString> m_pending;
    bool m_showing = false;
};
