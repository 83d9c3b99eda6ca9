#pragma once

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

// A private runtime directory for the whole of a test or benchmark run, so that the port
// links it publishes never meet a user's or another run's.
class RuntimeDir
{
public:
    RuntimeDir()
    {
        if (m_dir.isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
