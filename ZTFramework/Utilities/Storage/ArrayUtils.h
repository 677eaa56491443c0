#pragma once
// The framework's array interfaces and its value array.
//
// IIterable<T> reads (count, element by index), IIterableModifiable<T> also replaces elements,
// IArray<T> also inserts, appends and removes. Every framework array implements IArray of its
// element type, so code can take any of them as IArray<T>&.
//
// Element access through the interface returns a copy. The virtual accessor behind GetAt takes
// a tag of the element type, so that a class may implement the interfaces of two element types
// at once (RCPtrArray is an IArray<RCPtr<T>> and, through ConstRCPtrArray, an
// IArray<ConstRCPtr<T>>) without the two accessors clashing.
//
// Arrays are not guarded: one array is used by one thread at a time.

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace ZT {

template <class T>
class IIterable {
public:
    virtual ~IIterable() = default;

    [[nodiscard]] virtual std::size_t GetCount() const = 0;
    // A copy of the element at index; throws an out-of-range error when index >= GetCount().
    [[nodiscard]] T GetAt(std::size_t index) const { return ItemAt(index, Tag{}); }
    [[nodiscard]] bool IsEmpty() const { return GetCount() == 0; }

protected:
    using Tag = std::type_identity<T>;
    virtual T ItemAt(std::size_t index, Tag) const = 0;
};

template <class T>
class IIterableModifiable : public IIterable<T> {
public:
    // Replaces the element at index; throws an out-of-range error when index >= GetCount().
    virtual void SetAt(std::size_t index, const T& value) = 0;
};

template <class T>
class IArray : public IIterableModifiable<T> {
public:
    // Inserts before index; index == GetCount() appends. Throws when index > GetCount().
    virtual void InsertAt(std::size_t index, const T& value) = 0;
    // Returns the new element's index.
    virtual std::size_t Append(const T& value) = 0;
    // Throws an out-of-range error when index >= GetCount().
    virtual void RemoveItem(std::size_t index) = 0;
    // Removes count elements from index on; throws when they run past the end.
    virtual void RemoveItems(std::size_t index, std::size_t count) = 0;
    // New elements are value-initialised (null for pointers).
    virtual void SetSize(std::size_t count) = 0;
    virtual void RemoveAll() = 0;
};

// Values of T in contiguous storage. An index at or past the end throws std::out_of_range with
// the text "invalid vector<T> subscript".
template <class T>
class Array : public IArray<T> {
public:
    using value_type = T;

    Array() = default;
    Array(std::initializer_list<T> values) : mItems(values) {}

    std::size_t GetCount() const override { return mItems.size(); }
    using IIterable<T>::GetAt;

    T& operator[](std::size_t index)
    {
        CheckIndex(index);
        return mItems[index];
    }
    const T& operator[](std::size_t index) const
    {
        CheckIndex(index);
        return mItems[index];
    }

    void SetAt(std::size_t index, const T& value) override
    {
        CheckIndex(index);
        mItems[index] = value;
    }
    void InsertAt(std::size_t index, const T& value) override
    {
        if (index > mItems.size())
            ThrowOutOfRange();
        mItems.insert(mItems.begin() + static_cast<std::ptrdiff_t>(index), value);
    }
    std::size_t Append(const T& value) override
    {
        mItems.push_back(value);
        return mItems.size() - 1;
    }
    std::size_t Append(T&& value)
    {
        mItems.push_back(std::move(value));
        return mItems.size() - 1;
    }
    void RemoveItem(std::size_t index) override
    {
        CheckIndex(index);
        mItems.erase(mItems.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void RemoveItems(std::size_t index, std::size_t count) override
    {
        if (count == 0)
            return;
        if (index >= mItems.size() || count > mItems.size() - index)
            ThrowOutOfRange();
        const auto first = mItems.begin() + static_cast<std::ptrdiff_t>(index);
        mItems.erase(first, first + static_cast<std::ptrdiff_t>(count));
    }
    void SetSize(std::size_t count) override { mItems.resize(count); }
    void RemoveAll() override { mItems.clear(); }

    // Index of the first element equal to value, or -1.
    [[nodiscard]] std::ptrdiff_t Find(const T& value) const
    {
        const auto found = std::find(mItems.begin(), mItems.end(), value);
        return found == mItems.end() ? -1 : found - mItems.begin();
    }

    T* GetData() noexcept { return mItems.data(); }
    const T* GetData() const noexcept { return mItems.data(); }
    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }
    auto begin() const noexcept { return mItems.begin(); }
    auto end() const noexcept { return mItems.end(); }

protected:
    T ItemAt(std::size_t index, typename IIterable<T>::Tag) const override
    {
        CheckIndex(index);
        return mItems[index];
    }

private:
    void CheckIndex(std::size_t index) const
    {
        if (index >= mItems.size())
            ThrowOutOfRange();
    }
    [[noreturn]] static void ThrowOutOfRange() { throw std::out_of_range("invalid vector<T> subscript"); }

    std::vector<T> mItems;
};

} // namespace ZT
