// Times setting up the change trigger's watches on a large source: a generated tree of FILES
// small files in FOLDERS folders (200,000 in 10,000 by default), watched three times from
// scratch, with the memory the process holds at its peak.
//   bench_triggers [FILES [FOLDERS [WHERE]]]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/tree_watch.h"

namespace {

long PeakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// FOLDERS folders: a hundred at the top, the others spread below them; the files spread over
// all of them.
void MakeTree(const std::string& root, long files, long folders) {
    std::vector<std::string> made;
    ::mkdir(root.c_str(), 0755);
    const long top = std::min(100L, folders);
    for (long i = 0; i < folders; ++i) {
        const std::string parent = i < top ? root : made[static_cast<std::size_t>(i % top)];
        made.push_back(parent + "/folder " + std::to_string(i));
        ::mkdir(made.back().c_str(), 0755);
    }
    for (long i = 0; i < files; ++i) {
        const std::string file =
            made[static_cast<std::size_t>(i % folders)] + "/file " + std::to_string(i) + ".txt";
        if (FILE* f = std::fopen(file.c_str(), "w")) {
            std::fputs("x", f);
            std::fclose(f);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long files = argc > 1 ? std::atol(argv[1]) : 200000;
    const long folders = argc > 2 ? std::atol(argv[2]) : 10000;
    const std::string where = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string root = where + "/quorvel-bench-triggers-" + std::to_string(::getpid());
    std::printf("making %ld files in %ld folders under %s...\n", files, folders, root.c_str());
    MakeTree(root, files, folders);
    const long before = PeakKilobytes();

    std::vector<double> seconds;
    std::size_t watches = 0;
    for (int i = 0; i < 3; ++i) {
        qv::platform::InotifyTreeWatch watch;
        const auto start = std::chrono::steady_clock::now();
        const qv::platform::WatchStatus status = watch.Watch(root);
        const auto end = std::chrono::steady_clock::now();
        if (status != qv::platform::WatchStatus::Watching) {
            std::fprintf(stderr,
                         "the tree could not be watched (raise "
                         "fs.inotify.max_user_watches)\n");
            std::filesystem::remove_all(root);
            return 1;
        }
        seconds.push_back(std::chrono::duration<double>(end - start).count());
        watches = watch.watchCount();
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "%zu folders watched: best %.3f s, median %.3f s; peak memory %.1f MB "
        "(%.1f MB before the watches)\n",
        watches, seconds.front(), seconds[1], PeakKilobytes() / 1024.0, before / 1024.0);
    std::filesystem::remove_all(root);
    return 0;
}
