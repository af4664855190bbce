#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ardo {

// A reference-counted run of elements with its size. A buffer either owns its elements (they go
// with the last handle) or is a view of elements that belong to someone else and are never freed
// through it. Copies share the elements; nothing is ever copied deeply except by copy().
template<typename T>
class SharedBuffer
{
public:
    SharedBuffer() = default;

    // Owning; the contents are not initialised.
    explicit SharedBuffer(size_t size)
        : pointer_(new T[size], &SharedBuffer::release)
        , size_(size)
    {}

    static SharedBuffer copy(const T *source, size_t size)
    {
        SharedBuffer buffer(size);
        if (size > 0)
            std::copy(source, source + size, buffer.data());
        return buffer;
    }

    // Views: valid only as long as the elements they point at.
    static SharedBuffer proxy(T *pointer, size_t size)
    {
        return SharedBuffer(std::shared_ptr<T>(pointer, [](T *) {}), size);
    }

    static SharedBuffer proxy(const T *pointer, size_t size)
    {
        // The view of read-only bytes is only ever read; the cast keeps one handle type.
        return proxy(const_cast<T *>(pointer), size);
    }

    T *data() const { return pointer_.get(); }
    size_t size() const { return size_; }

private:
    SharedBuffer(std::shared_ptr<T> pointer, size_t size)
        : pointer_(std::move(pointer))
        , size_(size)
    {}

    static void release(T *elements) { delete[] elements; }

    std::shared_ptr<T> pointer_;
    size_t size_ = 0;
};

} // namespace ardo
