// Benchmark of building the playlist in the main window, against tools doing the same
// work alone:
//   (1) the folder-tree add with the "all media" filter vs find(1) over the same tree,
//   (2) a sorted add of many files in one command vs one std::sort of the same texts
//       with the list's comparison,
//   (3) the resident size of the program holding that many entries;
// (2) and (3) under each of several locales, each in a fresh process of its own.
//
//   kino_playlist_bench [--tree DIR] [--runs N] [--sort-runs N] [--entries N]
//                       [--only folder,sort,memory] [--locales C,ja_JP.UTF-8] [--make-tree]
//
// It prints one table: figure | ours | reference | ratio | target | met? and the single
// runs and breakdowns below it. It only prints figures; its exit code says whether
// every measurement was taken (and the entry counts agreed).
#include <QAction>
#include <QCollator>
#include <QCollatorSortKey>
#include <QCoreApplication>
#include <QLocale>
#include <QString>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "BenchReport.h"
#include "ChildProcess.h"
#include "PlaylistInputs.h"
#include "QuietChild.h"
#include "app/Dialogs.h"
#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "controls/dxfItems.h"
#include "player/engine/MediaFramework.h"
#include "search/FolderCache.h"
#include "search/SearchFile.h"

namespace kino::bench {
namespace {

// The targets the figures are held against.
constexpr double kFolderRatioMax = 1.5;
constexpr double kSortRatioMax = 1.2;
constexpr double kMemoryMbMax = 60.0; // decimal megabytes

struct Options {
    std::string tree;
    TreeLayout layout;
    int runs = 5;
    int sortRuns = 3;
    int entries = 100000;
    bool folder = true;
    bool sort = true;
    bool memory = true;
    bool makeTreeOnly = false;
    std::vector<std::string> locales{"C", "ja_JP.UTF-8"}; // of (2) and (3)
};

// Answers the main window's dialogs: the folder browser with the tree, the open-file
// dialog with the benchmark's paths; records any error box.
class BenchDialogs : public IDialogs {
public:
    std::vector<std::string> openFiles;
    std::string folder;
    QStringList errors;

