// Opens the preview window over a plan of FOLDERS x FILES planned copies (1,000 x 1,000 by
// default) and reports how long the window takes to be on screen and how much memory it adds
// to the plan's own.
//   bench_preview [FOLDERS [FILES [expanded]]]   (offscreen; "expanded" opens every folder, a
//   slice at a time, and also reports when the last one is open)

#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "run/run_state.h"
#include "ui/preview_window.h"

namespace {

double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pagesTotal = 0, pagesResident = 0;
    statm >> pagesTotal >> pagesResident;
    return static_cast<double>(pagesResident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void FillPlan(qv::run::RunState& state, int folders, int files) {
    qv::run::TaskRoot root;
    root.source = "/bench/A";
    root.dest = "/bench/B";
    root.subItems.resize(static_cast<std::size_t>(folders));
    char name[32];
    for (int f = 0; f < folders; ++f) {
        qv::run::PlanItem& folder = root.subItems[static_cast<std::size_t>(f)];
        std::snprintf(name, sizeof name, "folder-%05d", f);
        folder.name = name;
        folder.copyMode = qv::run::kModeCopyAtoB;
        folder.isFolder = true;
        folder.subItems.resize(static_cast<std::size_t>(files));
        for (int i = 0; i < files; ++i) {
            qv::run::PlanItem& file = folder.subItems[static_cast<std::size_t>(i)];
            std::snprintf(name, sizeof name, "file-%05d.dat", i);
            file.name = name;
            file.copyMode = qv::run::kModeCopyAtoB;
        }
    }
    state.taskRootList.push_back(std::move(root));
    state.exactIndexAdditionLists.emplace_back();
    const std::int64_t items = static_cast<std::int64_t>(folders) * (files + 1);
    state.categories.gFoldersToDescend = 1;
    state.categories.gItemsAtoB = items;
    state.gItemsToDoTotal = items;
}

}  // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int files = argc > 2 ? std::atoi(argv[2]) : 1000;
    const bool expanded = argc > 3 && std::string(argv[3]) == "expanded";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    qv::run::RunState state;
    FillPlan(state, folders, files);
    // Qt's first window costs the same whatever the plan: paid before the clock starts.
    {
        QWidget warmUp;
        warmUp.show();
        QApplication::processEvents();
    }
    const double before = ResidentMegabytes();
    const auto start = std::chrono::steady_clock::now();
    qv::ui::PreviewSettings settings;
    settings.expanded = expanded;
    qv::ui::PreviewWindow window(state, settings);
    window.show();
    QApplication::processEvents();
    window.repaint();
    const double shown = SecondsSince(start);
    const double added = ResidentMegabytes() - before;
    std::printf("%d items: window on screen in %.3f s, memory added %.1f MB\n",
                folders * (files + 1), shown, added);
    if (expanded) {
        while (window.expanding()) QApplication::processEvents();
        window.repaint();
        std::printf("every folder open after %.3f s, memory added %.1f MB\n", SecondsSince(start),
                    ResidentMegabytes() - before);
    }
    return 0;
}
