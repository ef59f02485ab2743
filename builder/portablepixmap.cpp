#include "portablepixmap.h"

#include <cstring>

namespace quelm {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Reads the header's next decimal field, skipping white space and '#' comments before it.
bool readField(QByteArrayView bytes, qsizetype &pos, int &value)
{
    for (;;) {
        while (pos < bytes.size() && isBlank(bytes[pos]))
            ++pos;
        if (pos < bytes.size() && bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n')
                ++pos;
            continue;
        }
        break;
    }
    const qsizetype start = pos;
    long long number = 0;
    while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && number <= 1'000'000)
        number = number * 10 + (bytes[pos++] - '0');
    value = static_cast<int>(number);
    return pos > start && number <= 1'000'000;
}

} // namespace

QImage readPortablePixmap(QByteArrayView bytes)
{
    if (!bytes.startsWith("P6"))
        return {};
    qsizetype pos = 2;
    int width = 0;
    int height = 0;
    int maxValue = 0;
    if (!readField(bytes, pos, width) || !readField(bytes, pos, height) ||
        !readField(bytes, pos, maxValue) || width < 1 || height < 1 || maxValue != 255)
        return {};
    // Exactly one white-space byte separates the header from the pixels.
    if (pos >= bytes.size() || !isBlank(bytes[pos]))
        return {};
    ++pos;
    const qsizetype rowBytes = qsizetype(width) * 3;
    if ((bytes.size() - pos) / rowBytes < height)
        return {};

    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), bytes.data() + pos + y * rowBytes, size_t(rowBytes));
    return image;
}

} // namespace quelm