    void ShowError(QWidget*, const QString& text) override { errors << StandardErrorText(text); }
    bool OpenFiles(QWidget*, std::vector<std::string>& files) override
    {
        files = openFiles;
        return true;
    }
    std::string BrowseFolder(QWidget*) override { return folder; }
    std::string InputUrl(QWidget*) override { return {}; }
    bool ConfirmReset(QWidget*) override { return false; }
    void ShowMessage(QWidget*, const QString&) override {}
};

std::string Thousands(long long n)
{
    const std::string digits = std::to_string(n < 0 ? -n : n);
    std::string text = n < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

template <typename F>
double TimeMs(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Mb(long kb)
{
    return double(kb) * 1024.0 / 1e6;
}

// Lets the window handle what a command posted (the list's repaint and the like),
// outside the timed part.
void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

std::string SettingsPath()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/kino-playlist-bench-" + std::to_string(::getpid()) + ".ini";
}

// The main window as the user has it: shown, nothing playing, so an add never starts
// an entry.
std::unique_ptr<TMovieForm1> ShowForm(BenchDialogs& dialogs, const std::string& settings)
{
    auto form = std::make_unique<TMovieForm1>(&dialogs);
    form->SetSettingsPath(settings);
    form->FollowPlayerStatus(TGKitMSPlay::Playing);
    form->show();
    Settle();
    return form;
}

void ClearList(TMovieForm1& form)
{
    form.Playlist()->Items().Clear();
    form.FollowPlayerStatus(TGKitMSPlay::Playing);
    Settle();
}

std::vector<std::string> FindCommand(const std::string& root)
{
    return {"find",   root, "-type",  "f",      "(",  "-iname", "*.avi",  "-o", "-iname",
            "*.mpg",  "-o", "-iname", "*.mpeg", "-o", "-iname", "*.wav",  "-o", "-iname",
            "*.wave", "-o", "-iname", "*.mid",  "-o", "-iname", "*.midi", ")"};
}

// ------------------------------------------------------------ (1) folder-tree add

// Where the command's time goes, each part done alone once: the walk of the tree, the
// pattern-by-pattern search over the walk's listings, and adding the found paths to a
// list of its own.
void FolderBreakdown(TMovieForm1& form, const std::string& root, Report& report)
{
    int folders = 0;
    const double walkMs = TimeMs([&] {
        TSearchDir walk;
        walk.SetListingCache(std::make_shared<TFolderCache>());
        walk.OnFind = [&](TSearchDir*, const std::string&, const TSearchFileData&, bool&, bool&) { ++folders; };
        walk.SetBaseDir(root);
        walk.Search();
    });

    std::vector<std::string> found;
    const double searchMs = TimeMs([&] {
        TSearchFile search;
        search.SetRecursive(true);
        search.SetListingCache(std::make_shared<TFolderCache>());
        search.OnFind = [&](TSearchFile*, const std::string& name, const TSearchFileData&, bool&) {
            found.push_back(name);
        };
        search.SetDirectory(root);
        for (const std::string& pattern : form.FilterPatterns()) {
            search.SetSearchName(pattern);
            search.Search();
        }
    });

    TdxfItems list;
    const double addMs = TimeMs([&] {
        list.BeginUpdate();
        for (const std::string& path : found)
            list.Add(path);
        list.EndUpdate();
    });
    report.Note("    done alone, once: walk of " + Thousands(folders) + " folders " + Fixed(walkMs, 1) +
                " ms; walk and search of every pattern, no list " + Fixed(searchMs, 1) + " ms (" +
                Thousands(long(found.size())) + " found); adding them to an unsorted list " + Fixed(addMs, 1) + " ms");
}

void BenchFolder(const Options& opt, TMovieForm1& form, BenchDialogs& dialogs, Report& report)
{
    const std::vector<std::string> findArgs = FindCommand(opt.tree);
    dialogs.folder = opt.tree;

    // Warm-up of each, so the page cache holds the tree for both; find's warm-up is
    // also the one run whose output is counted.
    Progress("folder-tree add, warm-up");
    const ChildResult counted = RunChild(findArgs);
    if (!counted.Ok()) {
        report.Failure("find over " + opt.tree + ": " + counted.Describe() + " " + counted.errTail);
        return;
    }
    const long findCount = long(std::count(counted.out.begin(), counted.out.end(), '\n'));
    ClearList(form);
    form.findChild<QAction*>(QStringLiteral("CDROM1"))->trigger();
    Settle();

    std::vector<double> ours, reference;
    int ourCount = -1;
    for (int i = 0; i < opt.runs; ++i) {
        Progress("folder-tree add, run " + std::to_string(i + 1) + " of " + std::to_string(opt.runs));
        ClearList(form);
        ours.push_back(TimeMs([&] { form.findChild<QAction*>(QStringLiteral("CDROM1"))->trigger(); }));
        ourCount = form.Playlist()->Items().Count();
        Settle();
        const QuietResult f = RunQuiet(findArgs);
        if (!f.ok) {
            report.Failure("find over " + opt.tree + ": " + f.failure);
            return;
        }
        reference.push_back(f.wallMs);
    }
    const double o = Median(ours), r = Median(reference), ratio = o / r;
    report.Add({"(1) folder-tree add, all media, " + Thousands(opt.layout.Files()) + " files [ms, median of " +
                    std::to_string(opt.runs) + "]",
                Fixed(o, 1), Fixed(r, 1), Fixed(ratio, 2), "<= " + Fixed(kFolderRatioMax, 2),
                ratio <= kFolderRatioMax ? "yes" : "NO"});
    report.Note("(1) tree " + opt.tree + ": " + opt.layout.Describe() + " (" + Thousands(opt.layout.Folders()) +
                " leaf folders, " + Thousands(opt.layout.MediaFiles()) + " media files)");
    report.Note("    entries: ours " + Thousands(ourCount) + ", find " + Thousands(findCount) +
                (ourCount == findCount ? " (equal)" : " (DIFFERENT)"));
    if (ourCount != findCount)
        report.Failure("the folder-tree add found " + std::to_string(ourCount) + " entries, find " +
                       std::to_string(findCount));
    report.Note("    ours ms (CDROM1 triggered, sort off): " + JoinFixed(ours, 1) +
                "; find ms: " + JoinFixed(reference, 1));
    FolderBreakdown(form, opt.tree, report);
    ClearList(form);
}

// ------------------------------------------------------------ child processes

// The child figures travel as lines "key value...", values separated by spaces.
std::map<std::string, std::string> ParseLines(const std::string& out)
{
    std::map<std::string, std::string> values;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)] = line.substr(space + 1);
    }
    return values;
}

