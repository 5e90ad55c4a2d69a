// File transmit, open, save and print, and the real-time log.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "display/bytetext.h"
#include "display/displaytail.h"
#include "display/logfile.h"
#include "display/logformat.h"
#include "transmit/fileaccess.h"
#include "transmit/textfile.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QFile>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

const QString Untitled = QStringLiteral("Untitled");
const QString DefaultSuffix = QStringLiteral("HEX");

// On Linux "*.*" would hide names without a dot, so "All Files" matches every name.
QList<kirt::FileFilter> openFilters()
{
    return {{QStringLiteral("Hex Files(*.HEX)"), QStringLiteral("*.HEX")},
            {QStringLiteral("Text Files(*.TXT)"), QStringLiteral("*.TXT")},
            {QStringLiteral("Document Files(*.DOC)"), QStringLiteral("*.DOC")},
            {QStringLiteral("All Files(*.*)"), QStringLiteral("*")}};
}

QList<kirt::FileFilter> saveFilters()
{
    QList<kirt::FileFilter> filters = openFilters();
    filters.insert(3, {QStringLiteral("Excel Files(*.XLS)"), QStringLiteral("*.XLS")});
    return filters;
}

constexpr int HexFilter = 0;
constexpr int ExcelFilter = 3;

// The box's text for what a file operation could not do.
QString fileErrorText(kirt::FileFailure failure, const QString& path)
{
    switch (failure) {
    case kirt::FileFailure::Open:
        return QStringLiteral("Cannot open file \"%1\".").arg(path);
    case kirt::FileFailure::Read:
        return QStringLiteral("Cannot read file \"%1\".").arg(path);
    case kirt::FileFailure::Create:
        return QStringLiteral("Cannot create file \"%1\".").arg(path);
    case kirt::FileFailure::Write:
        return QStringLiteral("Cannot write file \"%1\".").arg(path);
    case kirt::FileFailure::None:
        break;
    }
    return QString();
}

// Shows a failure; true when there was none.
bool reportFile(QWidget* window, const kirt::FileResult& result, const QString& path)
{
    if (result.ok())
        return true;
    kirt::dialogs().error(window, fileErrorText(result.failure, path), result.reason);
    return false;
}

// The gauge counts in int; a file of more lines than that would only fill it early.
int gaugeUnits(qint64 lines)
{
    return static_cast<int>(std::min<qint64>(lines, std::numeric_limits<int>::max()));
}

} // namespace

// A file about to be saved over or made the log may be the one being sent; the transmit
// still sends the file as it was when it started, as it did when it held all of it.
void TFmain::beforeRewriting(const QString& path)
{
    if (m_fileTransmit.active() && kirt::IsSameFile(m_fileTransmit.source(), path))
        m_fileTransmit.keepContent();
}

// Open, save and print.

void TFmain::FileOpenClick()
{
    if (realTimeSaveOn())
        return;
    ReceiveView_BitBtnClick();
    bool readOnly = m_display->isReadOnly();
    const QString path = kirt::dialogs().openFile(this, openFilters(), HexFilter, &readOnly);
    if (path.isEmpty())
        return;
    SetCurrentFileName(path);
    const bool send =
        portOpen() && kirt::dialogs().confirm(this, QStringLiteral("Starting a transmit of file?"));
    // Read before anything changes, so a file that cannot be read costs the display and a
    // running transmit nothing.
    auto file = std::make_unique<QFile>(path);
    if (!reportFile(this, kirt::OpenTextFile(*file), file->fileName()))
        return;
    if (send) {
        // A transmit still running is replaced: its remaining lines are dropped.
        kirt::FileTransmit& transmit = m_fileTransmit;
        if (!transmit.start(std::move(file))) {
            kirt::dialogs().error(this, fileErrorText(kirt::FileFailure::Read, path),
                                  transmit.errorString());
            return;
        }
        m_ui->DownloadCGauge->setRange(0, gaugeUnits(transmit.lineCount()));
        m_ui->DownloadCGauge->setValue(0);
        m_ui->DownloadPanel->show();
        rx().holdDisplay = true;
        m_fileTransmitTimer->start();
    } else {
        const kirt::FileResult tail =
            kirt::ReadDisplayTail(*file, m_display->columns(), displayLineLimit());
        if (!reportFile(this, tail, file->fileName()))
            return;
        m_display->setDisplayText(tail.text);
        TrimDisplayLines();
        m_display->setFocus();
    }
    m_display->document()->setModified(false);
    m_display->setReadOnly(readOnly);
    ScrollDisplayToEnd();
}

