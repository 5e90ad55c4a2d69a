// Every file the program writes: a regular file replaced whole, a link kept with its target
// replaced, and anything else refused without being opened and left as it was.
#include "base/savefile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using kirt::FileFailure;
using kirt::FileResult;

class TestSaveFile : public QObject
{
    Q_OBJECT

private slots:
    void followsTheRule_data();
    void followsTheRule();
};

void TestSaveFile::followsTheRule_data()
{
    QTest::addColumn<QString>("made"); // at the path; "link x": a link to x
    QTest::addColumn<bool>("written");
    QTest::newRow("nothing") << "" << true;
    QTest::newRow("regular file") << "file" << true;
    QTest::newRow("link to a regular file") << "link file" << true;
    QTest::newRow("FIFO") << "fifo" << false;
    QTest::newRow("link to a FIFO") << "link fifo" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("device node") << "node" << false;
    QTest::newRow("link to a device node") << "link node" << false;
}

void TestSaveFile::followsTheRule()
{
    QFETCH(QString, made);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString thing = dir.filePath(QStringLiteral("thing"));
    const QByteArray name = QFile::encodeName(thing);
    const QString kind = made.section(u' ', -1);
    const bool linked = made.startsWith(QLatin1String("link"));
    if (kind == QLatin1String("file")) {
        QFile file(thing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("a much longer old text") > 0);
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(thing));
    } else if (kind == QLatin1String("node")) {
        if (::geteuid() != 0)
            QSKIP("making a device node needs root");
        QCOMPARE(::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
    }
    const QString path = linked ? dir.filePath(QStringLiteral("link")) : thing;
    if (linked)
        QVERIFY(QFile::link(thing, path));
    struct stat before = {};
    ::lstat(name.constData(), &before);
    // A reader sees whatever goes into the FIFO, and lets a wrong open go through, not hang.
    const int reader =
        kind == QLatin1String("fifo") ? ::open(name.constData(), O_RDONLY | O_NONBLOCK) : -1;

    const FileResult result = kirt::saveFile(path, "new");

    QCOMPARE(result.ok(), written);
    QCOMPARE(QFileInfo(path).isSymLink(), linked);
    if (written) {
        QFile file(thing);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("new"));
        return;
    }
    QCOMPARE(result.failure, FileFailure::Create);
    QVERIFY2(result.reason.contains(QLatin1String("not a regular file")),
             qPrintable(result.reason));
    struct stat after = {};
    QCOMPARE(::lstat(name.constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    if (reader >= 0) {
        char byte = 0;
        const ssize_t got = ::read(reader, &byte, 1);
        ::close(reader);
        QCOMPARE(got, ssize_t(0));
    }
}

QTEST_APPLESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
