#include "portsetup.h"

#include "portmap.h"
#include "text/number.h"

#include <QCoreApplication>

namespace portsetup {

Outcome open(MSComm &comm, const QString &typedNumber)
{
    const auto number = numbers::parse(typedNumber, ports::kMaxPortNumber);
    const bool opened = comm.setSettings(kLineSettings) && comm.setInputLen(0) && number
                        && comm.setCommPort(qint16(*number)) && comm.setPortOpen(true)
                        && comm.setDTREnable(false) && comm.setRTSEnable(false);
    if (opened)
        return {true, {}};
    const QString reason
        = number ? comm.errorString()
                 : QCoreApplication::translate("portsetup", "digite o número da porta, de 1 a %1.")
                       .arg(ports::kMaxPortNumber);
    comm.setPortOpen(false);
    return {false, reason};
}

} // namespace portsetup
