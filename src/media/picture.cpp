#include "media/picture_frame.h"

namespace media {

Picture::Picture() : m_impl(std::make_unique<Impl>()) {}
Picture::~Picture() = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;

bool Picture::holdsPixels() const { return m_impl && m_impl->frame->buf[0] != nullptr; }
int32_t Picture::width() const { return m_impl->frame->width; }
int32_t Picture::height() const { return m_impl->frame->height; }

Picture Picture::share() const
{
    Picture copy;
    if (holdsPixels() && av_frame_ref(copy.m_impl->frame.get(), m_impl->frame.get()) < 0)
        std::abort(); // only an allocation can fail here
    return copy;
}

std::array<uint64_t, 3> squaredError(const AVFrame& a, const AVFrame& b)
{
    std::array<uint64_t, 3> sums{};
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? a.width : (a.width + 1) / 2;
        const int height = plane == 0 ? a.height : (a.height + 1) / 2;
        for (int y = 0; y < height; ++y) {
            const uint8_t* rowA = a.data[plane] + static_cast<ptrdiff_t>(y) * a.linesize[plane];
            const uint8_t* rowB = b.data[plane] + static_cast<ptrdiff_t>(y) * b.linesize[plane];
            uint64_t sum = 0;
            for (int x = 0; x < width; ++x) {
                const int d = rowA[x] - rowB[x];
                sum += static_cast<uint64_t>(d * d);
            }
            sums[static_cast<size_t>(plane)] += sum;
        }
    }
    return sums;
}

std::array<uint64_t, 3> squaredError(const Picture& a, const Picture& b)
{
    return squaredError(*a.impl().frame, *b.impl().frame);
}

Picture pictureOf(Frame frame)
{
    Picture picture;
    picture.impl().frame = std::move(frame);
    return picture;
}

} // namespace media
