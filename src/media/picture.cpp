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

Picture pictureOf(Frame frame)
{
    Picture picture;
    picture.impl().frame = std::move(frame);
    return picture;
}

} // namespace media
