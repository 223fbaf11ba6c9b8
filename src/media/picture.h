#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace media {

// One decoded picture of a film, ready for an encoder: planar YUV 4:2:0 at the size asked of the
// decoder. Pictures share their pixel memory with the copies an encoder keeps, so handing one to
// several encoders costs no copy.
class Picture {
public:
    struct Impl;

    Picture();
    ~Picture();
    Picture(Picture&&) noexcept;
    Picture& operator=(Picture&&) noexcept;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // True when the picture holds pixels.
    bool holdsPixels() const;
    int32_t width() const;
    int32_t height() const;
    // Returns a second reference to the same pixels.
    Picture share() const;

    Impl& impl() { return *m_impl; }
    const Impl& impl() const { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
};

// Sums the squared differences of two pictures of the same size (4:2:0) per plane: Y, U, V.
std::array<uint64_t, 3> squaredError(const Picture& a, const Picture& b);

} // namespace media
