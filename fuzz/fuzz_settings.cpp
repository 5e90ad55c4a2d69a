// Start-up's restore over an arbitrary settings file: a message at most, never a crash, and
// every box left inside its own items.
#include "app/Umain.h"
#include "tests/support/dialoganswerer.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QSlider>

#include <cstdlib>
#include <memory>

namespace {

struct World
{
    int argc = 1;
    char name[8] = "fuzz";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<kirt::test::TempSettings> settings;
    std::unique_ptr<kirt::test::DialogAnswerer> answers;
    std::unique_ptr<TFmain> window;
};

World* world = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    world = new World;
    world->app = std::make_unique<QApplication>(world->argc, world->argv);
    world->settings = std::make_unique<kirt::test::TempSettings>();
    world->answers = std::make_unique<kirt::test::DialogAnswerer>();
    world->window = std::make_unique<TFmain>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    world->settings->write(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    world->answers->errors.clear();
    world->window->RestoreSettings();
    if (world->answers->errors.size() > 1)
        std::abort();
    for (QComboBox* box : world->window->findChildren<QComboBox*>())
        if (box->currentIndex() < -1 || box->currentIndex() >= box->count())
            std::abort();
    const auto* slider = world->window->findChild<QSlider*>(QStringLiteral("TrackBar1"));
    if (slider->value() < 0 || slider->value() > 15)
        std::abort();
    return 0;
}