std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> numbers;
    std::istringstream in(text);
    double v = 0;
    while (in >> v)
        numbers.push_back(v);
    return numbers;
}

double Number(const std::map<std::string, std::string>& values, const std::string& key)
{
    auto it = values.find(key);
    const auto numbers = it == values.end() ? std::vector<double>{} : Numbers(it->second);
    return numbers.empty() ? -1 : numbers.front();
}

std::string SelfPath()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string("/proc/self/exe");
}

// This program again in a fresh process, under the given locale (LC_ALL and LANG, which
// QLocale reads), in one of its child modes.
ChildResult RunUnderLocale(const std::string& locale, std::vector<std::string> childArgs)
{
    std::vector<std::string> argv{"env", "LC_ALL=" + locale, "LANG=" + locale, SelfPath(), "--child"};
    argv.insert(argv.end(), childArgs.begin(), childArgs.end());
    return RunChild(argv);
}

// ------------------------------------------------------------ (2) sorted add

// The comparison the list keeps its order by: the user's locale, letter case ignored,
// on the shown form of each text.
QCollator ListCollator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Sorts the texts once with std::sort and the collator's comparison, each text made a
// QString once; returns the time and leaves the order in `sorted`.
double ReferenceSortMs(const std::vector<std::string>& texts, std::vector<QString>& sorted)
{
    sorted.clear();
    return TimeMs([&] {
        const QCollator collator = ListCollator();
        sorted.reserve(texts.size());
        for (const std::string& t : texts)
            sorted.push_back(QString::fromUtf8(t.data(), qsizetype(t.size())));
        std::sort(sorted.begin(), sorted.end(),
                  [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    });
}

// In a fresh process under its locale: the window shown, automatic sort on, then runs of
// "Add files" answered with all the paths at once, alternating with the reference's sort.
// Prints "key value..." lines.
int SortChild(int entries, int runs)
{
    BenchDialogs dialogs;
    const std::string settings = SettingsPath();
    std::vector<double> ours, reference;
    std::vector<QString> sorted;
    int count = -1;
    long differ = 0, outOfOrder = 0;
    double oneByOneMs = -1, keyMs = -1, keySortMs = -1;
    long rssKb = -1;
    {
        auto form = ShowForm(dialogs, settings);
        dialogs.openFiles = ShuffledPlaylistPaths(entries);
        form->findChild<QAction*>(QStringLiteral("N27"))->trigger();
        if (!form->Playlist()->Sorted()) {
            std::printf("failure automatic sort did not switch on\n");
            return 1;
        }
        TdxfItems& items = form->Playlist()->Items();
        for (int i = 0; i < runs; ++i) {
            ClearList(*form);
            ours.push_back(TimeMs([&] { form->findChild<QAction*>(QStringLiteral("N18"))->trigger(); }));
            Settle();
            reference.push_back(ReferenceSortMs(dialogs.openFiles, sorted));
        }
        count = items.Count();
        // The list's order against the reference's, position by position; a difference
        // only between texts that collate equal would still be the same order.
        for (int i = 0; i < count && std::size_t(i) < sorted.size(); ++i) {
            const QByteArray ref = sorted[std::size_t(i)].toUtf8();
            const std::string& mine = items.Strings(i);
            if (mine == std::string_view(ref.constData(), std::size_t(ref.size())))
                continue;
            ++differ;
            if (items.Compare(mine, ref.toStdString()) != 0)
                ++outOfOrder;
        }
        std::vector<QString>().swap(sorted);
        rssKb = ResidentKb();

        // Breakdown: the same texts added one by one in one update, as the add commands
        // did before they handed their entries over at once.
        TdxfItems oneByOne;
        oneByOne.SetSorted(true);
        oneByOneMs = TimeMs([&] {
            oneByOne.BeginUpdate();
            for (const std::string& path : dialogs.openFiles)
                oneByOne.Add(path);
            oneByOne.EndUpdate();
        });
        // And the same order through QCollator's sort keys, one a text, then std::sort.
        const QCollator collator = ListCollator();
        const bool foldFirst = collator.locale().language() == QLocale::C; // C keys keep case
        std::vector<QCollatorSortKey> keys;
        keys.reserve(dialogs.openFiles.size());
        keyMs = TimeMs([&] {
            for (const std::string& t : dialogs.openFiles) {
                QString shown = QString::fromUtf8(t.data(), qsizetype(t.size()));
                keys.push_back(collator.sortKey(foldFirst ? shown.toCaseFolded() : shown));
            }
        });
        keySortMs = TimeMs([&] {
            std::sort(keys.begin(), keys.end(),
                      [](const QCollatorSortKey& a, const QCollatorSortKey& b) { return a.compare(b) < 0; });
        });
    }
    std::remove(settings.c_str());
    const QLocale locale;
    std::printf("locale %s (%s)\n", locale.name().toStdString().c_str(),
                QLocale::languageToString(locale.language()).toStdString().c_str());
    std::printf("ours_ms %s\nreference_ms %s\n", JoinFixed(ours, 2).c_str(), JoinFixed(reference, 2).c_str());
    std::printf("count %d\ndiffer %ld\nout_of_order %ld\nrss_kb %ld\n", count, differ, outOfOrder, rssKb);
    std::printf("one_by_one_ms %.2f\nkey_ms %.2f\nkey_sort_ms %.2f\n", oneByOneMs, keyMs, keySortMs);
    return 0;
}

void BenchSort(const Options& opt, const std::string& locale, Report& report)
{
    Progress("sorted add under " + locale + ", a fresh process, " + std::to_string(opt.sortRuns) + " runs");
    const ChildResult r = RunUnderLocale(locale, {"sort", std::to_string(opt.entries), std::to_string(opt.sortRuns)});
    const auto values = ParseLines(r.out);
    if (!r.Ok() || !values.count("ours_ms")) {
        report.Failure("sort child under " + locale + ": " + r.Describe() + " " +
                       (values.count("failure") ? values.at("failure") : "") + "\n" + r.errTail);
        return;
    }
    const std::vector<double> ours = Numbers(values.at("ours_ms")), reference = Numbers(values.at("reference_ms"));
    const double o = Median(ours), ref = Median(reference), ratio = o / ref;
    const long count = long(Number(values, "count")), outOfOrder = long(Number(values, "out_of_order"));
    report.Add({"(2) sorted add of " + Thousands(opt.entries) + " paths (add files), " + locale + " [ms, median of " +
                    std::to_string(opt.sortRuns) + "]",
                Fixed(o, 1), Fixed(ref, 1), Fixed(ratio, 2), "<= " + Fixed(kSortRatioMax, 2),
                ratio <= kSortRatioMax ? "yes" : "NO"});
    report.Note("(2) " + locale + ": QLocale " + values.at("locale") + "; entries in the list " + Thousands(count) +
                " of " + Thousands(opt.entries) + "; order against the reference: " +
                (outOfOrder == 0 && count == opt.entries ? std::string("the same") : std::string("DIFFERENT")) + " (" +
                Thousands(long(Number(values, "differ"))) + " positions hold other texts, " + Thousands(outOfOrder) +
                " of them not collating equal)");
    if (count != opt.entries || outOfOrder != 0)
        report.Failure("the sorted add under " + locale + " kept " + std::to_string(count) + " entries, " +
                       std::to_string(outOfOrder) + " out of the reference's order");
    report.Note("    ours ms (add files with automatic sort on): " + JoinFixed(ours, 1) +
                "; reference ms (QString::fromUtf8 of each text, then std::sort with QCollator::compare): " +
                JoinFixed(reference, 1));
    const double oneByOne = Number(values, "one_by_one_ms");
    report.Note("    breakdown, once: the same texts added one by one (Add in one update) " + Fixed(oneByOne, 1) +
                " ms (" + Fixed(oneByOne / ref, 2) + "x the reference); QCollator sort keys, one a text " +
                Fixed(Number(values, "key_ms"), 1) + " ms, std::sort on them " +
                Fixed(Number(values, "key_sort_ms"), 1) + " ms");
}

// ------------------------------------------------------------ (3) memory

// In a fresh process: the window shown, then the sorted add of (2) in one command, then
// the open-file dialog's answer let go. Prints "key value" lines.
int MemoryChild(int entries)
{
    BenchDialogs dialogs;
    const std::string settings = SettingsPath();
    long before = -1, after = -1, trimmed = -1;
    int count = -1;
    {
        auto form = ShowForm(dialogs, settings);
        before = ResidentKb();
        form->findChild<QAction*>(QStringLiteral("N27"))->trigger();
        dialogs.openFiles = ShuffledPlaylistPaths(entries);
        form->findChild<QAction*>(QStringLiteral("N18"))->trigger();
        std::vector<std::string>().swap(dialogs.openFiles);
        Settle();
        count = form->Playlist()->Items().Count();
        after = ResidentKb();
        // Only to tell the list from freed memory the allocator keeps.
        malloc_trim(0);
        trimmed = ResidentKb();
    }
    std::remove(settings.c_str());
    std::printf("rss_before_kb %ld\nrss_after_kb %ld\nrss_trimmed_kb %ld\ncount %d\n", before, after, trimmed, count);
    return 0;
}

void BenchMemory(const Options& opt, const std::string& locale, Report& report)
{
    Progress("memory under " + locale + ", a fresh process holding " + Thousands(opt.entries) + " entries");
    const ChildResult r = RunUnderLocale(locale, {"memory", std::to_string(opt.entries)});
    const auto values = ParseLines(r.out);
    if (!r.Ok() || !values.count("rss_after_kb")) {
        report.Failure("memory child under " + locale + ": " + r.Describe() + "\n" + r.errTail);
        return;
    }
    const double before = Mb(long(Number(values, "rss_before_kb"))), after = Mb(long(Number(values, "rss_after_kb")));
    const long count = long(Number(values, "count"));
    report.Add({"(3) VmRSS holding " + Thousands(opt.entries) + " entries, window shown, " + locale + " [MB]",
                Fixed(after, 1), Fixed(before, 1) + " before", "+" + Fixed(after - before, 1) + " MB",
                "< " + Fixed(kMemoryMbMax, 0) + " MB", after < kMemoryMbMax ? "yes" : "NO"});
    report.Note("(3) " + locale + ": window shown " + Fixed(before, 1) + " MB; after the sorted add of " +
                Thousands(count) + " entries and the dialog's answer let go " + Fixed(after, 1) +
                " MB; after malloc_trim " + Fixed(Mb(long(Number(values, "rss_trimmed_kb"))), 1) + " MB (" +
                Fixed((after - before) * 1e6 / double(std::max(1L, count)), 0) + " bytes an entry)");
    if (count != opt.entries)
        report.Failure("the memory child under " + locale + " holds " + std::to_string(count) + " entries");
}

// ------------------------------------------------------------ driver

int Drive(const Options& opt, int& argc, char** argv)
{
    bool reused = false;
    if (opt.folder || opt.makeTreeOnly) {
        Progress("tree " + opt.tree);
        const std::string error = EnsureMediaTree(opt.tree, opt.layout, reused);
        if (!error.empty()) {
            std::fprintf(stderr, "kino_playlist_bench: %s\n", error.c_str());
            return 2;
        }
        Progress(reused ? "tree reused" : "tree made");
        if (opt.makeTreeOnly)
            return 0;
    }

    TKinoApplication app(argc, argv);
    InitMediaEngine();
    std::fprintf(stderr, "kino_playlist_bench: platform %s, locale %s\n", qgetenv("QT_QPA_PLATFORM").constData(),
                 QLocale().name().toStdString().c_str());
    Report report;
    if (opt.folder) {
        const std::string settings = SettingsPath();
        BenchDialogs dialogs;
        {
            auto form = ShowForm(dialogs, settings);
            BenchFolder(opt, *form, dialogs, report);
        }
        if (!dialogs.errors.isEmpty())
            report.Failure("the window showed an error: " + dialogs.errors.join(QStringLiteral(" / ")).toStdString());
        std::remove(settings.c_str());
        report.Note("(1) locale of this process: " + QLocale().name().toStdString());
    }
    for (const std::string& locale : opt.locales) {
        if (opt.sort)
            BenchSort(opt, locale, report);
        if (opt.memory)
            BenchMemory(opt, locale, report);
    }
    report.Note("reference: (1) find ROOT -type f ( -iname '*.avi' -o ... -iname '*.midi' ), output to /dev/null,");
    report.Note("           wall time from start to exit; both warmed up once, then run alternately");
    report.Note("           (2) std::sort of the same texts once, QCollator of the locale, case ignored");
    report.Note("           (3) the same fresh process before the add; the target is on ours alone");
    report.Print();
    std::fflush(stdout);
    ShutdownMediaEngine();
    return report.Failed() ? 1 : 0;
}

int RunChildMode(int argc, char** argv)
{
    // argv: exe --child memory ENTRIES | exe --child sort ENTRIES RUNS
    const std::string mode = argc >= 4 ? argv[2] : "";
    if (!(mode == "memory" || (mode == "sort" && argc >= 5))) {
        std::fprintf(stderr, "usage: --child memory ENTRIES | --child sort ENTRIES RUNS\n");
        return 2;
    }
    const int entries = std::max(1, std::atoi(argv[3]));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    TKinoApplication app(qtArgc, argv);
    InitMediaEngine();
    const int rc = mode == "memory" ? MemoryChild(entries) : SortChild(entries, std::max(1, std::atoi(argv[4])));
    std::fflush(stdout);
    ShutdownMediaEngine();
    return rc;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: kino_playlist_bench [--tree DIR] [--runs N] [--sort-runs N] [--entries N]\n"
                 "                           [--only folder,sort,memory] [--locales C,ja_JP.UTF-8] [--make-tree]\n");
    return 2;
}

} // namespace
} // namespace kino::bench

