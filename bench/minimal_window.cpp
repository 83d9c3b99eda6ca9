// The smallest Qt Widgets program with a window of PADCOM's size: what a cold start of the
// toolkit itself costs on this display, beside which PADCOM's own start is measured.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Teclado Vorlan"));
    window.resize(507, 381);
    window.show();
    return app.exec();
}
