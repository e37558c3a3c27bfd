// Benchmark of opening the playlist drop-down's list, against Qt's own combo box
// opening the same texts, in one process:
//   (1) DropDown until the popup's first paint is done, with 100, 10,000 and 100,000
//       entries: the cost must not grow with the list;
//   (2) the same with 100,000 entries against QComboBox::showPopup until its list's
//       first paint is done;
//   (3) the resident memory the open popup adds with 100,000 entries;
//   (4) the rows drawn when End jumps to the last row and Page Down pages on,
//       against the rows in view.
//
//   kino_popup_bench [--runs N] [--reference-runs N]
//
// It prints one table: figure | ours | reference | ratio | target | met? and the single
// runs below it. It only prints figures; its exit code says whether every
// measurement was taken.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QVBoxLayout>
#include <QWidget>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"

namespace kino::bench {
namespace {

constexpr double kGrowthRatioMax = 2.0;
constexpr double kQtRatioMax = 0.2;
constexpr double kMemoryMbMax = 5.0; // decimal megabytes
constexpr int kWaitMs = 60000;

struct Options {
    int runs = 7;
    int referenceRuns = 3;
};

std::string Entry(int i)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "/home/user/media/folder%03d/clip%05d.avi", i % 997, i);
    return buf;
}

double ResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024.0 / 1e6;
    return -1;
}

