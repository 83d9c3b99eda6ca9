#pragma once

#include "serial/mscomm.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>

// What a serial control handed over, kept as the tests look at it.
class LineLog : public QObject
{
public:
    explicit LineLog(MSComm &comm, std::function<void(const MSComm::Events &)> also = {})
    {
        connect(&comm, &MSComm::events, this, [this, also](const MSComm::Events &batch) {
            ++batches;
            for (const MSComm::Event &e : batch) {
                events.append(e);
                if (e.kind == MSComm::Event::Kind::Received) {
                    blocks.append(e.bytes);
                    received += e.bytes;
                }
            }
            if (also)
                also(batch);
        });
    }

    QList<MSComm::Event> of(MSComm::Event::Kind kind) const
    {
        QList<MSComm::Event> out;
        for (const MSComm::Event &e : events) {
            if (e.kind == kind)
                out.append(e);
        }
        return out;
    }

    int batches = 0;
    QList<MSComm::Event> events;
    QList<QByteArray> blocks;
    QByteArray received;
};
