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
    m_plotPanel = new kirt::PlotPanel(this);
    m_ui->ClientAreaLayout->addWidget(m_plotPanel, 1, 0);
    m_plotPanel->hide();
    connect(m_plotPanel, &kirt::PlotPanel::exportRequested, this, &TFmain::exportPlot);
    // The plot reads along from the moment the port opens, whatever the display is busy with.
    port().addReceiver(m_plotPanel);
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
        png ? m_plotPanel->png()
            : m_plotPanel->feed()->store().csv(m_plotPanel->feed()->parser().names());
    const kirt::FileResult written =
        bytes.isEmpty() ? kirt::FileResult::failed(kirt::FileFailure::Write,
                                                   QStringLiteral("The picture cannot be drawn."))
                        : kirt::saveFile(path, bytes);
    if (!written.ok())
        kirt::dialogs().error(this, QStringLiteral("Cannot write ") + path, written.reason);
}
