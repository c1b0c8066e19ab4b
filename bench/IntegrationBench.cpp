// A full shell integration (41 file types x 15 presets) and its removal in a
// fresh home folder, against the store written one change at a time.
//
//   bench_integration [FOLDER] [RUNS]
//
// FOLDER (default: a new folder under the system's temporary folder) holds the
// home; it should lie on the disk a person's home would, since every store and
// entry write is flushed to the disk.
#include "framework/KVMultiLanguage.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "shell/ShellIntegration.h"
#include "ui/texts/InterfaceTexts.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <string>
#include <vector>

using namespace palvex;

namespace {

double g_cpu = 0; // processor time of the last measurement, ms

double CpuMilliseconds()
{
    return static_cast<double>(std::clock()) * 1e3 / CLOCKS_PER_SEC;
}

// Wall-clock time of work in ms; its processor time goes to g_cpu.
double Milliseconds(const std::function<void()>& work)
{
    const double cpu = CpuMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    g_cpu = CpuMilliseconds() - cpu;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The writes of the last step on the disk and the journal quiet again.
void Settle()
{
    FlushFileSystems();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    fs::path root = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "palvex-bench-integration";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;
    fs::remove_all(root);
    fs::create_directories(root);
    root = fs::canonical(root);
    SetEnvironmentValue("HOME", root.string());
    SetEnvironmentValue("XDG_DATA_HOME", (root / ".local/share").string());
    SetEnvironmentValue("XDG_CONFIG_HOME", (root / ".config").string());
    FillMainWindowTexts(kLanguageEnglish);
    const TFileManagerFolders folders = UserFileManagerFolders();
    const std::string program = "/usr/bin/palvex";

    try {
        std::vector<double> integrate, integrateCpu, remove, removeCpu, again;
        for (int i = 0; i < runs; ++i) {
            // Each starts from a settled disk, as when a person integrates or removes.
            Settle();
            integrate.push_back(Milliseconds([&] { IntegrateShell(FullIntegrationChoice(), program, folders); }));
            integrateCpu.push_back(g_cpu);
            Settle();
            again.push_back(Milliseconds([&] { IntegrateShell(FullIntegrationChoice(), program, folders); }));
            Settle();
            remove.push_back(Milliseconds([&] { RemoveShellIntegration(folders); }));
            removeCpu.push_back(g_cpu);
        }
        // The store alone, one change at a time as before the batch: once, it is slow.
        const double oneByOneWrite = Milliseconds([&] { WriteShellVerbs(FullIntegrationChoice(), program); });
        const double oneByOneRemove = Milliseconds([&] { RemoveShellVerbs(); });
        std::vector<double> batchedWrite;
        for (int i = 0; i < runs; ++i) {
            batchedWrite.push_back(Milliseconds([&] {
                TRegistryBatch batch(TRegistryRoot::ClassesRoot);
                WriteShellVerbs(FullIntegrationChoice(), program);
                batch.Commit();
            }));
        }

        std::printf("home: %s, %d runs, medians\n", root.c_str(), runs);
        std::printf("full integration, 41 types x 15 presets, store and entries:   %8.1f ms (target < 100), "
                    "processor %.1f ms\n",
                    Median(integrate), Median(integrateCpu));
        std::printf("the same again over a full integration:                        %8.1f ms\n", Median(again));
        std::printf("full removal, store and entries:                               %8.1f ms (target < 100), "
                    "processor %.1f ms\n",
                    Median(remove), Median(removeCpu));
        std::printf("store only, one batch (remove all, write all):                 %8.1f ms\n", Median(batchedWrite));
        std::printf("store only, one change at a time (remove all, write all), once: %7.1f ms (%.0fx)\n",
                    oneByOneWrite, oneByOneWrite / Median(batchedWrite));
        std::printf("store only, one change at a time (remove all), once:            %7.1f ms\n", oneByOneRemove);
        const bool met = Median(integrate) < 100 && Median(again) < 100 && Median(remove) < 100;
        std::printf("result: %s\n", met ? "within target" : "OVER TARGET");
        fs::remove_all(root);
        return met ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_integration: %s\n", e.what());
        return 2;
    }
}
