#include "vdlook/LookMaker.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "looks/Catalogue.h"
#include "looks/LookFile.h"
#include "lookwriter/LookWriter.h"
#include "recipes/Recipes.h"

namespace vd::lookmaker {
namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxInputBytes = 64u << 20;

std::string stemOf(const std::string& path) {
    return fs::path(path).stem().string();
}

}  // namespace

bool readFile(const std::string& path, std::string& out) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kMaxInputBytes) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(static_cast<size_t>(size), '\0');
    in.read(out.data(), static_cast<std::streamsize>(size));
    return static_cast<std::uintmax_t>(in.gcount()) == size;
}

bool writeFileReplacing(const std::string& path, const void* data, std::size_t size,
                        std::string& error) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            error = path + ": cannot be written";
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        error = path + ": cannot be written";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> shippedLookFile(int lookIndex, std::uint16_t layout) {
    const LookEntry* entry = lookEntry(lookIndex);
    if (entry == nullptr) {
        return {};
    }
    const recipes::ShippedLook* look = recipes::findShippedLook(entry->pack, entry->number);
    if (look == nullptr) {
        return {};
    }
    const recipes::PreparedLook prepared =
        recipes::prepareLook(look->recipe, packEncoding(entry->pack));
    LutCube cube;
    cube.edge = recipes::kShippedEdge;
    cube.samples = recipes::bakeLattice(prepared, recipes::kShippedEdge, 1);
    LookWriteOptions options;
    options.layout = layout;
    return encodeLookFile(cube, entry->id, options);
}

bool buildShippedLooks(const std::string& dir, std::uint16_t layout, int threads,
                       std::string& error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        error = dir + ": cannot create the directory";
        return false;
    }
    // Looks are independent; each worker takes the next index. The bytes of a look do not
    // depend on which worker made it.
    const int count = lookCount();
    std::vector<std::vector<std::uint8_t>> files(static_cast<size_t>(count));
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            files[static_cast<size_t>(i)] = shippedLookFile(i, layout);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::max(threads, 1); ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& t : pool) {
        t.join();
    }
    for (int i = 0; i < count; ++i) {
        const std::string path = (fs::path(dir) / lookFileName(i)).string();
        const std::vector<std::uint8_t>& bytes = files[static_cast<size_t>(i)];
        if (bytes.empty()) {
            error = path + ": the look could not be encoded";
            return false;
        }
        // Leave an identical file alone so its time stamp does not trigger rebuilds.
        std::string old;
        if (readFile(path, old) && old.size() == bytes.size() &&
            std::equal(bytes.begin(), bytes.end(), old.begin(),
                       [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
            continue;
        }
        if (!writeFileReplacing(path, bytes.data(), bytes.size(), error)) {
            return false;
        }
    }
    return true;
}

bool cubeToLut(const cube::CubeLut& cube, LutCube& out, std::string& error) {
    out = LutCube{};
    if (cube.edge < cube::kMinEdge || cube.edge > cube::kMaxEdge ||
        cube.samples.size() != static_cast<size_t>(cube.edge) * cube.edge * cube.edge * 3) {
        error = "the LUT size is outside what a look file holds";
        return false;
    }
    const cube::CubeLut unit = cube::toUnitDomain(cube);
    out.edge = static_cast<std::uint32_t>(unit.edge);
    out.samples = unit.samples;
    return true;
}

cube::CubeLut lutToCube(const LutCube& lut, const std::string& title) {
    cube::CubeLut c;
    c.title = title;
    c.edge = static_cast<int>(lut.edge);
    c.samples = lut.samples;
    return c;
}

bool convertCubeFile(const std::string& in, const std::string& out, std::uint16_t layout,
                     std::string& error, std::string* warning) {
    std::string text;
    if (!readFile(in, text)) {
        error = in + ": cannot be read";
        return false;
    }
    cube::CubeLut parsed;
    cube::CubeError cubeError;
    if (!cube::parseCube(text, parsed, cubeError)) {
        error = in + ":" + std::to_string(cubeError.line) + ": " + cubeError.message;
        return false;
    }
    LutCube lut;
    if (!cubeToLut(parsed, lut, error)) {
        error = in + ": " + error;
        return false;
    }
    const auto outside = std::count_if(lut.samples.begin(), lut.samples.end(),
                                       [](float v) { return v < 0.0f || v > 1.0f; });
    if (outside > 0 && warning != nullptr) {
        *warning = in + ": " + std::to_string(outside) +
                   " values outside 0 to 1 were clamped (a look file holds 0 to 1)";
    }
    LookWriteOptions options;
    options.layout = layout;
    const std::vector<std::uint8_t> bytes = encodeLookFile(lut, stemOf(out), options);
    if (bytes.empty()) {
        error = out + ": the look could not be encoded";
        return false;
    }
    return writeFileReplacing(out, bytes.data(), bytes.size(), error);
}

bool convertLookFile(const std::string& in, const std::string& out, std::string& error) {
    std::string bytes;
    if (!readFile(in, bytes)) {
        error = in + ": cannot be read";
        return false;
    }
    LutCube lut;
    if (!decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), lut)) {
        error = in + ": not a valid look file (damaged, altered or sealed with another key)";
        return false;
    }
    const std::string text = cube::writeCube(lutToCube(lut, stemOf(in)));
    return writeFileReplacing(out, text.data(), text.size(), error);
}

std::uint64_t lutChecksum(const LutCube& lut) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const float v : lut.samples) {
        const std::uint16_t code = quantiseSample(v);
        for (const std::uint8_t byte :
             {static_cast<std::uint8_t>(code & 0xff), static_cast<std::uint8_t>(code >> 8)}) {
            h = (h ^ byte) * 0x100000001b3ull;
        }
    }
    return h;
}

bool verifyLooks(const std::string& dir, std::ostream& report) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        if (e.path().extension() == ".vdlk") {
            files.push_back(e.path());
        }
    }
    if (ec) {
        report << dir << ": cannot be listed\n";
        return false;
    }
    std::sort(files.begin(), files.end());
    bool ok = !files.empty();
    if (files.empty()) {
        report << dir << ": no .vdlk files\n";
    }
    for (const fs::path& p : files) {
        std::string bytes;
        LutCube lut;
        if (!readFile(p.string(), bytes) ||
            !decodeLookFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                            lut)) {
            report << p.filename().string() << "  FAILED: cannot be decoded\n";
            ok = false;
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "%s  edge %u  checksum %016llx  %zu bytes\n",
                      p.filename().string().c_str(), lut.edge,
                      static_cast<unsigned long long>(lutChecksum(lut)), bytes.size());
        report << line;
    }
    return ok;
}

}  // namespace vd::lookmaker
