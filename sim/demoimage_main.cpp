// Writes the demo's firmware image at build time: firmware "SW 2.5" for the simulated
// sensor, filling its bootloader's whole application area, so that the demo program can
// show a complete update without hardware. One argument: the file to write.
#include "simbootloader.h"

#include <cstdio>
#include <fstream>

namespace {
const char* const DemoVersion = "SW 2.5";
constexpr std::uint8_t DemoSeed = 25;
}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <image file>\n", argv[0]);
        return 2;
    }
    const auto image = sim::makeFirmwareImage(sim::FlashGeometry().applicationSize(), DemoVersion, DemoSeed);
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
