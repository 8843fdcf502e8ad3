// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "systemmemory.h"

#if defined(TRANCHEL_MEMORY_GROUPS)
#include "memorygroups.h"
#include "mountinfo.h"
#endif

#include "piececheck.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr qint64 MiB = qint64(1) << 20;

const QString meminfo = QStringLiteral("proc/meminfo=MemTotal: 8388608 kB\n"
                                       "MemFree: 5000000 kB\nMemAvailable: 4194304 kB\n");
const QString v2Mount = QStringLiteral("31 23 0:28 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
const QString v1Mount = QStringLiteral("35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup "
                                       "rw,memory\n");
const QString hybridMounts
        = QStringLiteral("31 23 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
                         "32 31 0:29 / /sys/fs/cgroup/cpu\\040time rw - cgroup cgroup rw,cpu\n"
                         "35 31 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
                         "41 31 0:38 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n");

#if defined(TRANCHEL_MEMORY_GROUPS)
// "path=content" under the fake root, for /proc and /sys as a row needs them.
bool plant(const QString &root, const QStringList &files)
{
    for (const QString &file : files) {
        const int equals = file.indexOf('=');
        const QString path = root + '/' + file.left(equals);
        if (!QDir().mkpath(QFileInfo(path).path())
            || !writeContent(path, file.mid(equals + 1).toUtf8()))
            return false;
    }
    return true;
}
#endif

} // namespace

class TestSystemMemory : public QObject
{
    Q_OBJECT

private slots:
    void shouldTakeTheTightestLimit_data();
    void shouldTakeTheTightestLimit();
    void shouldTellWhatThisMachineCanGive();
    void shouldTellWhereWritesTakeMemory_data();
    void shouldTellWhereWritesTakeMemory();
};

