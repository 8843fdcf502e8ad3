// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

// Real failures of this program's own system calls, where the test runs with libfiu's POSIX
// wrappers and the project's shim (faultshim.cpp) preloaded, as in the *_faults CTest
// entries. Looked up at run time, so that plain runs need neither.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <functional>

#if defined(Q_OS_LINUX)
#include <dlfcn.h>
#endif

class FaultInjection
{
public:
    FaultInjection()
    {
#if defined(Q_OS_LINUX)
        using Init = int (*)(unsigned int);
        if (auto init = reinterpret_cast<Init>(dlsym(RTLD_DEFAULT, "fiu_init")))
            init(0);
        m_fiuEnable = reinterpret_cast<FiuEnable>(dlsym(RTLD_DEFAULT, "fiu_enable"));
        m_fiuDisable = reinterpret_cast<FiuDisable>(dlsym(RTLD_DEFAULT, "fiu_disable"));
        m_shimFail = reinterpret_cast<ShimFail>(dlsym(RTLD_DEFAULT, "tranchel_shim_fail"));
        m_shimHook = reinterpret_cast<ShimHook>(dlsym(RTLD_DEFAULT, "tranchel_shim_hook"));
        m_shimReset = reinterpret_cast<ShimReset>(dlsym(RTLD_DEFAULT, "tranchel_shim_reset"));
        m_shimCoarse
                = reinterpret_cast<ShimCoarse>(dlsym(RTLD_DEFAULT, "tranchel_shim_coarse_times"));
#endif
    }

    bool isAvailable() const
    {
        return m_fiuEnable && m_fiuDisable && m_shimFail && m_shimReset && m_shimCoarse;
    }

    // "fiu:posix/io/sync/fdatasync:EIO" or "shim:renameat2:EINVAL", ":once" at the end for
    // the next call only; "shim:coarse" for a file system whose times tell nothing,
    // "shim:coarse-times" for times in whole seconds on the file system as it is.
    void enable(const QString &fault) const
    {
        if (fault == "shim:coarse" || fault == "shim:coarse-times") {
            m_shimCoarse(fault == "shim:coarse" ? 1 : 2);
            return;
        }
        const QStringList parts = fault.split(':');
        const QByteArray point = parts.value(1).toLatin1();
        const int error = errorNumber(parts.value(2));
        const bool once = parts.value(3) == "once";
        if (parts.value(0) == "fiu")
            m_fiuEnable(point.constData(), 1, reinterpret_cast<void *>(qintptr(error)), once);
        else
            m_shimFail(point.constData(), error, once ? 1 : -1);
    }

    void disable(const QStringList &faults)
    {
        for (const QString &fault : faults) {
            if (fault.startsWith("fiu:"))
                m_fiuDisable(fault.section(':', 1, 1).toLatin1().constData());
        }
        m_shimReset();
        s_hook = nullptr;
    }

    // Runs `hook` right before the `nth` call of `call` (a shim point) from now, given the
    // name that call is about.
    void hookBefore(const char *call, int nth, std::function<void(const QByteArray &name)> hook)
    {
        s_hook = std::move(hook);
        hookAgain(call, nth);
    }

    // The same hook once more, before the `nth` call from now; may be asked from within it.
    void hookAgain(const char *call, int nth)
    {
        m_shimHook(
                call, nth, [](void *, const char *name) { s_hook(name); }, nullptr);
    }

private:
    static int errorNumber(const QString &name)
    {
        static const QHash<QString, int> numbers {
            { "EIO", EIO },       { "ENOSPC", ENOSPC },
            { "EACCES", EACCES }, { "EOPNOTSUPP", EOPNOTSUPP },
            { "EINVAL", EINVAL }, { "EPERM", EPERM },
            { "EISDIR", EISDIR }, { "ENOSYS", ENOSYS },
        };
        return numbers.value(name, 0);
    }

    using FiuEnable = int (*)(const char *, int, void *, unsigned int);
    using FiuDisable = int (*)(const char *);
    using ShimFail = void (*)(const char *, int, int);
    using ShimHook = void (*)(const char *, int, void (*)(void *, const char *), void *);
    using ShimReset = void (*)();
    using ShimCoarse = void (*)(int);
    FiuEnable m_fiuEnable = nullptr;
    FiuDisable m_fiuDisable = nullptr;
    ShimFail m_shimFail = nullptr;
    ShimHook m_shimHook = nullptr;
    ShimReset m_shimReset = nullptr;
    ShimCoarse m_shimCoarse = nullptr;
    static inline std::function<void(const QByteArray &)> s_hook;
};

// Skips a test that needs the wrappers where they are not preloaded; fails it in the *_faults
// entries, where they must be.
#define TRANCHEL_REQUIRE_FAULTS(injection)                                                         \
    do {                                                                                           \
        if (!(injection).isAvailable()) {                                                          \
            if (qEnvironmentVariableIsSet("TRANCHEL_FAULTS"))                                      \
                QFAIL("the fault-injection wrappers are not loaded");                              \
            QSKIP("needs the fault-injection wrappers preloaded, as in the *_faults entries");     \
        }                                                                                          \
    } while (false)
