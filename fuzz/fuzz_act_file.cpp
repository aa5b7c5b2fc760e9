// Configuration files: the loader over any bytes, into an image whose every
// entry starts with a marker text. Only words 10..39 may change, each to the
// four-digit upper-case word of its value; the image saved and loaded again
// gives the same file.
//
// Input: the file's bytes.

#include "core/ActFile.h"
#include "FuzzSupport.h"

#include <QBuffer>

using image::MemoryImage;

namespace {

act::LoadResult load(const QByteArray& bytes, MemoryImage& image)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return act::loadImage(buffer, image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(data ? size : 0));
    MemoryImage image;
    fuzzsupport::mark(image);
    const act::LoadResult result = load(file, image);
    FUZZ_CHECK(image.outOfRange() == 0);

    FUZZ_CHECK(result.ok == (result.invalidLine == 0));
    FUZZ_CHECK(result.wordsStored >= 0);
    int changed = 0;
    for (int a = 0; a < 256; ++a) {
        if (!fuzzsupport::changed(image, a))
            continue;
        FUZZ_CHECK(a >= image::kFirstWord && a <= image::kLastWord);
        FUZZ_CHECK(fuzzsupport::isUpperHexWord(image.word(a)));
        ++changed;
    }
    FUZZ_CHECK(changed <= result.wordsStored);
    if (!result.ok && result.invalidLine == 1)
        FUZZ_CHECK(changed == 0);   // not a configuration file: nothing changes

    // Round trip: the words as saved load back into the same words, and
    // saving those gives the same file.
    const QByteArray saved = act::formatImage(image);
    FUZZ_CHECK(saved.size() == image::kWordCount * 9);
    MemoryImage again;
    fuzzsupport::mark(again);
    const act::LoadResult reload = load(saved, again);
    FUZZ_CHECK(reload.ok && reload.wordsStored == image::kWordCount);
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a) {
        const auto before = image::scanWord(image.word(a));
        const auto after = image::scanWord(again.word(a));
        FUZZ_CHECK(after.has_value());
        FUZZ_CHECK(after == (before ? before : std::optional<quint16>(0)));
    }
    FUZZ_CHECK(act::formatImage(again) == saved);
    return 0;
}
