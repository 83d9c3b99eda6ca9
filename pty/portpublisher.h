#pragma once

#include <QString>

// Publishes a device under a port number (<runtime dir>/padcom/com<N>) for as long as this
// object lives. A lock file beside the link, held while published, tells a live link from
// one a crashed publisher left behind; such leftovers are replaced.
class PortPublisher
{
public:
    PortPublisher() = default;
    ~PortPublisher();
    PortPublisher(const PortPublisher &) = delete;
    PortPublisher &operator=(const PortPublisher &) = delete;

    // number 0 takes the lowest number that names no port yet.
    bool publish(const QString &device, int number = 0);
    void unpublish();

    int number() const { return m_number; }
    QString errorString() const { return m_error; }

private:
    enum class Claim { Taken, Claimed, Failed };
    Claim claim(const QString &device, int number, bool skipForeignLinks);

    int m_number = 0;
    int m_lockFd = -1;
    QString m_error;
};
