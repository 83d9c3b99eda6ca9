#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace sendloop {

// Fills an empty display text when the loop starts: 78 characters, two blanks in the middle.
inline const QString kTestText = QStringLiteral(
    "8-8-8= Teste 8-8-8= Teste 8-8-8= Teste  8-8-8= Teste 8-8-8= Teste 8-8-8= Teste");

inline constexpr int kMaxRate = 65535;

// A whole number of milliseconds, 0 to 65535; blanks around the digits are fine.
std::optional<int> parseRate(const QString &text);

// Bytes one tick writes: the cursor command and the text frame.
constexpr qsizetype tickBytes(qsizetype textLength)
{
    return 4 + textLength;
}

} // namespace sendloop

// A window timer with the classic semantics: ticks every Interval ms while Enabled, never
// with interval 0. Ticks are scheduled precisely and without drift.
class LoopTimer : public QObject
{
    Q_OBJECT

public:
    explicit LoopTimer(QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void setInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isTicking() const { return m_timer.isActive(); }

signals:
    void Timer();

private:
    void update();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = true;
};