int main(int argc, char** argv)
{
    using namespace kino::bench;
    try {
        if (argc > 1 && std::string(argv[1]) == "--child")
            return RunChildMode(argc, argv);

        Options opt;
        const char* tmp = std::getenv("TMPDIR");
        opt.tree = std::string(tmp && *tmp ? tmp : "/tmp") + "/kino-playlist-bench-tree";
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--make-tree") {
                opt.makeTreeOnly = true;
                continue;
            }
            if (i + 1 >= argc)
                return Usage();
            const std::string value = argv[++i];
            if (arg == "--tree")
                opt.tree = value;
            else if (arg == "--runs")
                opt.runs = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--sort-runs")
                opt.sortRuns = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--entries")
                opt.entries = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--only") {
                const auto only = SplitList(value);
                auto has = [&](const char* s) { return std::find(only.begin(), only.end(), s) != only.end(); };
                opt.folder = has("folder");
                opt.sort = has("sort");
                opt.memory = has("memory");
            } else if (arg == "--locales") {
                opt.locales = SplitList(value);
                if (opt.locales.empty())
                    return Usage();
            } else
                return Usage();
        }
        if (opt.tree.empty() || opt.tree.front() != '/')
            return Usage();
        // Qt is handed only the program's name; the options are the benchmark's.
        int qtArgc = 1;
        return Drive(opt, qtArgc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kino_playlist_bench: %s\n", e.what());
        return 2;
    }
}
