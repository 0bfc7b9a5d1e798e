// Start-up cost against the bare decoding of the card data file.
//
// The library runs as a host would run it: the real Linux platform, a
// temporary HOME and sysfs tree with one simulated NVIDIA card, the NVAPI
// simulator (found through this program's run path) and a card data file of
// 1000 sections beside this executable, the card's own section last.
//
//   StartUp/InitDeInit     ZXInitLib + ZXDeInitLib
//   StartUp/BareDecode     read the data file, hex-decode and decipher it
//
// InitDeInit also reports "x_bare", its time over BareDecode's, measured in
// the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "carddata/carddata.h"
#include "platform/platform.h"
#include "zxdisplay.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kCardSection = "10DE_0622_B111_7A3C";

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A profile section as board makers write them: limits, defaults and two
// description lines.
std::string section(const std::string& id) {
    return "[" + id +
           "]\r\n"
           "GPUVoltageMax=1400\r\nGPUVoltageMin=1000\r\nGPUVoltageStep=125\r\n"
           "GPUVoltageStart=1000\r\nGPUVoltageCurrent=1200\r\n"
           "MemoryVoltageMax=2100\r\nMemoryVoltageMin=1800\r\nMemoryVoltageStep=50\r\n"
           "PWMClockMax=600\r\nPWMClockMin=200\r\nPWMClockStep=100\r\n"
           "DefaultGPUVoltage2D=1100\r\nDefaultGPUVoltage3D=1200\r\n"
           "DefaultMemoryVoltageLevel2D=1\r\nDefaultMemoryVoltageLevel3D=2\r\nDefaultPWMLevel=3\r\n"
           "CanSet2DAs3DClock=1\r\n"
           "VGAInfoString0=Example card, 512 MB GDDR3\r\nVGAInfoString1=Dual-slot cooler\r\n\r\n";
}

class Setting {
public:
    explicit Setting(int sections) : sections_(sections) {
        root_ = fs::temp_directory_path() / ("zxbench-" + std::to_string(::getpid()));
        const fs::path device = root_ / "sys/devices/pci0000:00/0000:01:00.0";
        for (const auto& [name, value] : {std::pair{"vendor", "0x10de"}, std::pair{"device", "0x0622"},
                                          std::pair{"subsystem_vendor", "0x7a3c"},
                                          std::pair{"subsystem_device", "0xb111"}, std::pair{"revision", "0xa1"},
                                          std::pair{"class", "0x030000"}}) {
            writeText(device / name, std::string(value) + "\n");
        }
        fs::create_directories(root_ / "sys/bus/pci/devices");
        fs::create_directory_symlink(device, root_ / "sys/bus/pci/devices/0000:01:00.0");
        writeText(root_ / "scenario",
                  "gpu bus=1 levels=3 current=0\nclock sel=0 domain=0 freq=300000 min=100000 max=900000\n");
        fs::create_directories(root_ / "home");
        ::setenv("HOME", (root_ / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "home/.config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        ::setenv("ZXDISPLAY_SYSFS_ROOT", (root_ / "sys").c_str(), 1);
        ::setenv("ZXSIM_NVAPI_SCENARIO", (root_ / "scenario").c_str(), 1);

        std::string plain;
        for (int i = 0; i + 1 < sections; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "10DE_%04X_A%03X_7A3C", 0x0400 + i % 0x200, i);
            plain += section(id);
        }
        plain += section(kCardSection);
        auto& os = zx::platform::native();
        std::string folder;
        os.executableFolder(folder);
        dataFile_ = folder + "NVVGA.DAT";
        writeText(dataFile_, zx::carddata::encodeCardData(plain, zx::carddata::kPassword, os));
    }
    ~Setting() {
        std::error_code ignored;
        fs::remove(dataFile_, ignored);
        fs::remove_all(root_, ignored);
    }
    const std::string& dataFile() const { return dataFile_; }
    int sections() const { return sections_; }

private:
    int sections_;
    fs::path root_;
    std::string dataFile_;
};

// The machine and data file of the running benchmark: 1, 100 or 1000
// profile sections, the card's own last.
std::unique_ptr<Setting> g_setting;
const Setting& setting(int sections = 1000) {
    zx::platform::setPlatform(nullptr);
    if (!g_setting || g_setting->sections() != sections) {
        g_setting.reset();
        g_setting = std::make_unique<Setting>(sections);
    }
    return *g_setting;
}

double bareDecodeSeconds() {
    auto& os = zx::platform::native();
    std::vector<std::uint8_t> text;
    const auto begin = std::chrono::steady_clock::now();
    os.readFile(setting().dataFile(), zx::carddata::kMaxDataFileSize, text);
    text.push_back(0);
    benchmark::DoNotOptimize(zx::carddata::decipherCardData(reinterpret_cast<char*>(text.data()),
                                                            zx::carddata::kPassword, os));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

void BareDecode(benchmark::State& state) {
    setting(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        bareDecodeSeconds();
    }
}

void InitDeInit(benchmark::State& state) {
    setting(static_cast<int>(state.range(0)));
    if (ZXInitLib() != ZX_STATUS_OK) {
        state.SkipWithError("ZXInitLib failed: is the NVAPI simulator on the run path?");
        return;
    }
    ZXVgaInfoDescription desc;
    if (ZXGetVGAInfoDescription(0, &desc) != ZX_STATUS_OK || desc.count != 2) {
        state.SkipWithError("the card's section was not read");
        return;
    }
    ZXDeInitLib();

    // Both measured alternately, so that a busy machine slows both alike.
    double bare = 0;
    double startUp = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bare += bareDecodeSeconds();
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        ZXInitLib();
        ZXDeInitLib();
        startUp += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    state.counters["x_bare"] = startUp / bare;
}

BENCHMARK(BareDecode)->Name("StartUp/BareDecode")->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(InitDeInit)->Name("StartUp/InitDeInit")->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
