#include "vdev/portlink.h"

#include <QtTest>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kirt::vdev;

namespace {

// A slave path of a pseudo-terminal that is alive while the object lives.
class LivePty
{
public:
    LivePty()
    {
        m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (m_fd >= 0 && ::grantpt(m_fd) == 0 && ::unlockpt(m_fd) == 0 &&
            ::ptsname_r(m_fd, name, sizeof name) == 0)
            m_path = QFile::decodeName(name);
    }
    ~LivePty()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LivePty(const LivePty&) = delete;
    LivePty& operator=(const LivePty&) = delete;
    QString path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};

const QString GonePty = QStringLiteral("/dev/pts/999999");

} // namespace

class TestPortLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void createsFolderAndLinkThenRemovesIt();
    void userLinkRefusedWithoutForce_data();
    void userLinkRefusedWithoutForce();
    void forceReplacesAndRestores();
    void staleDeviceLinkReplaced();
    void fileOrFolderNeverTouched();
    void linkRepointedMeanwhileLeftAlone();
    void renewMakesANewLinkEvenToTheSameTarget();
    void unwritableFolderReported();

private:
    [[nodiscard]] bool linkFirst(const QString& target) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_link;
};

void TestPortLink::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_link = m_dir->filePath(QStringLiteral("kirt/ports/COM1"));
}

// Someone's own link to target where the port's link goes, made before the program runs.
bool TestPortLink::linkFirst(const QString& target) const
{
    return QDir().mkpath(QFileInfo(m_link).path()) && QFile::link(target, m_link);
}

void TestPortLink::createsFolderAndLinkThenRemovesIt()
{
    LivePty pty;
    QString error;
    QString note;
    auto link = PortLink::publish(m_link, pty.path(), false, &error, &note);
    QVERIFY2(link, qPrintable(error));
    QVERIFY(note.isEmpty());
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(pty.path()));
    link.reset();
    QVERIFY(!QFileInfo(m_link).isSymLink());
    QVERIFY(!QFileInfo::exists(m_link));
}

void TestPortLink::userLinkRefusedWithoutForce_data()
{
    QTest::addColumn<bool>("toLivePty");
    QTest::newRow("a USB adapter") << false;
    QTest::newRow("another virtual device") << true;
}

void TestPortLink::userLinkRefusedWithoutForce()
{
    QFETCH(bool, toLivePty);
    LivePty other;
    LivePty mine;
    const QString userTarget = toLivePty ? other.path() : QStringLiteral("/dev/ttyUSB0");
    QVERIFY(linkFirst(userTarget));

    QString error;
    QVERIFY(!PortLink::publish(m_link, mine.path(), false, &error));
    QVERIFY2(error.contains(userTarget) && error.contains(QLatin1String("--force")),
             qPrintable(error));
    QCOMPARE(error.contains(QLatin1String("another virtual device")), toLivePty);
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(userTarget));
}

void TestPortLink::forceReplacesAndRestores()
{
    LivePty mine;
    const QString userTarget = QStringLiteral("/dev/serial/by-id/usb-adapter-if00");
    QVERIFY(linkFirst(userTarget));

    QString error;
    QString note;
    auto link = PortLink::publish(m_link, mine.path(), true, &error, &note);
    QVERIFY2(link, qPrintable(error));
    QVERIFY(note.contains(userTarget));
    QCOMPARE(link->restoreTarget(), userTarget);
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(mine.path()));
    link->withdraw();
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(userTarget));
    // Withdrawing twice (explicitly, then by the destructor) changes nothing.
    link.reset();
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(userTarget));
    // No temporary names left in the folder.
    QCOMPARE(QDir(QFileInfo(m_link).path())
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("COM1")});
}

void TestPortLink::staleDeviceLinkReplaced()
{
    LivePty mine;
    QVERIFY(linkFirst(GonePty));

    QString error;
    QString note;
    auto link = PortLink::publish(m_link, mine.path(), false, &error, &note);
    QVERIFY2(link, qPrintable(error));
    QVERIFY(note.contains(GonePty));
    // A leftover is not the user's: it is removed, not restored.
    QVERIFY(link->restoreTarget().isEmpty());
    link.reset();
    QVERIFY(!QFileInfo(m_link).isSymLink());
}

void TestPortLink::fileOrFolderNeverTouched()
{
    LivePty mine;
    QVERIFY(QDir().mkpath(QFileInfo(m_link).path()));
    {
        QFile file(m_link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    QString error;
    for (const bool force : {false, true}) {
        QVERIFY(!PortLink::publish(m_link, mine.path(), force, &error));
        QVERIFY2(error.contains(QLatin1String("not a link")), qPrintable(error));
    }
    QFile file(m_link);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("mine"));
    file.close();

    QVERIFY(QFile::remove(m_link));
    QVERIFY(QDir().mkpath(m_link));
    QVERIFY(!PortLink::publish(m_link, mine.path(), true, &error));
    QVERIFY(QFileInfo(m_link).isDir());
}

void TestPortLink::linkRepointedMeanwhileLeftAlone()
{
    LivePty mine;
    QString error;
    auto link = PortLink::publish(m_link, mine.path(), false, &error);
    QVERIFY2(link, qPrintable(error));
    QVERIFY(QFile::remove(m_link));
    QVERIFY(QFile::link(QStringLiteral("/dev/ttyACM0"), m_link));
    link.reset();
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(QStringLiteral("/dev/ttyACM0")));
}

void TestPortLink::renewMakesANewLinkEvenToTheSameTarget()
{
    LivePty mine;
    QString error;
    auto link = PortLink::publish(m_link, mine.path(), false, &error);
    QVERIFY2(link, qPrintable(error));
    struct stat was
    {
    };
    QVERIFY(::lstat(QFile::encodeName(m_link).constData(), &was) == 0);
    QVERIFY2(link->renew(mine.path(), &error), qPrintable(error));
    struct stat now
    {
    };
    QVERIFY(::lstat(QFile::encodeName(m_link).constData(), &now) == 0);
    QVERIFY(now.st_ino != was.st_ino);
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(mine.path()));

    // Someone else's link in its place is left alone.
    QVERIFY(QFile::remove(m_link));
    QVERIFY(QFile::link(QStringLiteral("/dev/ttyACM0"), m_link));
    QVERIFY(!link->renew(mine.path(), &error));
    QCOMPARE(linkTargetOf(m_link), std::optional<QString>(QStringLiteral("/dev/ttyACM0")));
}

void TestPortLink::unwritableFolderReported()
{
    // A file where the folder should be fails the same way for root and for a user.
    QFile blocker(m_dir->filePath(QStringLiteral("kirt")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LivePty mine;
    QString error;
    QVERIFY(!PortLink::publish(m_link, mine.path(), false, &error));
    QVERIFY2(error.contains(QFileInfo(m_link).path()), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestPortLink)
#include "tst_portlink.moc"
