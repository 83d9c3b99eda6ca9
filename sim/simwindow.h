#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class VirtualKeyboard;

// The virtual keyboard's window: its display drawn as a character LCD, the frame counts,
// the last frames in hex, and a box whose keys go to the line.
class SimWindow : public QWidget
{
    Q_OBJECT

public:
    SimWindow(VirtualKeyboard &keyboard, const QString &portText, QWidget *parent = nullptr);

signals:
    void keys(const QByteArray &bytes);

private:
    void refresh();

    VirtualKeyboard &m_keyboard;
    QWidget *m_lcd = nullptr;
    QLabel *m_counts = nullptr;
    QPlainTextEdit *m_frames = nullptr;
    QLineEdit *m_keys = nullptr;
};
