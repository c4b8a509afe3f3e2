#pragma once

// Running as another user for a while. Root ignores file permissions, so the
// permission cases of a test run as root drop the effective ids to nobody.

#include <QtGlobal>

#include <sys/types.h>
#include <unistd.h>

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// Runs with the given effective ids while alive; the saved id brings the old
// ones back on destruction.
class EffectiveUser
{
public:
    EffectiveUser(uid_t uid, gid_t gid) : m_uid(geteuid()), m_gid(getegid())
    {
        m_active = setegid(gid) == 0 && seteuid(uid) == 0;
    }
    ~EffectiveUser()
    {
        if (seteuid(m_uid) != 0 || setegid(m_gid) != 0)
            qFatal("could not restore the effective user");
    }
    EffectiveUser(const EffectiveUser &) = delete;
    EffectiveUser &operator=(const EffectiveUser &) = delete;

    bool isActive() const { return m_active; }

private:
    uid_t m_uid;
    gid_t m_gid;
    bool m_active = false;
};
