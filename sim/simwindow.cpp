#include "simwindow.h"

#include "device.h"
#include "text/win1252.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

// Two rows of 40 cells, dark characters on a green glass, the cursor as an underline.
class LcdView : public QWidget
{
public:
    explicit LcdView(const LcdDevice &device, QWidget *parent)
        : QWidget(parent)
        , m_device(device)
    {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(18);
        font.setBold(true);
        setFont(font);
        setFixedSize(sizeHint());
    }

    QSize sizeHint() const override
    {
        return {kMargin * 2 + LcdDevice::kColumns * kCellW, kMargin * 2 + 2 * kCellH + kGap};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x30, 0x3a, 0x20));
        p.fillRect(rect().adjusted(4, 4, -4, -4), QColor(0x9a, 0xc8, 0x3c));
        for (int row = 0; row < 2; ++row) {
            const QByteArray line = m_device.line(row);
            for (int col = 0; col < LcdDevice::kColumns; ++col) {
                const QRect cell(kMargin + col * kCellW, kMargin + row * (kCellH + kGap),
                                 kCellW - 1, kCellH);
                p.fillRect(cell, QColor(0x8c, 0xba, 0x32));
                const QChar c = win1252::controlPicture(win1252::toUnicode(uchar(line[col])));
                p.setPen(QColor(0x12, 0x1c, 0x08));
                p.drawText(cell, Qt::AlignCenter, QString(c));
                const uchar address = uchar(row == 0 ? col : LcdDevice::kLine2 + col);
                if (address == m_device.cursor())
                    p.fillRect(cell.left(), cell.bottom() - 2, cell.width(), 3,
                               QColor(0x12, 0x1c, 0x08));
            }
        }
    }

private:
    static constexpr int kCellW = 13;
    static constexpr int kCellH = 24;
    static constexpr int kGap = 6;
    static constexpr int kMargin = 12;
    const LcdDevice &m_device;
};

} // namespace

SimWindow::SimWindow(VirtualKeyboard &keyboard, const QString &portText, QWidget *parent)
    : QWidget(parent)
    , m_keyboard(keyboard)
{
    setWindowTitle(tr("Teclado virtual — %1").arg(portText));
    auto *layout = new QVBoxLayout(this);
    auto *port = new QLabel(portText, this);
    port->setObjectName(QStringLiteral("port"));
    m_lcd = new LcdView(keyboard.device(), this);
    m_lcd->setObjectName(QStringLiteral("lcd"));
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("counts"));
    m_frames = new QPlainTextEdit(this);
    m_frames->setObjectName(QStringLiteral("frames"));
    m_frames->setReadOnly(true);
    m_frames->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_frames->setMinimumHeight(150);
    m_keys = new QLineEdit(this);
    m_keys->setObjectName(QStringLiteral("keys"));
    m_keys->setPlaceholderText(tr("Digite aqui: cada tecla vai para a linha"));

    layout->addWidget(port);
    layout->addWidget(m_lcd);
    layout->addWidget(m_counts);
    layout->addWidget(new QLabel(tr("Últimos quadros:"), this));
    layout->addWidget(m_frames);
    layout->addWidget(new QLabel(tr("Teclas:"), this));
    layout->addWidget(m_keys);

    // Every character typed goes out at once, as a key press would.
    connect(m_keys, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (text.isEmpty())
            return;
        emit keys(win1252::encode(text));
        m_keys->clear();
    });
    connect(&m_keyboard, &VirtualKeyboard::changed, this, &SimWindow::refresh);
    refresh();
}

void SimWindow::refresh()
{
    const LcdDevice &d = m_keyboard.device();
    const QString faults = m_keyboard.faults().summary();
    m_counts->setText(tr("Quadros aceitos: %1    Quadros recusados: %2")
                          .arg(d.acceptedCount())
                          .arg(d.refusedCount())
                      + (faults.isEmpty() ? QString() : tr("    Falhas: %1").arg(faults)));
    QStringList lines;
    for (const LcdDevice::Frame &f : d.history())
        lines << (f.accepted ? QStringLiteral("06  ") : QStringLiteral("15  "))
                     + QString::fromLatin1(f.bytes.toHex(' ').toUpper());
    m_frames->setPlainText(lines.join(u'\n'));
    m_frames->moveCursor(QTextCursor::End);
    m_lcd->update();
}
