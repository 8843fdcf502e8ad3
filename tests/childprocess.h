// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

// Work done in a forked child, so that what it changes (its user, its limits, its memory group)
// binds nothing else, and a signal or a kill ends only the child. POSIX only.

#include <QByteArray>
#include <QString>
#include <QtTest>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// What the child said through a pipe, or "killed by signal N", or "hung" after 30 s.
inline QString inChild(const std::function<QByteArray()> &work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "not started";
    const pid_t child = fork();
    if (child < 0)
        return "not started";
    if (child == 0) {
        // A crash must end the child at once, not in the test framework's handlers.
        signal(SIGABRT, SIG_DFL);
        signal(SIGSEGV, SIG_DFL);
        const rlimit noCore { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
        const QByteArray said = work();
        _exit(write(channel[1], said.constData(), size_t(said.size())) == said.size() ? 0 : 1);
    }
    close(channel[1]);
    int status = 0;
    const auto ended = [&] { return waitpid(child, &status, WNOHANG) == child; };
    if (!QTest::qWaitFor(ended, 30000)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        close(channel[0]);
        return "hung";
    }
    char said[512] = {};
    const ssize_t got = read(channel[0], said, sizeof said - 1);
    close(channel[0]);
    if (WIFSIGNALED(status))
        return QString("killed by signal %1").arg(WTERMSIG(status));
    return got > 0 ? QString::fromUtf8(said, int(got)) : QString();
}
