#include "frmpadcom.h"

#include "serial/portmap.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    ports::useRuntimeDirectory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(frmPADCOM::kAppTitle);
    frmPADCOM window;
    window.show();
    return QApplication::exec();
}
