#include "reference_resize.h"

namespace pictrim::test {

Picture ReferenceReduce(const Picture& src, std::uint32_t step) {
    const std::uint32_t w = src.width / step;
    const std::uint32_t h = src.height / step;
    Picture rows{w, src.height, std::vector<std::uint8_t>(std::size_t{w} * src.height * 3)};
    for (std::uint32_t y = 0; y < src.height; ++y)
        for (std::uint32_t i = 0; i < w; ++i)
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (std::uint32_t k = 0; k < step; ++k) sum += src.at(i * step + k, y, c);
                rows.at(i, y, c) = static_cast<std::uint8_t>(sum / step);
            }
    Picture out{w, h, std::vector<std::uint8_t>(std::size_t{w} * h * 3)};
    for (std::uint32_t x = 0; x < w; ++x)
        for (std::uint32_t j = 0; j < h; ++j)
            for (int c = 0; c < 3; ++c) {
                unsigned sum = 0;
                for (std::uint32_t k = 0; k < step; ++k) sum += rows.at(x, j * step + k, c);
                out.at(x, j, c) = static_cast<std::uint8_t>(sum / step);
            }
    return out;
}

Picture ReferenceEnlarge(const Picture& src) {
    const std::uint32_t W = src.width, H = src.height;
    Picture P{2 * W, 2 * H, std::vector<std::uint8_t>(std::size_t{4} * W * H * 3)};
    for (int c = 0; c < 3; ++c) {
        auto avg2 = [&](std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
            return static_cast<std::uint8_t>((unsigned{P.at(x1, y1, c)} + P.at(x2, y2, c)) / 2);
        };
        for (std::uint32_t y = 0; y < H; ++y)
            for (std::uint32_t x = 0; x < W; ++x) P.at(2 * x, 2 * y, c) = src.at(x, y, c);
        for (std::uint32_t y = 0; y < H; ++y) {
            for (std::uint32_t x = 0; x + 1 < W; ++x) P.at(2 * x + 1, 2 * y, c) = avg2(2 * x, 2 * y, 2 * x + 2, 2 * y);
            P.at(2 * W - 1, 2 * y, c) = P.at(2 * W - 2, 2 * y, c);
        }
        for (std::uint32_t x = 0; x < W; ++x) {
            for (std::uint32_t y = 0; y + 1 < H; ++y) P.at(2 * x, 2 * y + 1, c) = avg2(2 * x, 2 * y, 2 * x, 2 * y + 2);
            P.at(2 * x, 2 * H - 1, c) = P.at(2 * x, 2 * H - 2, c);
        }
        for (std::uint32_t x = 0; x + 1 < W; ++x)
            for (std::uint32_t y = 0; y + 1 < H; ++y) {
                const unsigned sum = unsigned{P.at(2 * x, 2 * y, c)} + P.at(2 * x, 2 * y + 2, c) +
                                     P.at(2 * x + 2, 2 * y, c) + P.at(2 * x + 2, 2 * y + 2, c);
                P.at(2 * x + 1, 2 * y + 1, c) = static_cast<std::uint8_t>(sum / 4);
            }
        for (std::uint32_t x = 0; x + 1 < W; ++x) P.at(2 * x + 1, 2 * H - 1, c) = avg2(2 * x, 2 * H - 1, 2 * x + 2, 2 * H - 1);
        for (std::uint32_t y = 0; y + 1 < H; ++y) P.at(2 * W - 1, 2 * y + 1, c) = avg2(2 * W - 1, 2 * y, 2 * W - 1, 2 * y + 2);
        P.at(2 * W - 1, 2 * H - 1, c) = avg2(2 * W - 2, 2 * H - 2, 2 * W - 1, 2 * H - 2);
    }
    return P;
}

}  // namespace pictrim::test
