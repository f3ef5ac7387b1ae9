// A thread's posted messages in the order they came: a ring that doubles when it is full and keeps
// its room when it empties, so that a queue in steady use takes nothing from the heap.
#pragma once

#include <cstddef>
#include <memory>

namespace dev {

template <class T>
class RingQueue {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }

  // The i-th oldest, 0 the front.
  T& operator[](size_t i) { return slots_[slot(i)]; }
  const T& operator[](size_t i) const { return slots_[slot(i)]; }

  void push_back(const T& item) {
    if (size_ == capacity_) grow();
    slots_[slot(size_)] = item;
    ++size_;
  }

  // Takes out the i-th oldest; the others keep their order. The shorter side moves up by one.
  void erase(size_t i) {
    if (i < size_ / 2) {
      for (size_t j = i; j > 0; --j) (*this)[j] = (*this)[j - 1];
      head_ = (head_ + 1) & (capacity_ - 1);
    } else {
      for (size_t j = i; j + 1 < size_; ++j) (*this)[j] = (*this)[j + 1];
    }
    --size_;
  }

  void clear() { head_ = size_ = 0; }

 private:
  static constexpr size_t kFirstCapacity = 16;  // a power of two, as every capacity is

  size_t slot(size_t i) const { return (head_ + i) & (capacity_ - 1); }

  void grow() {
    size_t capacity = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    std::unique_ptr<T[]> slots(new T[capacity]);
    for (size_t i = 0; i < size_; ++i) slots[i] = (*this)[i];
    slots_ = std::move(slots);
    capacity_ = capacity;
    head_ = 0;
  }

  std::unique_ptr<T[]> slots_;
  size_t capacity_ = 0;
  size_t head_ = 0;  // slot of the front
  size_t size_ = 0;
};

}  // namespace dev
