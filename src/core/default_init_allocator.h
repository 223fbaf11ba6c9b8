#pragma once

#include <memory>
#include <utility>

namespace core {

// An allocator whose containers leave elements they add without a value default-initialised
// (for plain records: not set at all), so a vector sized for records that are written next is
// not zero-filled first. Everything else is std::allocator's.
template <typename T> class DefaultInitAllocator : public std::allocator<T> {
public:
    template <typename U> struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() = default;
    template <typename U> DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    template <typename U> void construct(U* at) { ::new (static_cast<void*>(at)) U; }
    template <typename U, typename... Args> void construct(U* at, Args&&... args)
    {
        std::construct_at(at, std::forward<Args>(args)...);
    }
};

} // namespace core
