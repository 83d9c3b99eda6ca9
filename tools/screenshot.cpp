// Renders the README's screenshots from the real widgets: PADCOM with the port frame, PADCOM
// opened on a port, and the virtual keyboard's window.
//   screenshot <output dir> [port number]

#include "app/frmpadcom.h"
#include "sim/announcement.h"
#include "sim/device.h"
#include "sim/simwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

namespace {

bool save(QWidget &w, const QString &path)
{
    QTest::qWait(200);
    const bool ok = w.grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << Qt::endl;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(frmPADCOM::kAppTitle);
    const QStringList args = QApplication::arguments();
    const QDir out(args.value(1, QStringLiteral(".")));
    bool ok = true;

    frmPADCOM window;
    window.show();
    ok &= save(window, out.filePath(QStringLiteral("padcom-closed.png")));

    if (args.size() > 2) {
        window.findChild<QLineEdit *>(QStringLiteral("Text5"))->setText(args[2]);
        window.CMDInicializar_Click();
        window.Command3_Click();
        QTest::qWait(300);
        // A wrong length too, so that the logs show a refusal beside the acknowledgement.
        auto *wrong = window.findChild<QCheckBox *>(QStringLiteral("Check1"));
        wrong->setChecked(true);
        window.Command3_Click();
        QTest::qWait(800);
        wrong->setChecked(false);
        ok &= save(window, out.filePath(QStringLiteral("padcom-open.png")));
    }

    VirtualKeyboard keyboard;
    keyboard.receive(QByteArray::fromHex("a001a527") + " TEXTE DO DISPLAY TECLADO RM 62 VORLAN "
                     + QByteArray::fromHex("a0c0a50c") + "Teclado 0123");
    SimWindow sim(keyboard, announcement::text(QStringLiteral("1")));
    sim.show();
    ok &= save(sim, out.filePath(QStringLiteral("padsim.png")));
    return ok ? 0 : 1;
}
