// The iterator of the containers whose elements are made on each visit from
// their position (the reader's index, the document's map): random access,
// a position and the container it belongs to.
#pragma once

#include <compare>
#include <cstddef>
#include <iterator>

// REQUIRES: Container has a value_type and a value_type ElementAt(size_t)
// that this iterator can call.
template <typename Container>
class CPositionIterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = typename Container::value_type;
  using difference_type = std::ptrdiff_t;
  using reference = value_type;  // made on each visit
  struct pointer {
    value_type element;
    const value_type* operator->() const { return &element; }
  };

  CPositionIterator() = default;
  CPositionIterator(const Container* container, size_t at) : m_container(container), m_at(at) {}

  value_type operator*() const { return m_container->ElementAt(m_at); }
  pointer operator->() const { return {**this}; }
  value_type operator[](difference_type n) const { return *(*this + n); }
  CPositionIterator& operator++() {
    ++m_at;
    return *this;
  }
  CPositionIterator operator++(int) {
    CPositionIterator old = *this;
    ++m_at;
    return old;
  }
  CPositionIterator& operator--() {
    --m_at;
    return *this;
  }
  CPositionIterator operator--(int) {
    CPositionIterator old = *this;
    --m_at;
    return old;
  }
  CPositionIterator& operator+=(difference_type n) {
    m_at = static_cast<size_t>(static_cast<difference_type>(m_at) + n);
    return *this;
  }
  CPositionIterator& operator-=(difference_type n) { return *this += -n; }
  friend CPositionIterator operator+(CPositionIterator i, difference_type n) { return i += n; }
  friend CPositionIterator operator+(difference_type n, CPositionIterator i) { return i += n; }
  friend CPositionIterator operator-(CPositionIterator i, difference_type n) { return i -= n; }
  friend difference_type operator-(CPositionIterator x, CPositionIterator y) {
    return static_cast<difference_type>(x.m_at) - static_cast<difference_type>(y.m_at);
  }
  friend bool operator==(CPositionIterator x, CPositionIterator y) { return x.m_at == y.m_at; }
  friend auto operator<=>(CPositionIterator x, CPositionIterator y) { return x.m_at <=> y.m_at; }

  // The position, as the container's own accessors take it.
  size_t Position() const { return m_at; }

 private:
  const Container* m_container = nullptr;
  size_t m_at = 0;
};
