// Words shared between threads without a lock: each is read and written whole, with no ordering
// between them. The members stay plain data so that the engine object keeps its fixed layout and
// can be copied byte for byte.
#pragma once

template <class T>
inline T LoadWord(const T& word) {
  return __atomic_load_n(&word, __ATOMIC_RELAXED);
}

template <class T, class V>
inline void StoreWord(T& word, V value) {
  __atomic_store_n(&word, static_cast<T>(value), __ATOMIC_RELAXED);
}