void TFmain::FileTransmitTimerTimer()
{
    kirt::FileTransmit& transmit = m_fileTransmit;
    if (!transmit.active()) {
        m_fileTransmitTimer->stop();
        return;
    }
    const QByteArray bytes = transmit.currentTick();
    WriteComBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  static_cast<std::uint32_t>(bytes.size()));

    // Sent data on show has shown the bytes already, in its own colour.
    if (!showingSent())
        m_display->appendData(kirt::BytesText(
            kirt::dataFormatFromIndex(m_ui->DisplayFormatComboBox->currentIndex()), bytes));
    TrimDisplayLines();

    m_ui->DownloadCGauge->setValue(gaugeUnits(transmit.lineIndex()));
    if (!transmit.advance() || !portOpen()) {
        transmit.clear();
        m_ui->DownloadPanel->hide();
        rx().holdDisplay = false;
        m_fileTransmitTimer->stop();
    }
    ScrollDisplayToEnd();
}

void TFmain::FileSaveClick()
{
    if (realTimeSaveOn())
        return;
    if (m_currentFileName == Untitled) {
        FileSaveAsClick();
        return;
    }
    beforeRewriting(m_currentFileName);
    if (!reportFile(this, kirt::WriteTextFile(m_currentFileName, m_display->displayText()),
                    m_currentFileName))
        return;
    m_display->document()->setModified(false);
}

void TFmain::FileSaveAsClick()
{
    if (realTimeSaveOn())
        return;
    QString path = kirt::dialogs().saveFile(this, saveFilters(), HexFilter, DefaultSuffix);
    if (path.isEmpty())
        return;
    path = kirt::WithDefaultSuffix(path, DefaultSuffix);
    beforeRewriting(path);
    if (!reportFile(this, kirt::WriteTextFile(path, m_display->displayText()), path))
        return;
    SetCurrentFileName(path);
    m_display->document()->setModified(false);
}

void TFmain::FilePrintClick()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(m_currentFileName);
    if (kirt::dialogs().print(this, printer)) {
        // Paper is white whatever the display's colours: print in black.
        QPalette p = m_display->palette();
        p.setColor(QPalette::Text, Qt::black);
        m_display->setPalette(p);

        QTextDocument document;
        document.setDefaultFont(m_display->font());
        document.setPlainText(m_display->displayText());
        QTextCursor all(&document);
        all.select(QTextCursor::Document);
        QTextCharFormat ink;
        ink.setForeground(m_display->palette().color(QPalette::Text));
        all.mergeCharFormat(ink);
        document.print(&printer);
        if (printer.printerState() == QPrinter::Error)
            kirt::dialogs().error(this, QStringLiteral("Printing failed."), printer.printerName());
    }
    ColorComboBoxClick();
}

// The real-time log.

void TFmain::RunTimeSave1Click()
{
    if (!portOpen())
        return;
    if (realTimeSaveOn()) {
        if (kirt::dialogs().confirm(this, QStringLiteral("OK to Run Time Save Stop ?")))
            StopRealTimeSave();
        return;
    }
    if (!kirt::dialogs().confirm(this, QStringLiteral("OK to Run Time Save Run ?")))
        return;
    kirt::LogFile& log = port().pipeline().log();
    port().pipeline().stopLog();
    QString path = kirt::dialogs().saveFile(this, saveFilters(), ExcelFilter, DefaultSuffix);
    if (path.isEmpty())
        return;
    path = kirt::WithDefaultSuffix(path, DefaultSuffix);
    // The file starts empty, also when it existed.
    beforeRewriting(path);
    if (!log.start(path)) {
        kirt::dialogs().error(this, fileErrorText(kirt::FileFailure::Create, path),
                              log.errorString());
        return;
    }
    SetCurrentFileName(path);
    StartRealTimeSave();
}

void TFmain::StartRealTimeSave()
{
    rx().logging = true;
    m_ui->FileOpen->setVisible(false);
    m_ui->FileSave->setVisible(false);
    m_ui->FileSaveAs->setVisible(false);
}

void TFmain::StopRealTimeSave()
{
    // What the last hand-over logged is in the file already; closing it writes nothing more
    // but a stamped line still open.
    port().pipeline().stopLog();
    rx().logging = false;
    m_ui->FileOpen->setVisible(true);
    m_ui->FileSave->setVisible(true);
    m_ui->FileSaveAs->setVisible(true);
}

QString TFmain::LogTimeStamp() const
{
    return port().pipeline().LogTimeStamp();
}