void TestSystemMemory::shouldTakeTheTightestLimit_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<qint64>("availableMiB"); // -1: unknown

    const QString v2Group = "proc/self/cgroup=0::/app.slice/run.scope\n";
    const QString v2Folder = "sys/fs/cgroup/app.slice/run.scope/";
    const QString v1Group = "proc/self/cgroup=4:memory:/docker/abc\n0::/\n";
    const QString v1Folder = "sys/fs/cgroup/memory/docker/abc/";
    const QString v1Stat = "memory.stat=cache 9\ninactive_file 5\n"
                           "total_inactive_file 104857600\n";

    QTest::newRow("no memory group: MemAvailable less 64 MiB")
            << QStringList { meminfo } << qint64(4032);
    QTest::newRow("no MemAvailable: unknown")
            << QStringList { "proc/meminfo=MemTotal: 8388608 kB\n", v2Group,
                             "proc/self/mountinfo=" + v2Mount, v2Folder + "memory.max=1073741824" }
            << qint64(-1);
    QTest::newRow("v2: the limit less what is used but the inactive page cache")
            << QStringList { meminfo,
                             v2Group,
                             "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=1073741824\n",
                             v2Folder + "memory.current=734003200\n",
                             v2Folder + "memory.stat=anon 1\ninactive_file 314572800\n" }
            << qint64(1024 - 400 - 64);
    QTest::newRow("v2 without memory.stat: all usage counts")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=1073741824\n",
                             v2Folder + "memory.current=734003200\n" }
            << qint64(1024 - 700 - 64);
    QTest::newRow("v2 without a limit")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=max\n",
                             v2Folder + "memory.current=734003200\n" }
            << qint64(4032);
    QTest::newRow("v2 nested: the parent's limit is the tighter")
            << QStringList { meminfo,
                             v2Group,
                             "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=2147483648\n",
                             v2Folder + "memory.current=104857600\n",
                             "sys/fs/cgroup/app.slice/memory.max=629145600\n",
                             "sys/fs/cgroup/app.slice/memory.current=419430400\n" }
            << qint64(600 - 400 - 64);
    QTest::newRow("v1 only: total_inactive_file is the page cache")
            << QStringList { meminfo,
                             v1Group,
                             "proc/self/mountinfo=" + v1Mount,
                             v1Folder + "memory.limit_in_bytes=536870912\n",
                             v1Folder + "memory.usage_in_bytes=209715200\n",
                             v1Folder + v1Stat }
            << qint64(512 - 100 - 64);
    QTest::newRow("v1 without a limit: the kernel's largest value")
            << QStringList { meminfo, v1Group, "proc/self/mountinfo=" + v1Mount,
                             v1Folder + "memory.limit_in_bytes=9223372036854771712\n",
                             v1Folder + "memory.usage_in_bytes=209715200\n" }
            << qint64(4032);
    QTest::newRow("v1 nested: the parent's limit is the tighter")
            << QStringList { meminfo,
                             v1Group,
                             "proc/self/mountinfo=" + v1Mount,
                             v1Folder + "memory.limit_in_bytes=9223372036854771712\n",
                             "sys/fs/cgroup/memory/docker/memory.limit_in_bytes=314572800",
                             "sys/fs/cgroup/memory/docker/memory.usage_in_bytes=104857600" }
            << qint64(300 - 100 - 64);
    QTest::newRow("hybrid: v1 memory tighter than the v2 group")
            << QStringList { meminfo,
                             "proc/self/cgroup=4:memory:/docker/abc\n"
                             "1:cpu:/\n0::/docker/abc\n",
                             "proc/self/mountinfo=" + hybridMounts,
                             "sys/fs/cgroup/unified/docker/abc/memory.max=1073741824",
                             v1Folder + "memory.limit_in_bytes=536870912\n",
                             v1Folder + "memory.usage_in_bytes=209715200\n" }
            << qint64(512 - 200 - 64);
    QTest::newRow("hybrid: the v2 group tighter than v1 memory")
            << QStringList { meminfo, "proc/self/cgroup=4:memory:/docker/abc\n0::/docker/abc\n",
                             "proc/self/mountinfo=" + hybridMounts,
                             "sys/fs/cgroup/unified/docker/abc/memory.max=209715200",
                             v1Folder + "memory.limit_in_bytes=536870912\n" }
            << qint64(200 - 64);
    QTest::newRow("container on a v1 host: the mount shows the group itself")
            << QStringList { meminfo, v1Group,
                             "proc/self/mountinfo=35 31 0:32 /docker/abc "
                             "/sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n",
                             "sys/fs/cgroup/memory/memory.limit_in_bytes=536870912",
                             "sys/fs/cgroup/memory/memory.usage_in_bytes=209715200" }
            << qint64(512 - 200 - 64);
    QTest::newRow("the group's folder missing under the mount: its root folder")
            << QStringList { meminfo, v1Group, "proc/self/mountinfo=" + v1Mount,
                             "sys/fs/cgroup/memory/memory.limit_in_bytes=536870912",
                             "sys/fs/cgroup/memory/memory.usage_in_bytes=209715200" }
            << qint64(512 - 200 - 64);
    QTest::newRow("malformed limit: no limit")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=lots\n",
                             v2Folder + "memory.current=734003200\n" }
            << qint64(4032);
    QTest::newRow("missing usage: the limit alone")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=1073741824\n" }
            << qint64(1024 - 64);
    QTest::newRow("a limit of 0: nothing")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=0\n" }
            << qint64(0);
    QTest::newRow("a mount point with a blank, written as an octal escape")
            << QStringList { meminfo, v2Group,
                             "proc/self/mountinfo=31 23 0:28 / /sys/fs/my\\040cgroup rw - cgroup2 "
                             "cgroup2 rw\n",
                             "sys/fs/my cgroup/app.slice/run.scope/memory.max=1073741824\n" }
            << qint64(1024 - 64);
    QTest::newRow("a group over its limit: nothing")
            << QStringList { meminfo, v2Group, "proc/self/mountinfo=" + v2Mount,
                             v2Folder + "memory.max=104857600\n",
                             v2Folder + "memory.current=209715200\n" }
            << qint64(0);
    QTest::newRow("no mount table: MemAvailable alone")
            << QStringList { meminfo, v2Group, v2Folder + "memory.max=104857600\n" }
            << qint64(4032);
}

void TestSystemMemory::shouldTakeTheTightestLimit()
{
#if defined(TRANCHEL_MEMORY_GROUPS)
    QFETCH(QStringList, files);
    QFETCH(qint64, availableMiB);
    QTemporaryDir root;
    QVERIFY(plant(root.path(), files));
    QCOMPARE(System::availableMemoryFrom(root.path()), availableMiB < 0 ? -1 : availableMiB * MiB);
#else
    QSKIP("memory groups are Linux's");
#endif
}

