// Benchmark of the image version scan (GetImageBiosVersion).
//
// On each kind of image three readers are timed:
//   scan/KIND      GetImageBiosVersionOf the image
//   read/KIND      a plain fread of the whole file through a 64 KiB buffer,
//                  the floor for anything that looks at every byte
//   baseline/KIND  the step-by-step walk: fgetc, at each hyphen fread five
//                  bytes and fseek back five when they are not "0000-"
//
// The images are written once and then read over and over, so they stay in
// the page cache: this measures the CPU cost of scanning cached data, not
// the disk. The floor is read from the cache as well, so scan/read is the
// overhead of the scan itself.
//
// The walk re-reads the file after every hyphen, which makes it very slow
// on the all-hyphen image; it is timed on a 4 MiB all-hyphen image instead
// (next to the scan on that same image) and compared per byte.
//
// Every reader's answer is checked on every kind before and while it is
// timed; a wrong answer stops the run, so no wrong answer is ever timed.
//
//   bench_imagescan [--benchmark_repetitions=5 ...]
//   bench_imagescan --make-images=DIR   only writes the images (and an empty
//                                       one) into DIR, for compare.sh
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "checks/checks.h"
#include "launch/settings.h"
#include "launch/results.h"

namespace {

const size_t kMiB = 1024 * 1024;
const size_t kImageSize = 64 * kMiB;
const size_t kSmallHyphenSize = 4 * kMiB;
const char kVersion[] = "V1.2";

struct Image {
    std::string name;      // kind, as used in benchmark names and file names
    size_t size;
    int expectedCode;      // RC_SUCCESS or RC_IMAGE_VERSION
    std::string path;
};

// Random bytes without a single hyphen.
void FillRandom(std::vector<char>& bytes)
{
    std::mt19937_64 random(20240601);
    for (size_t i = 0; i < bytes.size(); i += 8) {
        uint64_t value = random();
        size_t n = bytes.size() - i < 8 ? bytes.size() - i : 8;
        memcpy(&bytes[i], &value, n);
    }
    for (char& c : bytes)
        if (c == '-')
            c = '+';
}

std::vector<char> MakeImageBytes(const std::string& kind, size_t size)
{
    std::vector<char> bytes(size);
    if (kind == "random") {
        FillRandom(bytes);
    } else if (kind.compare(0, 7, "hyphens") == 0) {
        memset(bytes.data(), '-', size);
    } else if (kind == "nearmiss") {
        // "-0000x" over and over: a hyphen and four zeros every sixth byte.
        static const char kNearMiss[] = "-0000x";
        for (size_t i = 0; i < size; i++)
            bytes[i] = kNearMiss[i % 6];
    } else if (kind == "marker") {
        // The version and the only marker sit in the last 16 bytes.
        FillRandom(bytes);
        memcpy(&bytes[size - 16], kVersion, 4);
        memcpy(&bytes[size - 12], "-0000-", 6);
    } else if (kind != "empty") {
        fprintf(stderr, "unknown image kind %s\n", kind.c_str());
        exit(1);
    }
    return bytes;
}

std::vector<Image> g_images;
std::string g_dir;
bool g_removeDir = false;

// Paths kept as C strings so that a signal handler can unlink them.
std::vector<std::string> g_cleanupPaths;

void RemoveImages()
{
    for (const std::string& path : g_cleanupPaths)
        unlink(path.c_str());
    if (g_removeDir)
        rmdir(g_dir.c_str());
}

void OnSignal(int signo)
{
    RemoveImages();
    signal(signo, SIG_DFL);
    raise(signo);
}

[[noreturn]] void Fail(const std::string& message)
{
    fprintf(stderr, "bench_imagescan: %s\n", message.c_str());
    RemoveImages();
    exit(1);
}

void WriteImage(const std::string& kind, size_t size, const std::string& path)
{
    std::vector<char> bytes = MakeImageBytes(kind, size);
    g_cleanupPaths.push_back(path);
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(bytes.data(), 1, size, file) != size || fclose(file) != 0)
        Fail("cannot write " + path);
}

// --- the three readers -------------------------------------------------

int OurScan(const Image& image, char* version)
{
    char buffer[FIELD_SIZE];
    int code = GetImageBiosVersionOf(image.path.c_str(), buffer, sizeof buffer);
    memcpy(version, buffer, BVSIZE + 1);
    return code;
}

// Total bytes read; the data itself is not looked at.
size_t PlainRead(const Image& image)
{
    static char buffer[IMAGE_SCAN_BUFFER_SIZE];
    FILE* file = fopen(image.path.c_str(), "rb");
    if (!file)
        return 0;
    size_t total = 0;
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        total += n;
    benchmark::DoNotOptimize(buffer);
    fclose(file);
    return total;
}

