#include "support/ext_ptr_array.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr int kMaxStep = 100000;
}

ExtPtrArray::~ExtPtrArray() { std::free(items_); }

int ExtPtrArray::append(VarnockObject* item) {
    if (!items_) {
        capacity_ = growthStep_;
        items_ = static_cast<VarnockObject**>(std::calloc(size_t(capacity_), sizeof(VarnockObject*)));
        if (!items_) std::abort();
    }
    if (count_ + 1 > capacity_) {
        int newCapacity = capacity_ + growthStep_;
        if (newCapacity < count_ + 1) newCapacity = count_ + 1;
        auto** p = static_cast<VarnockObject**>(std::calloc(size_t(newCapacity), sizeof(VarnockObject*)));
        if (!p) std::abort();
        std::memcpy(p, items_, size_t(count_) * sizeof(VarnockObject*));
        std::free(items_);
        items_ = p;
        capacity_ = newCapacity;
        if (growthStep_ < kMaxStep) growthStep_ = capacity_ < kMaxStep ? capacity_ : kMaxStep;
    }
    items_[count_++] = item;
    return count_;
}

VarnockObject* ExtPtrArray::get(int index) const {
    if (index < 0 || index >= count_) return nullptr;
    return items_[index];
}

VarnockObject* ExtPtrArray::last() const { return count_ ? items_[count_ - 1] : nullptr; }

VarnockObject* ExtPtrArray::pop() {
    if (!count_) return nullptr;
    VarnockObject* item = items_[--count_];
    items_[count_] = nullptr;
    return item;
}

VarnockObject* ExtPtrArray::removeAt(int index) {
    if (index < 0 || index >= count_) return nullptr;
    VarnockObject* item = items_[index];
    std::memmove(items_ + index, items_ + index + 1, size_t(count_ - index - 1) * sizeof(VarnockObject*));
    items_[--count_] = nullptr;
    return item;
}

void ExtPtrArray::deleteAll() {
    for (int i = 0; i < count_; i++) {
        delete items_[i];
        items_[i] = nullptr;
    }
    count_ = 0;
}