void TestSystemMemory::shouldTellWhatThisMachineCanGive()
{
#if defined(TRANCHEL_MEMORY_GROUPS)
    const auto memAvailable = [] { return System::memAvailableFrom(fileContent("/proc/meminfo")); };
    const qint64 before = memAvailable();
    const qint64 figure = System::availableMemory();
    const qint64 after = memAvailable();
    if (before < 0)
        QSKIP("this kernel tells no MemAvailable");
    // Without a tighter group limit the figure is MemAvailable less 64 MiB; never more.
    bool groupIsTighter = false;
    const QVector<System::MemoryGroup> groups = System::memoryGroups(QString());
    for (const System::MemoryGroup &group : groups) {
        const qint64 headroom = System::groupHeadroom(QString(), group);
        groupIsTighter = groupIsTighter || (headroom >= 0 && headroom < qMax(before, after));
    }
    const qint64 slack = 16 * MiB;
    QVERIFY2(figure <= qMax(before, after) - 64 * MiB + slack, qPrintable(QString::number(figure)));
    if (!groupIsTighter)
        QVERIFY2(figure >= qMin(before, after) - 64 * MiB - slack,
                 qPrintable(QString::number(figure)));
#elif defined(Q_OS_WIN)
    // Some memory is free on any machine that runs this test; never a terabyte more.
    const qint64 figure = System::availableMemory();
    QVERIFY2(figure > 0 && figure < (qint64(1) << 40), qPrintable(QString::number(figure)));
#else
    QCOMPARE(System::availableMemory(), qint64(-1));
#endif
}

void TestSystemMemory::shouldTellWhereWritesTakeMemory_data()
{
    QTest::addColumn<QString>("mounts"); // the lines of mountinfo
    QTest::addColumn<QByteArray>("device"); // of the pieces' folder
    QTest::addColumn<bool>("memory");

    const QString disk = "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n";
    const QString liveUpper = "25 20 0:40 / /run/live/overlay rw - tmpfs tmpfs rw\n";
    const QString overlay = "30 20 0:45 / /media/root rw - overlay overlay "
                            "rw,lowerdir=/run/live/rootfs,upperdir=%1,workdir=/run/live/work\n";
    QTest::newRow("tmpfs") << liveUpper << QByteArray("0:40") << true;
    QTest::newRow("a disk") << disk << QByteArray("8:1") << false;
    QTest::newRow("an overlay whose upper layer is tmpfs, as on a live system")
            << disk + liveUpper + overlay.arg("/run/live/overlay/rw") << QByteArray("0:45") << true;
    QTest::newRow("an overlay whose upper layer is on a disk, as for a container")
            << disk + liveUpper + overlay.arg("/var/lib/containers/upper") << QByteArray("0:45")
            << false;
    QTest::newRow("an upper layer whose path holds a blank and a comma")
            << disk + "25 20 0:40 / /run/my\\040upper,x rw - tmpfs tmpfs rw\n"
                    + overlay.arg("/run/my\\040upper\\054x/rw")
            << QByteArray("0:45") << true;
    QTest::newRow("an upper layer on another overlay over tmpfs")
            << disk + liveUpper + overlay.arg("/run/live/overlay/rw")
                    + "40 30 0:50 / /media/root/box rw - overlay overlay "
                      "rw,lowerdir=/box/lower,upperdir=/media/root/box-upper,workdir=/box/work\n"
            << QByteArray("0:50") << true;
    QTest::newRow("an upper layer on no mount that is listed")
            << liveUpper + overlay.arg("/var/upper") << QByteArray("0:45") << false;
    QTest::newRow("an overlay without an upper layer") << disk + liveUpper
                    + "30 20 0:45 / /media/root ro - overlay overlay ro,lowerdir=/a:/b\n"
                                                       << QByteArray("0:45") << false;
}

void TestSystemMemory::shouldTellWhereWritesTakeMemory()
{
#if defined(TRANCHEL_MEMORY_GROUPS)
    QFETCH(QString, mounts);
    QFETCH(QByteArray, device);
    QFETCH(bool, memory);
    QTemporaryDir root;
    QVERIFY(plant(root.path(), { "proc/self/mountinfo=" + mounts }));
    QCOMPARE(System::storesInMemory(root.path(), device), memory);
#else
    QSKIP("mount tables are Linux's");
#endif
}

QTEST_GUILESS_MAIN(TestSystemMemory)
#include "tst_systemmemory.moc"
