// libFuzzer target for kit's picture decoding, built once per kind: the
// input follows the kind's signature (FUZZ_SIGNATURE), so that every run
// reaches that decoder. Besides crashes, sanitizer findings and time-outs it
// checks what a decoded picture promises: a size within the limits, the
// pixels that size needs, and (small pictures) a PNG round trip.
#include "fuzz/FuzzCheck.h"
#include "kit/gfx/Image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char signature[] = FUZZ_SIGNATURE;
    std::vector<uint8_t> bytes(signature, signature + sizeof signature - 1);
    bytes.insert(bytes.end(), data, data + size);

    auto image = kit::Image::fromData(bytes);
    if (!image)
        return 0;
    check(kit::Image::sizeAllowed(uint64_t(image->width()), uint64_t(image->height())));
    check(image->pixels().size() == size_t(image->width()) * size_t(image->height()) * 4);
    if (image->width() * image->height() <= 64 * 64) {
        auto again = kit::Image::fromData(image->pngData());
        check(again && again->samePixels(*image));
    }
    return 0;
}
