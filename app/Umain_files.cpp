// File transmit, open, save and print, and the real-time log.
#include "app/Umain.h"

#include "ui_Umain.h"

struct TFmain::FilesState
{
};

void TFmain::AreaDeleter::operator()(FilesState* state) const
{
    delete state;
}

void TFmain::connectFiles()
{
    m_files.reset(new FilesState);
}

void TFmain::FileOpenClick() {}
void TFmain::FileSaveClick() {}
void TFmain::FileSaveAsClick() {}
void TFmain::FilePrintClick() {}
void TFmain::FileTransmitTimerTimer() {}
void TFmain::RunTimeSave1Click() {}
void TFmain::StartRealTimeSave() {}
void TFmain::LogLineBreak() {}
void TFmain::LogRxByte(std::uint8_t) {}

void TFmain::StopRealTimeSave()
{
    m_realTimeSaveOn = false;
    m_ui->FileOpen->setVisible(true);
    m_ui->FileSave->setVisible(true);
    m_ui->FileSaveAs->setVisible(true);
}
