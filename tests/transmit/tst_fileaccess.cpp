// Opening, writing and recognising files: what failed and the system's reason, for the window
// to put into words.
#include "tests/support/columns.h"
#include "transmit/fileaccess.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace kirt;

class TestFileAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void openRefusals_data();
    void openRefusals();
    void openUnreadable();
    void openRegular();
    void sameFile();
    void writeFailures();
    void writeReplaces();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }
};

void TestFileAccess::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestFileAccess::openRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // empty: any words of the system's
    kirt::test::row("missing", "missing.HEX", QString());
    kirt::test::row("folder", "folder", "Not a regular file");
    kirt::test::row("fifo", "fifo", "Not a regular file");
}

void TestFileAccess::openRefusals()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    QFile file(m_dir->filePath(name));
    const FileResult result = OpenTextFile(file);
    QCOMPARE(result.failure, FileFailure::Open);
    QVERIFY(!result.reason.isEmpty());
    if (!reason.isEmpty())
        QCOMPARE(result.reason, reason);
    QVERIFY(!file.isOpen());
}

void TestFileAccess::openUnreadable()
{
    if (::geteuid() == 0)
        QSKIP("root reads a file whatever its permissions");
    QFile file(path("locked.TXT"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
    const FileResult result = OpenTextFile(file);
    QCOMPARE(result.failure, FileFailure::Open);
    QCOMPARE(result.reason, file.errorString());
    QVERIFY(!result.reason.isEmpty());
}

void TestFileAccess::openRegular()
{
    QFile file(path("data.TXT"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("ab\r\n");
    file.close();
    const FileResult result = OpenTextFile(file);
    QVERIFY(result.ok());
    QVERIFY(file.isOpen());
    QCOMPARE(file.readAll(), QByteArray("ab\r\n"));
}

void TestFileAccess::sameFile()
{
    for (const char* name : {"a.HEX", "b.HEX"}) {
        QFile make(path(name));
        QVERIFY(make.open(QIODevice::WriteOnly));
    }
    QCOMPARE(::link(QFile::encodeName(path("a.HEX")).constData(),
                    QFile::encodeName(path("hard.HEX")).constData()),
             0);
    QVERIFY(QFile::link(path("a.HEX"), path("soft.HEX")));

    QFile opened(path("a.HEX"));
    QVERIFY(opened.open(QIODevice::ReadOnly));
    QVERIFY(IsSameFile(&opened, path("a.HEX")));
    QVERIFY(IsSameFile(&opened, path("hard.HEX")));
    QVERIFY(IsSameFile(&opened, path("soft.HEX")));
    QVERIFY(IsSameFile(&opened, m_dir->path() + QStringLiteral("/./a.HEX")));
    QVERIFY(!IsSameFile(&opened, path("b.HEX")));
    QVERIFY(!IsSameFile(&opened, path("missing.HEX")));
    QVERIFY(!IsSameFile(nullptr, path("a.HEX")));
    opened.close();
    QVERIFY(!IsSameFile(&opened, path("a.HEX")));
}

void TestFileAccess::writeFailures()
{
    const FileResult noFolder = WriteTextFile(path("missing/x.HEX"), QStringLiteral("ab"));
    QCOMPARE(noFolder.failure, FileFailure::Create);
    QVERIFY(!noFolder.reason.isEmpty());
    // Only a regular file is written: a FIFO would block, a device would take the text.
    QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder")));
    QVERIFY(QFile::link(path("fifo"), path("link")));
    for (const QString& name :
         {path("fifo"), path("folder"), path("link"), QStringLiteral("/dev/full")}) {
        const FileResult refused = WriteTextFile(name, QStringLiteral("ab"));
        QCOMPARE(refused.failure, FileFailure::Create);
        QVERIFY(refused.reason.contains(QLatin1String("not a regular file")));
    }
    QVERIFY(QFileInfo(path("link")).isSymLink());
    QVERIFY(QFileInfo::exists(path("fifo")) && !QFileInfo(path("fifo")).isFile());
    // A device node of one's own behind a link (only root makes one): refused, left as it is.
    const QByteArray node = QFile::encodeName(path("node"));
    if (::geteuid() == 0) {
        QCOMPARE(::mknod(node.constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
        QVERIFY(QFile::link(path("node"), path("nodelink")));
        QCOMPARE(WriteTextFile(path("nodelink"), QStringLiteral("ab")).failure,
                 FileFailure::Create);
        struct stat left = {};
        QVERIFY(::lstat(node.constData(), &left) == 0 && S_ISCHR(left.st_mode));
    }
}

void TestFileAccess::writeReplaces()
{
    QFile file(path("saved.HEX"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("a much longer text than the new one");
    file.close();
    // Through a link: the link stays, its target gets the text.
    QVERIFY(QFile::link(file.fileName(), path("link.HEX")));
    QVERIFY(WriteTextFile(path("link.HEX"), QStringLiteral("41 \n42")).ok());
    QVERIFY(QFileInfo(path("link.HEX")).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("41 \r\n42\r\n"));
}

QTEST_APPLESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
