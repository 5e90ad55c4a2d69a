// Bad surroundings: a garbage settings file, a settings location that cannot be written, a
// port mapped to something that is no terminal. A message or a quiet fallback, never a crash.
#include "tests/support/columns.h"
#include "tests/support/windowfixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using kirt::test::WindowFixture;

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void garbageSettingsFiles();
    void unwritableSettingsLocation();
    void portMappedToSomethingElse_data();
    void portMappedToSomethingElse();
};

void TestBadInput::garbageSettingsFiles()
{
    QRandomGenerator random(20261208);
    const QList<QByteArray> fixed = {
        QByteArray(4096, '\0'),
        "[Kirt]\n" + QByteArray(2000, '='),
        "[Kirt]\nSerialPort=@Variant(\\0\\0\\0\\x7f)\n",
        "[Kirt\nSerialPort=1\n",
        "[Kirt]\nSerialPort=99999999999999999999\n",
        "[Kirt]\nNewLineChar=\"" + QByteArray(70000, 'F') + "\"\n",
    };
    QList<QByteArray> inputs = fixed;
    for (int i = 0; i < 20; ++i) {
        QByteArray bytes(static_cast<qsizetype>(random.bounded(1, 3000)), '\0');
        for (char& b : bytes)
            b = static_cast<char>(random.bounded(256));
        inputs << ("[Kirt]\n" + bytes);
    }
    for (const QByteArray& input : inputs) {
        WindowFixture f;
        f.settings.write(input);
        TFmain& w = f.window();
        QVERIFY(f.answers.errors.size() <= 1);
        for (QComboBox* box : w.findChildren<QComboBox*>())
            QVERIFY(box->currentIndex() >= -1 && box->currentIndex() < box->count());
        QVERIFY(f.find<QLabel>("StatusPanel0")->text().startsWith("PORT : "));
        QVERIFY(w.close());
    }
}

void TestBadInput::unwritableSettingsLocation()
{
    // The configuration home is a plain file: no folder can be made below it, even as root.
    QTemporaryDir dir;
    const QString blocker = dir.path() + QStringLiteral("/config");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    {
        // The fixture puts the variable back as it was when it goes.
        WindowFixture f;
        qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
        TFmain& w = f.window();
        QVERIFY(f.answers.errors.isEmpty());
        QVERIFY(w.close()); // nothing saved, nothing said, and the close goes ahead
        QVERIFY(f.answers.errors.isEmpty());
        QVERIFY(f.answers.messages.isEmpty());
    }
    QVERIFY(QFileInfo(blocker).isFile());
}

void TestBadInput::portMappedToSomethingElse_data()
{
    kirt::test::columns<QString, bool, QString, QString>(
        {"kind", "throughLink", "error", "message"});
    // Refused before anything is read from or written to it.
    QTest::newRow("regular file") << "file" << false << "Error Opening COM1" << QString();
    QTest::newRow("directory") << "dir" << false << "Error Opening COM1" << QString();
    QTest::newRow("link to a regular file") << "file" << true << "Error Opening COM1" << QString();
    QTest::newRow("dangling link") << "missing" << true << "Error Opening COM1" << QString();
}

void TestBadInput::portMappedToSomethingElse()
{
    QFETCH(QString, kind);
    QFETCH(bool, throughLink);
    QFETCH(QString, error);
    QFETCH(QString, message);
    WindowFixture f;
    const QString target = f.file(QStringLiteral("target"));
    if (kind == QLatin1String("file")) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a terminal");
    } else if (kind == QLatin1String("dir")) {
        QVERIFY(QDir().mkpath(target));
    }
    qunsetenv("KIRT_COM1");
    if (throughLink) {
        const QString ports = f.settings.configHome() + QStringLiteral("/kirt/ports");
        QVERIFY(QDir().mkpath(ports));
        QVERIFY(QFile::link(target, ports + QStringLiteral("/COM1")));
    } else {
        qputenv("KIRT_COM1", target.toLocal8Bit());
    }
    const bool opened = f.openPort();
    qunsetenv("KIRT_COM1");
    QVERIFY(!opened);
    QCOMPARE(f.answers.errors, error.isEmpty() ? QStringList() : QStringList{error});
    QCOMPARE(f.answers.messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (kind != QLatin1String("missing"))
        QCOMPARE(f.answers.details, QStringList{"The path is not a serial device."});
    if (kind == QLatin1String("file"))
        QCOMPARE(QFile(target).size(), qint64(14)); // left as it was
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
