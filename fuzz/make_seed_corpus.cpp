// Writes the fuzzer's seed corpus: small valid sources of many widths and
// heights, with the header variants real programs write.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> Bmp(std::uint32_t w, std::uint32_t h, bool topDown, std::uint32_t infoSize, std::uint32_t gap) {
    const std::uint32_t stride = (3 * w + 3) / 4 * 4;
    const std::uint32_t offset = 14 + infoSize + gap;
    std::vector<std::uint8_t> b{'B', 'M'};
    Put(b, offset + stride * h, 4);
    Put(b, 0, 4);
    Put(b, offset, 4);
    Put(b, infoSize, 4);
    Put(b, w, 4);
    Put(b, topDown ? 0u - h : h, 4);
    Put(b, 1, 2);
    Put(b, 24, 2);
    Put(b, 0, 4);
    Put(b, stride * h, 4);
    Put(b, 2835, 4);
    Put(b, 2835, 4);
    Put(b, gap / 4, 4);
    Put(b, 0, 4);
    b.resize(offset, 0);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t i = 0; i < stride; ++i) b.push_back(static_cast<std::uint8_t>(i < 3 * w ? (i * 7 + y * 13) : 0));
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    int count = 0;
    const auto write = [&](const std::vector<std::uint8_t>& bytes) {
        const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(count++) + ".bmp";
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    };
    for (std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 7u, 20u, 21u, 23u})
        for (std::uint32_t h : {1u, 2u, 3u, 20u, 22u}) write(Bmp(w, h, false, 40, 0));
    write(Bmp(20, 20, true, 40, 0));
    write(Bmp(21, 3, false, 108, 0));
    write(Bmp(21, 3, false, 124, 16));
    write(Bmp(6, 5, false, 40, 1024));
    return 0;
}
