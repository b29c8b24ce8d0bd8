#pragma once

#include <QDir>
#include <QProcess>
#include <QString>

#ifdef Q_OS_WIN

// Windows has no root and no mount namespaces: a test meets the file permissions it sets.
class WithoutFileOverride
{
public:
    WithoutFileOverride() {} // a scope guard that guards nothing here, not an unused variable
    ~WithoutFileOverride() {}
};

inline bool canRunHelperInNamespace(QString* why)
{
    *why = QStringLiteral("Windows has no polkit helper");
    return false;
}

#else

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Root passes every permission check on files. To meet a file it may not write, as a user
// does, the calling thread gives up the capabilities that override file permissions for as
// long as this object lives; it keeps them in its permitted set and takes them back at the
// end. A program it starts regains them on exec, as a program started through pkexec runs with
// root's full rights. Does nothing for a user, who meets file permissions anyway.
class WithoutFileOverride
{
public:
    WithoutFileOverride()
    {
        if (geteuid() != 0 || !get(m_saved))
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_active = set(reduced);
    }
    ~WithoutFileOverride()
    {
        if (m_active)
            set(m_saved);
    }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    static bool get(__user_cap_data_struct* data)
    {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        return syscall(SYS_capget, &header, data) == 0;
    }
    static bool set(__user_cap_data_struct* data)
    {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        return syscall(SYS_capset, &header, data) == 0;
    }

    __user_cap_data_struct m_saved[2] = {};
    bool m_active = false;
};

// Whether the helper can be run in a private mount namespace with folders of the test's own
// in place of /etc: root, and unshare and bind mounts allowed. *why says what is missing.
inline bool canRunHelperInNamespace(QString* why)
{
    if (geteuid() != 0) {
        *why = QStringLiteral("needs root: the helper runs in a private mount namespace (unshare -m) "
                              "with a folder of the test's own bound over /etc");
        return false;
    }
    // A folder bound over itself, in a namespace of its own that ends at once.
    const QString tmp = QDir::tempPath();
    if (QProcess::execute(QStringLiteral("unshare"),
                          {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                           QStringLiteral("private"), QStringLiteral("--"), QStringLiteral("mount"),
                           QStringLiteral("--bind"), tmp, tmp}) != 0) {
        *why = QStringLiteral("unshare -m or bind mounts are not allowed here");
        return false;
    }
    return true;
}

#endif
