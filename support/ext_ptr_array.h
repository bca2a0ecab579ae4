// ExtPtrArray: a growable array of pointers to objects with virtual
// destructors. It never destroys its elements by itself; owners call
// deleteAll first.
#pragma once

#include <cstdint>

#include "support/varnock_object.h"

class ExtPtrArray {
public:
    ExtPtrArray() = default;
    ExtPtrArray(const ExtPtrArray&) = delete;
    ExtPtrArray& operator=(const ExtPtrArray&) = delete;
    ~ExtPtrArray();

    int append(VarnockObject* item);  // returns the new count
    VarnockObject* get(int index) const;
    VarnockObject* last() const;
    VarnockObject* pop();
    VarnockObject* removeAt(int index);
    void deleteAll();
    void clearCount() { count_ = 0; }
    int count() const { return count_; }
    int capacity() const { return capacity_; }

    template <class T>
    T* at(int index) const { return static_cast<T*>(get(index)); }

private:
    int growthStep_ = 5;
    int capacity_ = 0;
    int count_ = 0;
    VarnockObject** items_ = nullptr;
};
