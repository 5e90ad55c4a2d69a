// The plot view: the numbers a board prints, collected from the moment the port opens whether
// the plot is in front or not, beside the display, log and rules, which go on as before.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "base/savefile.h"
#include "plot/plotfeed.h"
#include "ui/plotpanel.h"
#include "ui_Umain.h"

void TFmain::setUpPlot()
{
    m_plotFeed = std::make_unique<kirt::PlotFeed>();
    m_plotPanel = new kirt::PlotPanel(this);
    m_ui->ClientAreaLayout->addWidget(m_plotPanel, 1, 0);
    m_plotPanel->hide();
    m_plotPanel->setFeed(m_plotFeed.get());
    connect(m_plotPanel, &kirt::PlotPanel::exportRequested, this, &TFmain::exportPlot);
    // Bytes reach the plot and a script from the session, whatever the display is busy with.
    m_session->setReceiveTap(
        [this](const std::uint8_t* bytes, std::size_t count, const kirt::ReadTime& readAt) {
            receivedForTools(bytes, count, readAt);
        });
}

void TFmain::receivedForTools(const std::uint8_t* bytes, std::size_t count,
                              const kirt::ReadTime& readAt)
{
    // The port's rate tells the feed how soon after an opening a line may be one begun before.
    m_plotFeed->setLineSettings(m_comSettings);
    m_plotFeed->received(bytes, count, readAt.steady);
    m_plotPanel->dataArrived();
    if (scriptRunning())
        m_script->received(bytes, count);
}

void TFmain::exportPlot()
{
    const QString path =
        kirt::dialogs().saveFile(this,
                                 {{QStringLiteral("Points (CSV)"), QStringLiteral("*.csv")},
                                  {QStringLiteral("Picture (PNG)"), QStringLiteral("*.png")}},
                                 0, QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    const bool png = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
    const QByteArray bytes =
        png ? m_plotPanel->png() : m_plotFeed->store().csv(m_plotFeed->parser().names());
    const kirt::FileResult written =
        bytes.isEmpty() ? kirt::FileResult::failed(kirt::FileFailure::Write,
                                                   QStringLiteral("The picture cannot be drawn."))
                        : kirt::saveFile(path, bytes);
    if (!written.ok())
        kirt::dialogs().error(this, QStringLiteral("Cannot write ") + path, written.reason);
}