// One byte at a time, with a five-byte look-ahead at every hyphen and a
// move back when it is not the rest of a marker.
int BaselineScan(const Image& image, char* version)
{
    memset(version, 0, BVSIZE + 1);
    FILE* file = fopen(image.path.c_str(), "rb");
    if (!file)
        return RC_IMAGE_OPEN;
    int code = RC_IMAGE_VERSION;
    for (;;) {
        int c = fgetc(file);
        if (c == EOF)
            break;
        if (c != '-')
            continue;
        char rest[5];
        if (fread(rest, 1, 5, file) < 5)
            break;
        if (memcmp(rest, "0000-", 5) == 0) {
            if (ftell(file) - 6 >= BVSIZE) {
                fseek(file, -10, SEEK_CUR);
                if (fread(version, 1, BVSIZE, file) == BVSIZE)
                    code = RC_SUCCESS;
            }
            break;
        }
        fseek(file, -5, SEEK_CUR);
    }
    fclose(file);
    return code;
}

// --- checks --------------------------------------------------------------

void CheckVersion(const char* reader, const Image& image, int code, const char* version)
{
    const char* expected = image.expectedCode == RC_SUCCESS ? kVersion : "";
    if (code != image.expectedCode || strcmp(version, expected) != 0)
        Fail(std::string(reader) + " on " + image.name + ": got " + std::to_string(code) + " \"" +
             version + "\", expected " + std::to_string(image.expectedCode) + " \"" + expected + "\"");
}

void CheckRead(const Image& image, size_t total)
{
    if (total != image.size)
        Fail("read on " + image.name + ": got " + std::to_string(total) + " bytes, expected " +
             std::to_string(image.size));
}

// --- benchmarks ----------------------------------------------------------

void BM_Scan(benchmark::State& state, const Image* image)
{
    char version[BVSIZE + 1];
    for (auto _ : state) {
        int code = OurScan(*image, version);
        CheckVersion("scan", *image, code, version);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image->size));
}

void BM_Read(benchmark::State& state, const Image* image)
{
    for (auto _ : state)
        CheckRead(*image, PlainRead(*image));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image->size));
}

void BM_Baseline(benchmark::State& state, const Image* image)
{
    char version[BVSIZE + 1];
    for (auto _ : state) {
        int code = BaselineScan(*image, version);
        CheckVersion("baseline", *image, code, version);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image->size));
}

// --- summary -------------------------------------------------------------

// Prints the usual table, then keeps each benchmark's median CPU time per
// byte (the single run when there are no repetitions) and its spread.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

    std::map<std::string, double> secondsPerByte;
    std::map<std::string, double> spread;  // coefficient of variation
    std::map<std::string, size_t> sizes;
    int repetitions = 1;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred || !sizes.count(name))
                continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "cv") {
                // A plain fraction, not a time per iteration.
                spread[name] = run.cpu_accumulated_time;
                continue;
            }
            bool isMedian = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool isSingle = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!isMedian && !isSingle)
                continue;
            repetitions = int(run.repetitions);
            double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            secondsPerByte[name] = seconds / double(sizes[name]);
        }
    }

    double Get(const std::string& name) const
    {
        auto it = secondsPerByte.find(name);
        return it == secondsPerByte.end() ? 0 : it->second;
    }

    std::string Spread(const std::string& name) const
    {
        auto it = spread.find(name);
        char text[16];
        snprintf(text, sizeof text, "%.0f%%", it == spread.end() ? 0.0 : it->second * 100);
        return text;
    }

    void PrintSummary() const
    {
        printf("\nSummary: median CPU time per byte over %d repetition(s); cv is the spread of\n"
               "the repetitions (scan, read, baseline). Images are in the page cache.\n",
               repetitions);
        printf("%-9s %9s %9s %9s %10s %14s  %s\n", "kind", "scan MB/s", "read MB/s", "base MB/s",
               "scan/read", "baseline/scan", "cv");
        bool allWithin3 = true;
        double hyphenGain = 0;
        const char* kinds[] = {"random", "hyphens", "nearmiss", "marker"};
        for (const char* kind : kinds) {
            std::string k = kind;
            // The walk on the all-hyphen image is timed on the 4 MiB one.
            std::string base = k == "hyphens" ? "hyphens_4MiB" : k;
            double scan = Get("scan/" + k), read = Get("read/" + k);
            double baseline = Get("baseline/" + base), scanSame = Get("scan/" + base);
            if (scan == 0 || read == 0)
                continue;
            char baseText[16] = "-", gainText[16] = "-";
            if (baseline && scanSame) {
                snprintf(baseText, sizeof baseText, "%.1f", 1e-6 / baseline);
                snprintf(gainText, sizeof gainText, "%.0f", baseline / scanSame);
            }
            printf("%-9s %9.0f %9.0f %9s %10.2f %14s  %s %s %s%s\n", kind, 1e-6 / scan, 1e-6 / read,
                   baseText, scan / read, gainText, Spread("scan/" + k).c_str(),
                   Spread("read/" + k).c_str(), Spread("baseline/" + base).c_str(),
                   k == "hyphens" ? "  (walk timed on 4 MiB)" : "");
            allWithin3 = allWithin3 && scan / read <= 3;
            if (k == "hyphens" && baseline && scanSame)
                hyphenGain = baseline / scanSame;
        }
        printf("Targets: scan/read <= 3 on every kind: %s; baseline/scan >= 100 on hyphens: %s\n",
               allWithin3 ? "yes" : "no",
               hyphenGain == 0 ? "not measured" : hyphenGain >= 100 ? "yes" : "no");
    }
};

