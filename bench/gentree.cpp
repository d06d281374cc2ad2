// Generates a source tree and a destination tree for benchmarks:
//   bench_gentree OUT [--files N] [--folders N] [--changed PCT] [--src-only PCT]
//                     [--dst-only PCT] [--size BYTES] [--seed N] [--no-dst]
// OUT/src holds N files spread evenly over the folders (a tree of fan-out
// 12, so 2,000 folders are three levels deep). OUT/dst is a copy of it with
// the same last-modified times except: PCT changed (other content, an older
// time), PCT only in the source (missing in dst), and PCT extra files that
// exist only in dst. --no-dst leaves OUT/dst empty (a first copy).
// File sizes are 0 .. 2*BYTES (mean BYTES). Prints what it made.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Args {
    std::string out;
    long long files = 100000;
    long long folders = 2000;
    double changed = 5, srcOnly = 2, dstOnly = 2;
    long long size = 1024;
    unsigned seed = 1;
    bool noDst = false;
};

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "bench_gentree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void usage()
{
    std::fputs("usage: bench_gentree OUT [--files N] [--folders N] [--changed PCT] [--src-only PCT]\n"
               "                      [--dst-only PCT] [--size BYTES] [--seed N] [--no-dst]\n",
               stderr);
    std::exit(2);
}

Args parse(int argc, char** argv)
{
    Args a;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        const auto val = [&]() -> const char* {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (k == "--files") a.files = std::atoll(val());
        else if (k == "--folders") a.folders = std::atoll(val());
        else if (k == "--changed") a.changed = std::atof(val());
        else if (k == "--src-only") a.srcOnly = std::atof(val());
        else if (k == "--dst-only") a.dstOnly = std::atof(val());
        else if (k == "--size") a.size = std::atoll(val());
        else if (k == "--seed") a.seed = unsigned(std::atoll(val()));
        else if (k == "--no-dst") a.noDst = true;
        else if (!k.empty() && k[0] == '-') usage();
        else if (a.out.empty()) a.out = k;
        else usage();
    }
    if (a.out.empty() || a.files < 0 || a.folders < 1 || a.size < 0)
        usage();
    return a;
}

void mkdirs(const std::string& p)
{
    if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST)
        die("mkdir " + p);
}

void writeFile(const std::string& path, const std::string& data, time_t mtime)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        die("create " + path);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0)
            die("write " + path);
        done += size_t(n);
    }
    const timespec ts[2] = {{mtime, 0}, {mtime, 0}};
    if (futimens(fd, ts) != 0)
        die("time " + path);
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    const Args a = parse(argc, argv);
    std::mt19937_64 rng(a.seed);
    std::uniform_real_distribution<double> pct(0.0, 100.0);
    std::uniform_int_distribution<long long> sizeOf(0, 2 * a.size);

    mkdirs(a.out);
    const std::string src = a.out + "/src", dst = a.out + "/dst";
    mkdirs(src);
    mkdirs(dst);

    // Folder i's parent is (i - 1) / 12: a breadth-first tree of fan-out 12.
    std::vector<std::string> rel(size_t(a.folders));
    char name[32];
    for (long long i = 0; i < a.folders; ++i) {
        std::snprintf(name, sizeof name, "dir%05lld", i);
        rel[size_t(i)] = i == 0 ? std::string(name) : rel[size_t((i - 1) / 12)] + "/" + name;
        mkdirs(src + "/" + rel[size_t(i)]);
        if (!a.noDst)
            mkdirs(dst + "/" + rel[size_t(i)]);
    }

    const time_t base = 1577836800;  // 2020-01-01 00:00 UTC
    long long nSame = 0, nChanged = 0, nSrcOnly = 0, nDstOnly = 0;
    std::string data;
    for (long long f = 0; f < a.files; ++f) {
        const std::string& folder = rel[size_t(f % a.folders)];
        std::snprintf(name, sizeof name, "/file%07lld.dat", f);
        const std::string file = folder + name;
        data.assign(size_t(sizeOf(rng)), char('a' + f % 26));
        const time_t t = base + time_t(f * 61);
        writeFile(src + "/" + file, data, t);
        if (a.noDst)
            continue;
        const double roll = pct(rng);
        if (roll < a.srcOnly) {
            ++nSrcOnly;
        } else if (roll < a.srcOnly + a.changed) {
            data.append("changed");
            writeFile(dst + "/" + file, data, t - 86400);
            ++nChanged;
        } else {
            writeFile(dst + "/" + file, data, t);
            ++nSame;
        }
        if (pct(rng) < a.dstOnly) {
            std::snprintf(name, sizeof name, "/extra%07lld.dat", f);
            writeFile(dst + "/" + folder + name, data, t);
            ++nDstOnly;
        }
    }
    std::printf("%s: %lld folders, %lld source files (%lld identical, %lld changed, %lld only in the "
                "source), %lld only in the destination%s\n",
                a.out.c_str(), a.folders, a.files, nSame, nChanged, nSrcOnly, nDstOnly,
                a.noDst ? " (destination empty)" : "");
    return 0;
}
