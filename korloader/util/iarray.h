// iArray: the growable array used throughout the library. Elements are held
// by value in one heap block. Allocation never throws: a failed growth
// returns false and leaves the array as it was.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "diag/log.h"
#include "util/alloc.h"

template <class T, class I = int32_t>
class iArray {
    static_assert(std::is_signed<I>::value, "iArray indices are signed");

public:
    explicit iArray(I growthDivisor = 4) noexcept : growthDivisor_(growthDivisor > 0 ? growthDivisor : 4) {}
    iArray(const iArray&) = delete;
    iArray& operator=(const iArray&) = delete;
    iArray(iArray&& other) noexcept
        : data_(other.data_), count_(other.count_), capacity_(other.capacity_), growthDivisor_(other.growthDivisor_) {
        other.data_ = nullptr;
        other.count_ = other.capacity_ = 0;
    }
    // Releases what this array held and takes over other's block.
    iArray& operator=(iArray&& other) noexcept {
        if (this != &other) {
            Free();
            data_ = other.data_;
            count_ = other.count_;
            capacity_ = other.capacity_;
            growthDivisor_ = other.growthDivisor_;
            other.data_ = nullptr;
            other.count_ = other.capacity_ = 0;
        }
        return *this;
    }
    virtual ~iArray() { Free(); }

    T* Data() noexcept { return data_; }
    const T* Data() const noexcept { return data_; }
    I Count() const noexcept { return count_; }
    I Capacity() const noexcept { return capacity_; }
    T& operator[](I i) noexcept { return data_[i]; }
    const T& operator[](I i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + count_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + count_; }

    // Resizes to n elements. New elements are copies of *fill, or
    // value-initialised. Growth beyond the capacity reallocates to exactly n
    // when `exact`, else to n + max(8, n / growthDivisor).
    bool SetSize(I n, const T* fill = nullptr, bool exact = false) noexcept {
        if (n < 0) {
            LogPrint("[ERROR] iArray SetSize() overflow!\n");
            return false;
        }
        if (n > capacity_) {
            I capacity = n;
            if (!exact) {
                I extra = n / growthDivisor_;
                if (extra < 8) extra = 8;
                capacity = (n > std::numeric_limits<I>::max() - extra) ? n : static_cast<I>(n + extra);
            }
            if (!Reallocate(capacity)) return false;
        }
        for (I i = n; i < count_; ++i) data_[i].~T();
        for (I i = count_; i < n; ++i) {
            // Elements that cannot be copied (particle groups) are only ever
            // default-constructed.
            if constexpr (std::is_copy_constructible<T>::value) {
                if (fill) {
                    ::new (static_cast<void*>(data_ + i)) T(*fill);
                    continue;
                }
            }
            ::new (static_cast<void*>(data_ + i)) T();
        }
        count_ = n;
        return true;
    }

    bool Append(const T& value) noexcept {
        if (count_ == std::numeric_limits<I>::max()) return false;
        if (count_ < capacity_) {
            ::new (static_cast<void*>(data_ + count_)) T(value);
            ++count_;
            return true;
        }
        // `value` may live inside this array: copy it before growing.
        T copy(value);
        if (!SetSize(count_ + 1, nullptr, false)) return false;
        data_[count_ - 1] = std::move(copy);
        return true;
    }

    // Removes element i, shifting the tail down (order kept).
    void RemoveKeepOrder(I i) noexcept {
        if (i < 0 || i >= count_) return;
        for (I k = i; k + 1 < count_; ++k) data_[k] = std::move(data_[k + 1]);
        data_[--count_].~T();
    }

    // Removes element i by moving the last element into its slot.
    void RemoveSwapLast(I i) noexcept {
        if (i < 0 || i >= count_) return;
        if (i != count_ - 1) data_[i] = std::move(data_[count_ - 1]);
        data_[--count_].~T();
    }

    I Find(const T& value) const noexcept {
        for (I i = 0; i < count_; ++i)
            if (data_[i] == value) return i;
        return -1;
    }

    // Destroys the elements and releases the block.
    void Free() noexcept {
        for (I i = 0; i < count_; ++i) data_[i].~T();
        ZUtils::FreeBytes(data_);
        data_ = nullptr;
        count_ = capacity_ = 0;
    }

private:
    bool Reallocate(I capacity) noexcept {
        if (static_cast<uint64_t>(capacity) > SIZE_MAX / sizeof(T)) return false;
        T* fresh = static_cast<T*>(ZUtils::AllocBytes(static_cast<size_t>(capacity) * sizeof(T)));
        if (fresh == nullptr) return false;
        for (I i = 0; i < count_; ++i) {
            ::new (static_cast<void*>(fresh + i)) T(std::move(data_[i]));
            data_[i].~T();
        }
        ZUtils::FreeBytes(data_);
        data_ = fresh;
        capacity_ = capacity;
        return true;
    }

    T* data_ = nullptr;
    I count_ = 0;
    I capacity_ = 0;
    I growthDivisor_ = 4;
};
