#include "frmpadcom.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(frmPADCOM::kAppTitle);
    frmPADCOM window;
    window.show();
    return QApplication::exec();
}
