// How live the desktop program stays. Two measurements on large photos:
//  - repaints during a run: the main window is asked to repaint every 10 ms
//    (as when it is uncovered or a slider is dragged) while the run works
//    through the photos; the gaps between its paints are what the user sees;
//  - the preview: from selecting a photo in the list to its picture painted,
//    against loading the same photo into pixels alone (its decode).
// Usage: bench_gui PHOTOS_FOLDER [RUNS]   (bench/gui.sh makes the photos)
#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "imageio/PictureRows.h"
#include "raster/Bitmap32.h"
#include "ui/Image32.h"
#include "ui/ProgramWindows.h"

#include "PrivateDesktop.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace palvex;

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

// Records when the watched widget was painted.
class TPaintClock : public QObject {
public:
    TPaintClock(QElapsedTimer& clock) : m_clock(clock) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && Recording)
            Times.push_back(double(m_clock.nsecsElapsed()) / 1e6);
        return false;
    }
    bool Recording = false;
    std::vector<double> Times;

private:
    QElapsedTimer& m_clock;
};

void Settle()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// One run over every listed photo with the preset; prints the paint gaps.
void RepaintsDuringRun(TProgramWindows& windows, const char* preset, const QString& target)
{
    TFormMain& main = *windows.FormMain;
    main.PresetItem(preset)->trigger();
    main.Edit1->setText(target);
    QDir(target).removeRecursively();
    QDir().mkpath(target);

    QElapsedTimer clock;
    clock.start();
    TPaintClock paints(clock);
    main.installEventFilter(&paints);
    QTimer ask;
    QObject::connect(&ask, &QTimer::timeout, [&] {
        paints.Recording = windows.FormProgress->isVisible();
        main.update();
    });
    ask.start(10);
    const double start = double(clock.nsecsElapsed()) / 1e6;
    main.BitBtn3->click();
    const double runTime = double(clock.nsecsElapsed()) / 1e6 - start;
    ask.stop();
    main.removeEventFilter(&paints);

    std::vector<double> gaps;
    for (size_t i = 1; i < paints.Times.size(); ++i)
        gaps.push_back(paints.Times[i] - paints.Times[i - 1]);
    const double longest = gaps.empty() ? runTime : *std::max_element(gaps.begin(), gaps.end());
    std::printf("run %-7s %2d photos in %7.0f ms: %4zu paints, gap median %5.1f ms, p95 %5.1f ms, longest %5.1f ms "
                "(target <= 150) %s\n",
                preset, main.ListView1->topLevelItemCount(), runTime, paints.Times.size(), Median(gaps),
                Percentile(gaps, 0.95), longest, longest <= 150 ? "ok" : "OVER");
}

// Preview against decode, alternating, one photo after another, drawn with
// the filter list's entry filterIndex.
void PreviewAgainstDecode(TFormMain& main, int runs, int filterIndex)
{
    main.ComboBoxEx1->setCurrentIndex(filterIndex);
    std::vector<double> previews;
    std::vector<double> decodes;
    std::vector<double> ratios;
    const int count = main.ListView1->topLevelItemCount();
    for (int i = 0; i < runs; ++i) {
        QTreeWidgetItem* item = main.ListView1->topLevelItem(i % count);
        const std::string path = item->text(0).toStdString();

        QElapsedTimer timer;
        timer.start();
        {
            TBitmap32 pixels;
            LoadPictureFile(pixels, path);
        }
        const double decode = double(timer.nsecsElapsed()) / 1e6;

        Settle();
        timer.restart();
        main.ListView1->setCurrentItem(item);
        main.Image321->repaint();
        const double preview = double(timer.nsecsElapsed()) / 1e6;

        decodes.push_back(decode);
        previews.push_back(preview);
        ratios.push_back(preview / decode);
    }
    const double ratio = Median(ratios);
    std::printf("preview %dx%d photo, filter %d: median %6.1f ms, decode alone median %6.1f ms, ratio median %.2f "
                "(target <= 1.5) %s\n",
                main.Image321->Bitmap().Width(), main.Image321->Bitmap().Height(), filterIndex, Median(previews),
                Median(decodes), ratio, ratio <= 1.5 ? "ok" : "OVER");
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasArguments(argc, argv, 1, "PHOTOS_FOLDER [RUNS]"))
        return 2;
    TPrivateDesktop desktop(argc, argv, kLanguageEnglish);
    const std::string photos = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString() + "/";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;

    QTemporaryDir output;
    SetErrorReportHandler([](const QString&, const QString& text) {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    });

    TProgramWindows windows = CreateProgramWindows({});
    TFormMain& main = *windows.FormMain;
    main.show();
    Settle();
    main.ListSourceFolder(photos);
    main.BitBtn5->click();

    PreviewAgainstDecode(main, runs, 0);
    PreviewAgainstDecode(main, runs, 4);
    RepaintsDuringRun(windows, "opt6", output.path() + "/a/");
    RepaintsDuringRun(windows, "opt100", output.path() + "/b/");
    return 0;
}
