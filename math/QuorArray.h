// Growable arrays and the vector collection of the host SDK.
//
// QuorArray<T, ARG> takes its storage from the host's AllocExt and gives it
// back through FreeExt. A new array has no storage (data null, both sizes 0)
// and growBy 0, the automatic step of SetSize.
#pragma once

#include <cstring>

#include "math/Vector.h"

// Host file library: raw array storage. AllocExt answers null when it cannot.
void* AllocExt(unsigned long n);
void FreeExt(void* p);

// Sets n elements from p to all-zero bytes: (0, 0, 0) for a Vector, null for
// a pointer.
template <class T>
void ConstructTheElements(T* p, int n) noexcept {
  if (n > 0) std::memset(static_cast<void*>(p), 0, sizeof(T) * static_cast<unsigned long>(n));
}

// A node of a singly linked bucket chain, allocated with the global new.
struct QuorNode {
  QuorNode* next = nullptr;
};

template <class T, class ARG>
class QuorArray {
 public:
  QuorArray() noexcept = default;
  QuorArray(const QuorArray&) = delete;
  QuorArray& operator=(const QuorArray&) = delete;
  ~QuorArray() {
    if (data != nullptr) FreeExt(data);
  }

  // Makes newSize elements in use; every element that enters the range in use
  // is zero-filled. growBy -1 keeps the present step.
  //
  // When AllocExt fails, nothing is written and the array keeps its storage,
  // its elements and its size: the caller sees size != newSize afterwards.
  void SetSize(int newSize, int newGrowBy) noexcept {
    if (newGrowBy != -1) growBy = newGrowBy;
    if (newSize == 0) {
      if (data != nullptr) {
        FreeExt(data);
        data = nullptr;
      }
      size = 0;
      maxSize = 0;
      return;
    }
    if (data == nullptr) {
      T* fresh = Allocate(newSize);
      if (fresh == nullptr) return;
      ConstructTheElements(fresh, newSize);
      data = fresh;
      size = maxSize = newSize;
      return;
    }
    if (newSize <= maxSize) {
      if (newSize > size) ConstructTheElements(data + size, newSize - size);
      size = newSize;
      return;
    }
    int step = growBy;
    if (step == 0) {
      // Taken from the size in use, not from maxSize.
      step = size / 8;
      if (step < 4) step = 4;
      if (step > 1024) step = 1024;
    }
    const int newMax = newSize < maxSize + step ? maxSize + step : newSize;
    T* fresh = Allocate(newMax);
    if (fresh == nullptr) return;
    std::memcpy(static_cast<void*>(fresh), data, sizeof(T) * static_cast<unsigned long>(size));
    ConstructTheElements(fresh + size, newSize - size);
    FreeExt(data);
    data = fresh;
    maxSize = newMax;
    size = newSize;
  }

  T* data = nullptr;
  int size = 0;
  int maxSize = 0;
  int growBy = 0;

 private:
  static T* Allocate(int n) noexcept {
    return static_cast<T*>(AllocExt(sizeof(T) * static_cast<unsigned long>(n)));
  }
};

// Owns every node reachable from buckets and the storage of both arrays.
class VectorCollection {
 public:
  VectorCollection() = default;
  VectorCollection(const VectorCollection&) = delete;
  VectorCollection& operator=(const VectorCollection&) = delete;
  virtual ~VectorCollection() { Empty(); }

  // Frees every chain (heads stay, all null) and the vector storage.
  void Empty() noexcept {
    for (int i = 0; i < buckets.size; ++i) {
      QuorNode* node = buckets.data[i];
      while (node != nullptr) {
        QuorNode* next = node->next;
        delete node;
        node = next;
      }
      buckets.data[i] = nullptr;
    }
    vectors.SetSize(0, -1);
  }

  QuorArray<QuorNode*, QuorNode*> buckets;
  QuorArray<Vector, const Vector&> vectors;
};