// Runs the event loop until `done` holds; false after kWaitMs.
template <typename F>
bool WaitFor(F done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > kWaitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class Bench {
public:
    explicit Bench(const Options& options) : options_(options)
    {
        window_.resize(400, 300);
        window_.move(100, 100);
        auto* column = new QVBoxLayout(&window_);
        combo_ = new TdxfComboBox(&window_);
        combo_->SetStyle(dcsDropDownList);
        combo_->SetPopupWidth(300);
        combo_->SetPopupHeight(150);
        column->addWidget(combo_);
        qtCombo_ = new QComboBox(&window_);
        column->addWidget(qtCombo_);
        combo_->Loaded();
        window_.show();
        Settle();
    }

    void Fill(int count)
    {
        TdxfItems& items = combo_->Items();
        items.BeginUpdate();
        items.Clear();
        for (int i = 0; i < count; ++i)
            items.Add(Entry(i));
        items.EndUpdate();
        combo_->SetItemIndex(count / 2);
        Settle();
    }

    // One DropDown until the popup's first paint is done, in milliseconds.
    double OpenOnce()
    {
        bool painted = false;
        QElapsedTimer timer;
        timer.start();
        combo_->DropDown();
        TPopupWindow* popup = combo_->Popup();
        if (!popup)
            return -1;
        QObject::connect(popup, &TPopupWindow::painted, popup, [&painted] { painted = true; });
        const bool ok = WaitFor([&] { return painted; });
        const double ms = timer.nsecsElapsed() / 1e6;
        combo_->CloseUp();
        Settle();
        return ok ? ms : -1;
    }

    // QComboBox::showPopup until its list's first paint is done.
    double QtOpenOnce()
    {
        bool painted = false;
        PaintWatch watch(&painted);
        qtCombo_->view()->viewport()->installEventFilter(&watch);
        QElapsedTimer timer;
        timer.start();
        qtCombo_->showPopup();
        const bool ok = WaitFor([&] { return painted; });
        const double ms = timer.nsecsElapsed() / 1e6;
        qtCombo_->view()->viewport()->removeEventFilter(&watch);
        qtCombo_->hidePopup();
        Settle();
        return ok ? ms : -1;
    }

    void FillQt(int count)
    {
        QStringList texts;
        texts.reserve(count);
        for (int i = 0; i < count; ++i)
            texts << QString::fromStdString(Entry(i));
        qtCombo_->clear();
        qtCombo_->addItems(texts);
        qtCombo_->setCurrentIndex(count / 2);
        Settle();
    }

    void Run(Report& report)
    {
        std::vector<double> medians;
        for (int count : {100, 10000, 100000}) {
            Progress("opening with " + std::to_string(count) + " entries");
            Fill(count);
            if (count == 100000)
                MeasureMemory(report);
            OpenOnce(); // warm-up
            std::vector<double> runs;
            for (int i = 0; i < options_.runs; ++i)
                runs.push_back(OpenOnce());
            if (*std::min_element(runs.begin(), runs.end()) < 0)
                report.Failure("the popup was not painted with " + std::to_string(count) + " entries");
            medians.push_back(Median(runs));
            report.Note("open, " + std::to_string(count) + " entries (ms): " + JoinFixed(runs, 2));
        }
        const double small = medians[0];
        report.Add(Row{"open + first paint, 100 entries", Fixed(small, 2) + " ms", "", "", "", ""});
        report.Add(Row{"open + first paint, 10,000 vs 100", Fixed(medians[1], 2) + " ms", Fixed(small, 2) + " ms",
                       Fixed(medians[1] / small, 2), "<= " + Fixed(kGrowthRatioMax, 1),
                       medians[1] / small <= kGrowthRatioMax ? "yes" : "no"});
        report.Add(Row{"open + first paint, 100,000 vs 100", Fixed(medians[2], 2) + " ms", Fixed(small, 2) + " ms",
                       Fixed(medians[2] / small, 2), "<= " + Fixed(kGrowthRatioMax, 1),
                       medians[2] / small <= kGrowthRatioMax ? "yes" : "no"});

        Progress("QComboBox::showPopup with 100,000 entries");
        FillQt(100000);
        QtOpenOnce(); // warm-up
        std::vector<double> qt;
        for (int i = 0; i < options_.referenceRuns; ++i)
            qt.push_back(QtOpenOnce());
        const double qtMedian = Median(qt);
        report.Note("QComboBox::showPopup, 100000 entries (ms): " + JoinFixed(qt, 2));
        report.Add(Row{"open + first paint, 100,000 vs QComboBox", Fixed(medians[2], 2) + " ms",
                       Fixed(qtMedian, 2) + " ms", Fixed(medians[2] / qtMedian, 4), "<= " + Fixed(kQtRatioMax, 1),
                       medians[2] / qtMedian <= kQtRatioMax ? "yes" : "no"});
        qtCombo_->clear();
        Settle();

        Fill(100000);
        MeasureRepaints(report);
    }

private:
    class PaintWatch : public QObject {
    public:
        explicit PaintWatch(bool* painted) : painted_(painted) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            // Set before the paint runs; the wait sees it once the event is done.
            if (e->type() == QEvent::Paint)
                *painted_ = true;
            return false;
        }

    private:
        bool* painted_;
    };

    // What the first open popup adds to the resident size.
    void MeasureMemory(Report& report)
    {
        malloc_trim(0);
        const double before = ResidentMb();
        bool painted = false;
        combo_->DropDown();
        TPopupWindow* popup = combo_->Popup();
        QObject::connect(popup, &TPopupWindow::painted, popup, [&painted] { painted = true; });
        WaitFor([&] { return painted; });
        const double after = ResidentMb();
        combo_->CloseUp();
        Settle();
        const double added = after - before;
        report.Add(Row{"memory added by the open popup, 100,000 entries", Fixed(added, 2) + " MB",
                       Fixed(before, 1) + " MB before", "", "< " + Fixed(kMemoryMbMax, 0) + " MB",
                       added < kMemoryMbMax ? "yes" : "no"});
    }

    // Rows drawn by End and by Page Down, against the rows in view.
    void MeasureRepaints(Report& report)
    {
        int drawn = 0;
        combo_->OnDrawItem = [&drawn](TdxfComboBox*, int, bool, bool, int&, bool&, TOwnerDrawState, std::string&,
                                      QPainter&, const QRect&, QColor&, QFont&, bool&) { ++drawn; };
        bool painted = false;
        combo_->SetItemIndex(0);
        combo_->DropDown();
        TPopupWindow* popup = combo_->Popup();
        QObject::connect(popup, &TPopupWindow::painted, popup, [&painted] { painted = true; });
        WaitFor([&] { return painted; });
        const int inView = (popup->ListRect().height() + popup->RowRect(0).height() - 1) / popup->RowRect(0).height();
        auto press = [&](int key, const std::string& name) {
            painted = false;
            drawn = 0;
            popup->KeyDown(key, Qt::NoModifier);
            WaitFor([&] { return painted; });
            Settle();
            report.Add(Row{name + ", 100,000 entries: rows drawn", std::to_string(drawn),
                           std::to_string(inView) + " in view", Fixed(double(drawn) / inView, 2), "<= 1",
                           drawn <= inView ? "yes" : "no"});
        };
        press(Qt::Key_End, "End");
        press(Qt::Key_Home, "Home");
        press(Qt::Key_PageDown, "Page Down");
        press(Qt::Key_PageDown, "Page Down again");
        combo_->CloseUp();
        combo_->OnDrawItem = nullptr;
        Settle();
    }

    Options options_;
    QWidget window_;
    TdxfComboBox* combo_ = nullptr;
    QComboBox* qtCombo_ = nullptr;
};

} // namespace
} // namespace kino::bench

int main(int argc, char** argv)
{
    using namespace kino::bench;
    // The offscreen platform says at every popup that it cannot raise or grab.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        if (!text.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](int& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            out = std::max(1, std::atoi(argv[++i]));
        };
        if (arg == "--runs")
            value(options.runs);
        else if (arg == "--reference-runs")
            value(options.referenceRuns);
        else {
            std::fprintf(stderr, "usage: kino_popup_bench [--runs N] [--reference-runs N]\n");
            return 2;
        }
    }
    Report report;
    Bench bench(options);
    bench.Run(report);
    report.Note("platform: " + QApplication::platformName().toStdString());
    report.Print();
    return report.Failed() ? 1 : 0;
}
