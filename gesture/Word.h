// Words shared between threads without a lock: each is read and written whole, with no ordering
// between them. The members stay plain data so that the engine object keeps its fixed layout and
// can be copied byte for byte.
#pragma once

#ifdef VEXORI_PREEMPT_WORDS
// A build with word points tells the platform of each access before it is made, as a thread
// sanitizer's instrumentation does, so that a platform that searches for races may switch threads
// right there.
extern "C" void vexori_word_access(const void* word);
#define VEXORI_WORD_ACCESS(word) vexori_word_access(&(word))
#else
#define VEXORI_WORD_ACCESS(word) ((void)0)
#endif

template <class T>
inline T LoadWord(const T& word) {
  VEXORI_WORD_ACCESS(word);
  return __atomic_load_n(&word, __ATOMIC_RELAXED);
}

template <class T, class V>
inline void StoreWord(T& word, V value) {
  VEXORI_WORD_ACCESS(word);
  __atomic_store_n(&word, static_cast<T>(value), __ATOMIC_RELAXED);
}