void AddImage(const std::string& kind, size_t size, int expectedCode)
{
    Image image{kind, size, expectedCode, g_dir + "/" + kind + ".rom"};
    if (image.path.size() >= sizeof LoaderSettings.ImageFile)
        Fail("temporary path too long: " + image.path);
    WriteImage(kind, size, image.path);
    g_images.push_back(image);
}

// Agreement of the walk and our scan on small images with the awkward
// cases (runs of hyphens, near misses, a marker too close to the start);
// the walk is only a fair yardstick if it answers like the scan.
void CheckWalkOnSmallImages()
{
    const char* cases[] = {"xx1.07-0000-yy", "abc--0000-", "-0000x-0000 -000-V1.2-0000-",
                           "abc-0000-",      "abcd-000",   "-0000-abcd-0000-",
                           "A001-0000-B002-0000-", ""};
    Image image{"small", 0, 0, g_dir + "/small.rom"};
    g_cleanupPaths.push_back(image.path);
    for (const char* text : cases) {
        FILE* file = fopen(image.path.c_str(), "wb");
        if (!file || fwrite(text, 1, strlen(text), file) != strlen(text) || fclose(file) != 0)
            Fail("cannot write " + image.path);
        char ours[BVSIZE + 1], walk[BVSIZE + 1];
        int codeOurs = OurScan(image, ours);
        int codeWalk = BaselineScan(image, walk);
        if (codeOurs != codeWalk || memcmp(ours, walk, BVSIZE) != 0)
            Fail(std::string("scan and walk disagree on \"") + text + "\": " +
                 std::to_string(codeOurs) + " vs " + std::to_string(codeWalk));
    }
    unlink(image.path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    // Only write the images, into a directory that the caller owns.
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--make-images=", 14) == 0) {
            g_dir = argv[i] + 14;
            const char* kinds[] = {"random", "hyphens", "nearmiss", "marker"};
            for (const char* kind : kinds)
                WriteImage(kind, kImageSize, g_dir + "/" + kind + ".rom");
            WriteImage("empty", 0, g_dir + "/empty.rom");
            return 0;
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kstbench.XXXXXX";
    std::vector<char> dirName(pattern.begin(), pattern.end());
    dirName.push_back('\0');
    if (!mkdtemp(dirName.data()))
        Fail("cannot create a directory from " + pattern);
    g_dir = dirName.data();
    g_removeDir = true;
    atexit(RemoveImages);
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);

    AddImage("random", kImageSize, RC_IMAGE_VERSION);
    AddImage("hyphens", kImageSize, RC_IMAGE_VERSION);
    AddImage("nearmiss", kImageSize, RC_IMAGE_VERSION);
    AddImage("marker", kImageSize, RC_SUCCESS);
    AddImage("hyphens_4MiB", kSmallHyphenSize, RC_IMAGE_VERSION);

    CheckWalkOnSmallImages();
    // Every reader on every image once before anything is timed.
    for (const Image& image : g_images) {
        char version[BVSIZE + 1];
        int code = OurScan(image, version);
        CheckVersion("scan", image, code, version);
        CheckRead(image, PlainRead(image));
        if (image.name != "hyphens") {
            code = BaselineScan(image, version);
            CheckVersion("baseline", image, code, version);
        }
    }

    SummaryReporter reporter;
    for (const Image& image : g_images) {
        const Image* p = &image;
        std::string scan = "scan/" + image.name, read = "read/" + image.name;
        std::string base = "baseline/" + image.name;
        benchmark::RegisterBenchmark(scan.c_str(), BM_Scan, p)->Unit(benchmark::kMillisecond)->MinTime(0.3);
        reporter.sizes[scan] = image.size;
        if (image.name == "hyphens_4MiB") {
            // Only here for the walk, compared like for like.
        } else {
            benchmark::RegisterBenchmark(read.c_str(), BM_Read, p)->Unit(benchmark::kMillisecond)->MinTime(0.3);
            reporter.sizes[read] = image.size;
        }
        if (image.name != "hyphens") {
            benchmark::RegisterBenchmark(base.c_str(), BM_Baseline, p)->Unit(benchmark::kMillisecond)->MinTime(0.3);
            reporter.sizes[base] = image.size;
        }
    }

    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
