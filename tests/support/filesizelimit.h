#pragma once

#include <QtGlobal>

#include <csignal>

#include <sys/resource.h>

// Files may not grow past `bytes` while alive: a write beyond fails as on a
// full disk (EFBIG; the signal that would end the process is ignored).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_active = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        if (m_active) {
            rlimit limit = m_old;
            limit.rlim_cur = bytes;
            m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
    }
    ~FileSizeLimit()
    {
        if (m_active && setrlimit(RLIMIT_FSIZE, &m_old) != 0)
            qFatal("could not restore the file size limit");
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool isActive() const { return m_active; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_active = false;
};
