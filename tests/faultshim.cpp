// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Preloaded into a test program, makes the *at calls of the Linux piece writer fail, or runs
// a hook of the test right before one of them: what a disk, a file system without some
// feature, or another process does at that very moment. It can also make the file system look
// like one whose times tell nothing. Calls pass through untouched until a test asks, through
// tranchel_shim_fail() and tranchel_shim_hook(), found with dlsym(). A hook may ask for
// failures itself: they begin with the call after the one it runs before.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

struct Rule
{
    char call[32];
    int error; // 0: no failure
    int failures; // how many calls fail; -1: every one
    void (*hook)(void *, const char *);
    void *context;
    int callsUntilHook; // the hook runs before the call that brings this to 0
};

Rule rules[8];
// Every time reads as 0, as a file system that keeps none would give them, or one that keeps
// whole seconds within a second: with the file system's type said to be FAT, or left as it is.
enum class CoarseTimes { Off, AsFat, Only };
CoarseTimes coarseTimes = CoarseTimes::Off;

Rule *ruleFor(const char *call, bool create)
{
    Rule *const end = rules + sizeof rules / sizeof *rules;
    Rule *rule = std::find_if(rules, end,
                              [call](const Rule &r) { return std::strcmp(r.call, call) == 0; });
    if (rule != end)
        return rule;
    rule = std::find_if(rules, end, [](const Rule &r) { return r.call[0] == '\0'; });
    if (!create || rule == end)
        return nullptr;
    std::strncpy(rule->call, call, sizeof rule->call - 1);
    return rule;
}

// Runs a due hook, given the name the call is about; true when this call must fail, with
// errno set.
bool intercepted(const char *call, const char *path = "")
{
    Rule *rule = ruleFor(call, false);
    if (!rule)
        return false;
    const bool fails = rule->error != 0 && rule->failures != 0;
    if (rule->hook && --rule->callsUntilHook == 0) {
        void (*hook)(void *, const char *) = rule->hook;
        rule->hook = nullptr;
        hook(rule->context, path);
    }
    if (!fails)
        return false;
    if (rule->failures > 0)
        --rule->failures;
    errno = rule->error;
    return true;
}

template<typename Function> Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int openAt(const char *realName, int folder, const char *path, int flags, mode_t mode)
{
    // O_TMPFILE includes O_DIRECTORY: both bits make an unnamed file.
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    if (intercepted(unnamed                     ? "openat/unnamed"
                            : (flags & O_CREAT) ? "openat/create"
                                                : "openat",
                    path))
        return -1;
    using OpenAt = int (*)(int, const char *, int, ...);
    return real<OpenAt>(realName)(folder, path, flags, mode);
}

} // namespace

extern "C" {

// `call` fails with `error`, `count` times (-1: until reset).
void tranchel_shim_fail(const char *call, int error, int count)
{
    if (Rule *rule = ruleFor(call, true)) {
        rule->error = error;
        rule->failures = count;
    }
}

// `hook(context, name)` runs right before the `nth` call of `call` from now.
void tranchel_shim_hook(const char *call, int nth, void (*hook)(void *, const char *),
                        void *context)
{
    if (Rule *rule = ruleFor(call, true)) {
        rule->hook = hook;
        rule->context = context;
        rule->callsUntilHook = nth;
    }
}

// 0: off; 1: as FAT; 2: the times alone.
void tranchel_shim_coarse_times(int mode)
{
    coarseTimes = CoarseTimes(mode);
}

void tranchel_shim_reset()
{
    std::memset(rules, 0, sizeof rules);
    coarseTimes = CoarseTimes::Off;
}

int fstatfs(int file, struct statfs *status)
{
    using StatFs = int (*)(int, struct statfs *);
    const int result = real<StatFs>("fstatfs")(file, status);
    if (result == 0 && coarseTimes == CoarseTimes::AsFat)
        status->f_type = MSDOS_SUPER_MAGIC;
    return result;
}

int fstatat(int folder, const char *path, struct stat *status, int flags)
{
    using StatAt = int (*)(int, const char *, struct stat *, int);
    const int result = real<StatAt>("fstatat")(folder, path, status, flags);
    if (result == 0 && coarseTimes != CoarseTimes::Off)
        status->st_mtim = status->st_ctim = timespec {};
    return result;
}

int openat(int folder, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openAt("openat", folder, path, flags, mode);
}

int openat64(int folder, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openAt("openat64", folder, path, flags, mode);
}

int renameat2(int from, const char *fromName, int to, const char *toName, unsigned int flags)
{
    if (intercepted("renameat2"))
        return -1;
    using Rename2 = int (*)(int, const char *, int, const char *, unsigned int);
    return real<Rename2>("renameat2")(from, fromName, to, toName, flags);
}

int renameat(int from, const char *fromName, int to, const char *toName)
{
    if (intercepted("renameat"))
        return -1;
    using Rename = int (*)(int, const char *, int, const char *);
    return real<Rename>("renameat")(from, fromName, to, toName);
}

int linkat(int from, const char *fromName, int to, const char *toName, int flags)
{
    if (intercepted("linkat"))
        return -1;
    using Link = int (*)(int, const char *, int, const char *, int);
    return real<Link>("linkat")(from, fromName, to, toName, flags);
}

int unlinkat(int folder, const char *name, int flags)
{
    if (intercepted("unlinkat"))
        return -1;
    using Unlink = int (*)(int, const char *, int);
    return real<Unlink>("unlinkat")(folder, name, flags);
}

int fchmod(int file, mode_t mode)
{
    if (intercepted("fchmod"))
        return -1;
    using Chmod = int (*)(int, mode_t);
    return real<Chmod>("fchmod")(file, mode);
}

int fchown(int file, uid_t owner, gid_t group)
{
    if (intercepted("fchown"))
        return -1;
    using Chown = int (*)(int, uid_t, gid_t);
    return real<Chown>("fchown")(file, owner, group);
}

} // extern "C"
