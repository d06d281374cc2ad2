// How many small files a mounted folder takes a second when nothing but the
// requests of one copy go to it: the floor under any synchronisation onto
// that mount. Writes FILES files of 32 KB spread over FOLDERS new folders of
// TARGET, on THREADS threads, each file in one of two ways:
//   safe:   a temporary created, its data, its times set through its
//           descriptor, closed, renamed into place (what a copy that leaves
//           either the old or the whole new file needs at the least);
//   direct: created under its own name, its data, its times, closed (a copy
//           that may leave a half-written file under the real name).
//   bench_netfloor TARGET [FILES=1000] [FOLDERS=50] [THREADS=10]
// Prints "safe N files/s" and "direct N files/s"; removes nothing.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(const char* what, const std::string& name)
{
    std::perror((std::string(what) + " " + name).c_str());
    return false;
}

bool writeOne(int dir, const std::string& name, bool safe, const std::vector<char>& data)
{
    static const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    const std::string made = safe ? "." + name + ".tmp" : name;
    const int fd = ::openat(dir, made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail("create", made);
    const bool ok = ::write(fd, data.data(), data.size()) == ssize_t(data.size()) && ::futimens(fd, times) == 0;
    if (::close(fd) != 0 || !ok)
        return fail("write", made);
    return !safe || ::renameat(dir, made.c_str(), dir, name.c_str()) == 0 || fail("rename", made);
}

double filesPerSecond(const std::string& target, const char* way, int files, int folders, int threads)
{
    std::vector<int> dirs;
    for (int f = 0; f < folders; ++f) {
        const std::string d = target + "/" + way + std::to_string(f);
        if (::mkdir(d.c_str(), 0755) != 0 || (dirs.emplace_back(::open(d.c_str(), O_RDONLY | O_DIRECTORY)), dirs.back() < 0)) {
            fail("folder", d);
            std::exit(1);
        }
    }
    const std::vector<char> data(32768, 'x');
    const bool safe = std::string(way) == "safe";
    std::atomic<int> next = 0;
    std::atomic<bool> ok = true;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i; (i = next++) < files && ok;)
                if (!writeOne(dirs[size_t(i % folders)], "f" + std::to_string(i), safe, data))
                    ok = false;
        });
    for (std::thread& w : workers)
        w.join();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (int d : dirs)
        ::close(d);
    if (!ok)
        std::exit(1);
    return files / secs;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_netfloor TARGET [FILES] [FOLDERS] [THREADS]\n");
        return 2;
    }
    const int files = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int folders = argc > 3 ? std::atoi(argv[3]) : 50;
    const int threads = argc > 4 ? std::atoi(argv[4]) : 10;
    if (files < 1 || folders < 1 || threads < 1) {
        std::fprintf(stderr, "FILES, FOLDERS and THREADS are whole numbers from 1\n");
        return 2;
    }
    for (const char* way : {"safe", "direct"})
        std::printf("%s %.0f files/s\n", way, filesPerSecond(argv[1], way, files, folders, threads));
    return 0;
}
